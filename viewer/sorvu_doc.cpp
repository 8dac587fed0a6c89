#include "sorvu_doc.h"

#include "resource.h"
#include "framework/afxwin.h"
#include "vek/vek_failures.h"

#include <cstring>

IMPLEMENT_DYNCREATE(CSorvuDoc, CDocument);

const char *CSorvuDoc::s_pszCodecLibrary = VEK_LIBRARY_NAME;

namespace {

const char *const kOpenFilter = "Bitmap (*.bmp)|*.bmp|VEK! (*.vek)|*.vek|";
const char *const kVekFilter = "VEK! (*.vek)|*.vek|";
const char *const kBitmapFilter = "Bitmap (*.bmp)|*.bmp|";

// Copies a path into a fixed buffer; false (buffer untouched) when it does
// not fit, so that a path is never used cut short.
template <size_t N>
bool copyPath(char (&buffer)[N], const char *path) {
    const size_t length = std::strlen(path);
    if (length >= N) return false;
    std::memcpy(buffer, path, length + 1);
    return true;
}

} // namespace

CSorvuDoc::CSorvuDoc()
    : m_nZoom(100), m_nKind(PictureNone), m_hCodecLib(nullptr), m_pfnConstructor(nullptr),
      m_pfnDestructor(nullptr), m_pCodec(nullptr), m_nLoadOutcome(LoadPicture) {
    m_szSourcePath[0] = '\0';

    AfxOnCommand(this, ID_FILE_OPEN, this, &CSorvuDoc::OnFileOpen);
    AfxOnCommand(this, ID_FILE_SAVE, this, &CSorvuDoc::OnFileSave);
    AfxOnCommand(this, ID_VIEW_ZOOM50, this, &CSorvuDoc::OnZoom50);
    AfxOnCommand(this, ID_VIEW_ZOOM100, this, &CSorvuDoc::OnZoom100);
    AfxOnCommand(this, ID_VIEW_ZOOM200, this, &CSorvuDoc::OnZoom200);
    AfxOnUpdateCommandUI(this, ID_VIEW_ZOOM50, this, &CSorvuDoc::OnUpdateZoom50);
    AfxOnUpdateCommandUI(this, ID_VIEW_ZOOM100, this, &CSorvuDoc::OnUpdateZoom100);
    AfxOnUpdateCommandUI(this, ID_VIEW_ZOOM200, this, &CSorvuDoc::OnUpdateZoom200);

    // The codec is bound once for the document's whole life.
    m_hCodecLib = platform::loadLibrary(s_pszCodecLibrary);
    if (!m_hCodecLib) {
        AfxMessageBox("File not found - VEK.DLL", MB_OK, 0);
        return;
    }
    m_pfnConstructor =
        reinterpret_cast<VekConstructorFn>(platform::getProcAddress(m_hCodecLib, VEK_CONSTRUCTOR_NAME));
    if (!m_pfnConstructor) {
        AfxMessageBox("GetProc error!", MB_OK, 0);
        return;
    }
    m_pCodec = m_pfnConstructor();
}

CSorvuDoc::~CSorvuDoc() {
    if (m_pCodec) {
        m_pfnDestructor =
            reinterpret_cast<VekDestructorFn>(platform::getProcAddress(m_hCodecLib, VEK_DESTRUCTOR_NAME));
        if (m_pfnDestructor) m_pfnDestructor(m_pCodec);
        m_pCodec = nullptr;
    }
    if (m_hCodecLib) {
        platform::freeLibrary(m_hCodecLib);
        m_hCodecLib = nullptr;
    }
}

bool CSorvuDoc::OnNewDocument() {
    if (!CDocument::OnNewDocument()) return false;
    return m_pCodec != nullptr;
}

void CSorvuDoc::FailLoad(LoadOutcome outcome, const std::string &reason) {
    m_nLoadOutcome = outcome;
    m_strLoadFailure = reason;
}

