// A helper of the Windows viewer tests, run under wine beside Sorvu.exe: it
// finds Sorvu's windows and dialogs, tells where they are, reads their
// texts and menus, and presses their buttons, as a user would. One action
// per run; the answer goes to standard output, one line per fact, and the
// exit code is 0 when the action was done, 1 when not (nothing found in
// time), 2 for a usage error.
//
//   sorvu_probe frame [seconds]        the main frame: "frame <title>", then
//                                      "view <x> <y> <width> <height>" (the
//                                      view's client area on the screen) and
//                                      "window <x> <y> <width> <height>",
//                                      "style <style> <extended style>"
//   sorvu_probe command <id>           a menu command to the main frame,
//                                      answered before the probe returns
//   sorvu_probe dialog <title> [seconds]   a dialog of that caption:
//                                      "dialog <x> <y> <width> <height>" and
//                                      "control <class> <id> <text>" lines,
//                                      each static text's followed by
//                                      "extent <width> <height> <control width>
//                                      <control height> <text>" (the room the
//                                      text takes, word-wrapped)
//   sorvu_probe press <title> <id>     presses button <id> of that dialog
//   sorvu_probe save <title> <path>    types the path into the file name
//                                      box of the file dialog and confirms
//   sorvu_probe gone <title> [seconds] waits until no window has that caption
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char kFrameClass[] = "AfxFrameWnd";

std::string textOf(HWND hWnd) {
    char text[1024] = "";
    GetWindowTextA(hWnd, text, sizeof text);
    // One line per fact: the lines of a text are joined by spaces.
    std::string line = text;
    for (char &c : line)
        if (c == '\r' || c == '\n') c = ' ';
    return line;
}

// Polls for a window until it turns up or the time is over.
template <class Find>
HWND waitFor(Find find, double seconds) {
    const DWORD end = GetTickCount() + DWORD(seconds * 1000);
    for (;;) {
        if (HWND hWnd = find()) return hWnd;
        if (int(GetTickCount() - end) >= 0) return nullptr;
        Sleep(50);
    }
}

HWND frame(double seconds) {
    return waitFor([] { return FindWindowA(kFrameClass, nullptr); }, seconds);
}

// A visible top-level dialog (class #32770) with that caption.
HWND dialog(const std::string &title, double seconds) {
    return waitFor(
        [&title]() -> HWND {
            HWND hWnd = FindWindowA("#32770", title.c_str());
            return hWnd && IsWindowVisible(hWnd) ? hWnd : nullptr;
        },
        seconds);
}

void printRect(const char *what, const RECT &r) {
    std::printf("%s %ld %ld %ld %ld\n", what, r.left, r.top, r.right - r.left, r.bottom - r.top);
}

BOOL CALLBACK printControl(HWND hWnd, LPARAM) {
    char cls[64] = "";
    GetClassNameA(hWnd, cls, sizeof cls);
    std::printf("control %s %d %s\n", cls, int(short(GetDlgCtrlID(hWnd))), textOf(hWnd).c_str());
    // Whether the text fits: the room it takes, in the control's own font,
    // word-wrapped at the control's width as a static text draws it,
    // against the control's size.
    const LONG style = GetWindowLongA(hWnd, GWL_STYLE);
    if (std::string(cls) == "Static" && (style & SS_TYPEMASK) != SS_ICON && !textOf(hWnd).empty()) {
        RECT r;
        GetClientRect(hWnd, &r);
        RECT needed = {0, 0, r.right - r.left, 0};
        HDC dc = GetDC(hWnd);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(hWnd, WM_GETFONT, 0, 0)));
        const std::string text = textOf(hWnd);
        DrawTextA(dc, text.c_str(), int(text.size()), &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        SelectObject(dc, old);
        ReleaseDC(hWnd, dc);
        std::printf("extent %ld %ld %ld %ld %s\n", needed.right - needed.left, needed.bottom - needed.top,
                    r.right - r.left, r.bottom - r.top, text.c_str());
    }
    return TRUE;
}

