#include "afxwin.h"
#include "afxwin_platform.h"

#include <wx/cmdline.h>
#include <wx/dcclient.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/image.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/settings.h>

// ---------------------------------------------------------------- messages

int AfxShowMessageBox(const std::string &text, UINT type) {
    long style = wxOK | wxCENTRE;
    if ((type & 0xF0) == MB_ICONSTOP) style |= wxICON_ERROR;
    else if ((type & 0xF0) == MB_ICONEXCLAMATION) style |= wxICON_WARNING;
    else style |= wxICON_NONE;
    const wxString caption = wxTheApp ? wxTheApp->GetAppDisplayName() : wxString("Sorvu");
    wxMessageDialog box(AfxGetMainWnd(), wxString::FromUTF8(text), caption, style);
    box.ShowModal();
    return IDOK;
}

// ---------------------------------------------------------------- dialogs

int CFileDialog::ShowDialog() {
    long style = m_bOpenFileDialog ? wxFD_OPEN : wxFD_SAVE;
    if (!m_bOpenFileDialog && (m_dwFlags & OFN_OVERWRITEPROMPT)) style |= wxFD_OVERWRITE_PROMPT;
    // wxWidgets' filter has no trailing separator.
    std::string f = m_strFilter;
    while (!f.empty() && f.back() == '|') f.pop_back();
    wxString filter = wxString::FromUTF8(f);
    if (filter.empty()) filter = wxFileSelectorDefaultWildcardStr;
    wxFileDialog dialog(m_pParentWnd, wxEmptyString, wxEmptyString, wxString::FromUTF8(m_strFileName), filter, style);
    if (dialog.ShowModal() != wxID_OK) return IDCANCEL;
    m_strPathName = std::string(dialog.GetPath().fn_str());
    return IDOK;
}

// ---------------------------------------------------------------- documents

CDocument::CDocument() = default;

CDocument::~CDocument() {
    if (auto *t = dynamic_cast<CSingleDocTemplate *>(GetDocumentTemplate())) t->ForgetDocument(this);
}

bool CDocument::OnOpenDocument(const wxString &file) {
    return OnOpenDocument(std::string(file.fn_str()).c_str()) != FALSE;
}

void CDocument::SetPathName(const std::string &path) {
    m_strPathName = path;
    wxDocument::SetFilename(wxString(path.c_str(), wxConvFile), false);
    SetTitle(std::string(wxFileName(wxString(path.c_str(), wxConvFile)).GetFullName().utf8_str()));
}

void CDocument::SetTitle(const std::string &title) {
    m_strTitle = title;
    wxDocument::SetTitle(wxString::FromUTF8(title));
    for (CView *view : GetViews())
        if (CFrameWnd *frame = view->GetParentFrame()) frame->OnUpdateFrameTitle(this);
}

CView *CDocument::GetFirstView() const {
    return static_cast<CView *>(wxDocument::GetFirstView());
}

std::vector<CView *> CDocument::GetViews() const {
    std::vector<CView *> views;
    for (wxList::compatibility_iterator node = wxDocument::GetViews().GetFirst(); node; node = node->GetNext())
        views.push_back(static_cast<CView *>(node->GetData()));
    return views;
}

// ---------------------------------------------------------------- views

namespace {

// The window of a view: erases its background, then lets the view draw.
class CViewWnd : public wxWindow {
public:
    CViewWnd(wxWindow *parent, CView *view)
        : wxWindow(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxFULL_REPAINT_ON_RESIZE | wxBORDER_NONE),
          m_pView(view) {
        SetBackgroundStyle(wxBG_STYLE_PAINT);
        SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW));
        Bind(wxEVT_PAINT, &CViewWnd::OnPaint, this);
    }
    void Detach() { m_pView = nullptr; }

private:
    void OnPaint(wxPaintEvent &) {
        wxPaintDC dc(this);
        dc.SetBackground(wxBrush(GetBackgroundColour()));
        dc.Clear();
        if (m_pView) m_pView->OnDraw(static_cast<wxDC *>(&dc));
    }
    CView *m_pView;
};

} // namespace

CView::CView() : m_pWnd(nullptr) {}

CView::~CView() {
    if (m_pWnd) {
        static_cast<CViewWnd *>(m_pWnd)->Detach();
        m_pWnd->Destroy();
        m_pWnd = nullptr;
    }
}

bool CView::OnCreate(wxDocument *doc, long flags) {
    if (!wxView::OnCreate(doc, flags)) return false;
    CFrameWnd *frame = AfxGetMainWnd();
    if (!frame) return false;
    SetFrame(frame);
    m_pWnd = new CViewWnd(frame, this);
    // Files dropped on the view go to the frame around it.
    m_pWnd->DragAcceptFiles(true);
    m_pWnd->Bind(wxEVT_DROP_FILES, [frame](wxDropFilesEvent &event) { frame->GetEventHandler()->ProcessEvent(event); });
    frame->Layout();
    Activate(true);
    return true;
}