BOOL CSorvuDoc::OnOpenDocument(const char *pathName) {
    m_nLoadOutcome = LoadPicture;
    m_strLoadFailure.clear();
    if (!CDocument::OnOpenDocument(pathName)) return FALSE;
    if (m_nLoadOutcome == LoadUnreadable) {
        AfxMessageBox(std::string(pathName) + "\n" + m_strLoadFailure, MB_ICONEXCLAMATION);
        return FALSE;
    }
    FitFrameToPicture();
    if (!copyPath(m_szSourcePath, pathName)) {
        // Not reachable for a file the system could open; refuse rather than
        // convert some other file later.
        m_nKind = PictureNone;
        AfxMessageBox(std::string(pathName) + "\nThe path is too long.", MB_ICONEXCLAMATION);
        return FALSE;
    }
    if (m_nLoadOutcome == LoadNoPicture) {
        // The open yielded no picture: say so, and keep the old title.
        AfxMessageBox(std::string(pathName) + "\n" + m_strLoadFailure, MB_ICONEXCLAMATION);
        return FALSE;
    }
    return TRUE;
}

void CSorvuDoc::Serialize(CArchive &ar) {
    if (ar.IsStoring()) return;
    CFile &file = *ar.GetFile();

    // File-kind probe: a BMP file starts with "BM" and its size field is the
    // file's length; a .vek file starts with "VEK!".
    ULONGLONG length = 0;
    BYTE signature[2] = {0, 0};
    BYTE sizeField[4] = {0, 0, 0, 0};
    UINT gotSignature = 0, gotSize = 0;
    try {
        length = file.GetLength();
        gotSignature = file.Read(signature, 2);
        gotSize = file.Read(sizeField, 4);
    } catch (const CFileException &) {
        FailLoad(LoadUnreadable, "The file cannot be read.");
        return;
    }
    file.SeekToBegin();
    const DWORD size = DWORD(sizeField[0]) | DWORD(sizeField[1]) << 8 | DWORD(sizeField[2]) << 16 |
                       DWORD(sizeField[3]) << 24;
    if (gotSignature == 2 && gotSize == 4 && signature[0] == 'B' && signature[1] == 'M' && size == length) {
        m_dib.Read(file);
        m_nKind = PictureBitmap;
        return;
    }

    BYTE magic[4] = {0, 0, 0, 0};
    if (file.Read(magic, 4) == 4 && std::memcmp(magic, "VEK!", 4) == 0) {
        BYTE palette[2] = {0, 0};
        file.Read(palette, 2);
        LoadVek(file, unsigned(palette[0]) | unsigned(palette[1]) << 8);
        return;
    }

    m_nZoom = 100;
    m_nKind = PictureNone;
    FailLoad(LoadNoPicture, "This file is neither a Windows bitmap (BMP) nor a VEK! file.");
}

void CSorvuDoc::LoadVek(CFile &file, unsigned paletteSize) {
    if (!m_pCodec) {
        m_nKind = PictureNone;
        FailLoad(LoadNoPicture, "VEK! files cannot be opened because the codec library VEK.DLL is not loaded.");
        return;
    }
    const std::string path = file.GetFilePath();
    if (!m_pCodec->loadFile(path.c_str())) {
        m_nKind = PictureNone;
        FailLoad(LoadNoPicture, std::string("The VEK! file cannot be decoded: ") +
                                    vekFailureText(m_pCodec->getLastFailure()) + ".");
        return;
    }
    const LONG width = m_pCodec->getWidth();
    const LONG height = m_pCodec->getHeight();
    const LONG bitCount = m_pCodec->getBitCount();
    if (!m_dib.Create(width, height, bitCount, LONG(BI_RGB))) {
        m_nKind = PictureNone;
        FailLoad(LoadNoPicture, "The picture cannot be shown: only pictures with 8 or 24 bits per pixel that fit "
                                "in memory can be.");
        return;
    }

    // The codec's image is the colour table followed by the pixel rows,
    // padded to 4 bytes as in the BMP file the .vek file was made from.
    const BYTE *image = m_pCodec->getImage();
    const BYTE *bits = m_pCodec->getBits();
    const int64_t imageLength = m_pCodec->getImageLength();
    const int64_t rowSize = (int64_t(width) * bitCount + 31) / 32 * 4;
    const int64_t pixelBytes = rowSize * height;
    if (!image || !bits || bits < image || imageLength < 0 || (bits - image) + pixelBytes > imageLength) {
        m_dib.Free();
        m_nKind = PictureNone;
        FailLoad(LoadNoPicture, "The codec gave an incomplete picture.");
        return;
    }
    const int64_t tableBytes = bits - image;
    m_dib.SetColorTable(image, UINT(paletteSize < tableBytes ? paletteSize : tableBytes));
    std::memcpy(m_dib.GetBits(), bits, size_t(pixelBytes));
    m_nKind = PictureVek;
}

