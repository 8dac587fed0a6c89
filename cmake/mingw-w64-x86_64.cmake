# Cross build for 64-bit Windows with Debian's MinGW-w64 tool chain
# (package g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The deliverables are 32-bit (mingw-w64-i686.cmake). This build runs the
# same Windows platform code and the same tests under wine64 on machines
# that cannot run 32-bit programs; it is not packaged.
#
# As in the 32-bit build: the POSIX thread model, and the run-time libraries
# linked statically so that the files need only system DLLs beside them.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(VEK_MINGW_PREFIX x86_64-w64-mingw32)
set(VEK_WINE_RUNNER wine64-run.sh)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
