# GoogleTest for cross builds: no prebuilt GoogleTest exists for the target, so it is built
# here from the source Debian ships (package googletest, /usr/src/googletest) and offered to
# find_package(GTest) through a package redirect, so tests/ finds it as on a native build.
set(QV_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree for cross builds")
if(NOT EXISTS ${QV_GTEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest source not found at ${QV_GTEST_SOURCE} (apt-get install googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${QV_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
file(WRITE ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/gtest-config.cmake
  "# GoogleTest is built inside this tree (cmake/cross_gtest.cmake).\nset(GTest_FOUND TRUE)\n")
