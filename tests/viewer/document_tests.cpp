// CSorvuDoc without a display: codec binding, the file-kind probe, both load
// paths, the state changes of an open, File Save's conversions and the zoom
// commands. Message boxes and file dialogs are answered by hooks. The codec
// is a stand-in library (VEKFAKE.DLL) or the real one (VEK.DLL) from the
// build folder.
#include "fake_codec.h"
#include "sorvu_doc.h"
#include "resource.h"
#include "test_bmp.h"
#include "vek/vek_failures.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

const std::string kSuite = std::string(SORVU_TEST_DATA) + "/bmpsuite";

struct DialogCall {
    BOOL open;
    DWORD flags;
    std::string filter;
};

class DocTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sorvu-doc-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        AfxSetMessageBoxHook([this](const std::string &text, UINT) {
            m_messages.push_back(text);
            return IDOK;
        });
        CFileDialog::SetTestHook([this](CFileDialog &dialog) {
            m_dialogs.push_back(DialogCall{dialog.m_bOpenFileDialog, dialog.m_dwFlags, dialog.m_strFilter});
            if (m_answer.empty()) return IDCANCEL;
            dialog.SetPathName(m_answer);
            return IDOK;
        });
        CSorvuDoc::s_pszCodecLibrary = FAKE_CODEC_LIBRARY;
    }
    void TearDown() override {
        AfxSetMessageBoxHook(nullptr);
        CFileDialog::SetTestHook(nullptr);
        CSorvuDoc::s_pszCodecLibrary = VEK_LIBRARY_NAME;
        if (m_keep) platform::freeLibrary(m_keep);
        std::string cmd = "rm -rf '" + m_dir + "'";
        if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "could not remove " << m_dir;
    }

    // Keeps the stand-in library loaded beyond a document's life and gives
    // its state.
    FakeCodecState *fake() {
        if (!m_keep) m_keep = platform::loadLibrary(FAKE_CODEC_LIBRARY);
        auto fn = reinterpret_cast<FakeCodecStateFn>(platform::getProcAddress(m_keep, FAKE_CODEC_STATE_NAME));
        return fn ? fn() : nullptr;
    }

    std::string write(const std::string &name, const std::vector<uint8_t> &bytes) {
        const std::string path = m_dir + "/" + name;
        writeFileBytes(path, bytes);
        return path;
    }

    // A .vek file as far as the document's probe reads it: magic, palette size.
    std::string writeVekHeader(const std::string &name, uint16_t paletteSize) {
        std::vector<uint8_t> b = {'V', 'E', 'K', '!', uint8_t(paletteSize), uint8_t(paletteSize >> 8), 1, 8, 0, 0, 0, 0};
        return write(name, b);
    }

    std::string m_dir;
    std::vector<std::string> m_messages;
    std::vector<DialogCall> m_dialogs;
    std::string m_answer; // path the file dialogs choose; empty: cancel
    platform::ModuleHandle m_keep = nullptr;
};

// Colour of picture pixel (x, y), y from the top, as painted from the block.
Rgb pixelOf(const CDibImage &dib, int x, int y) {
    const BITMAPINFOHEADER &h = dib.m_pInfo->bmiHeader;
    const size_t rowSize = (size_t(h.biWidth) * h.biBitCount + 31) / 32 * 4;
    const BYTE *row = dib.GetBits() + rowSize * size_t(h.biHeight - 1 - y);
    if (h.biBitCount == 24) return Rgb{row[3 * x + 2], row[3 * x + 1], row[3 * x]};
    const RGBQUAD q = dib.GetColorTable()[row[x]];
    return Rgb{q.rgbRed, q.rgbGreen, q.rgbBlue};
}

// True when both pictures have the same size and show the same colours.
::testing::AssertionResult samePicture(const CDibImage &a, const CDibImage &b) {
    if (!a.GetBits() || !b.GetBits()) return ::testing::AssertionFailure() << "no picture";
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return ::testing::AssertionFailure() << a.Width() << "x" << a.Height() << " vs " << b.Width() << "x"
                                             << b.Height();
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            if (!(pixelOf(a, x, y) == pixelOf(b, x, y)))
                return ::testing::AssertionFailure() << "pixel " << x << "," << y << " differs";
    return ::testing::AssertionSuccess();
}

void readInto(CDibImage &dib, const std::string &path) {
    CFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CFile::modeRead));
    dib.Read(file);
}

} // namespace

