// Sorvu's resources for the wxWidgets build: the menu, the accelerator
// table and the program icon, all under IDR_MAINFRAME, and the About box
// IDD_ABOUTBOX. (The Windows build has them in sorvu.rc.)
#include "resource.h"
#include "framework/afxwin.h"

#include <wx/button.h>
#include <wx/icon.h>
#include <wx/menu.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "res/sorvu_16.xpm"
#include "res/sorvu_32.xpm"

wxMenuBar *AfxLoadMenu(UINT resourceId) {
    if (resourceId != IDR_MAINFRAME) return nullptr;
    wxMenu *file = new wxMenu;
    file->Append(AfxCommandId(ID_FILE_OPEN), "&Open");
    file->Append(AfxCommandId(ID_FILE_SAVE), "&Save");
    file->AppendSeparator();
    file->Append(AfxCommandId(ID_APP_EXIT), "E&xit");
    wxMenu *view = new wxMenu;
    view->AppendCheckItem(AfxCommandId(ID_VIEW_ZOOM50), "Zoom (&50%)");
    view->AppendCheckItem(AfxCommandId(ID_VIEW_ZOOM100), "Zoom (&100%)");
    view->AppendCheckItem(AfxCommandId(ID_VIEW_ZOOM200), "Zoom (&200%)");
    wxMenu *help = new wxMenu;
    help->Append(AfxCommandId(ID_APP_ABOUT), "&About Sorvu...");
    wxMenuBar *bar = new wxMenuBar;
    bar->Append(file, "&File");
    bar->Append(view, "&View");
    bar->Append(help, "&Help");
    return bar;
}

wxAcceleratorTable AfxLoadAccelerators(UINT resourceId) {
    if (resourceId != IDR_MAINFRAME) return wxAcceleratorTable();
    wxAcceleratorEntry entries[2];
    entries[0].Set(wxACCEL_CTRL, 'O', AfxCommandId(ID_FILE_OPEN));
    entries[1].Set(wxACCEL_CTRL, 'S', AfxCommandId(ID_FILE_SAVE));
    return wxAcceleratorTable(2, entries);
}

wxIconBundle AfxLoadIcons(UINT resourceId) {
    wxIconBundle icons;
    if (resourceId != IDR_MAINFRAME) return icons;
    icons.AddIcon(wxIcon(sorvu_32_xpm));
    icons.AddIcon(wxIcon(sorvu_16_xpm));
    return icons;
}

// The About box, laid out in dialog units, so that it scales with the
// dialog font.
bool AfxLoadDialog(CDialog *dialog, UINT templateId, wxWindow *parent) {
    if (templateId != IDD_ABOUTBOX) return false;
    if (!dialog->Create(parent, IDD_ABOUTBOX, "About Sorvu", wxDefaultPosition, wxDefaultSize, wxCAPTION))
        return false;
    dialog->SetFont(wxFontInfo(8).FaceName("MS Sans Serif"));
    dialog->SetClientSize(dialog->ConvertDialogToPixels(wxSize(159, 48)));
    auto at = [dialog](int x, int y) { return dialog->ConvertDialogToPixels(wxPoint(x, y)); };
    auto size = [dialog](int w, int h) { return dialog->ConvertDialogToPixels(wxSize(w, h)); };

    const wxIconBundle icons = AfxLoadIcons(IDR_MAINFRAME);
    new wxStaticBitmap(dialog, wxID_ANY, icons.GetIcon(wxSize(32, 32)), at(5, 5), size(21, 23));
    new wxStaticText(dialog, wxID_ANY, "VEK! reference code version 1.0", at(33, 2), size(119, 20),
                     wxST_NO_AUTORESIZE);
    new wxStaticText(dialog, wxID_ANY, "Lossless BMP compression", at(33, 22), size(119, 10),
                     wxST_NO_AUTORESIZE);
    wxButton *ok = new wxButton(dialog, wxID_OK, "OK", at(107, 32), size(50, 14));
    ok->SetDefault();
    ok->SetFocus();
    return true;
}