bool CView::OnClose(bool deleteWindow) {
    if (!wxView::OnClose(deleteWindow)) return false;
    Activate(false);
    return true;
}

void CView::OnDraw(wxDC *dc) {
    CDC cdc(dc);
    OnDraw(&cdc);
}

void CView::OnChangeFilename() {
    if (CFrameWnd *frame = GetParentFrame()) frame->OnUpdateFrameTitle(GetDocument());
}

void CView::GetClientRect(CRect *rect) const {
    const wxSize size = m_pWnd ? m_pWnd->GetClientSize() : wxSize(0, 0);
    *rect = CRect(0, 0, size.x, size.y);
}

void CView::InvalidateRect(const CRect *rect, BOOL /*erase*/) {
    // The window always erases its background before drawing.
    if (!m_pWnd) return;
    if (rect) m_pWnd->RefreshRect(wxRect(rect->left, rect->top, rect->Width(), rect->Height()), true);
    else m_pWnd->Refresh(true);
}

void CView::UpdateWindow() {
    if (m_pWnd) m_pWnd->Update();
}

CFrameWnd *CView::GetParentFrame() const {
    return dynamic_cast<CFrameWnd *>(GetFrame());
}

// ---------------------------------------------------------------- frames

CFrameWnd::~CFrameWnd() {
    if (CWinApp *app = AfxGetApp()) {
        if (app->m_pMainWnd == this) app->m_pMainWnd = nullptr;
        if (app->m_pDocTemplate) app->m_pDocTemplate->ForgetFrame(this);
    }
}

BOOL CFrameWnd::PreCreateWindow(CREATESTRUCT &) {
    return TRUE;
}

BOOL CFrameWnd::LoadFrame(UINT resourceId, wxDocManager *manager) {
    CREATESTRUCT cs;
    if (!PreCreateWindow(cs)) return FALSE;
    long style = wxDEFAULT_FRAME_STYLE;
    if (!(cs.style & WS_MAXIMIZEBOX)) style &= ~wxMAXIMIZE_BOX;
    if (!(cs.style & WS_MINIMIZEBOX)) style &= ~wxMINIMIZE_BOX;
    if (!(cs.style & WS_THICKFRAME)) style &= ~wxRESIZE_BORDER;
    if (!(cs.style & WS_SYSMENU)) style &= ~(wxSYSTEM_MENU | wxCLOSE_BOX);
    const wxPoint pos(cs.x == CW_USEDEFAULT ? wxDefaultCoord : cs.x, cs.y == CW_USEDEFAULT ? wxDefaultCoord : cs.y);
    const wxSize size(cs.cx == CW_USEDEFAULT ? wxDefaultCoord : cs.cx, cs.cy == CW_USEDEFAULT ? wxDefaultCoord : cs.cy);
    if (!Create(manager, nullptr, wxID_ANY, wxTheApp->GetAppDisplayName(), pos, size, style)) return FALSE;
    SetMenuBar(AfxLoadMenu(resourceId));
    const wxAcceleratorTable accelerators = AfxLoadAccelerators(resourceId);
    SetAcceleratorTable(accelerators);
    SetIcons(AfxLoadIcons(resourceId));
    if (cs.dwExStyle & WS_EX_ACCEPTFILES) {
        DragAcceptFiles(true);
        Bind(wxEVT_DROP_FILES, &CFrameWnd::OnDropFiles, this);
    }
    return TRUE;
}

void CFrameWnd::OnDropFiles(wxDropFilesEvent &event) {
    // One after another: the last file dropped is the one that stays.
    const wxString *files = event.GetFiles();
    for (int i = 0; i < event.GetNumberOfFiles(); ++i)
        AfxGetApp()->OpenDocumentFile(std::string(files[i].fn_str()).c_str());
}

void CFrameWnd::GetWindowRect(CRect *rect) const {
    const wxRect r = GetRect();
    *rect = CRect(r.x, r.y, r.x + r.width, r.y + r.height);
}

BOOL CFrameWnd::SetWindowPos(int x, int y, int cx, int cy, UINT flags) {
    if (!(flags & SWP_NOMOVE)) Move(x, y);
    if (!(flags & SWP_NOSIZE)) {
        SetSize(wxSize(cx < 0 ? 0 : cx, cy < 0 ? 0 : cy));
        // The view follows the new client area at once, so that its size can
        // be asked for before the window system answers.
        Layout();
    }
    if (flags & SWP_SHOWWINDOW) Show(true);
    return TRUE;
}

