// Sorvu on a display (Xvfb): the application runs in this process as it does
// in the program, and the program itself is started for the start-up tests.
// Commands go through the frame as menu clicks do; modal dialogs are
// answered with wxTEST_DIALOG; pixels are read back from the screen.
#include "main_frame.h"
#include "resource.h"
#include "sorvu_app.h"
#include "sorvu_doc.h"
#include "screen_grab.h"
#include "test_bmp.h"

#include <gtest/gtest.h>

#include <wx/filedlg.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/process.h>
#include <wx/stattext.h>
#include <wx/stopwatch.h>
#include <wx/testing.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include <unistd.h>

#include <cstring>
#include <functional>

namespace {

const std::string kSuite = std::string(SORVU_TEST_DATA) + "/bmpsuite";

void pump(int ms) {
    wxStopWatch sw;
    do {
        wxTheApp->Yield(true);
        wxMilliSleep(5);
    } while (sw.Time() < ms);
}

// Pumps events until the condition holds or 15 s have passed.
bool pumpUntil(const std::function<bool()> &condition, int timeoutMs = 15000) {
    wxStopWatch sw;
    while (!condition()) {
        if (sw.Time() > timeoutMs) return false;
        wxTheApp->Yield(true);
        wxMilliSleep(5);
    }
    pump(50);
    return true;
}

// Answers the file dialog with a path. GTK's file chooser takes a path only
// after a turn of the main loop, so wait for it to be taken.
class ExpectFile : public wxExpectModalBase<wxFileDialog, ExpectFile> {
public:
    explicit ExpectFile(const std::string &path, long *style = nullptr, wxString *wildcard = nullptr)
        : m_path(path), m_style(style), m_wildcard(wildcard) {}

protected:
    int OnInvoked(wxFileDialog *dialog) const override {
        if (m_style) *m_style = dialog->GetWindowStyle();
        if (m_wildcard) *m_wildcard = dialog->GetWildcard();
        dialog->SetPath(wxString::FromUTF8(m_path));
        wxStopWatch sw;
        while (dialog->GetPath() != wxString::FromUTF8(m_path) && sw.Time() < 5000) {
            wxYield();
            wxMilliSleep(5);
        }
        return wxID_OK;
    }

private:
    std::string m_path;
    long *m_style;
    wxString *m_wildcard;
};

// Answers a message box and keeps its text.
class ExpectMessage : public wxExpectModalBase<wxMessageDialog, ExpectMessage> {
public:
    explicit ExpectMessage(wxString *text) : m_text(text) {}

protected:
    int OnInvoked(wxMessageDialog *dialog) const override {
        *m_text = dialog->GetMessage();
        return wxID_OK;
    }

private:
    wxString *m_text;
};

// Answers the About box after checking what it shows.
class ExpectAbout : public wxExpectModalBase<CAboutDlg, ExpectAbout> {
public:
    ExpectAbout(std::vector<std::string> *texts, wxString *title, std::vector<std::string> *cut)
        : m_texts(texts), m_title(title), m_cut(cut) {}

protected:
    int OnInvoked(CAboutDlg *dialog) const override {
        *m_title = dialog->GetTitle();
        for (wxWindow *child : dialog->GetChildren())
            if (auto *text = dynamic_cast<wxStaticText *>(child)) {
                m_texts->push_back(text->GetLabel().ToStdString());
                // A text wider than its control is cut short on the screen.
                if (text->GetTextExtent(text->GetLabel()).x > text->GetClientSize().x)
                    m_cut->push_back(text->GetLabel().ToStdString());
            }
        return wxID_OK;
    }

private:
    std::vector<std::string> *m_texts;
    wxString *m_title;
    std::vector<std::string> *m_cut;
};

// A picture pattern with no black or white pixel, so that it cannot be
// mistaken for the background or the root window.
uint32_t screenPattern(int x, int y) {
    return uint32_t(40 + (x * 3) % 200) << 16 | uint32_t(40 + (y * 5) % 200) << 8 | uint32_t(40 + ((x + y) * 7) % 200);
}

Rgb rgbOf(uint32_t v) {
    return Rgb{uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

// What view pixel (x, y) shows of the screenPattern picture (of even size)
// at the zoom: enlarged, the picture pixel under its top-left corner;
// halved, the right column and the upper row of each pair, as on Windows.
Rgb shownAt(int x, int y, int zoom) {
    if (zoom == 50) return rgbOf(screenPattern(2 * x + 1, 2 * y));
    return rgbOf(screenPattern(x * 100 / zoom, y * 100 / zoom));
}

Rgb at(const wxImage &image, int x, int y) {
    return Rgb{image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y)};
}

class AppTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sorvu-app-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        ASSERT_NE(frame(), nullptr);
        frame()->Raise();
        pump(100);
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + m_dir + "'";
        if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "could not remove " << m_dir;
    }

