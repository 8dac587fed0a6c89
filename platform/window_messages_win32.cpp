// Window messages on Win32: the handle is a real window (HWND) and the
// messages travel through its thread's message queue.
#include "window_messages.h"

#include <windows.h>

namespace platform {

namespace {

HWND toWindow(WindowHandle window) {
    return static_cast<HWND>(window);
}

void copyMessage(const MSG &m, PostedMessage *out) {
    out->window = m.hwnd;
    out->message = m.message;
    out->wParam = m.wParam;
    out->lParam = m.lParam;
}

} // namespace

WindowHandle createMessageWindow(MessageNotifier, void *) {
    // A message-only window: no frame, never shown, only a queue.
    return ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

void destroyMessageWindow(WindowHandle window) {
    MSG m;
    while (::PeekMessageA(&m, toWindow(window), 0, 0, PM_REMOVE)) {
    }
    ::DestroyWindow(toWindow(window));
}

bool postMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return ::PostMessageA(toWindow(window), message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam)) != 0;
}

bool peekMessage(WindowHandle window, PostedMessage *out) {
    MSG m;
    if (!::PeekMessageA(&m, toWindow(window), 0, 0, PM_REMOVE)) return false;
    copyMessage(m, out);
    return true;
}

bool waitMessage(WindowHandle window, PostedMessage *out) {
    MSG m;
    if (::GetMessageA(&m, toWindow(window), 0, 0) <= 0) return false;
    copyMessage(m, out);
    return true;
}

} // namespace platform
