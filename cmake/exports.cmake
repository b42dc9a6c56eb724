# The export list of QvArc32.dll and the Visual Basic declarations are made from the public
# header, so an export added there is exported and declared without anyone listing it again.

find_package(Python3 COMPONENTS Interpreter)
set(QV_EXPORTS_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/qv_exports.py)
set(QV_PUBLIC_HEADER ${PROJECT_SOURCE_DIR}/include/qvarc32.h)

# qv_stdcall_exports(<target>): the 32-bit DLL exports its stdcall functions under their plain
# names, as Visual Basic Declare statements and GetProcAddress look them up. The export list is
# made from the header at build time; the linker strips the "@bytes" from the exported names.
# Its own import library would then lose them too, and programs built here call "_Name@bytes",
# so the import library is made again by dlltool from the decorated list (--kill-at: each
# decorated symbol imports the plain name).
function(qv_stdcall_exports target)
  if(NOT Python3_Interpreter_FOUND)
    message(FATAL_ERROR "Python 3 is needed to make the export list of QvArc32.dll")
  endif()
  if(NOT CMAKE_DLLTOOL)
    message(FATAL_ERROR "dlltool is needed to make the import library (the MinGW toolchain files find it)")
  endif()
  set(def ${CMAKE_BINARY_DIR}/qvarc32.def)
  add_custom_command(OUTPUT ${def}
    COMMAND ${Python3_EXECUTABLE} ${QV_EXPORTS_SCRIPT} def ${QV_PUBLIC_HEADER} ${def}
    DEPENDS ${QV_EXPORTS_SCRIPT} ${QV_PUBLIC_HEADER}
    COMMENT "Export list of QvArc32.dll from qvarc32.h"
    VERBATIM)
  target_sources(${target} PRIVATE ${def})
  target_link_options(${target} PRIVATE -Wl,--kill-at)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_DLLTOOL} --kill-at --def ${def} --dllname $<TARGET_FILE_NAME:${target}>
            --output-lib $<TARGET_LINKER_FILE:${target}>
    COMMENT "Import library of QvArc32.dll with stdcall names"
    VERBATIM)
endfunction()

# qv_declarations_test(): the committed Visual Basic module must say what the header says;
# ctest reports a drift and the command that mends it.
function(qv_declarations_test)
  if(Python3_Interpreter_FOUND)
    add_test(NAME VisualBasicDeclarationsMatchHeader
      COMMAND ${Python3_EXECUTABLE} ${QV_EXPORTS_SCRIPT} bas ${QV_PUBLIC_HEADER}
              ${PROJECT_SOURCE_DIR}/include/QvArc32.bas --check)
  endif()
endfunction()
