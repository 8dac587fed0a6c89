// The window, document and application classes of the framework over plain
// Win32 (included by afxwin.h, which declares what every platform shares).
//
// Windows are system windows made from resources: the frame's menu,
// accelerator table and icon under the template's resource id, dialogs from
// their dialog templates. Commands (WM_COMMAND from the menu and the
// accelerators) go to the active view, its document, the frame and the
// application, in that order; when a popup menu opens, each of its items
// asks the same targets for its state. An item whose command nobody handles
// is greyed out.
#ifndef SORVU_FRAMEWORK_WIN32_AFXWND_H
#define SORVU_FRAMEWORK_WIN32_AFXWND_H

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

// System handles, declared as the system's headers declare them.
struct HWND__;
typedef HWND__ *HWND;
struct HACCEL__;
typedef HACCEL__ *HACCEL;

class CDocument;
class CFrameWnd;
class CSingleDocTemplate;
class CView;
class CWinApp;

// ---------------------------------------------------------------- run-time classes

// What the template needs to make a document, frame or view by class.
struct CRuntimeClass {
    const char *m_lpszClassName;
    CObject *(*m_pfnCreateObject)();
    CObject *CreateObject() const { return m_pfnCreateObject ? m_pfnCreateObject() : nullptr; }
};

#define DECLARE_DYNCREATE(cls)                                                                                      \
public:                                                                                                            \
    static const CRuntimeClass class##cls;                                                                         \
    static CObject *CreateObject();

#define IMPLEMENT_DYNCREATE(cls, base)                                                                             \
    CObject *cls::CreateObject() { return new cls; }                                                              \
    const CRuntimeClass cls::class##cls = {#cls, &cls::CreateObject};

#define RUNTIME_CLASS(cls) (&cls::class##cls)

// The program's one application object, and the entry point that runs it.
#define AFX_DECLARE_APP(cls) class cls
#define AFX_IMPLEMENT_APP(cls)                                                                                     \
    static cls theApp;                                                                                             \
    int main(int argc, char **argv) { return AfxWinMain(argc, argv); }

// Runs the application object: InitInstance, then the message loop until the
// main window is gone. Returns the exit code.
int AfxWinMain(int argc, char **argv);

// ---------------------------------------------------------------- commands

// Command state of one menu item, passed to OnUpdate handlers.
class CCmdUI {
public:
    explicit CCmdUI(UINT id) : m_nID(id) {}
    void Enable(BOOL on = TRUE) {
        m_bEnabled = on != FALSE;
        m_bEnableChanged = true;
    }
    void SetCheck(int check = 1) { m_nCheck = check; }

    UINT m_nID;
    bool m_bEnabled = true;
    bool m_bEnableChanged = false;
    int m_nCheck = -1; // -1: not set by any handler
};

// Anything that takes commands: a table of command and command-state
// handlers by id.
class CCmdTarget : public CObject {
public:
    void AddCommandHandler(UINT id, std::function<void()> handler) { m_commands[id] = std::move(handler); }
    void AddUpdateHandler(UINT id, std::function<void(CCmdUI *)> handler) { m_updates[id] = std::move(handler); }
    // Runs this target's handler of command `id` (ui null) or of its state
    // (ui given; a command with a handler but no state handler is enabled).
    // FALSE when this target has neither.
    virtual BOOL OnCmdMsg(UINT id, CCmdUI *ui);

private:
    std::map<UINT, std::function<void()>> m_commands;
    std::map<UINT, std::function<void(CCmdUI *)>> m_updates;
};

// Message-map entries: route command `id` to a member function of `target`.
template <class T>
void AfxOnCommand(CCmdTarget *handler, int id, T *target, void (T::*fn)()) {
    handler->AddCommandHandler(UINT(id), [target, fn]() { (target->*fn)(); });
}
template <class T>
void AfxOnUpdateCommandUI(CCmdTarget *handler, int id, T *target, void (T::*fn)(CCmdUI *)) {
    handler->AddUpdateHandler(UINT(id), [target, fn](CCmdUI *ui) { (target->*fn)(ui); });
}

