// The window, document and application classes of the framework over
// wxWidgets' doc/view classes (included by afxwin.h, which declares what
// every platform shares).
#ifndef SORVU_FRAMEWORK_WX_AFXWND_H
#define SORVU_FRAMEWORK_WX_AFXWND_H

#include <wx/accel.h>
#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/docview.h>
#include <wx/event.h>
#include <wx/iconbndl.h>

#include <functional>
#include <string>

class CDialog;
class CDocument;
class CFrameWnd;
class wxMenuBar;
class CSingleDocTemplate;
class CView;

// Any window: owners of dialogs and message boxes.
typedef wxWindow CWnd;

// Run-time classes: the document, frame and view are made from them.
#define DECLARE_DYNCREATE(cls) wxDECLARE_DYNAMIC_CLASS(cls)
#define IMPLEMENT_DYNCREATE(cls, base) wxIMPLEMENT_DYNAMIC_CLASS(cls, base)
#define RUNTIME_CLASS(cls) CLASSINFO(cls)

// The program's one application object and its entry point.
#define AFX_DECLARE_APP(cls) wxDECLARE_APP(cls)
#define AFX_IMPLEMENT_APP(cls) wxIMPLEMENT_APP(cls)

// wxWidgets takes window and menu ids below 0x7FFF only; command ids from
// 0x8000 up are moved down by 0x8000 wherever they meet wxWidgets (menus,
// accelerators, events). 0xE101 becomes 0x6101, 32771 becomes 3.
inline int AfxCommandId(UINT id) {
    return id >= 0x8000 ? int(id - 0x8000) : int(id);
}

// Resources, supplied by the program: the menu bar, accelerator table and
// icons stored under a resource id, and the dialog templates (which create
// a dialog's window and controls).
wxMenuBar *AfxLoadMenu(UINT resourceId);
wxAcceleratorTable AfxLoadAccelerators(UINT resourceId);
wxIconBundle AfxLoadIcons(UINT resourceId);
bool AfxLoadDialog(CDialog *dialog, UINT templateId, wxWindow *parent);

// ---------------------------------------------------------------- commands

// Command state of one menu item, passed to OnUpdate handlers.
class CCmdUI {
public:
    explicit CCmdUI(wxUpdateUIEvent &event) : m_event(event) {}
    void Enable(BOOL on = TRUE) { m_event.Enable(on != FALSE); }
    void SetCheck(int check = 1) { m_event.Check(check != 0); }

private:
    wxUpdateUIEvent &m_event;
};

// Message-map entries: route command `id` to a member function of `target`,
// which must be (or own) the event handler.
template <class T>
void AfxOnCommand(wxEvtHandler *handler, int id, T *target, void (T::*fn)()) {
    handler->Bind(wxEVT_MENU, [target, fn](wxCommandEvent &) { (target->*fn)(); }, AfxCommandId(UINT(id)));
}
template <class T>
void AfxOnUpdateCommandUI(wxEvtHandler *handler, int id, T *target, void (T::*fn)(CCmdUI *)) {
    handler->Bind(wxEVT_UPDATE_UI, [target, fn](wxUpdateUIEvent &event) {
        CCmdUI ui(event);
        (target->*fn)(&ui);
    }, AfxCommandId(UINT(id)));
}

// ---------------------------------------------------------------- dialogs

// A modal dialog made from its template.
class CDialog : public wxDialog {
public:
    explicit CDialog(UINT templateId, CWnd *parent = nullptr) { AfxLoadDialog(this, templateId, parent); }
    int DoModal() { return ShowModal() == wxID_OK ? IDOK : IDCANCEL; }
};

// ---------------------------------------------------------------- documents

class CDocument : public wxDocument {
public:
    CDocument();
    // Opens the file for reading, runs Serialize on a loading archive and
    // reports any exception from it in a message box (returning FALSE). Does
    // not change the path name or the title: the template does that.
    ~CDocument() override;
    virtual BOOL OnOpenDocument(const char *pathName);
    virtual void Serialize(CArchive &ar);

    // The path name and title shown in the frame's caption.
    void SetPathName(const std::string &path);
    std::string GetPathName() const { return m_strPathName; }
    std::string GetTitle() const { return m_strTitle; }
    void SetTitle(const std::string &title);

    // Views, first to last.
    CView *GetFirstView() const;
    std::vector<CView *> GetViews() const;