    static CSorvuApp &app() { return wxGetApp(); }
    static CFrameWnd *frame() { return app().m_pMainWnd; }
    static CSorvuDoc *doc() { return static_cast<CSorvuDoc *>(app().m_pDocTemplate->GetDocument()); }
    static wxWindow *viewWindow() { return doc()->GetFirstView()->GetSafeWnd(); }
    static wxSize viewSize() { return viewWindow()->GetClientSize(); }

    static void command(int id) {
        wxCommandEvent event(wxEVT_MENU, AfxCommandId(id));
        event.SetEventObject(frame());
        frame()->GetEventHandler()->ProcessEvent(event);
    }
    static bool enabled(int id) {
        frame()->UpdateWindowUI();
        return frame()->GetMenuBar()->IsEnabled(AfxCommandId(id));
    }
    static bool checked(int id) {
        frame()->UpdateWindowUI();
        return frame()->GetMenuBar()->IsChecked(AfxCommandId(id));
    }
    static std::string title() { return frame()->GetTitle().ToStdString(); }

    std::string writeBmp(const std::string &name, int w, int h, uint16_t bits = 24) {
        BmpLayout layout;
        layout.width = w;
        layout.height = h;
        layout.bitCount = bits;
        if (bits == 24) layout.pixel = screenPattern;
        const std::string path = m_dir + "/" + name;
        writeFileBytes(path, makeBmp(layout));
        return path;
    }

    // Opens through the framework's open routine, as the command line and
    // dropped files do.
    bool open(const std::string &path) {
        const bool done = app().OpenDocumentFile(path.c_str()) != nullptr;
        pump(100);
        return done;
    }

    bool waitForView(int w, int h) {
        return pumpUntil([w, h] { return viewSize() == wxSize(w, h); });
    }

    // What the screen shows: the screenPattern picture at the zoom fills the
    // view's w x h pixels and the window ends there (black root beyond).
    static void expectFittedOnScreen(int w, int h, int zoom) {
        pump(300);
        const wxImage screen = grabScreen(wxRect(viewWindow()->ClientToScreen(wxPoint(0, 0)), wxSize(w + 1, h + 1)));
        ASSERT_TRUE(screen.IsOk());
        for (const wxPoint &p : {wxPoint(0, 0), wxPoint(w - 1, 0), wxPoint(0, h - 1), wxPoint(w - 1, h - 1)})
            EXPECT_EQ(at(screen, p.x, p.y), shownAt(p.x, p.y, zoom)) << p.x << "," << p.y;
        EXPECT_EQ(at(screen, w, h / 2), (Rgb{0, 0, 0})) << "window wider than the picture";
        EXPECT_EQ(at(screen, w / 2, h), (Rgb{0, 0, 0})) << "window taller than the picture";
    }

    std::string m_dir;
};

} // namespace

