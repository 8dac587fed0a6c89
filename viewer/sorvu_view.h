// The picture view: paints the document's picture at its zoom, top-left
// corner at the top-left of the client area, no scrolling.
#ifndef SORVU_SORVU_VIEW_H
#define SORVU_SORVU_VIEW_H

#include "framework/afxwin.h"

class CSorvuDoc;

class CSorvuView : public CView {
    DECLARE_DYNCREATE(CSorvuView);

public:
    CSorvuDoc *GetDocument() const;
    void OnDraw(CDC *pDC) override;
    using CView::OnDraw;
};

#endif