// ---------------------------------------------------------------- windows

class CWnd : public CCmdTarget {
public:
    CWnd() = default;
    CWnd(const CWnd &) = delete;
    CWnd &operator=(const CWnd &) = delete;
    ~CWnd() override;

    HWND GetSafeHwnd() const { return m_hWnd; }
    void GetClientRect(CRect *rect) const;
    void GetWindowRect(CRect *rect) const;
    // Position and size in screen coordinates (top of the stacking order
    // unless SWP_NOZORDER is given).
    BOOL SetWindowPos(int x, int y, int cx, int cy, UINT flags);
    BOOL ShowWindow(int cmdShow);
    void UpdateWindow();
    void InvalidateRect(const CRect *rect = nullptr, BOOL erase = TRUE);
    void SetWindowText(const std::string &text);
    BOOL DestroyWindow();

    // The object of a window made by this framework, null for others.
    static CWnd *FromHandlePermanent(HWND hWnd);

    // Messages of the window. Returns TRUE and sets *result when handled.
    virtual BOOL OnWndMsg(UINT message, uintptr_t wParam, intptr_t lParam, intptr_t *result);
    // After the window is gone (the object may delete itself).
    virtual void PostNcDestroy() {}

    HWND m_hWnd = nullptr;

protected:
    // Makes the system window of the framework's window class `className`.
    BOOL CreateEx(DWORD exStyle, const char *className, const std::string &title, DWORD style, int x, int y,
                  int cx, int cy, HWND parent, void *menu);
    friend struct AfxWindowProcedure;
};

// A modal dialog made from its dialog template.
class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd *parent = nullptr) : m_nIDTemplate(templateId), m_pParentWnd(parent) {}
    // Runs the dialog; IDOK or IDCANCEL as its buttons end it, -1 when it
    // could not be made.
    int DoModal();
    virtual BOOL OnInitDialog() { return TRUE; }

    UINT m_nIDTemplate;
    CWnd *m_pParentWnd;
};

// ---------------------------------------------------------------- documents

class CDocument : public CCmdTarget {
public:
    CDocument();
    ~CDocument() override;
    // Opens the file for reading, runs Serialize on a loading archive and
    // reports any exception from it in a message box (returning FALSE). Does
    // not change the path name or the title: the template does that.
    virtual BOOL OnOpenDocument(const char *pathName);
    virtual void Serialize(CArchive &ar);
    // A new, empty document named "Untitled".
    virtual bool OnNewDocument();

    // The path name and title shown in the frame's caption.
    void SetPathName(const std::string &path);
    std::string GetPathName() const { return m_strPathName; }
    std::string GetTitle() const { return m_strTitle; }
    void SetTitle(const std::string &title);

    // Views, first to last.
    CView *GetFirstView() const { return m_viewList.empty() ? nullptr : m_viewList.front(); }
    std::vector<CView *> GetViews() const { return m_viewList; }
    void AddView(CView *view);
    void RemoveView(CView *view);

private:
    std::string m_strPathName;
    std::string m_strTitle;
    std::vector<CView *> m_viewList;
};

// ---------------------------------------------------------------- views

// A view: a child window filling the main frame's client area. The
// background is erased before OnDraw.
class CView : public CWnd {
public:
    ~CView() override;
    CDocument *GetDocument() const { return m_pDocument; }
    virtual void OnDraw(CDC *dc) = 0;
    CFrameWnd *GetParentFrame() const { return m_pFrame; }
    HWND GetSafeWnd() const { return m_hWnd; }

    // Makes the view's window in the frame and joins the document.
    BOOL Create(CFrameWnd *frame, CDocument *doc);
    BOOL OnWndMsg(UINT message, uintptr_t wParam, intptr_t lParam, intptr_t *result) override;
    void PostNcDestroy() override { delete this; }

private:
    friend class CDocument;
    CDocument *m_pDocument = nullptr;
    CFrameWnd *m_pFrame = nullptr;
};

