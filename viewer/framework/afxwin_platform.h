// What each platform's framework files give the shared ones (afxwin.cpp).
#ifndef SORVU_FRAMEWORK_AFXWIN_PLATFORM_H
#define SORVU_FRAMEWORK_AFXWIN_PLATFORM_H

#include "afxtypes.h"

#include <string>

// Shows the platform's message box (owned by the main window, captioned
// with the application's name); returns IDOK.
int AfxShowMessageBox(const std::string &text, UINT type);

class CWinApp;
// The application object is gone: AfxGetApp answers null from now on.
void AfxForgetApp(CWinApp *app);

#endif
