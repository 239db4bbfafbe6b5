# GoogleTest built from Debian's source package (libgtest-dev ships it in
# /usr/src/googletest), for builds whose target has no installed GoogleTest:
# the cross-compiled Windows build. Static libraries, static C runtime, no
# Google Mock, nothing installed; the targets are GTest::gtest and
# GTest::gtest_main as find_package(GTest) would give them.
set(KESTRIX_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's source tree")
if(NOT EXISTS ${KESTRIX_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest's sources are not in ${KESTRIX_GOOGLETEST_SOURCE} "
                      "(install libgtest-dev or set KESTRIX_GOOGLETEST_SOURCE)")
endif()

set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(BUILD_SHARED_LIBS OFF)
add_subdirectory(${KESTRIX_GOOGLETEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
