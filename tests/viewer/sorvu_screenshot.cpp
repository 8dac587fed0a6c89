// Takes a picture of Sorvu's window, for the README: starts the viewer in
// this process with a file as on its command line, waits until it has
// painted, and saves the window (menu bar and view) as a PNG file.
//   sorvu_screenshot out.png picture.bmp [zoom]
// Needs a display; tools/sorvu-screenshot.sh runs it on a headless one.
#include "resource.h"
#include "screen_grab.h"
#include "sorvu_app.h"

#include <wx/init.h>
#include <wx/log.h>
#include <wx/stopwatch.h>

#include <cstdio>
#include <cstdlib>

namespace {

void pump(int ms) {
    wxStopWatch sw;
    do {
        wxTheApp->Yield(true);
        wxMilliSleep(5);
    } while (sw.Time() < ms);
}

} // namespace

wxIMPLEMENT_APP_NO_MAIN(CSorvuApp);

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s out.png picture [zoom]\n", argv[0]);
        return 2;
    }
    const char *out = argv[1];
    const int zoom = argc > 3 ? std::atoi(argv[3]) : 100;
    char *appArgs[] = {argv[0], argv[2], nullptr};
    int appArgc = 2;
    if (!wxEntryStart(appArgc, appArgs)) {
        std::fprintf(stderr, "no display\n");
        return 1;
    }
    delete wxLog::SetActiveTarget(new wxLogStderr);
    if (!wxTheApp->CallOnInit()) return 1;
    CFrameWnd *frame = wxGetApp().m_pMainWnd;
    if (zoom == 50 || zoom == 200) {
        wxCommandEvent event(wxEVT_MENU, AfxCommandId(zoom == 50 ? ID_VIEW_ZOOM50 : ID_VIEW_ZOOM200));
        frame->GetEventHandler()->ProcessEvent(event);
    }
    pump(1500);
    const wxImage shot = grabScreen(frame->GetScreenRect());
    const bool saved = shot.IsOk() && shot.SaveFile(wxString::FromUTF8(out), wxBITMAP_TYPE_PNG);
    frame->Close(true);
    pump(100);
    wxTheApp->OnExit();
    wxEntryCleanup();
    if (!saved) std::fprintf(stderr, "could not save %s\n", out);
    return saved ? 0 : 1;
}