// ---------------------------------------------------------------- frames

// The single-document main frame. Files dropped on it (when it accepts
// them) are opened one after another through the application's open
// routine.
class CFrameWnd : public CWnd {
public:
    virtual BOOL PreCreateWindow(CREATESTRUCT &cs);
    // Creates the window with its menu, accelerators and icon resource.
    BOOL LoadFrame(UINT resourceId);
    // Caption for the document: "title - application".
    void OnUpdateFrameTitle(CDocument *doc);
    CView *GetActiveView() const { return m_pViewActive; }
    void SetActiveView(CView *view) { m_pViewActive = view; }

    BOOL OnWndMsg(UINT message, uintptr_t wParam, intptr_t lParam, intptr_t *result) override;
    void PostNcDestroy() override;

    HACCEL m_hAccelTable = nullptr;

private:
    // Routes a command, or the state of one (ui given), along view,
    // document, frame, application. FALSE when nobody takes it.
    BOOL RouteCommand(UINT id, CCmdUI *ui);
    CView *m_pViewActive = nullptr;
};

// ---------------------------------------------------------------- templates

// Makes the document, frame and view from their run-time classes and keeps
// the one document for every file opened.
class CSingleDocTemplate {
public:
    CSingleDocTemplate(UINT resourceId, const CRuntimeClass *docClass, const CRuntimeClass *frameClass,
                       const CRuntimeClass *viewClass);
    ~CSingleDocTemplate();
    // pathName null: the new, empty document. Otherwise open the file into
    // the document; on success set its path name (caption) and repaint.
    // Null when the document could not be made or the open failed.
    CDocument *OpenDocumentFile(const char *pathName);
    CFrameWnd *GetFrame() const { return m_pFrame; }
    CDocument *GetDocument() const { return m_pOnlyDoc; }
    void ForgetFrame(CFrameWnd *frame);

private:
    UINT m_nIDResource;
    const CRuntimeClass *m_pDocClass;
    const CRuntimeClass *m_pFrameClass;
    const CRuntimeClass *m_pViewClass;
    CFrameWnd *m_pFrame = nullptr;
    CDocument *m_pOnlyDoc = nullptr;
};

// ---------------------------------------------------------------- application

class CWinApp : public CCmdTarget {
public:
    CWinApp();
    ~CWinApp() override;
    // Start-up of the program; FALSE ends it.
    virtual BOOL InitInstance() = 0;
    // After the message loop: releases the template, its document and frame.
    virtual int ExitInstance();

    void AddDocTemplate(CSingleDocTemplate *docTemplate);
    // The command line: one optional file name (further ones are left alone).
    void ParseCommandLine(CCommandLineInfo &info);
    // Creates the empty document or opens the named file; FALSE on failure.
    BOOL ProcessShellCommand(CCommandLineInfo &info);
    // The framework's open routine (also used for dropped files).
    virtual CDocument *OpenDocumentFile(const char *pathName);
    void OnFileNew();
    void OnFileOpen();
    void OnAppExit();

    // Names of the program: the display name is the frame's caption and
    // the message boxes' title.
    void SetAppName(const std::string &name) { m_strAppName = name; }
    void SetAppDisplayName(const std::string &name) { m_strDisplayName = name; }
    std::string GetAppDisplayName() const { return m_strDisplayName.empty() ? m_strAppName : m_strDisplayName; }

    CFrameWnd *m_pMainWnd = nullptr;
    CSingleDocTemplate *m_pDocTemplate = nullptr;
    std::vector<std::string> m_arguments; // the command line, program name first

    // The message loop; returns the exit code given to PostQuitMessage.
    int Run();

private:
    std::string m_strAppName;
    std::string m_strDisplayName;
};

CWinApp *AfxGetApp();
CFrameWnd *AfxGetMainWnd();

#endif
