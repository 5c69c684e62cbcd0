# GoogleTest for a cross build: Debian ships no MinGW-w64 build of it, so it
# is compiled here from the source package (googletest, /usr/src/googletest)
# with the cross compiler, and offered under the names find_package(GTest)
# would give.
set(VARN_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
if(NOT EXISTS ${VARN_GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources at ${VARN_GTEST_SOURCE_DIR}: install the Debian "
                      "package googletest (tools/setup/install-deps.sh does) or set VARN_GTEST_SOURCE_DIR.")
endif()

set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)  # gtest uses the Win32 primitives
add_subdirectory(${VARN_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# GoogleTest 1.11 and later name its targets GTest::gtest(_main) itself.
if(NOT TARGET GTest::gtest)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()