BOOL CFrameWnd::ShowWindow(int cmdShow) {
    const bool was = IsShown();
    Show(cmdShow != SW_HIDE);
    return was;
}

void CFrameWnd::UpdateWindow() {
    Update();
}

void CFrameWnd::OnUpdateFrameTitle(CDocument *doc) {
    const wxString app = wxTheApp->GetAppDisplayName();
    SetTitle(doc ? wxString::FromUTF8(doc->GetTitle()) + " - " + app : app);
}

// ---------------------------------------------------------------- templates

CSingleDocTemplate::CSingleDocTemplate(UINT resourceId, wxClassInfo *docClass, wxClassInfo *frameClass,
                                       wxClassInfo *viewClass)
    : wxDocTemplate(AfxGetApp()->m_pDocManager, "Picture", "*.bmp;*.vek", "", "bmp", "Picture", "Picture View",
                    docClass, viewClass),
      m_nIDResource(resourceId), m_pFrameClass(frameClass) {}

CSingleDocTemplate::~CSingleDocTemplate() {
    CWinApp *app = AfxGetApp();
    if (app && app->m_pDocTemplate == this) app->m_pDocTemplate = nullptr;
}

void CSingleDocTemplate::ForgetDocument(CDocument *doc) {
    if (m_pOnlyDoc == doc) m_pOnlyDoc = nullptr;
}

void CSingleDocTemplate::ForgetFrame(CFrameWnd *frame) {
    if (m_pFrame == frame) m_pFrame = nullptr;
}

CDocument *CSingleDocTemplate::OpenDocumentFile(const char *pathName) {
    if (!m_pFrame) {
        m_pFrame = wxDynamicCast(m_pFrameClass->CreateObject(), CFrameWnd);
        if (!m_pFrame) return nullptr;
        if (!m_pFrame->LoadFrame(m_nIDResource, GetDocumentManager())) {
            delete m_pFrame;
            m_pFrame = nullptr;
            return nullptr;
        }
        if (!AfxGetApp()->m_pMainWnd) {
            AfxGetApp()->m_pMainWnd = m_pFrame;
            AfxGetApp()->SetTopWindow(m_pFrame);
        }
    }
    if (!m_pOnlyDoc) {
        wxDocument *doc = DoCreateDocument();
        CDocument *cdoc = wxDynamicCast(doc, CDocument);
        if (!cdoc) {
            delete doc;
            return nullptr;
        }
        m_pOnlyDoc = cdoc;
        if (!InitDocument(doc, wxEmptyString, 0)) {
            m_pOnlyDoc = nullptr;
            return nullptr;
        }
    }
    CDocument *doc = m_pOnlyDoc;
    return AfxFillDocument(doc, pathName);
}

// ---------------------------------------------------------------- application

bool CWinApp::OnInit() {
    wxInitAllImageHandlers();
    m_pDocManager = new wxDocManager;
    if (!wxApp::OnInit()) return false;
    if (!InitInstance()) {
        if (m_pMainWnd) {
            m_pMainWnd->Destroy();
            m_pMainWnd = nullptr;
        }
        return false;
    }
    return true;
}

int CWinApp::OnExit() {
    delete m_pDocManager;
    m_pDocManager = nullptr;
    m_pDocTemplate = nullptr;
    return wxApp::OnExit();
}

void CWinApp::OnInitCmdLine(wxCmdLineParser &parser) {
    wxApp::OnInitCmdLine(parser);
    // Further names are accepted and left alone: the first one is opened.
    parser.AddParam("file", wxCMD_LINE_VAL_STRING, wxCMD_LINE_PARAM_OPTIONAL | wxCMD_LINE_PARAM_MULTIPLE);
}

bool CWinApp::OnCmdLineParsed(wxCmdLineParser &parser) {
    if (!wxApp::OnCmdLineParsed(parser)) return false;
    if (parser.GetParamCount() > 0) m_strCommandLineFile = std::string(parser.GetParam(0).fn_str());
    return true;
}

void CWinApp::AddDocTemplate(CSingleDocTemplate *docTemplate) {
    m_pDocTemplate = docTemplate;
}

void CWinApp::ParseCommandLine(CCommandLineInfo &info) {
    if (m_strCommandLineFile.empty()) {
        info.m_nShellCommand = CCommandLineInfo::FileNew;
    } else {
        info.m_nShellCommand = CCommandLineInfo::FileOpen;
        info.m_strFileName = m_strCommandLineFile;
    }
}

void CWinApp::OnAppExit() {
    if (m_pMainWnd) m_pMainWnd->Close();
}