    // A new, empty document named "Untitled".
    bool OnNewDocument() override;
    // wxDocument's own entry point, routed to the one above.
    bool OnOpenDocument(const wxString &file) override;
    // Documents here are never changed in memory, so nothing asks to save.
    bool IsModified() const override { return false; }

private:
    std::string m_strPathName;
    std::string m_strTitle;
};

// ---------------------------------------------------------------- views

// A view: a child window filling the main frame's client area. The
// background is erased before OnDraw.
class CView : public wxView {
public:
    CView();
    ~CView() override;
    CDocument *GetDocument() const { return static_cast<CDocument *>(wxView::GetDocument()); }
    virtual void OnDraw(CDC *dc) = 0;

    // Window services of the view.
    void GetClientRect(CRect *rect) const;
    void InvalidateRect(const CRect *rect = nullptr, BOOL erase = TRUE);
    void UpdateWindow();
    CFrameWnd *GetParentFrame() const;
    wxWindow *GetSafeWnd() const { return m_pWnd; }

    bool OnCreate(wxDocument *doc, long flags) override;
    bool OnClose(bool deleteWindow) override;
    void OnDraw(wxDC *dc) override;
    void OnChangeFilename() override;

private:
    wxWindow *m_pWnd;
};

// ---------------------------------------------------------------- frames

// The single-document main frame. Files dropped on it (when it accepts
// them) are opened one after another through the application's open
// routine.
class CFrameWnd : public wxDocParentFrame {
public:
    CFrameWnd() = default;
    ~CFrameWnd() override;
    virtual BOOL PreCreateWindow(CREATESTRUCT &cs);
    // Creates the window with its menu, accelerators and icon resource.
    BOOL LoadFrame(UINT resourceId, wxDocManager *manager);

    void GetWindowRect(CRect *rect) const;
    BOOL SetWindowPos(int x, int y, int cx, int cy, UINT flags);
    BOOL ShowWindow(int cmdShow);
    void UpdateWindow();
    // Caption for the document: "title - application".
    void OnUpdateFrameTitle(CDocument *doc);

private:
    void OnDropFiles(wxDropFilesEvent &event);
};

// ---------------------------------------------------------------- templates

// Makes the document, frame and view from their run-time classes and keeps
// the one document for every file opened.
class CSingleDocTemplate : public wxDocTemplate {
public:
    CSingleDocTemplate(UINT resourceId, wxClassInfo *docClass, wxClassInfo *frameClass, wxClassInfo *viewClass);
    // The doc manager deletes its templates when the main frame closes.
    ~CSingleDocTemplate() override;
    // pathName null: the new, empty document. Otherwise open the file into
    // the document; on success set its path name (caption) and repaint.
    // Null when the document could not be made or the open failed.
    CDocument *OpenDocumentFile(const char *pathName);
    CFrameWnd *GetFrame() const { return m_pFrame; }
    CDocument *GetDocument() const { return m_pOnlyDoc; }
    // wxWidgets calls this when the document is deleted.
    void ForgetDocument(CDocument *doc);
    void ForgetFrame(CFrameWnd *frame);

private:
    friend class CWinApp;
    UINT m_nIDResource;
    wxClassInfo *m_pFrameClass;
    CFrameWnd *m_pFrame = nullptr;
    CDocument *m_pOnlyDoc = nullptr;
};

// ---------------------------------------------------------------- application

class CWinApp : public wxApp {
public:
    CWinApp();
    // Start-up of the program; FALSE ends it.
    virtual BOOL InitInstance() = 0;

    void AddDocTemplate(CSingleDocTemplate *docTemplate);
    // The command line: one optional file name.
    void ParseCommandLine(CCommandLineInfo &info);
    // Creates the empty document or opens the named file; FALSE on failure.
    BOOL ProcessShellCommand(CCommandLineInfo &info);
    // The framework's open routine (also used for dropped files).
    virtual CDocument *OpenDocumentFile(const char *pathName);
    void OnFileNew();
    void OnFileOpen();
    void OnAppExit();

    CFrameWnd *m_pMainWnd = nullptr;
    wxDocManager *m_pDocManager = nullptr;
    CSingleDocTemplate *m_pDocTemplate = nullptr;

    bool OnInit() override;
    int OnExit() override;
    void OnInitCmdLine(wxCmdLineParser &parser) override;
    bool OnCmdLineParsed(wxCmdLineParser &parser) override;

private:
    std::string m_strCommandLineFile;
};

CWinApp *AfxGetApp();
CFrameWnd *AfxGetMainWnd();

#endif