TEST_F(AppTest, StartsEmptyInAFixedFrameWithItsMenu) {
    EXPECT_TRUE(frame()->IsShown());
    EXPECT_EQ(frame()->GetSize(), wxSize(400, 300));
    EXPECT_FALSE(frame()->HasFlag(wxRESIZE_BORDER));
    EXPECT_FALSE(frame()->HasFlag(wxMAXIMIZE_BOX));
    EXPECT_EQ(title(), "Untitled - Sorvu");
    EXPECT_EQ(doc()->m_nKind, PictureNone);
    ASSERT_NE(doc()->m_pCodec, nullptr) << "libvek.so must be in the build folder";

    // Zoom items greyed out, 100 % checked; the other commands available.
    EXPECT_FALSE(enabled(ID_VIEW_ZOOM50));
    EXPECT_FALSE(enabled(ID_VIEW_ZOOM100));
    EXPECT_FALSE(enabled(ID_VIEW_ZOOM200));
    EXPECT_FALSE(checked(ID_VIEW_ZOOM50));
    EXPECT_TRUE(checked(ID_VIEW_ZOOM100));
    EXPECT_FALSE(checked(ID_VIEW_ZOOM200));
    EXPECT_TRUE(enabled(ID_FILE_OPEN));
    EXPECT_TRUE(enabled(ID_FILE_SAVE));

    wxMenuBar *bar = frame()->GetMenuBar();
    ASSERT_EQ(bar->GetMenuCount(), 3u);
    EXPECT_EQ(bar->GetMenuLabel(0), "&File");
    EXPECT_EQ(bar->GetMenuLabel(1), "&View");
    EXPECT_EQ(bar->GetMenuLabel(2), "&Help");
    const std::pair<int, const char *> items[] = {
        {ID_FILE_OPEN, "&Open"},           {ID_FILE_SAVE, "&Save"},          {ID_APP_EXIT, "E&xit"},
        {ID_VIEW_ZOOM50, "Zoom (&50%)"},   {ID_VIEW_ZOOM100, "Zoom (&100%)"}, {ID_VIEW_ZOOM200, "Zoom (&200%)"},
        {ID_APP_ABOUT, "&About Sorvu..."},
    };
    for (const auto &item : items) {
        wxMenuItem *menuItem = bar->FindItem(AfxCommandId(item.first));
        ASSERT_NE(menuItem, nullptr) << item.second;
        EXPECT_EQ(menuItem->GetItemLabel(), item.second);
    }
    EXPECT_TRUE(bar->GetMenu(0)->FindItemByPosition(2)->IsSeparator());

    const wxIconBundle icons = frame()->GetIcons();
    EXPECT_EQ(icons.GetIconCount(), 2u);
    EXPECT_TRUE(icons.GetIcon(wxSize(32, 32), wxIconBundle::FALLBACK_NONE).IsOk());
    EXPECT_TRUE(icons.GetIcon(wxSize(16, 16), wxIconBundle::FALLBACK_NONE).IsOk());

    // Blank view, nothing drawn.
    const wxImage screen = grabScreen(wxRect(viewWindow()->ClientToScreen(wxPoint(0, 0)), viewSize()));
    const Rgb background = at(screen, 0, 0);
    EXPECT_EQ(at(screen, screen.GetWidth() / 2, screen.GetHeight() / 2), background);
}

// 640 x 480 at 200 per cent asks for 1280 x 960; the check mark follows.
TEST_F(AppTest, ZoomCommandsRefitTheFrameAndMoveTheCheckMark) {
    const std::string path = writeBmp("big.bmp", 640, 480);
    ASSERT_TRUE(open(path));
    EXPECT_EQ(title(), "big.bmp - Sorvu");
    EXPECT_TRUE(waitForView(640, 480)) << viewSize().x << "x" << viewSize().y;
    EXPECT_TRUE(enabled(ID_VIEW_ZOOM50));
    EXPECT_TRUE(enabled(ID_VIEW_ZOOM200));

    expectFittedOnScreen(640, 480, 100);
    command(ID_VIEW_ZOOM200);
    EXPECT_EQ(doc()->m_nZoom, 200);
    EXPECT_TRUE(waitForView(1280, 960)) << viewSize().x << "x" << viewSize().y;
    expectFittedOnScreen(1280, 960, 200);
    EXPECT_TRUE(checked(ID_VIEW_ZOOM200));
    EXPECT_FALSE(checked(ID_VIEW_ZOOM100));

    command(ID_VIEW_ZOOM50);
    EXPECT_TRUE(waitForView(320, 240)) << viewSize().x << "x" << viewSize().y;
    expectFittedOnScreen(320, 240, 50);
    EXPECT_TRUE(checked(ID_VIEW_ZOOM50));
    EXPECT_FALSE(checked(ID_VIEW_ZOOM200));

    // The zoom survives opening another picture, which is fitted at it.
    ASSERT_TRUE(open(writeBmp("other.bmp", 400, 300)));
    EXPECT_TRUE(waitForView(200, 150)) << viewSize().x << "x" << viewSize().y;
    EXPECT_TRUE(checked(ID_VIEW_ZOOM50));
}

