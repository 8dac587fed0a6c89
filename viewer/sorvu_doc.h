// The viewer's document: binds the codec library for its whole life, holds
// the picture shown, recognises BMP and .vek files, loads them, and saves by
// having the codec convert the opened file into the other format.
#ifndef SORVU_SORVU_DOC_H
#define SORVU_SORVU_DOC_H

#include "dib_image.h"
#include "framework/afxwin.h"
#include "module_loader.h"
#include "vek/vek.h"

#include <string>

// What the document's last load produced.
enum PictureKind : int32_t {
    PictureNone = 0,   // nothing loaded, or the last file yielded no picture
    PictureBitmap = 1, // read from a BMP file by CDibImage
    PictureVek = 2     // decoded from a .vek file by the codec
};

class CSorvuDoc : public CDocument {
    DECLARE_DYNCREATE(CSorvuDoc);

public:
    CSorvuDoc();
    ~CSorvuDoc() override;

    bool OnNewDocument() override;
    BOOL OnOpenDocument(const char *pathName) override;
    using CDocument::OnOpenDocument;
    void Serialize(CArchive &ar) override;

    void OnFileOpen();
    void OnFileSave();
    void OnZoom50();
    void OnZoom100();
    void OnZoom200();
    void OnUpdateZoom50(CCmdUI *pCmdUI);
    void OnUpdateZoom100(CCmdUI *pCmdUI);
    void OnUpdateZoom200(CCmdUI *pCmdUI);

    // Resizes the main frame so that the view's client area is the picture
    // at the current zoom. Nothing happens while no picture kind is set.
    void FitFrameToPicture();
    // Invalidates, with erasing, every view's whole client area.
    void RedrawViews();

    CDibImage m_dib;
    LONG m_nZoom;
    PictureKind m_nKind;
    platform::ModuleHandle m_hCodecLib;
    VekConstructorFn m_pfnConstructor;
    VekDestructorFn m_pfnDestructor;
    VekCodecInterface *m_pCodec;
    // Source of every conversion made by File Save: the path of the last
    // open that changed the picture kind. Long enough for any path the
    // system accepts, so it is never cut short.
    char m_szSourcePath[4096];

    // The library the document binds; tests point it elsewhere.
    static const char *s_pszCodecLibrary;

private:
    // How the last Serialize ended when it yielded no picture.
    enum LoadOutcome {
        LoadPicture,       // a picture was loaded
        LoadNoPicture,     // no picture (message below); the path is still recorded
        LoadUnreadable     // the file could not be read; nothing changes
    };
    void ZoomTo(LONG zoom);
    void UpdateZoom(CCmdUI *pCmdUI, LONG zoom);
    void LoadVek(CFile &file, unsigned paletteSize);
    void FailLoad(LoadOutcome outcome, const std::string &reason);

    LoadOutcome m_nLoadOutcome;
    std::string m_strLoadFailure;
};

#endif