// ---------------------------------------------------------------- binding

TEST_F(DocTest, BindsTheCodecOnceForTheDocumentsLife) {
    FakeCodecState *state = fake();
    ASSERT_NE(state, nullptr);
    {
        CSorvuDoc doc;
        EXPECT_NE(doc.m_pCodec, nullptr);
        EXPECT_EQ(state->constructed, 1);
        EXPECT_TRUE(doc.OnNewDocument());
        EXPECT_EQ(doc.m_nZoom, 100);
        EXPECT_EQ(doc.m_nKind, PictureNone);
        EXPECT_EQ(doc.m_dib.GetBits(), nullptr);
        // Opening files does not bind again.
        doc.OnOpenDocument(write("a.bmp", makeBmp(BmpLayout())).c_str());
        doc.OnOpenDocument(write("b.bmp", makeBmp(BmpLayout())).c_str());
        EXPECT_EQ(state->constructed, 1);
        EXPECT_EQ(state->destroyed, 0);
    }
    EXPECT_EQ(state->destroyed, 1);
    EXPECT_TRUE(m_messages.empty());
    // The viewer never asks for progress reports.
    for (const std::string &call : state->calls) EXPECT_NE(call, "setProgressTarget");
}

TEST_F(DocTest, MissingLibraryIsReportedAndTheEmptyDocumentRefused) {
    CSorvuDoc::s_pszCodecLibrary = "NOSUCHCODEC.DLL";
    CSorvuDoc doc;
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0], "File not found - VEK.DLL");
    EXPECT_EQ(doc.m_hCodecLib, nullptr);
    EXPECT_EQ(doc.m_pCodec, nullptr);
    EXPECT_FALSE(doc.OnNewDocument());

    // BMP files still open; .vek files and conversions need the codec.
    const std::string bmp = write("a.bmp", makeBmp(BmpLayout()));
    EXPECT_TRUE(doc.OnOpenDocument(bmp.c_str()));
    EXPECT_EQ(doc.m_nKind, PictureBitmap);
    m_answer = m_dir + "/out.vek";
    doc.OnFileSave();
    EXPECT_TRUE(m_dialogs.empty());
    EXPECT_EQ(m_messages.size(), 2u);

    EXPECT_FALSE(doc.OnOpenDocument(writeVekHeader("a.vek", 0).c_str()));
    EXPECT_EQ(doc.m_nKind, PictureNone);
    EXPECT_NE(doc.m_dib.GetBits(), nullptr);
    EXPECT_EQ(m_messages.size(), 3u);
}

TEST_F(DocTest, LibraryWithoutConstructorGivesGetProcError) {
    CSorvuDoc::s_pszCodecLibrary = "VEKNOEXPORTS.DLL";
    CSorvuDoc doc;
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0], "GetProc error!");
    EXPECT_NE(doc.m_hCodecLib, nullptr);
    EXPECT_EQ(doc.m_pCodec, nullptr);
    EXPECT_FALSE(doc.OnNewDocument());
}

TEST_F(DocTest, NullCodecObjectRefusesTheEmptyDocumentSilently) {
    fake()->nullConstructor = true;
    CSorvuDoc doc;
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(doc.m_pCodec, nullptr);
    EXPECT_FALSE(doc.OnNewDocument());
}

// ---------------------------------------------------------------- probe and state table

TEST_F(DocTest, BmpOpenSetsKindAndPathAndKeepsZoom) {
    CSorvuDoc doc;
    doc.m_nZoom = 200;
    BmpLayout layout;
    layout.width = 21;
    const std::string path = write("pic.bmp", makeBmp(layout));
    EXPECT_TRUE(doc.OnOpenDocument(path.c_str()));
    EXPECT_EQ(doc.m_nKind, PictureBitmap);
    EXPECT_EQ(doc.m_nZoom, 200);
    EXPECT_STREQ(doc.m_szSourcePath, path.c_str());
    EXPECT_EQ(doc.m_dib.Width(), 21);
    EXPECT_TRUE(m_messages.empty());
    EXPECT_TRUE(fake()->calls.empty()) << "the codec is not used for BMP files";
}

