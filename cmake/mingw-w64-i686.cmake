# Cross build for 32-bit Windows with Debian's MinGW-w64 tool chain
# (package g++-mingw-w64-i686):
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
#
# The POSIX thread model of the tool chain gives the C++ library its threads
# and mutexes; its run-time libraries are linked statically, so that the DLL
# and the programs need nothing but system DLLs beside them.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VEK_MINGW_PREFIX i686-w64-mingw32)
set(VEK_WINE_RUNNER wine-run.sh)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# The codec's loops use SSE2 (every x86 processor of the last twenty years).
set(CMAKE_C_FLAGS_INIT "-msse2")
set(CMAKE_CXX_FLAGS_INIT "-msse2")
