// The main frame: fixed size (no sizing border, no maximise box), first
// 400 x 300 pixels, accepts dropped files. The view fills its client area.
#ifndef SORVU_MAIN_FRAME_H
#define SORVU_MAIN_FRAME_H

#include "framework/afxwin.h"

class CMainFrame : public CFrameWnd {
    DECLARE_DYNCREATE(CMainFrame);

public:
    BOOL PreCreateWindow(CREATESTRUCT &cs) override;
};

#endif
