// The worked example of docs/format.md: the picture, .vek and restored BMP
// bytes printed there are read from the document and checked against the
// codec, so the document cannot drift from the code.
#include <cctype>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "test_support.h"
#include "vek_codec.h"

using namespace testsupport;

namespace {

const char *const FORMAT_DOCUMENT = VEK_TEST_DATA_DIR "/../../docs/format.md";

bool isHexPair(const std::string &t) {
    return t.size() == 2 && std::isxdigit(static_cast<unsigned char>(t[0])) &&
           std::isxdigit(static_cast<unsigned char>(t[1]));
}

// The bytes of the listing that follows "<!-- worked-example: NAME -->": a
// fenced block whose lines are a decimal offset, hexadecimal byte pairs, then
// words of explanation. Each offset must count the bytes listed before it.
Bytes listing(const std::string &document, const std::string &name) {
    const std::string marker = "<!-- worked-example: " + name + " -->";
    const size_t at = document.find(marker);
    if (at == std::string::npos) {
        ADD_FAILURE() << "no listing " << name;
        return Bytes();
    }
    const size_t open = document.find("```", at);
    const size_t body = document.find('\n', open) + 1;
    const size_t close = document.find("```", body);
    if (open == std::string::npos || close == std::string::npos) {
        ADD_FAILURE() << "listing " << name << " is not fenced";
        return Bytes();
    }
    std::istringstream lines(document.substr(body, close - body));
    std::string line;
    Bytes bytes;
    while (std::getline(lines, line)) {
        std::istringstream tokens(line);
        size_t offset = 0;
        if (!(tokens >> offset)) continue;
        EXPECT_EQ(offset, bytes.size()) << name << ": " << line;
        std::string token;
        while (tokens >> token && isHexPair(token))
            bytes.push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
    }
    return bytes;
}

} // namespace

TEST(FormatDocument, WorkedExample) {
    std::ifstream in(FORMAT_DOCUMENT);
    ASSERT_TRUE(in) << FORMAT_DOCUMENT;
    std::stringstream text;
    text << in.rdbuf();
    const std::string document = text.str();
    const Bytes picture = listing(document, "picture.bmp");
    const Bytes vek = listing(document, "picture.vek");
    const Bytes restored = listing(document, "restored.bmp");
    ASSERT_EQ(picture.size(), 70u);
    ASSERT_EQ(vek.size(), 29u);
    ASSERT_EQ(restored.size(), 78u);

    auto codec = std::make_unique<VekCodec>();
    Bytes encoded(codec->getEncodeBound(static_cast<uint32_t>(picture.size())));
    uint32_t encodedSize = static_cast<uint32_t>(encoded.size());
    ASSERT_EQ(codec->encodeMemory(picture.data(), static_cast<uint32_t>(picture.size()), encoded.data(), &encodedSize), 1);
    encoded.resize(encodedSize);
    EXPECT_EQ(encoded, vek) << "the encoder's bytes differ from the document's";

    Bytes decoded(codec->getDecodedSize(vek.data(), static_cast<uint32_t>(vek.size())));
    uint32_t decodedSize = static_cast<uint32_t>(decoded.size());
    ASSERT_EQ(codec->decodeMemory(vek.data(), static_cast<uint32_t>(vek.size()), decoded.data(), &decodedSize), 1);
    decoded.resize(decodedSize);
    EXPECT_EQ(decoded, restored) << "the decoder's bytes differ from the document's";
}