TEST_F(AppTest, PictureIsPaintedAtTheTopLeftOfTheView) {
    ASSERT_TRUE(open(writeBmp("pic.bmp", 200, 150)));
    ASSERT_TRUE(waitForView(200, 150));
    for (int zoom : {100, 200, 50}) {
        SCOPED_TRACE(zoom);
        command(zoom == 100 ? ID_VIEW_ZOOM100 : zoom == 200 ? ID_VIEW_ZOOM200 : ID_VIEW_ZOOM50);
        const int w = 200 * zoom / 100, h = 150 * zoom / 100;
        // The menu bar keeps the window at least as wide as itself.
        ASSERT_TRUE(pumpUntil([w, h] { return viewSize().y == h && viewSize().x >= w; }));
        pump(300);
        const wxImage screen = grabScreen(wxRect(viewWindow()->ClientToScreen(wxPoint(0, 0)), wxSize(w, h)));
        int wrong = 0;
        for (int y = 0; y < h; y += 3)
            for (int x = 0; x < w; x += 3) wrong += !(at(screen, x, y) == shownAt(x, y, zoom));
        EXPECT_EQ(wrong, 0);
    }
}

TEST_F(AppTest, CtrlOOpensWithTheDocumentsDialogAndKeepsTheTitle) {
    const std::string path = writeBmp("keys.bmp", 220, 140);
    long style = 0;
    wxString wildcard;
    wxUIActionSimulator sim;
    wxTEST_DIALOG({
        sim.Char('O', wxMOD_CONTROL);
        pumpUntil([] { return doc()->m_nKind == PictureBitmap; });
    }, ExpectFile(path, &style, &wildcard));
    EXPECT_EQ(doc()->m_nKind, PictureBitmap);
    EXPECT_STREQ(doc()->m_szSourcePath, path.c_str());
    EXPECT_EQ(wildcard, "Bitmap (*.bmp)|*.bmp|VEK! (*.vek)|*.vek");
    EXPECT_TRUE(style & wxFD_OPEN);
    EXPECT_EQ(title(), "Untitled - Sorvu") << "opening from the menu keeps the title";
    EXPECT_TRUE(waitForView(220, 140));
}

// File Save of a BMP writes a .vek file that decodes to the same pixels, and
// File Save of that .vek file writes a BMP file.
TEST_F(AppTest, CtrlSConvertsBmpToVekAndVekToBmp) {
    const std::string bmp = writeBmp("orig.bmp", 150, 90);
    ASSERT_TRUE(open(bmp));
    CDibImage original;
    {
        CFile file;
        ASSERT_TRUE(file.Open(bmp.c_str(), CFile::modeRead));
        original.Read(file);
    }
    const std::string vek = m_dir + "/saved.vek";
    wxString wildcard;
    long style = 0;
    wxUIActionSimulator sim;
    wxTEST_DIALOG({
        sim.Char('S', wxMOD_CONTROL);
        pumpUntil([&vek] { return access(vek.c_str(), F_OK) == 0; });
    }, ExpectFile(vek, &style, &wildcard));
    EXPECT_EQ(wildcard, "VEK! (*.vek)|*.vek");
    EXPECT_TRUE(style & wxFD_SAVE);
    EXPECT_TRUE(style & wxFD_OVERWRITE_PROMPT);
    EXPECT_EQ(title(), "orig.bmp - Sorvu");

    ASSERT_TRUE(open(vek));
    EXPECT_EQ(doc()->m_nKind, PictureVek);
    EXPECT_EQ(title(), "saved.vek - Sorvu");
    ASSERT_EQ(doc()->m_dib.Width(), 150);
    ASSERT_EQ(doc()->m_dib.Height(), 90);
    EXPECT_EQ(std::memcmp(doc()->m_dib.GetBits(), original.GetBits(), size_t(452) * 90), 0);

    const std::string back = m_dir + "/back.bmp";
    wxTEST_DIALOG(command(ID_FILE_SAVE), ExpectFile(back, nullptr, &wildcard));
    EXPECT_EQ(wildcard, "Bitmap (*.bmp)|*.bmp");
    // The restored file has the original's pixel rows (the format may add
    // bytes after them).
    CDibImage restored;
    {
        CFile file;
        ASSERT_TRUE(file.Open(back.c_str(), CFile::modeRead));
        restored.Read(file);
    }
    ASSERT_EQ(restored.Width(), 150);
    ASSERT_EQ(restored.Height(), 90);
    EXPECT_EQ(std::memcmp(restored.GetBits(), original.GetBits(), size_t(452) * 90), 0);
}

