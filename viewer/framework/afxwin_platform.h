// What each platform's framework files give the shared ones (afxwin.cpp).
#ifndef SORVU_FRAMEWORK_AFXWIN_PLATFORM_H
#define SORVU_FRAMEWORK_AFXWIN_PLATFORM_H

#include "afxtypes.h"

#include <string>

// Shows the platform's message box (owned by the main window, captioned
// with the application's name); returns IDOK.
int AfxShowMessageBox(const std::string &text, UINT type);

class CWinApp;
class CDocument;
// Makes the template's one document new (null path) or opens the file into
// it, then repaints its views; the document, or null when that failed.
CDocument *AfxFillDocument(CDocument *doc, const char *pathName);

// The application object is gone: AfxGetApp answers null from now on.
void AfxForgetApp(CWinApp *app);

#endif
