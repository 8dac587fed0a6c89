// The gdk-pixbuf loader module as gdk-pixbuf itself loads it: registered in a
// private loader cache (GDK_PIXBUF_MODULE_FILE) with the image/x-vek type in
// a private MIME database. A .vek picture gives the pixels that gdk-pixbuf's
// own BMP reader gives for the BMP picture it was made from; a damaged file
// gives a GError.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include "vek/vek.h"

namespace {

typedef std::vector<uint8_t> Bytes;

std::string g_dir;  // the private cache, MIME database and pictures

Bytes readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string &path, const Bytes &bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

bool shell(const std::string &command) {
    return std::system(command.c_str()) == 0;
}

// Sets up the private loader cache (the system's loaders and ours) and MIME
// database before gdk-pixbuf reads either.
class PixbufEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        char pattern[] = "/tmp/vek-pixbuf-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        g_dir = pattern;
        ASSERT_TRUE(shell(std::string(QUERY_LOADERS_PRELOAD "'" GDK_PIXBUF_QUERY_LOADERS "' '" GDK_PIXBUF_SYSTEM_MODULEDIR "'/*.so '"
                                      VEK_PIXBUF_MODULE "' > '") + g_dir + "/loaders.cache' 2>/dev/null"));
        ASSERT_TRUE(shell("grep -q image/x-vek '" + g_dir + "/loaders.cache'")) << "the loader is not in the cache";
        ASSERT_TRUE(shell("mkdir -p '" + g_dir + "/mime/packages' '" + g_dir + "/home' && cp '" VEK_MIME_XML "' '" +
                          g_dir + "/mime/packages/vek.xml' && update-mime-database '" + g_dir + "/mime' >/dev/null 2>&1"));
        setenv("GDK_PIXBUF_MODULE_FILE", (g_dir + "/loaders.cache").c_str(), 1);
        setenv("XDG_DATA_HOME", (g_dir + "/home").c_str(), 1);
        setenv("XDG_DATA_DIRS", (g_dir + ":/usr/local/share:/usr/share").c_str(), 1);
    }
    void TearDown() override {
        if (!g_dir.empty()) shell("rm -rf '" + g_dir + "'");
    }
};

// The picture encoded in memory; empty when the codec refuses it.
Bytes encode(const Bytes &bmp) {
    VekCodecInterface *codec = VEK_Constructor();
    Bytes vek(codec->getEncodeBound(uint32_t(bmp.size())));
    uint32_t size = uint32_t(vek.size());
    if (vek.empty() || !codec->encodeMemory(bmp.data(), uint32_t(bmp.size()), vek.data(), &size)) size = 0;
    VEK_Destructor(codec);
    vek.resize(size);
    return vek;
}

struct Loaded {
    GdkPixbuf *pixbuf = nullptr;
    GError *error = nullptr;
    ~Loaded() {
        if (pixbuf) g_object_unref(pixbuf);
        if (error) g_error_free(error);
    }
};

void load(const std::string &path, Loaded *out) {
    out->pixbuf = gdk_pixbuf_new_from_file(path.c_str(), &out->error);
}

std::string formatOf(const std::string &path) {
    GdkPixbufFormat *format = gdk_pixbuf_get_file_info(path.c_str(), nullptr, nullptr);
    return format ? gdk_pixbuf_format_get_name(format) : "";
}

// Pixels that differ between the two pictures; alpha, where the BMP reader
// gives it, must be opaque.
long differingPixels(GdkPixbuf *reference, GdkPixbuf *vek) {
    const int w = gdk_pixbuf_get_width(reference), h = gdk_pixbuf_get_height(reference);
    const int nr = gdk_pixbuf_get_n_channels(reference), nv = gdk_pixbuf_get_n_channels(vek);
    const guint8 *r = gdk_pixbuf_read_pixels(reference), *v = gdk_pixbuf_read_pixels(vek);
    const int sr = gdk_pixbuf_get_rowstride(reference), sv = gdk_pixbuf_get_rowstride(vek);
    long wrong = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const guint8 *a = r + y * sr + x * nr, *b = v + y * sv + x * nv;
            wrong += std::memcmp(a, b, 3) != 0 || (nr == 4 && a[3] != 255);
        }
    return wrong;
}

} // namespace