TEST_F(AppTest, UnrecognisedAndDamagedFilesAreReportedAndTheViewerGoesOn) {
    const std::string good = writeBmp("good.bmp", 180, 120);
    ASSERT_TRUE(open(good));
    command(ID_VIEW_ZOOM200);
    ASSERT_TRUE(waitForView(360, 240));

    const std::string text = m_dir + "/notes.txt";
    writeFileBytes(text, {'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'});
    wxString message;
    wxTEST_DIALOG(EXPECT_FALSE(open(text)), ExpectMessage(&message));
    EXPECT_NE(message.find("notes.txt"), wxString::npos);
    EXPECT_EQ(title(), "good.bmp - Sorvu");
    EXPECT_EQ(doc()->m_nKind, PictureNone);
    EXPECT_TRUE(checked(ID_VIEW_ZOOM100));
    EXPECT_TRUE(enabled(ID_VIEW_ZOOM100)) << "the old picture is still held";
    pump(300);
    const wxImage screen = grabScreen(wxRect(viewWindow()->ClientToScreen(wxPoint(0, 0)), wxSize(180, 120)));
    EXPECT_EQ(at(screen, 179, 119), rgbOf(screenPattern(179, 119))) << "old picture painted at 100 %";

    // A damaged .vek file: a good one cut short.
    const std::string vek = m_dir + "/cut.vek";
    ASSERT_EQ(doc()->m_pCodec->encodeFile(good.c_str(), vek.c_str()), 1);
    std::vector<uint8_t> bytes = readFileBytes(vek);
    bytes.resize(bytes.size() / 2);
    writeFileBytes(vek, bytes);
    message.clear();
    wxTEST_DIALOG(EXPECT_FALSE(open(vek)), ExpectMessage(&message));
    EXPECT_NE(message.find("cut.vek"), wxString::npos);
    EXPECT_EQ(doc()->m_nKind, PictureNone);
    EXPECT_TRUE(frame()->IsShown());

    // Still working: a good file opens.
    ASSERT_TRUE(open(good));
    EXPECT_EQ(doc()->m_nKind, PictureBitmap);
}

TEST_F(AppTest, DroppedFilesOpenThroughTheFramework) {
    const std::string first = writeBmp("first.bmp", 160, 100);
    const std::string second = writeBmp("second.bmp", 240, 130);
    wxString *files = new wxString[2]{wxString::FromUTF8(first), wxString::FromUTF8(second)};
    wxDropFilesEvent drop(wxEVT_DROP_FILES, 2, files);
    frame()->GetEventHandler()->ProcessEvent(drop);
    pump(100);
    EXPECT_EQ(title(), "second.bmp - Sorvu") << "the last file dropped stays";
    EXPECT_STREQ(doc()->m_szSourcePath, second.c_str());
    EXPECT_TRUE(waitForView(240, 130));

    // Dropped on the view, the frame around it takes the file.
    wxString *one = new wxString[1]{wxString::FromUTF8(first)};
    wxDropFilesEvent onView(wxEVT_DROP_FILES, 1, one);
    viewWindow()->GetEventHandler()->ProcessEvent(onView);
    pump(100);
    EXPECT_EQ(title(), "first.bmp - Sorvu");
}

TEST_F(AppTest, AboutBoxShowsItsCaptionAndTexts) {
    std::vector<std::string> texts, cut;
    wxString caption;
    wxTEST_DIALOG(command(ID_APP_ABOUT), ExpectAbout(&texts, &caption, &cut));
    EXPECT_EQ(caption, "About Sorvu");
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "VEK! reference code version 1.0");
    EXPECT_FALSE(texts[1].empty());
    EXPECT_TRUE(cut.empty()) << "cut short: " << cut.front();
}

TEST_F(AppTest, ExitClosesTheMainWindow) {
    wxWindow *main = frame();
    EXPECT_TRUE(wxTopLevelWindows.Find(main) != nullptr);
    command(ID_APP_EXIT);
    EXPECT_TRUE(pumpUntil([main] { return wxTopLevelWindows.Find(main) == nullptr; }));
}

// ---------------------------------------------------------------- the program itself

namespace {

std::string binFolder() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return ".";
    std::string path(buffer, size_t(n));
    return path.substr(0, path.rfind('/'));
}

