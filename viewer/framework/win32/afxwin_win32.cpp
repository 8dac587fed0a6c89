// Application, document, view and frame services over plain Win32.
#include "afxwin.h"
#include "afxwin_platform.h"

#include <algorithm>
#include <vector>

#include "afxsys.h"

namespace {

const char kFrameClass[] = "AfxFrameWnd";
const char kViewClass[] = "AfxView";
// The child-window id of the view in its frame.
const UINT kPaneId = 0xE900;

HINSTANCE instance() {
    return GetModuleHandleA(nullptr);
}

CRect rectOf(const RECT &r) {
    return CRect(r.left, r.top, r.right, r.bottom);
}

} // namespace

// ---------------------------------------------------------------- window procedure

// The one window procedure of the framework's windows. The object of a
// window comes with WM_NCCREATE (the creation parameter) and is kept in the
// window's user data until WM_NCDESTROY.
struct AfxWindowProcedure {
    static LRESULT CALLBACK Proc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
        CWnd *wnd = CWnd::FromHandlePermanent(hWnd);
        if (wnd == nullptr && message == WM_NCCREATE) {
            const CREATESTRUCTA *cs = reinterpret_cast<const CREATESTRUCTA *>(lParam);
            wnd = static_cast<CWnd *>(cs->lpCreateParams);
            if (wnd) {
                wnd->m_hWnd = hWnd;
                SetWindowLongPtrA(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(wnd));
            }
        }
        if (wnd) {
            intptr_t result = 0;
            if (wnd->OnWndMsg(message, wParam, lParam, &result)) return LRESULT(result);
        }
        const LRESULT result = DefWindowProcA(hWnd, message, wParam, lParam);
        if (message == WM_NCDESTROY && wnd) {
            SetWindowLongPtrA(hWnd, GWLP_USERDATA, 0);
            wnd->m_hWnd = nullptr;
            wnd->PostNcDestroy();
        }
        return result;
    }

    // Registers a window class of the framework once; the frame's class
    // carries the icons of the resource id it is registered for.
    static bool Register(const char *className, UINT iconId, UINT style, int background) {
        WNDCLASSEXA existing;
        existing.cbSize = sizeof existing;
        if (GetClassInfoExA(instance(), className, &existing)) return true;
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof wc;
        wc.style = style;
        wc.lpfnWndProc = &Proc;
        wc.hInstance = instance();
        wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
        wc.hbrBackground = reinterpret_cast<HBRUSH>(INT_PTR(background + 1));
        wc.lpszClassName = className;
        if (iconId != 0) {
            wc.hIcon = static_cast<HICON>(LoadImageA(instance(), MAKEINTRESOURCEA(iconId), IMAGE_ICON,
                                                     GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
            wc.hIconSm = static_cast<HICON>(LoadImageA(instance(), MAKEINTRESOURCEA(iconId), IMAGE_ICON,
                                                       GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                                       0));
        }
        return RegisterClassExA(&wc) != 0;
    }
};

// ---------------------------------------------------------------- commands

BOOL CCmdTarget::OnCmdMsg(UINT id, CCmdUI *ui) {
    if (ui == nullptr) {
        auto command = m_commands.find(id);
        if (command == m_commands.end()) return FALSE;
        // A copy: the handler may change this table's owner.
        std::function<void()> handler = command->second;
        handler();
        return TRUE;
    }
    auto update = m_updates.find(id);
    if (update != m_updates.end()) {
        update->second(ui);
        return TRUE;
    }
    if (m_commands.count(id)) {
        ui->Enable(TRUE);
        return TRUE;
    }
    return FALSE;
}

// ---------------------------------------------------------------- messages

int AfxShowMessageBox(const std::string &text, UINT type) {
    CWinApp *app = AfxGetApp();
    const std::string caption = app ? app->GetAppDisplayName() : std::string();
    CFrameWnd *frame = AfxGetMainWnd();
    HWND owner = frame && frame->m_hWnd && IsWindowVisible(frame->m_hWnd) ? frame->m_hWnd : nullptr;
    MessageBoxA(owner, text.c_str(), caption.c_str(), MB_OK | (type & MB_ICONMASK));
    return IDOK;
}

// ---------------------------------------------------------------- dialogs

int CFileDialog::ShowDialog() {
    // "Text|*.txt|" becomes "Text\0*.txt\0\0".
    std::string filter = m_strFilter;
    std::replace(filter.begin(), filter.end(), '|', '\0');
    if (filter.empty() || filter.back() != '\0') filter.push_back('\0');
    std::vector<char> file(32768, '\0');
    m_strFileName.copy(file.data(), file.size() - 1);

    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    CWnd *owner = m_pParentWnd ? m_pParentWnd : AfxGetMainWnd();
    ofn.hwndOwner = owner ? owner->m_hWnd : nullptr;
    ofn.lpstrFilter = m_strFilter.empty() ? nullptr : filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = WIN_DWORD(file.size());
    ofn.lpstrDefExt = m_strDefExt.empty() ? nullptr : m_strDefExt.c_str();
    ofn.Flags = m_dwFlags | OFN_EXPLORER;
    const BOOL done = m_bOpenFileDialog ? GetOpenFileNameA(&ofn) : GetSaveFileNameA(&ofn);
    if (!done) return IDCANCEL;
    m_strPathName = file.data();
    return IDOK;
}

namespace {

INT_PTR CALLBACK dialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        CDialog *dialog = reinterpret_cast<CDialog *>(lParam);
        SetWindowLongPtrA(hDlg, DWLP_USER, lParam);
        dialog->m_hWnd = hDlg;
        return dialog->OnInitDialog();
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(hDlg, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

int CDialog::DoModal() {
    CWnd *owner = m_pParentWnd ? m_pParentWnd : AfxGetMainWnd();
    const INT_PTR result = DialogBoxParamA(instance(), MAKEINTRESOURCEA(m_nIDTemplate), owner ? owner->m_hWnd : nullptr,
                                           &dialogProc, reinterpret_cast<LPARAM>(this));
    m_hWnd = nullptr;
    return int(result);
}

// ---------------------------------------------------------------- windows

CWnd::~CWnd() {
    if (m_hWnd) {
        // The window outlives its object no longer: no message reaches the
        // object from here on.
        SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, 0);
        HWND hWnd = m_hWnd;
        m_hWnd = nullptr;
        ::DestroyWindow(hWnd);
    }
}

CWnd *CWnd::FromHandlePermanent(HWND hWnd) {
    if (hWnd == nullptr) return nullptr;
    if (GetWindowLongPtrA(hWnd, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(&AfxWindowProcedure::Proc))
        return nullptr;
    return reinterpret_cast<CWnd *>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
}

BOOL CWnd::CreateEx(DWORD exStyle, const char *className, const std::string &title, DWORD style, int x, int y,
                    int cx, int cy, HWND parent, void *menu) {
    HWND hWnd = CreateWindowExA(exStyle, className, title.c_str(), style, x, y, cx, cy, parent,
                                static_cast<HMENU>(menu), instance(), this);
    return hWnd != nullptr;
}

BOOL CWnd::OnWndMsg(UINT, uintptr_t, intptr_t, intptr_t *) {
    return FALSE;
}

void CWnd::GetClientRect(CRect *rect) const {
    RECT r = {};
    if (m_hWnd) ::GetClientRect(m_hWnd, &r);
    *rect = rectOf(r);
}

void CWnd::GetWindowRect(CRect *rect) const {
    RECT r = {};
    if (m_hWnd) ::GetWindowRect(m_hWnd, &r);
    *rect = rectOf(r);
}

BOOL CWnd::SetWindowPos(int x, int y, int cx, int cy, UINT flags) {
    return m_hWnd && ::SetWindowPos(m_hWnd, nullptr, x, y, cx, cy, flags);
}

BOOL CWnd::ShowWindow(int cmdShow) {
    return m_hWnd && ::ShowWindow(m_hWnd, cmdShow);
}

void CWnd::UpdateWindow() {
    if (m_hWnd) ::UpdateWindow(m_hWnd);
}

void CWnd::InvalidateRect(const CRect *rect, BOOL erase) {
    if (!m_hWnd) return;
    if (rect) {
        const RECT r = {rect->left, rect->top, rect->right, rect->bottom};
        ::InvalidateRect(m_hWnd, &r, erase);
    } else {
        ::InvalidateRect(m_hWnd, nullptr, erase);
    }
}

void CWnd::SetWindowText(const std::string &text) {
    if (m_hWnd) SetWindowTextA(m_hWnd, text.c_str());
}

BOOL CWnd::DestroyWindow() {
    return m_hWnd && ::DestroyWindow(m_hWnd);
}

// ---------------------------------------------------------------- documents

CDocument::CDocument() = default;

CDocument::~CDocument() {
    for (CView *view : m_viewList) view->m_pDocument = nullptr;
}

void CDocument::SetPathName(const std::string &path) {
    m_strPathName = path;
    const size_t slash = path.find_last_of("\\/:");
    SetTitle(slash == std::string::npos ? path : path.substr(slash + 1));
}

void CDocument::SetTitle(const std::string &title) {
    m_strTitle = title;
    for (CView *view : m_viewList)
        if (CFrameWnd *frame = view->GetParentFrame()) frame->OnUpdateFrameTitle(this);
}

void CDocument::AddView(CView *view) {
    m_viewList.push_back(view);
    view->m_pDocument = this;
}

void CDocument::RemoveView(CView *view) {
    m_viewList.erase(std::remove(m_viewList.begin(), m_viewList.end(), view), m_viewList.end());
    if (view->m_pDocument == this) view->m_pDocument = nullptr;
}

// ---------------------------------------------------------------- views

CView::~CView() {
    if (m_pDocument) m_pDocument->RemoveView(this);
    if (m_pFrame && m_pFrame->GetActiveView() == this) m_pFrame->SetActiveView(nullptr);
}

BOOL CView::Create(CFrameWnd *frame, CDocument *doc) {
    if (!AfxWindowProcedure::Register(kViewClass, 0, CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS, COLOR_WINDOW))
        return FALSE;
    CRect client;
    frame->GetClientRect(&client);
    m_pFrame = frame;
    if (!CreateEx(0, kViewClass, "", WS_CHILD | WS_VISIBLE, 0, 0, client.Width(), client.Height(), frame->m_hWnd,
                  reinterpret_cast<void *>(uintptr_t(kPaneId)))) {
        m_pFrame = nullptr;
        return FALSE;
    }
    doc->AddView(this);
    frame->SetActiveView(this);
    return TRUE;
}

BOOL CView::OnWndMsg(UINT message, uintptr_t wParam, intptr_t lParam, intptr_t *result) {
    if (message == WM_PAINT) {
        // BeginPaint erases the background with the class brush first.
        PAINTSTRUCT ps;
        WIN_HDC hdc = BeginPaint(m_hWnd, &ps);
        if (hdc) {
            CDC dc(hdc);
            OnDraw(&dc);
            EndPaint(m_hWnd, &ps);
        }
        *result = 0;
        return TRUE;
    }
    return CWnd::OnWndMsg(message, wParam, lParam, result);
}

// ---------------------------------------------------------------- frames

BOOL CFrameWnd::PreCreateWindow(CREATESTRUCT &) {
    return TRUE;
}

BOOL CFrameWnd::LoadFrame(UINT resourceId) {
    CREATESTRUCT cs;
    if (!PreCreateWindow(cs)) return FALSE;
    if (!AfxWindowProcedure::Register(kFrameClass, resourceId, CS_DBLCLKS, COLOR_WINDOW)) return FALSE;
    HMENU menu = LoadMenuA(instance(), MAKEINTRESOURCEA(resourceId));
    m_hAccelTable = LoadAcceleratorsA(instance(), MAKEINTRESOURCEA(resourceId));
    CWinApp *app = AfxGetApp();
    if (!CreateEx(cs.dwExStyle, kFrameClass, app ? app->GetAppDisplayName() : std::string(), cs.style, cs.x, cs.y,
                  cs.cx, cs.cy, nullptr, menu)) {
        if (menu) DestroyMenu(menu);
        return FALSE;
    }
    return TRUE;
}

void CFrameWnd::OnUpdateFrameTitle(CDocument *doc) {
    CWinApp *app = AfxGetApp();
    const std::string name = app ? app->GetAppDisplayName() : std::string();
    SetWindowText(doc ? doc->GetTitle() + " - " + name : name);
}

BOOL CFrameWnd::RouteCommand(UINT id, CCmdUI *ui) {
    CView *view = m_pViewActive;
    if (view && view->OnCmdMsg(id, ui)) return TRUE;
    CDocument *doc = view ? view->GetDocument() : nullptr;
    if (doc && doc->OnCmdMsg(id, ui)) return TRUE;
    if (CCmdTarget::OnCmdMsg(id, ui)) return TRUE;
    CWinApp *app = AfxGetApp();
    return app && app->OnCmdMsg(id, ui);
}

BOOL CFrameWnd::OnWndMsg(UINT message, uintptr_t wParam, intptr_t lParam, intptr_t *result) {
    switch (message) {
    case WM_SIZE:
        // The view fills the client area.
        if (m_pViewActive && m_pViewActive->m_hWnd)
            MoveWindow(m_pViewActive->m_hWnd, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        *result = 0;
        return TRUE;
    case WM_SETFOCUS:
        if (m_pViewActive && m_pViewActive->m_hWnd) SetFocus(m_pViewActive->m_hWnd);
        *result = 0;
        return TRUE;
    case WM_COMMAND:
        // Menu items (0) and accelerators (1); controls have no commands here.
        if (HIWORD(wParam) <= 1 && lParam == 0) {
            RouteCommand(LOWORD(wParam), nullptr);
            *result = 0;
            return TRUE;
        }
        return FALSE;
    case WM_INITMENUPOPUP: {
        // Each item of the opening popup takes the state its handlers give.
        HMENU menu = reinterpret_cast<HMENU>(wParam);
        const int count = GetMenuItemCount(menu);
        for (int i = 0; i < count; ++i) {
            const UINT id = GetMenuItemID(menu, i);
            if (id == 0 || id == UINT(-1)) continue; // separator or popup
            CCmdUI ui(id);
            const bool enabled = RouteCommand(id, &ui) && ui.m_bEnabled;
            EnableMenuItem(menu, UINT(i), MF_BYPOSITION | (enabled ? MF_ENABLED : MF_GRAYED));
            if (ui.m_nCheck >= 0)
                CheckMenuItem(menu, UINT(i), MF_BYPOSITION | (ui.m_nCheck ? MF_CHECKED : MF_UNCHECKED));
        }
        *result = 0;
        return TRUE;
    }
    case WM_DROPFILES: {
        // One after another: the last file dropped is the one that stays.
        HDROP drop = reinterpret_cast<HDROP>(wParam);
        const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
        std::vector<std::string> names;
        for (UINT i = 0; i < count; ++i) {
            std::vector<char> name(DragQueryFileA(drop, i, nullptr, 0) + 1, '\0');
            DragQueryFileA(drop, i, name.data(), UINT(name.size()));
            names.emplace_back(name.data());
        }
        DragFinish(drop);
        SetForegroundWindow(m_hWnd);
        for (const std::string &name : names)
            if (CWinApp *app = AfxGetApp()) app->OpenDocumentFile(name.c_str());
        *result = 0;
        return TRUE;
    }
    case WM_DESTROY:
        if (AfxGetMainWnd() == this) PostQuitMessage(0);
        return FALSE;
    default:
        return CWnd::OnWndMsg(message, wParam, lParam, result);
    }
}

void CFrameWnd::PostNcDestroy() {
    CWinApp *app = AfxGetApp();
    if (app) {
        if (app->m_pMainWnd == this) app->m_pMainWnd = nullptr;
        if (app->m_pDocTemplate) app->m_pDocTemplate->ForgetFrame(this);
    }
    if (m_hAccelTable) DestroyAcceleratorTable(m_hAccelTable);
    delete this;
}

// ---------------------------------------------------------------- templates

CSingleDocTemplate::CSingleDocTemplate(UINT resourceId, const CRuntimeClass *docClass,
                                       const CRuntimeClass *frameClass, const CRuntimeClass *viewClass)
    : m_nIDResource(resourceId), m_pDocClass(docClass), m_pFrameClass(frameClass), m_pViewClass(viewClass) {}

CSingleDocTemplate::~CSingleDocTemplate() {
    // The frame (and the view in it) goes first, then the document.
    if (m_pFrame) {
        CFrameWnd *frame = m_pFrame;
        m_pFrame = nullptr;
        if (frame->m_hWnd) frame->DestroyWindow(); // deletes the frame
        else delete frame;
    }
    delete m_pOnlyDoc;
    m_pOnlyDoc = nullptr;
}

void CSingleDocTemplate::ForgetFrame(CFrameWnd *frame) {
    if (m_pFrame == frame) m_pFrame = nullptr;
}

CDocument *CSingleDocTemplate::OpenDocumentFile(const char *pathName) {
    // The document first (it may report in a message box that it cannot
    // work), then the frame with its view.
    if (!m_pOnlyDoc) {
        CObject *object = m_pDocClass->CreateObject();
        m_pOnlyDoc = dynamic_cast<CDocument *>(object);
        if (!m_pOnlyDoc) {
            delete object;
            return nullptr;
        }
    }
    CDocument *doc = m_pOnlyDoc;
    if (!m_pFrame) {
        CObject *object = m_pFrameClass->CreateObject();
        CFrameWnd *frame = dynamic_cast<CFrameWnd *>(object);
        if (!frame) {
            delete object;
            return nullptr;
        }
        if (!frame->LoadFrame(m_nIDResource)) {
            delete frame;
            return nullptr;
        }
        m_pFrame = frame;
        CWinApp *app = AfxGetApp();
        if (app && !app->m_pMainWnd) app->m_pMainWnd = frame;
        CObject *viewObject = m_pViewClass->CreateObject();
        CView *view = dynamic_cast<CView *>(viewObject);
        if (!view || !view->Create(frame, doc)) {
            delete viewObject;
            return nullptr;
        }
    }
    return AfxFillDocument(doc, pathName);
}

// ---------------------------------------------------------------- application

CWinApp::~CWinApp() {
    delete m_pDocTemplate;
    m_pDocTemplate = nullptr;
    AfxForgetApp(this);
}

int CWinApp::ExitInstance() {
    delete m_pDocTemplate;
    m_pDocTemplate = nullptr;
    return 0;
}

void CWinApp::AddDocTemplate(CSingleDocTemplate *docTemplate) {
    m_pDocTemplate = docTemplate;
}

void CWinApp::ParseCommandLine(CCommandLineInfo &info) {
    // Arguments starting with '/' or '-' are the framework's switches.
    for (size_t i = 1; i < m_arguments.size(); ++i) {
        const std::string &arg = m_arguments[i];
        if (arg.empty() || arg[0] == '/' || arg[0] == '-') continue;
        info.m_nShellCommand = CCommandLineInfo::FileOpen;
        info.m_strFileName = arg;
        return;
    }
    info.m_nShellCommand = CCommandLineInfo::FileNew;
}

void CWinApp::OnAppExit() {
    if (m_pMainWnd && m_pMainWnd->m_hWnd) SendMessageA(m_pMainWnd->m_hWnd, WM_CLOSE, 0, 0);
}

int CWinApp::Run() {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        CFrameWnd *frame = m_pMainWnd;
        if (frame && frame->m_hWnd && frame->m_hAccelTable &&
            TranslateAcceleratorA(frame->m_hWnd, frame->m_hAccelTable, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return int(msg.wParam);
}

int AfxWinMain(int argc, char **argv) {
    CWinApp *app = AfxGetApp();
    if (!app) return 1;
    for (int i = 0; i < argc; ++i) app->m_arguments.emplace_back(argv[i]);
    if (!app->InitInstance()) {
        if (app->m_pMainWnd) app->m_pMainWnd->DestroyWindow();
        app->ExitInstance();
        return 1;
    }
    const int code = app->Run();
    app->ExitInstance();
    return code;
}
