// The application: a single-document viewer of BMP and .vek pictures.
#ifndef SORVU_SORVU_APP_H
#define SORVU_SORVU_APP_H

#include "framework/afxwin.h"

class CSorvuApp : public CWinApp {
public:
    CSorvuApp();
    BOOL InitInstance() override;
    void OnAppAbout();
};

// The About box: icon, two lines of text and an OK button.
class CAboutDlg : public CDialog {
public:
    explicit CAboutDlg(CWnd *pParent = nullptr);
};

AFX_DECLARE_APP(CSorvuApp);

#endif
