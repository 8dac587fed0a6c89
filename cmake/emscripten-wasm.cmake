# WebAssembly build with Debian's emscripten (package emscripten):
#   cmake -S . -B build-web -DCMAKE_TOOLCHAIN_FILE=cmake/emscripten-wasm.cmake
# (tools/test-web.sh does this). emcc's optimised link runs Debian's node
# modules: NODE_PATH=/usr/share/nodejs must be set when the node on PATH is
# not Debian's.
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)

# Test programs run under node. Node 20 refuses the option emscripten adds
# to its default emulator, and its fetch would be tried (and fail) on the
# program's .wasm file before the file is read.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/node --no-experimental-fetch CACHE STRING "" FORCE)

# 128-bit SIMD, which every current browser runs: the codec's SSE2 loops
# are compiled to it (about twice the decode speed of scalar code).
set(CMAKE_C_FLAGS_INIT "-msimd128 -msse2")
set(CMAKE_CXX_FLAGS_INIT "-msimd128 -msse2")
