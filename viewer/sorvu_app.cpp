#include "sorvu_app.h"

#include "main_frame.h"
#include "resource.h"
#include "sorvu_doc.h"
#include "sorvu_view.h"

CSorvuApp::CSorvuApp() {
    SetAppName("Sorvu");
    SetAppDisplayName("Sorvu");
    AfxOnCommand(this, ID_APP_ABOUT, this, &CSorvuApp::OnAppAbout);
    AfxOnCommand<CWinApp>(this, ID_FILE_NEW, this, &CWinApp::OnFileNew);
    AfxOnCommand<CWinApp>(this, ID_FILE_OPEN, this, &CWinApp::OnFileOpen);
}

BOOL CSorvuApp::InitInstance() {
    AddDocTemplate(new CSingleDocTemplate(IDR_MAINFRAME, RUNTIME_CLASS(CSorvuDoc), RUNTIME_CLASS(CMainFrame),
                                          RUNTIME_CLASS(CSorvuView)));

    CCommandLineInfo cmdInfo;
    ParseCommandLine(cmdInfo);
    if (!ProcessShellCommand(cmdInfo)) {
        // A file named on the command line that yields no picture has been
        // reported; the viewer then starts empty, if it can.
        if (cmdInfo.m_nShellCommand != CCommandLineInfo::FileOpen || !OpenDocumentFile(nullptr)) return FALSE;
    }
    m_pMainWnd->ShowWindow(SW_SHOW);
    m_pMainWnd->UpdateWindow();
    return TRUE;
}

void CSorvuApp::OnAppAbout() {
    CAboutDlg aboutDlg(m_pMainWnd);
    aboutDlg.DoModal();
}

CAboutDlg::CAboutDlg(CWnd *pParent) : CDialog(IDD_ABOUTBOX, pParent) {}
