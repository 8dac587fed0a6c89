// The parts of the framework that every platform shares: the test hooks of
// message boxes and file dialogs, the document's open routine, and the
// application's shell commands.
#include "afxwin.h"
#include "afxwin_platform.h"

namespace {
MessageBoxHook &messageBoxHook() {
    static MessageBoxHook hook;
    return hook;
}
CFileDialog::Hook &fileDialogHook() {
    static CFileDialog::Hook hook;
    return hook;
}
} // namespace

void AfxSetMessageBoxHook(MessageBoxHook hook) {
    messageBoxHook() = std::move(hook);
}

int AfxMessageBox(const std::string &text, UINT type, UINT /*helpId*/) {
    if (messageBoxHook()) return messageBoxHook()(text, type);
    return AfxShowMessageBox(text, type);
}

CFileDialog::CFileDialog(BOOL bOpenFileDialog, const char *defaultExt, const char *fileName, DWORD flags,
                         const char *filter, CWnd *parent)
    : m_bOpenFileDialog(bOpenFileDialog), m_dwFlags(flags), m_strFilter(filter ? filter : ""),
      m_strDefExt(defaultExt ? defaultExt : ""), m_strFileName(fileName ? fileName : ""), m_pParentWnd(parent) {}

void CFileDialog::SetTestHook(Hook hook) {
    fileDialogHook() = std::move(hook);
}

int CFileDialog::DoModal() {
    if (fileDialogHook()) return fileDialogHook()(*this);
    return ShowDialog();
}

BOOL CDocument::OnOpenDocument(const char *pathName) {
    CFile file;
    CFileException error;
    if (!file.Open(pathName, CFile::modeRead | CFile::shareDenyWrite, &error)) {
        AfxMessageBox(std::string(pathName) + "\n" + (error.m_cause == CFileException::fileNotFound
                                                          ? "The file was not found."
                                                          : "The file cannot be opened."),
                      MB_ICONEXCLAMATION);
        return FALSE;
    }
    CArchive ar(&file, CArchive::load);
    try {
        Serialize(ar);
    } catch (const CException &e) {
        file.Close();
        AfxMessageBox(std::string(pathName) + "\n" + e.GetErrorMessage(), MB_ICONEXCLAMATION);
        return FALSE;
    } catch (const std::bad_alloc &) {
        file.Close();
        AfxMessageBox(std::string(pathName) + "\n" + CMemoryException().GetErrorMessage(), MB_ICONEXCLAMATION);
        return FALSE;
    }
    return TRUE;
}

bool CDocument::OnNewDocument() {
    m_strPathName.clear();
    SetTitle("Untitled");
    return true;
}

void CDocument::Serialize(CArchive &) {}

CDocument *AfxFillDocument(CDocument *doc, const char *pathName) {
    bool done;
    if (pathName == nullptr) {
        done = doc->OnNewDocument();
    } else {
        done = doc->OnOpenDocument(pathName) != FALSE;
        if (done) doc->SetPathName(pathName);
    }
    // Repainted either way: a failed open may have released the picture.
    for (CView *view : doc->GetViews()) view->InvalidateRect(nullptr, TRUE);
    return done ? doc : nullptr;
}

namespace {
CWinApp *theApp = nullptr;  // the one application object of the program
} // namespace

CWinApp *AfxGetApp() {
    return theApp;
}

CFrameWnd *AfxGetMainWnd() {
    return theApp ? theApp->m_pMainWnd : nullptr;
}

void AfxForgetApp(CWinApp *app) {
    if (theApp == app) theApp = nullptr;
}

CWinApp::CWinApp() {
    theApp = this;
    AfxOnCommand(this, ID_APP_EXIT, this, &CWinApp::OnAppExit);
}

BOOL CWinApp::ProcessShellCommand(CCommandLineInfo &info) {
    switch (info.m_nShellCommand) {
    case CCommandLineInfo::FileNew:
        return m_pDocTemplate && m_pDocTemplate->OpenDocumentFile(nullptr) != nullptr;
    case CCommandLineInfo::FileOpen:
        return OpenDocumentFile(info.m_strFileName.c_str()) != nullptr;
    default:
        return TRUE;
    }
}

CDocument *CWinApp::OpenDocumentFile(const char *pathName) {
    return m_pDocTemplate ? m_pDocTemplate->OpenDocumentFile(pathName) : nullptr;
}

void CWinApp::OnFileNew() {
    if (m_pDocTemplate) m_pDocTemplate->OpenDocumentFile(nullptr);
}

void CWinApp::OnFileOpen() {
    CFileDialog dialog(TRUE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, "Pictures|*.bmp;*.vek|",
                       m_pMainWnd);
    if (dialog.DoModal() == IDOK) OpenDocumentFile(dialog.GetPathName().c_str());
}