TEST_F(DocTest, UnrecognisedFilesAreReportedAndKeepThePicture) {
    CSorvuDoc doc;
    const std::string good = write("good.bmp", makeBmp(BmpLayout()));
    ASSERT_TRUE(doc.OnOpenDocument(good.c_str()));
    std::vector<uint8_t> wrongSize = makeBmp(BmpLayout());
    put32(wrongSize, 2, uint32_t(wrongSize.size() + 1));
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
        {"size-field.bmp", wrongSize},
        {"five.bmp", {'B', 'M', 5, 0, 0}}, // its size field would match if read short
        {"empty.bmp", {}},
        {"text.txt", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}},
        {"vek3.vek", {'V', 'E', 'K'}},
    };
    for (const auto &f : files) {
        SCOPED_TRACE(f.first);
        doc.m_nZoom = 50;
        m_messages.clear();
        const std::string path = write(f.first, f.second);
        EXPECT_FALSE(doc.OnOpenDocument(path.c_str()));
        ASSERT_EQ(m_messages.size(), 1u);
        EXPECT_NE(m_messages[0].find(path), std::string::npos);
        EXPECT_EQ(doc.m_nKind, PictureNone);
        EXPECT_EQ(doc.m_nZoom, 100);
        EXPECT_EQ(doc.m_dib.Width(), 8) << "the previous picture stays";
        EXPECT_NE(doc.m_dib.GetBits(), nullptr);
        EXPECT_STREQ(doc.m_szSourcePath, path.c_str());
    }
    // Nothing to convert after an unrecognised file.
    m_answer = m_dir + "/out.vek";
    doc.OnFileSave();
    EXPECT_TRUE(m_dialogs.empty());
    EXPECT_TRUE(fake()->calls.empty());
}

TEST_F(DocTest, BmpReaderFaultEmptiesThePictureOnly) {
    CSorvuDoc doc;
    const std::string good = write("good.bmp", makeBmp(BmpLayout()));
    ASSERT_TRUE(doc.OnOpenDocument(good.c_str()));
    doc.m_nZoom = 200;
    std::vector<uint8_t> bad = makeBmp(BmpLayout());
    put16(bad, 28, 4); // 4 bits per pixel: refused by the reader
    EXPECT_FALSE(doc.OnOpenDocument(write("bad.bmp", bad).c_str()));
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_NE(m_messages[0].find("Unexpected file format."), std::string::npos);
    EXPECT_EQ(doc.m_dib.GetBits(), nullptr);
    EXPECT_EQ(doc.m_nKind, PictureBitmap);
    EXPECT_EQ(doc.m_nZoom, 200);
    EXPECT_STREQ(doc.m_szSourcePath, good.c_str());
}

TEST_F(DocTest, FilesThatCannotBeReadChangeNothing) {
    CSorvuDoc doc;
    const std::string good = write("good.bmp", makeBmp(BmpLayout()));
    ASSERT_TRUE(doc.OnOpenDocument(good.c_str()));
    for (const std::string &path : {m_dir, m_dir + "/missing.bmp"}) {
        m_messages.clear();
        EXPECT_FALSE(doc.OnOpenDocument(path.c_str())) << path;
        EXPECT_EQ(m_messages.size(), 1u) << path;
        EXPECT_EQ(doc.m_nKind, PictureBitmap);
        EXPECT_NE(doc.m_dib.GetBits(), nullptr);
        EXPECT_STREQ(doc.m_szSourcePath, good.c_str());
    }
}

// The stand-in codec's picture: 5 x 3 pixels at 8 bits, rows of 8 bytes, a
// 3-entry colour table; the top row must show as well (whole rows copied).
TEST_F(DocTest, VekLoadCopiesTableAndPaddedRowsFromTheCodec) {
    FakeCodecState *state = fake();
    state->width = 5;
    state->height = 3;
    state->bitCount = 8;
    state->image = {/* table */ 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0,
                    /* rows, bottom first */ 0, 1, 2, 0, 1, 9, 9, 9,
                    1, 1, 1, 1, 1, 9, 9, 9,
                    2, 2, 0, 0, 2, 9, 9, 9};
    state->bitsOffset = 12;
    CSorvuDoc doc;
    doc.m_nZoom = 50;
    const std::string path = writeVekHeader("pic.vek", 12);
    EXPECT_TRUE(doc.OnOpenDocument(path.c_str()));
    EXPECT_TRUE(m_messages.empty());
    ASSERT_EQ(state->calls.size(), 1u);
    EXPECT_EQ(state->calls[0], "loadFile " + path);
    EXPECT_EQ(doc.m_nKind, PictureVek);
    EXPECT_EQ(doc.m_nZoom, 50);
    EXPECT_STREQ(doc.m_szSourcePath, path.c_str());
    ASSERT_EQ(doc.m_dib.Width(), 5);
    ASSERT_EQ(doc.m_dib.Height(), 3);
    EXPECT_EQ(std::memcmp(doc.m_dib.GetColorTable(), state->image.data(), 12), 0);
    EXPECT_EQ(reinterpret_cast<BYTE *>(doc.m_dib.GetColorTable())[12], 0) << "only P table bytes are taken";
    EXPECT_EQ(std::memcmp(doc.m_dib.GetBits(), state->image.data() + 12, 24), 0);
    EXPECT_EQ(pixelOf(doc.m_dib, 0, 0), (Rgb{0, 0, 255}));
    EXPECT_EQ(pixelOf(doc.m_dib, 4, 0), (Rgb{0, 0, 255}));
}

