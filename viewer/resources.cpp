// Sorvu's resources: the menu, the accelerator table and the program icon,
// all under IDR_MAINFRAME.
#include "resource.h"
#include "framework/afxwin.h"

#include <wx/icon.h>
#include <wx/menu.h>

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