int doFrame(double seconds) {
    HWND hWnd = frame(seconds);
    if (!hWnd) return 1;
    HWND view = GetWindow(hWnd, GW_CHILD);
    std::printf("frame %s\n", textOf(hWnd).c_str());
    RECT r;
    GetWindowRect(hWnd, &r);
    printRect("window", r);
    if (view) {
        GetClientRect(view, &r);
        MapWindowPoints(view, nullptr, reinterpret_cast<POINT *>(&r), 2);
        printRect("view", r);
    }
    std::printf("style %08lx %08lx\n", GetWindowLongA(hWnd, GWL_STYLE), GetWindowLongA(hWnd, GWL_EXSTYLE));
    return 0;
}

int doDialog(const std::string &title, double seconds) {
    HWND hWnd = dialog(title, seconds);
    if (!hWnd) return 1;
    RECT r;
    GetWindowRect(hWnd, &r);
    printRect("dialog", r);
    EnumChildWindows(hWnd, printControl, 0);
    return 0;
}

int doPress(const std::string &title, int id) {
    HWND hWnd = dialog(title, 10);
    if (!hWnd) return 1;
    HWND button = GetDlgItem(hWnd, id);
    if (!button) return 1;
    PostMessageA(button, BM_CLICK, 0, 0);
    return 0;
}

// The file name box of a file dialog: the combo box cmb13 of the explorer
// style (or its edit box), else the edit box edt1.
HWND fileNameBox(HWND dlg) {
    if (HWND combo = GetDlgItem(dlg, 0x47c)) {
        HWND edit = FindWindowExA(combo, nullptr, "Edit", nullptr);
        return edit ? edit : combo;
    }
    return GetDlgItem(dlg, 0x480);
}

int doSave(const std::string &title, const std::string &path) {
    HWND hWnd = dialog(title, 10);
    if (!hWnd) return 1;
    HWND box = fileNameBox(hWnd);
    if (!box) return 1;
    SendMessageA(box, WM_SETTEXT, 0, LPARAM(path.c_str()));
    PostMessageA(hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), LPARAM(GetDlgItem(hWnd, IDOK)));
    return 0;
}

int doGone(const std::string &title, double seconds) {
    const DWORD end = GetTickCount() + DWORD(seconds * 1000);
    while (FindWindowA(nullptr, title.c_str())) {
        if (int(GetTickCount() - end) >= 0) return 1;
        Sleep(50);
    }
    return 0;
}

double seconds(int argc, char **argv, int at, double otherwise) {
    return argc > at ? std::atof(argv[at]) : otherwise;
}

} // namespace

int main(int argc, char **argv) {
    const std::string action = argc > 1 ? argv[1] : "";
    int rc = 2;
    if (action == "frame") rc = doFrame(seconds(argc, argv, 2, 20));
    else if (action == "command" && argc > 2) {
        HWND hWnd = frame(5);
        rc = hWnd && SendMessageTimeoutA(hWnd, WM_COMMAND, WPARAM(std::atoi(argv[2])), 0, SMTO_NORMAL, 200,
                                         nullptr)
                 ? 0
                 : 1;
        // A command that opens a modal dialog does not return before the
        // dialog closes; the time-out lets the probe end meanwhile.
        if (hWnd && rc == 1 && GetLastError() == ERROR_TIMEOUT) rc = 0;
    } else if (action == "dialog" && argc > 2) rc = doDialog(argv[2], seconds(argc, argv, 3, 10));
    else if (action == "press" && argc > 3) rc = doPress(argv[2], std::atoi(argv[3]));
    else if (action == "save" && argc > 3) rc = doSave(argv[2], argv[3]);
    else if (action == "gone" && argc > 2) rc = doGone(argv[2], seconds(argc, argv, 3, 10));
    std::fflush(stdout);
    return rc;
}
