// Rectangle arithmetic, the same on every platform.
#include "afxgdi.h"

#include <algorithm>

BOOL IsRectEmpty(const CRect *r) {
    return r->right <= r->left || r->bottom <= r->top;
}

BOOL IntersectRect(CRect *dst, const CRect *a, const CRect *b) {
    CRect r(std::max(a->left, b->left), std::max(a->top, b->top), std::min(a->right, b->right),
            std::min(a->bottom, b->bottom));
    if (IsRectEmpty(a) || IsRectEmpty(b) || IsRectEmpty(&r)) {
        *dst = CRect();
        return FALSE;
    }
    *dst = r;
    return TRUE;
}