TEST_F(DocTest, VekLoadFailuresAreReportedAndKeepThePicture) {
    FakeCodecState *state = fake();
    CSorvuDoc doc;
    const std::string good = write("good.bmp", makeBmp(BmpLayout()));
    struct Case {
        const char *what;
        std::function<void(FakeCodecState &)> setup;
        bool pictureKept;
    };
    const std::vector<Case> cases = {
        {"codec refuses", [](FakeCodecState &s) { s.loadResult = 0; s.lastFailure = VEK_FAILURE_OUT_OF_MEMORY; }, true},
        {"16 bits", [](FakeCodecState &s) { s.bitCount = 16; }, true},
        {"32 bits", [](FakeCodecState &s) { s.bitCount = 32; }, true},
        {"too large for a picture", [](FakeCodecState &s) { s.width = 65535; s.height = 65535; s.bitCount = 24; }, true},
        {"image shorter than its rows", [](FakeCodecState &s) { s.imageLengthOverride = 20; }, false},
        {"no image", [](FakeCodecState &s) { s.image.clear(); }, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        *state = FakeCodecState();
        state->width = 4;
        state->height = 4;
        state->image.assign(1024 + 16, 7);
        state->bitsOffset = 1024;
        c.setup(*state);
        ASSERT_TRUE(doc.OnOpenDocument(good.c_str()));
        doc.m_nZoom = 200;
        m_messages.clear();
        const std::string path = writeVekHeader("x.vek", 1024);
        EXPECT_FALSE(doc.OnOpenDocument(path.c_str()));
        ASSERT_EQ(m_messages.size(), 1u);
        if (state->loadResult == 0) {
            // The box names the codec's reason.
            EXPECT_EQ(m_messages[0], path + "\nThe VEK! file cannot be decoded: there is not enough memory.");
        }
        EXPECT_EQ(doc.m_nKind, PictureNone);
        EXPECT_EQ(doc.m_nZoom, 200);
        if (c.pictureKept) {
            EXPECT_EQ(doc.m_dib.Width(), 8);
        } else {
            EXPECT_EQ(doc.m_dib.GetBits(), nullptr);
        }
    }
}

// ---------------------------------------------------------------- open and save commands

TEST_F(DocTest, FileOpenCommandUsesItsDialogAndKeepsThePathName) {
    CSorvuDoc doc;
    doc.OnFileOpen(); // cancelled
    ASSERT_EQ(m_dialogs.size(), 1u);
    EXPECT_TRUE(m_dialogs[0].open);
    EXPECT_EQ(m_dialogs[0].filter, "Bitmap (*.bmp)|*.bmp|VEK! (*.vek)|*.vek|");
    EXPECT_EQ(m_dialogs[0].flags, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT);
    EXPECT_EQ(doc.m_nKind, PictureNone);

    m_answer = write("pic.bmp", makeBmp(BmpLayout()));
    doc.OnFileOpen();
    EXPECT_EQ(doc.m_nKind, PictureBitmap);
    EXPECT_STREQ(doc.m_szSourcePath, m_answer.c_str());
    EXPECT_EQ(doc.GetPathName(), "") << "opening from the menu leaves the title alone";
}

TEST_F(DocTest, FileSaveConvertsTheOpenedFileToTheOtherFormat) {
    FakeCodecState *state = fake();
    CSorvuDoc doc;
    // Nothing loaded: no dialog.
    m_answer = m_dir + "/out";
    doc.OnFileSave();
    EXPECT_TRUE(m_dialogs.empty());

    const std::string bmp = write("pic.bmp", makeBmp(BmpLayout()));
    ASSERT_TRUE(doc.OnOpenDocument(bmp.c_str()));
    doc.OnFileSave();
    ASSERT_EQ(m_dialogs.size(), 1u);
    EXPECT_FALSE(m_dialogs[0].open);
    EXPECT_EQ(m_dialogs[0].filter, "VEK! (*.vek)|*.vek|");
    EXPECT_EQ(m_dialogs[0].flags, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT);
    ASSERT_EQ(state->calls.size(), 1u);
    EXPECT_EQ(state->calls[0], "encodeFile " + bmp + " " + m_answer);
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(doc.m_nKind, PictureBitmap);

    state->width = state->height = 1;
    state->image.assign(1024 + 4, 0);
    state->bitsOffset = 1024;
    const std::string vek = writeVekHeader("pic.vek", 1024);
    ASSERT_TRUE(doc.OnOpenDocument(vek.c_str()));
    state->calls.clear();
    doc.OnFileSave();
    ASSERT_EQ(m_dialogs.size(), 2u);
    EXPECT_EQ(m_dialogs[1].filter, "Bitmap (*.bmp)|*.bmp|");
    ASSERT_EQ(state->calls.size(), 1u);
    EXPECT_EQ(state->calls[0], "decodeFile " + vek + " " + m_answer);

    // Cancelled: no conversion.
    m_answer.clear();
    state->calls.clear();
    doc.OnFileSave();
    EXPECT_TRUE(state->calls.empty());
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(DocTest, FailedConversionIsReportedWithItsReason) {
    FakeCodecState *state = fake();
    state->encodeResult = 0;
    state->lastFailure = VEK_FAILURE_WRITE;
    CSorvuDoc doc;
    const std::string bmp = write("pic.bmp", makeBmp(BmpLayout()));
    ASSERT_TRUE(doc.OnOpenDocument(bmp.c_str()));
    m_answer = m_dir + "/out.vek";
    doc.OnFileSave();
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0],
              "The conversion of " + bmp + " into " + m_answer + " failed: writing the output failed (is the disk full?).");
    EXPECT_EQ(doc.m_nKind, PictureBitmap);
}

