# Cross build of VarnWin32.exe on Debian with MinGW-w64 (posix thread model,
# package g++-mingw-w64-x86-64-posix):
#
#   cmake -S . -B build-win --toolchain cmake/mingw-w64-x86_64.cmake
#
# Everything is linked statically (libgcc, libstdc++, winpthreads), so the
# executables need no DLL beside the system's own. Boost is header-only here
# and comes from the build machine's /usr/include/boost; the test runner is
# Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VARN_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VARN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VARN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VARN_MINGW_TRIPLE}-windres)

# The host's Boost headers, seen through a directory that holds nothing else:
# putting /usr/include itself on the path would mix glibc's headers into the
# Windows build.
set(VARN_HOST_BOOST_HEADERS /usr/include/boost CACHE PATH "Boost headers of the build machine")
set(VARN_CROSS_BOOST_ROOT ${CMAKE_BINARY_DIR}/cross-boost)
if(NOT EXISTS ${VARN_CROSS_BOOST_ROOT}/include/boost)
  file(MAKE_DIRECTORY ${VARN_CROSS_BOOST_ROOT}/include)
  file(CREATE_LINK ${VARN_HOST_BOOST_HEADERS} ${VARN_CROSS_BOOST_ROOT}/include/boost SYMBOLIC)
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${VARN_MINGW_TRIPLE} ${VARN_CROSS_BOOST_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(Boost_INCLUDE_DIR ${VARN_CROSS_BOOST_ROOT}/include CACHE PATH "")
set(Boost_NO_SYSTEM_PATHS ON)

# C99 printf family (%zu, %lld) instead of msvcrt's; debugLog and
# formatString rely on it.
set(CMAKE_C_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest runs the Windows test programs through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
