// Application, document, view and frame services, shaped for a
// single-document program:
//
// - one document object lives for the whole run and is reused for every
//   file (CSingleDocTemplate::OpenDocumentFile);
// - a document opens a file by running Serialize on a loading archive; any
//   exception escaping it is reported in a message box and the open fails;
// - commands go to the view, the document, the frame, then the application;
// - command-state handlers receive a CCmdUI (check mark, enabled state);
// - message boxes and file dialogs can be answered by a test hook.
//
// This header holds what every platform shares. The classes themselves
// (CCmdUI, CWnd, CDialog, CDocument, CView, CFrameWnd, CSingleDocTemplate,
// CWinApp) come from afxwnd.h of the platform's folder, framework/wx or
// framework/win32, which the build puts on the include path.
#ifndef SORVU_FRAMEWORK_AFXWIN_H
#define SORVU_FRAMEWORK_AFXWIN_H

#include "afxfile.h"
#include "afxgdi.h"

#include <functional>
#include <string>
#include <vector>

// Command ids the framework itself handles or offers.
const int ID_FILE_NEW = 0xE100;
const int ID_FILE_OPEN = 0xE101;
const int ID_FILE_SAVE = 0xE103;
const int ID_APP_ABOUT = 0xE140;
const int ID_APP_EXIT = 0xE141;

// ---------------------------------------------------------------- messages

// Shows a modal message box with an OK button; returns IDOK. `type` may add
// MB_ICONSTOP or MB_ICONEXCLAMATION.
int AfxMessageBox(const std::string &text, UINT type = MB_OK, UINT helpId = 0);

// While set, message boxes are not shown: the hook gets their text and type
// and gives the result. For tests without a display.
typedef std::function<int(const std::string &text, UINT type)> MessageBoxHook;
void AfxSetMessageBoxHook(MessageBoxHook hook);

// ---------------------------------------------------------------- windows

const DWORD OFN_READONLY = 0x0001;
const DWORD OFN_OVERWRITEPROMPT = 0x0002;
const DWORD OFN_HIDEREADONLY = 0x0004;

// Window styles as the frame's PreCreateWindow sees them.
const DWORD WS_MAXIMIZEBOX = 0x00010000;
const DWORD WS_MINIMIZEBOX = 0x00020000;
const DWORD WS_THICKFRAME = 0x00040000;
const DWORD WS_SYSMENU = 0x00080000;
const DWORD WS_CAPTION = 0x00C00000;
const DWORD WS_OVERLAPPEDWINDOW = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
const DWORD WS_EX_ACCEPTFILES = 0x00000010;
const int CW_USEDEFAULT = int(0x80000000);

struct CREATESTRUCT {
    int x = CW_USEDEFAULT, y = CW_USEDEFAULT;
    int cx = CW_USEDEFAULT, cy = CW_USEDEFAULT;
    DWORD style = WS_OVERLAPPEDWINDOW;
    DWORD dwExStyle = 0;
};

const UINT SWP_NOSIZE = 0x0001;
const UINT SWP_NOMOVE = 0x0002;
const UINT SWP_NOZORDER = 0x0004;
const UINT SWP_SHOWWINDOW = 0x0040;
const int SW_HIDE = 0;
const int SW_SHOW = 5;

class CCommandLineInfo {
public:
    enum { FileNew = 0, FileOpen = 1, FileNothing = -1 };
    int m_nShellCommand = FileNew;
    std::string m_strFileName;
};

#include "afxwnd.h"

// ---------------------------------------------------------------- dialogs

// A file-open (bOpenFileDialog TRUE) or file-save dialog. The filter uses
// '|' between descriptions and patterns and may end with '|'.
class CFileDialog {
public:
    CFileDialog(BOOL bOpenFileDialog, const char *defaultExt = nullptr, const char *fileName = nullptr,
                DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, const char *filter = nullptr,
                CWnd *parent = nullptr);
    int DoModal();
    std::string GetPathName() const { return m_strPathName; }

    BOOL m_bOpenFileDialog;
    DWORD m_dwFlags;
    std::string m_strFilter;     // as given
    std::string m_strDefExt;
    std::string m_strFileName;
    CWnd *m_pParentWnd;

    // While set, DoModal does not show a dialog: the hook answers it (IDOK
    // or IDCANCEL) and may set the chosen path. For tests without a display.
    typedef std::function<int(CFileDialog &dialog)> Hook;
    static void SetTestHook(Hook hook);
    void SetPathName(const std::string &path) { m_strPathName = path; }

private:
    // The platform's own dialog.
    int ShowDialog();
    std::string m_strPathName;
};

#endif
