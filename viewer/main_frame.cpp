#include "main_frame.h"

IMPLEMENT_DYNCREATE(CMainFrame, CFrameWnd);

BOOL CMainFrame::PreCreateWindow(CREATESTRUCT &cs) {
    if (!CFrameWnd::PreCreateWindow(cs)) return FALSE;
    cs.cx = 400;
    cs.cy = 300;
    cs.dwExStyle |= WS_EX_ACCEPTFILES;
    cs.style &= ~(WS_MAXIMIZEBOX | WS_THICKFRAME);
    return TRUE;
}
