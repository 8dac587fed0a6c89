// A stand-in codec library for the document tests: it exports the two entry
// points and one more function, FakeCodec_State, through which a test sets
// what the codec answers and sees which calls it got.
#ifndef SORVU_TESTS_FAKE_CODEC_H
#define SORVU_TESTS_FAKE_CODEC_H

#include <cstdint>
#include <string>
#include <vector>

struct FakeCodecState {
    int loadResult = 1;
    int encodeResult = 1;
    int decodeResult = 1;
    int lastFailure = 0;         // what getLastFailure answers
    int width = 0, height = 0, bitCount = 8;
    std::vector<uint8_t> image;  // colour table, then pixel rows
    size_t bitsOffset = 0;       // where the pixel rows start in image
    int imageLengthOverride = -1;
    std::vector<std::string> calls; // "loadFile <path>", "encodeFile <a> <b>", ...
    int constructed = 0, destroyed = 0;
    bool nullConstructor = false; // VEK_Constructor returns null
};

typedef FakeCodecState *(*FakeCodecStateFn)();
#define FAKE_CODEC_STATE_NAME "FakeCodec_State"
#define FAKE_CODEC_LIBRARY "VEKFAKE.DLL"

#endif
