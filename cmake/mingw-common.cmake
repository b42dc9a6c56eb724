# Shared part of the MinGW-w64 toolchain files; QV_MINGW_TRIPLE names the target.
set(CMAKE_SYSTEM_NAME Windows)

# The "posix" thread model gives the full C++ thread library (std::mutex, std::thread).
foreach(lang C CXX)
  if(lang STREQUAL "C")
    set(tool gcc)
  else()
    set(tool g++)
  endif()
  find_program(QV_MINGW_${lang} NAMES ${QV_MINGW_TRIPLE}-${tool}-posix ${QV_MINGW_TRIPLE}-${tool} REQUIRED)
  set(CMAKE_${lang}_COMPILER ${QV_MINGW_${lang}})
endforeach()
find_program(CMAKE_RC_COMPILER NAMES ${QV_MINGW_TRIPLE}-windres)
find_program(CMAKE_DLLTOOL NAMES ${QV_MINGW_TRIPLE}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${QV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Link the compiler's own run-time libraries in, so the DLL and the programs need nothing
# beside the system's DLLs.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Programs built here run under Wine (test discovery, ctest).
if(QV_MINGW_TRIPLE MATCHES "^x86_64")
  find_program(QV_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
  find_program(QV_WINE NAMES wine64 wine)
else()
  find_program(QV_WINE NAMES wine)
endif()
if(QV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QV_WINE})
endif()

# Libraries the tests use as oracles come from the target's tree (libz-mingw-w64-dev), linked
# statically; pkg-config must not offer the build machine's own.
set(ZLIB_USE_STATIC_LIBS ON)
set(ENV{PKG_CONFIG_LIBDIR} /usr/${QV_MINGW_TRIPLE}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
