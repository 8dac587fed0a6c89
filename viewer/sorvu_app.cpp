#include "sorvu_app.h"

#include "main_frame.h"
#include "resource.h"
#include "sorvu_doc.h"
#include "sorvu_view.h"

#include <wx/button.h>
#include <wx/image.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

CSorvuApp::CSorvuApp() {
    SetAppName("Sorvu");
    SetAppDisplayName("Sorvu");
    AfxOnCommand(this, ID_APP_ABOUT, this, &CSorvuApp::OnAppAbout);
    AfxOnCommand<CWinApp>(this, ID_FILE_NEW, this, &CWinApp::OnFileNew);
    AfxOnCommand<CWinApp>(this, ID_FILE_OPEN, this, &CWinApp::OnFileOpen);
}

BOOL CSorvuApp::InitInstance() {
    wxInitAllImageHandlers();
    AddDocTemplate(new CSingleDocTemplate(IDR_MAINFRAME, CLASSINFO(CSorvuDoc), CLASSINFO(CMainFrame),
                                          CLASSINFO(CSorvuView)));

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

// Laid out in dialog units, so that it scales with the dialog font.
CAboutDlg::CAboutDlg(wxWindow *parent) {
    Create(parent, IDD_ABOUTBOX, "About Sorvu", wxDefaultPosition, wxDefaultSize, wxCAPTION);
    SetFont(wxFontInfo(8).FaceName("MS Sans Serif"));
    SetClientSize(ConvertDialogToPixels(wxSize(159, 48)));
    auto at = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
    auto size = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };

    const wxIconBundle icons = AfxLoadIcons(IDR_MAINFRAME);
    new wxStaticBitmap(this, wxID_ANY, icons.GetIcon(wxSize(32, 32)), at(5, 5), size(21, 23));
    new wxStaticText(this, wxID_ANY, "VEK! reference code version 1.0", at(33, 4), size(119, 8),
                     wxST_NO_AUTORESIZE);
    new wxStaticText(this, wxID_ANY, "Lossless compression of BMP pictures", at(33, 18), size(119, 8),
                     wxST_NO_AUTORESIZE);
    wxButton *ok = new wxButton(this, wxID_OK, "OK", at(107, 32), size(50, 14));
    ok->SetDefault();
    ok->SetFocus();
}