TEST_F(DocTest, LongPathsAreUsedWhole) {
    std::string deep = m_dir;
    while (deep.size() < 600) {
        deep += "/a-rather-long-folder-name-to-pass-the-old-limit";
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    }
    const std::string path = deep + "/picture.bmp";
    writeFileBytes(path, makeBmp(BmpLayout()));
    FakeCodecState *state = fake();
    CSorvuDoc doc;
    ASSERT_TRUE(doc.OnOpenDocument(path.c_str()));
    EXPECT_STREQ(doc.m_szSourcePath, path.c_str());
    m_answer = deep + "/picture.vek";
    doc.OnFileSave();
    ASSERT_EQ(state->calls.size(), 1u);
    EXPECT_EQ(state->calls[0], "encodeFile " + path + " " + m_answer);
}

// ---------------------------------------------------------------- zoom

TEST_F(DocTest, ZoomCommandsAndTheirStates) {
    CSorvuDoc doc;
    auto state = [&doc](int id) {
        wxUpdateUIEvent event(AfxCommandId(id));
        doc.ProcessEvent(event);
        return std::make_pair(event.GetEnabled(), event.GetChecked());
    };
    auto command = [&doc](int id) {
        wxCommandEvent event(wxEVT_MENU, AfxCommandId(id));
        doc.ProcessEvent(event);
    };
    // No picture: all disabled, 100 % checked.
    EXPECT_EQ(state(ID_VIEW_ZOOM50), std::make_pair(false, false));
    EXPECT_EQ(state(ID_VIEW_ZOOM100), std::make_pair(false, true));
    EXPECT_EQ(state(ID_VIEW_ZOOM200), std::make_pair(false, false));

    ASSERT_TRUE(doc.OnOpenDocument(write("pic.bmp", makeBmp(BmpLayout())).c_str()));
    command(ID_VIEW_ZOOM200);
    EXPECT_EQ(doc.m_nZoom, 200);
    EXPECT_EQ(state(ID_VIEW_ZOOM50), std::make_pair(true, false));
    EXPECT_EQ(state(ID_VIEW_ZOOM100), std::make_pair(true, false));
    EXPECT_EQ(state(ID_VIEW_ZOOM200), std::make_pair(true, true));
    command(ID_VIEW_ZOOM50);
    EXPECT_EQ(doc.m_nZoom, 50);
    EXPECT_EQ(state(ID_VIEW_ZOOM50), std::make_pair(true, true));

    // Enabled by the picture held, not by the kind of the last load.
    EXPECT_FALSE(doc.OnOpenDocument(write("x.txt", {'x', 'y', 'z', '1', '2', '3', '4'}).c_str()));
    EXPECT_EQ(doc.m_nKind, PictureNone);
    EXPECT_EQ(state(ID_VIEW_ZOOM100), std::make_pair(true, true));
}

