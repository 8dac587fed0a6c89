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
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(VEK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VEK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VEK_MINGW_PREFIX}-windres)
set(CMAKE_AR ${VEK_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${VEK_MINGW_PREFIX}-ranlib CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${VEK_MINGW_PREFIX}-objdump CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${VEK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread linked into each file.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Programs of the build run under wine64 (tests, test discovery).
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine64-run.sh)
endif()
