// A library that loads but does not export the codec's entry points.
extern "C" __attribute__((visibility("default"))) int NoCodecHere() {
    return 0;
}