// ---------------------------------------------------------------- the real codec

class RealCodecTest : public DocTest {
protected:
    void SetUp() override {
        DocTest::SetUp();
        CSorvuDoc::s_pszCodecLibrary = VEK_LIBRARY_NAME;
    }
};

TEST_F(RealCodecTest, BmpSavedAsVekOpensWithTheSamePictureAndBack) {
    for (const char *name : {"g/pal8.bmp", "g/pal8w125.bmp", "g/rgb24.bmp", "g/pal8-0.bmp"}) {
        SCOPED_TRACE(name);
        CDibImage original;
        readInto(original, kSuite + "/" + name);
        m_messages.clear();
        CSorvuDoc doc;
        ASSERT_NE(doc.m_pCodec, nullptr) << "libvek.so must be in the build folder";
        ASSERT_TRUE(doc.OnOpenDocument((kSuite + "/" + name).c_str()));

        const std::string vek = m_dir + "/saved.vek";
        m_answer = vek;
        doc.OnFileSave();
        EXPECT_TRUE(m_messages.empty());
        ASSERT_TRUE(doc.OnOpenDocument(vek.c_str()));
        EXPECT_EQ(doc.m_nKind, PictureVek);
        EXPECT_TRUE(samePicture(doc.m_dib, original));

        // And back to BMP: the decoder writes a table as long as the
        // picture's (here often under 256 entries) with biClrUsed 0.
        const std::string bmp = m_dir + "/back.bmp";
        m_answer = bmp;
        doc.OnFileSave();
        EXPECT_TRUE(m_messages.empty());
        CDibImage back;
        readInto(back, bmp);
        EXPECT_TRUE(samePicture(back, original));
        ASSERT_TRUE(doc.OnOpenDocument(bmp.c_str()));
        EXPECT_EQ(doc.m_nKind, PictureBitmap);
        EXPECT_TRUE(samePicture(doc.m_dib, original));
    }
}

TEST_F(RealCodecTest, DamagedVekFileIsAFailedOpen) {
    CSorvuDoc doc;
    ASSERT_NE(doc.m_pCodec, nullptr);
    const std::string source = kSuite + "/g/pal8.bmp";
    ASSERT_TRUE(doc.OnOpenDocument(source.c_str()));
    const std::string vek = m_dir + "/good.vek";
    m_answer = vek;
    doc.OnFileSave();
    const std::vector<uint8_t> good = readFileBytes(vek);
    ASSERT_GT(good.size(), 40u);

    std::vector<std::vector<uint8_t>> damaged;
    damaged.push_back(std::vector<uint8_t>(good.begin(), good.begin() + 12));              // header only
    damaged.push_back(std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2)); // cut in half
    std::vector<uint8_t> flipped = good;
    for (size_t i = 12; i < flipped.size(); i += 7) flipped[i] ^= 0x5A;
    damaged.push_back(flipped);
    for (size_t i = 0; i < damaged.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(doc.OnOpenDocument(source.c_str()));
        m_messages.clear();
        const std::string path = write("bad.vek", damaged[i]);
        const BOOL opened = doc.OnOpenDocument(path.c_str());
        // The codec may find some damage only as wrong pixels; whatever it
        // refuses must be a reported failed open, and the viewer goes on.
        if (!opened) {
            EXPECT_EQ(m_messages.size(), 1u);
            EXPECT_EQ(doc.m_nKind, PictureNone);
            EXPECT_EQ(doc.m_dib.Width(), 127);
        } else {
            EXPECT_TRUE(m_messages.empty());
            EXPECT_EQ(doc.m_nKind, PictureVek);
        }
        if (i < 2) {
            EXPECT_FALSE(opened) << "a cut file must be refused";
            ASSERT_EQ(m_messages.size(), 1u);
            EXPECT_EQ(m_messages[0], path + "\nThe VEK! file cannot be decoded: " +
                                         vekFailureText(VEK_FAILURE_DAMAGED_VEK) + ".");
        }
    }
}

