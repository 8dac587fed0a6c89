#include "sorvu_view.h"

#include "sorvu_doc.h"

IMPLEMENT_DYNCREATE(CSorvuView, CView);

CSorvuDoc *CSorvuView::GetDocument() const {
    return static_cast<CSorvuDoc *>(CView::GetDocument());
}

void CSorvuView::OnDraw(CDC *pDC) {
    CSorvuDoc *pDoc = GetDocument();
    if (!pDoc) return;
    CRect rect;
    GetClientRect(&rect);
    pDoc->m_dib.Paint(pDC, &rect, CPoint(0, 0), pDoc->m_nZoom, SRCCOPY);
}