// Finds the top-left corner of a w x h screenPattern picture on the screen,
// searching the first columns and rows.
bool findPicture(const wxImage &screen, int w, int h, wxPoint *where) {
    for (int top = 0; top + h <= screen.GetHeight() && top < 200; ++top)
        for (int left = 0; left + w <= screen.GetWidth() && left < 200; ++left) {
            bool match = true;
            for (int y = 0; match && y < h; y += 7)
                for (int x = 0; match && x < w; x += 7) match = at(screen, left + x, top + y) == rgbOf(screenPattern(x, y));
            if (match && at(screen, left + w - 1, top + h - 1) == rgbOf(screenPattern(w - 1, h - 1))) {
                *where = wxPoint(left, top);
                return true;
            }
        }
    return false;
}

} // namespace

// Sorvu started with a file shows the picture at the top left of its view,
// and the window ends where the picture ends: beyond it lies the screen's
// black root window, not the view's background.
TEST_F(AppTest, ProgramStartedWithAFileShowsItFitted) {
    const int w = 230, h = 140;
    const std::string bmp = writeBmp("start.bmp", w, h);
    const std::string vek = m_dir + "/start.vek";
    ASSERT_EQ(doc()->m_pCodec->encodeFile(bmp.c_str(), vek.c_str()), 1);
    frame()->Hide();
    pump(200);
    for (const std::string &file : {bmp, vek}) {
        SCOPED_TRACE(file);
        const wxString program = wxString::FromUTF8(binFolder() + "/Sorvu");
        const wxString argument = wxString::FromUTF8(file);
        // With the .vek file, a second name follows; only the first is opened.
        const wxString second = wxString::FromUTF8(m_dir + "/no-such-picture.bmp");
        const wxChar *args[] = {program.wc_str(), argument.wc_str(), file == vek ? second.wc_str() : nullptr, nullptr};
        const long pid = wxExecute(args, wxEXEC_ASYNC);
        ASSERT_GT(pid, 0);
        wxImage screen;
        wxPoint where;
        const wxSize screenSize = wxGetDisplaySize();
        const bool found = pumpUntil([&] {
            screen = grabScreen(wxRect(wxPoint(0, 0), screenSize));
            return findPicture(screen, w, h, &where);
        }, 30000);
        EXPECT_TRUE(found);
        if (found) {
            pump(500); // let the window settle, then look again
            screen = grabScreen(wxRect(wxPoint(0, 0), screenSize));
            ASSERT_TRUE(findPicture(screen, w, h, &where));
            EXPECT_EQ(where.x, 0) << "picture at the left edge of the window";
            int wrong = 0;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) wrong += !(at(screen, where.x + x, where.y + y) == rgbOf(screenPattern(x, y)));
            EXPECT_EQ(wrong, 0);
            for (int y = where.y; y < where.y + h; y += 10)
                EXPECT_EQ(at(screen, where.x + w, y), (Rgb{0, 0, 0})) << "window wider than the picture at row " << y;
            for (int x = where.x; x < where.x + w; x += 10)
                EXPECT_EQ(at(screen, x, where.y + h), (Rgb{0, 0, 0})) << "window taller than the picture at column " << x;
        }
        wxKill(pid, wxSIGTERM);
        pumpUntil([&] { return !wxProcess::Exists(int(pid)); }, 10000);
        pump(300);
    }
    frame()->Show();
}

// ---------------------------------------------------------------- main

namespace {

void assertToTest(const wxString &file, int line, const wxString &func, const wxString &cond, const wxString &msg) {
    ADD_FAILURE_AT(file.ToStdString().c_str(), line)
        << "wx assertion in " << func << ": " << cond << " " << msg;
}

} // namespace

wxIMPLEMENT_APP_NO_MAIN(CSorvuApp);

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    if (!wxEntryStart(argc, argv)) {
        fprintf(stderr, "no display: run the test under Xvfb\n");
        return 1;
    }
    wxSetAssertHandler(assertToTest);
    delete wxLog::SetActiveTarget(new wxLogStderr);
    if (!wxTheApp->CallOnInit()) return 1;
    const int rc = RUN_ALL_TESTS();
    if (CFrameWnd *frame = wxGetApp().m_pMainWnd) frame->Close(true);
    pump(100);
    wxTheApp->OnExit();
    wxEntryCleanup();
    return rc;
}