TEST(PixbufLoader, SuitePicturesGiveTheBmpPixels) {
    // The suite's good pictures (its questionable ones are no reference:
    // gdk-pixbuf's BMP reader ignores bfOffBits in q/pal8offs.bmp).
    std::map<int, int> comparedByBits;
    const std::string dir = std::string(VEK_TEST_DATA_DIR) + "/bmpsuite/g";
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *entry = readdir(d)) names.push_back(entry->d_name);
        closedir(d);
    }
    for (const std::string &name : names) {
        if (name.size() < 5 || name.compare(name.size() - 4, 4, ".bmp") != 0) continue;
        SCOPED_TRACE(name);
        const Bytes bmp = readFile(dir + "/" + name);
        const Bytes vek = encode(bmp);
        if (vek.empty()) continue;  // a picture the codec refuses
        const std::string vekPath = g_dir + "/" + name.substr(0, name.size() - 4) + ".vek";
        writeFile(vekPath, vek);
        EXPECT_EQ(formatOf(vekPath), "vek");
        Loaded reference, loaded;
        load(dir + "/" + name, &reference);
        ASSERT_NE(reference.pixbuf, nullptr) << "gdk-pixbuf's BMP reader refuses it";
        load(vekPath, &loaded);
        ASSERT_NE(loaded.pixbuf, nullptr) << (loaded.error ? loaded.error->message : "");
        ASSERT_EQ(gdk_pixbuf_get_width(loaded.pixbuf), gdk_pixbuf_get_width(reference.pixbuf));
        ASSERT_EQ(gdk_pixbuf_get_height(loaded.pixbuf), gdk_pixbuf_get_height(reference.pixbuf));
        EXPECT_FALSE(gdk_pixbuf_get_has_alpha(loaded.pixbuf));
        EXPECT_EQ(differingPixels(reference.pixbuf, loaded.pixbuf), 0);
        ++comparedByBits[bmp[28]];
    }
    for (int bits : {8, 16, 24, 32}) EXPECT_GT(comparedByBits[bits], 0) << "no " << bits << "-bit picture compared";
}

TEST(PixbufLoader, DamagedFilesGiveAnError) {
    const Bytes good = encode(readFile(std::string(VEK_TEST_DATA_DIR) + "/bmpsuite/g/rgb24.bmp"));
    ASSERT_GT(good.size(), 100u);
    std::map<std::string, Bytes> damaged;
    damaged["inside the header"] = Bytes(good.begin(), good.begin() + 6);
    damaged["header only"] = Bytes(good.begin(), good.begin() + 12);
    damaged["half the stream"] = Bytes(good.begin(), good.begin() + good.size() / 2);
    damaged["last byte missing"] = Bytes(good.begin(), good.end() - 1);
    Bytes flipped = good;
    flipped[good.size() / 3] ^= 0x5A;
    damaged["stream byte changed"] = flipped;
    Bytes bits = good;
    bits[7] = 4;
    damaged["4 bits per pixel"] = bits;
    Bytes empty = good;
    empty[8] = empty[9] = 0;
    damaged["no pixels"] = empty;
    Bytes huge = good;
    huge[8] = huge[9] = huge[10] = huge[11] = 0xFF;
    damaged["65535 x 65535 pixels announced"] = huge;
    for (const auto &entry : damaged) {
        SCOPED_TRACE(entry.first);
        const std::string path = g_dir + "/damaged.vek";
        writeFile(path, entry.second);
        Loaded loaded;
        load(path, &loaded);
        EXPECT_EQ(loaded.pixbuf, nullptr);
        ASSERT_NE(loaded.error, nullptr);
        EXPECT_EQ(loaded.error->domain, GDK_PIXBUF_ERROR);
        EXPECT_NE(std::strstr(loaded.error->message, "VEK"), nullptr) << "not our loader's error: "
                                                                      << loaded.error->message;
    }
}

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new PixbufEnvironment);
    return RUN_ALL_TESTS();
}