TEST_F(RealCodecTest, VekOfAPictureTheViewerCannotHoldIsAFailedOpen) {
    CSorvuDoc doc;
    ASSERT_NE(doc.m_pCodec, nullptr);
    const std::string vek = m_dir + "/rgb32.vek";
    ASSERT_EQ(doc.m_pCodec->encodeFile((kSuite + "/g/rgb32.bmp").c_str(), vek.c_str()), 1);
    ASSERT_TRUE(doc.OnOpenDocument((kSuite + "/g/rgb24.bmp").c_str()));
    EXPECT_FALSE(doc.OnOpenDocument(vek.c_str()));
    EXPECT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(doc.m_nKind, PictureNone);
    EXPECT_EQ(doc.m_dib.Width(), 127);
}

// Conversions the real codec refuses: the box names the reason it gives.
TEST_F(RealCodecTest, FailedConversionsNameTheCodecsReason) {
    CSorvuDoc doc;
    ASSERT_NE(doc.m_pCodec, nullptr);
    BmpLayout topDown;
    topDown.bitCount = 24;
    topDown.height = -4;
    const std::string source = write("top-down.bmp", makeBmp(topDown));
    ASSERT_TRUE(doc.OnOpenDocument(source.c_str()));
    ASSERT_EQ(doc.m_nKind, PictureBitmap) << "the viewer shows it; the codec cannot keep its row order";
    m_answer = m_dir + "/out.vek";
    doc.OnFileSave();
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0], "The conversion of " + source + " into " + m_answer + " failed: " +
                                 vekFailureText(VEK_FAILURE_TOP_DOWN) + ".");

    // The opened file removed before saving.
    const std::string gone = write("gone.bmp", makeBmp(BmpLayout()));
    ASSERT_TRUE(doc.OnOpenDocument(gone.c_str()));
    ASSERT_EQ(unlink(gone.c_str()), 0);
    m_messages.clear();
    doc.OnFileSave();
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0], "The conversion of " + gone + " into " + m_answer + " failed: " +
                                 vekFailureText(VEK_FAILURE_OPEN_INPUT) + ".");
}

// 8-bit pictures with 108- and 124-byte info headers, as today's tools write
// them, compressed by the codec: the viewer shows the .vek file with the
// picture's own colours.
TEST_F(RealCodecTest, VekOfEightBitPicturesWithLongerInfoHeadersShowsTheirColours) {
    CSorvuDoc doc;
    ASSERT_NE(doc.m_pCodec, nullptr);
    struct Case {
        std::string what, longer, plain;  // the plain one has a 40-byte header
    };
    std::vector<Case> cases = {{"suite, 108 bytes", kSuite + "/g/pal8v4.bmp", kSuite + "/g/pal8.bmp"},
                               {"suite, 124 bytes", kSuite + "/g/pal8v5.bmp", kSuite + "/g/pal8.bmp"}};
    BmpLayout shortTable;
    shortTable.width = 13;
    shortTable.height = 6;
    shortTable.clrUsed = 16;
    shortTable.pixel = [](int x, int y) { return uint32_t((x + 3 * y) % 16); };
    const std::string plain = write("plain.bmp", makeBmp(shortTable));
    for (uint32_t infoSize : {108u, 124u}) {
        shortTable.infoSize = infoSize;
        cases.push_back({"16 colours, " + std::to_string(infoSize) + " bytes",
                         write("v" + std::to_string(infoSize) + ".bmp", makeBmp(shortTable)), plain});
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        CDibImage original;
        readInto(original, c.plain);
        const std::string vek = m_dir + "/longer.vek";
        ASSERT_EQ(doc.m_pCodec->encodeFile(c.longer.c_str(), vek.c_str()), 1);
        ASSERT_TRUE(doc.OnOpenDocument(vek.c_str()));
        EXPECT_EQ(doc.m_nKind, PictureVek);
        EXPECT_TRUE(samePicture(doc.m_dib, original));
    }
}