void CSorvuDoc::OnFileOpen() {
    CFileDialog dialog(TRUE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, kOpenFilter, AfxGetMainWnd());
    if (dialog.DoModal() != IDOK) return;
    // Opened directly: the title (path name) stays as it was. The views are
    // repainted even after a failed open, which may have released the
    // picture they showed.
    OnOpenDocument(dialog.GetPathName().c_str());
    RedrawViews();
}

void CSorvuDoc::OnFileSave() {
    const char *filter;
    switch (m_nKind) {
    case PictureBitmap:
        filter = kVekFilter;
        break;
    case PictureVek:
        filter = kBitmapFilter;
        break;
    default:
        return; // nothing was loaded: nothing to convert
    }
    if (!m_pCodec) {
        AfxMessageBox("The codec library VEK.DLL is not loaded, so the picture cannot be converted.",
                      MB_ICONEXCLAMATION);
        return;
    }
    CFileDialog dialog(FALSE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, filter, AfxGetMainWnd());
    if (dialog.DoModal() != IDOK) return;
    char target[sizeof m_szSourcePath];
    std::string reason = "the path is too long";
    int done = 0;
    if (copyPath(target, dialog.GetPathName().c_str())) {
        done = m_nKind == PictureBitmap ? m_pCodec->encodeFile(m_szSourcePath, target)
                                        : m_pCodec->decodeFile(m_szSourcePath, target);
        reason = vekFailureText(m_pCodec->getLastFailure());
    }
    if (!done)
        AfxMessageBox(std::string("The conversion of ") + m_szSourcePath + " into " + dialog.GetPathName() +
                          " failed: " + reason + ".",
                      MB_ICONEXCLAMATION);
}

void CSorvuDoc::ZoomTo(LONG zoom) {
    m_nZoom = zoom;
    RedrawViews();
    FitFrameToPicture();
}

void CSorvuDoc::OnZoom50() {
    ZoomTo(50);
}

void CSorvuDoc::OnZoom100() {
    ZoomTo(100);
}

void CSorvuDoc::OnZoom200() {
    ZoomTo(200);
}

void CSorvuDoc::UpdateZoom(CCmdUI *pCmdUI, LONG zoom) {
    pCmdUI->SetCheck(m_nZoom == zoom ? 1 : 0);
    pCmdUI->Enable(m_dib.GetBits() != nullptr);
}

void CSorvuDoc::OnUpdateZoom50(CCmdUI *pCmdUI) {
    UpdateZoom(pCmdUI, 50);
}

void CSorvuDoc::OnUpdateZoom100(CCmdUI *pCmdUI) {
    UpdateZoom(pCmdUI, 100);
}

void CSorvuDoc::OnUpdateZoom200(CCmdUI *pCmdUI) {
    UpdateZoom(pCmdUI, 200);
}

void CSorvuDoc::FitFrameToPicture() {
    if (m_nKind == PictureNone) return;
    CView *view = GetFirstView();
    if (!view) return;
    CFrameWnd *frame = view->GetParentFrame();
    if (!frame) return;
    // 32-bit arithmetic, truncated toward zero; a picture of negative size
    // (rows stored top first) shows nothing and gets an empty client area.
    LONG w = LONG(int64_t(m_dib.Width()) * m_nZoom / 100);
    LONG h = LONG(int64_t(m_dib.Height()) * m_nZoom / 100);
    if (w < 0) w = 0;
    if (h < 0) h = 0;
    CRect frameRect, viewRect;
    frame->GetWindowRect(&frameRect);
    view->GetClientRect(&viewRect);
    const int cx = frameRect.Width() - viewRect.Width() + w;
    const int cy = frameRect.Height() - viewRect.Height() + h;
    frame->SetWindowPos(0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER | SWP_SHOWWINDOW);
}

void CSorvuDoc::RedrawViews() {
    for (CView *view : GetViews()) view->InvalidateRect(nullptr, TRUE);
}
