#include "fake_codec.h"

#include "vek/vek.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

FakeCodecState g_state;

class FakeCodec final : public VekCodecInterface {
public:
    int getVersion() override { return 1; }
    int decodeFile(const char *vek, const char *bmp) override {
        g_state.calls.push_back(std::string("decodeFile ") + vek + " " + bmp);
        return g_state.decodeResult;
    }
    int encodeFile(const char *bmp, const char *vek) override {
        g_state.calls.push_back(std::string("encodeFile ") + bmp + " " + vek);
        return g_state.encodeResult;
    }
    int loadFile(const char *vek) override {
        g_state.calls.push_back(std::string("loadFile ") + vek);
        return g_state.loadResult;
    }
    BITMAPFILEHEADER getFileHeader() override { return BITMAPFILEHEADER(); }
    void getInfoHeader(BITMAPINFOHEADER *out) override { *out = BITMAPINFOHEADER(); }
    uint8_t *getImage() override { return g_state.image.empty() ? nullptr : g_state.image.data(); }
    int getImageLength() override {
        return g_state.imageLengthOverride >= 0 ? g_state.imageLengthOverride : int(g_state.image.size());
    }
    uint8_t *getBits() override { return g_state.image.empty() ? nullptr : g_state.image.data() + g_state.bitsOffset; }
    int getHeight() override { return g_state.height; }
    int getWidth() override { return g_state.width; }
    int getStride() override { return (g_state.width + 3) & ~3; }
    int getBitCount() override { return g_state.bitCount; }
    void setProgressTarget(VekWindowHandle, VekMessage, VekMessageParam) override {
        g_state.calls.push_back("setProgressTarget");
    }
    int clearProgressTarget() override { return 0; }
    // The viewer works on files; the memory operations only record a call.
    uint32_t getEncodeBound(uint32_t) override { return record("getEncodeBound"); }
    int encodeMemory(const void *, uint32_t, void *, uint32_t *) override { return record("encodeMemory"); }
    uint32_t getDecodedSize(const void *, uint32_t) override { return record("getDecodedSize"); }
    int decodeMemory(const void *, uint32_t, void *, uint32_t *) override { return record("decodeMemory"); }
    int loadMemory(const void *, uint32_t) override { return record("loadMemory"); }
    int getLastFailure() override { return g_state.lastFailure; }
    ~FakeCodec() = default;

private:
    static int record(const char *operation) {
        g_state.calls.push_back(operation);
        return 0;
    }
};

} // namespace

EXPORT VekCodecInterface *VEK_Constructor() {
    if (g_state.nullConstructor) return nullptr;
    ++g_state.constructed;
    return new FakeCodec;
}

EXPORT void VEK_Destructor(VekCodecInterface *codec) {
    if (!codec) return;
    ++g_state.destroyed;
    delete static_cast<FakeCodec *>(codec);
}

EXPORT FakeCodecState *FakeCodec_State() {
    return &g_state;
}
