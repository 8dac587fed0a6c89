// Window messages on Win32: the handle is a real window (HWND) and the
// messages travel through its thread's message queue. The queue itself wakes
// the receiver's message loop, so registering needs no bookkeeping here.
#include "window_messages.h"

#include <windows.h>

namespace platform {

namespace {

HWND toWindow(WindowHandle window) {
    return static_cast<HWND>(window);
}

} // namespace

void registerWindow(WindowHandle, MessageNotifier, void *) {}

void unregisterWindow(WindowHandle window) {
    // Drops what is still queued for the window (from the window's thread).
    MSG m;
    while (::PeekMessageA(&m, toWindow(window), 0, 0, PM_REMOVE)) {
    }
}

bool postMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return ::PostMessageA(toWindow(window), message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam)) != 0;
}

bool peekMessage(WindowHandle window, PostedMessage *out) {
    MSG m;
    if (!::PeekMessageA(&m, toWindow(window), 0, 0, PM_REMOVE)) return false;
    out->window = m.hwnd;
    out->message = m.message;
    out->wParam = m.wParam;
    out->lParam = m.lParam;
    return true;
}

} // namespace platform
