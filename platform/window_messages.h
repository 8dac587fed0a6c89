// Posting of window messages between a library and the program that hosts it.
//
// A program creates a message window, a receiver owned by the calling
// thread, and hands its handle to whoever posts (the codec library's
// progress target). Posting appends a message to that window's queue and
// never waits for the receiver. The owning thread takes the messages with
// peekMessage (without waiting) or waitMessage (waiting for one).
//
// On Windows the handle is a real message-only window (HWND) and the
// messages go through the system's message queue (PostMessageA), so any
// window of the program, not only those made here, can be posted to. On
// Linux the queues belong to the program: its copy of this layer keeps them
// and exports one entry point, which a library's copy finds at run time in
// the process's global symbols. A library hosted by a program without that
// layer finds no entry point, and its posts fail as posts to a window that
// is gone do. No second library is needed beside the codec.
#ifndef VEK_PLATFORM_WINDOW_MESSAGES_H
#define VEK_PLATFORM_WINDOW_MESSAGES_H

#include <cstdint>

namespace platform {

typedef void *WindowHandle;

struct PostedMessage {
    WindowHandle window;
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

typedef void (*MessageNotifier)(void *context);

// A new message window of the calling thread; null when none can be made.
// On Linux and in WebAssembly `notify` (if given) is called with `context`
// after each message is queued, from the posting thread: it must not block;
// it may wake the owning thread, or take the messages itself when the
// poster is the owning thread. On Windows the system's queue wakes the
// window's message loop, and `notify` is not used.
WindowHandle createMessageWindow(MessageNotifier notify = nullptr, void *context = nullptr);

// Destroys the window (from the thread that made it) and drops the messages
// still queued for it.
void destroyMessageWindow(WindowHandle window);

// Queues a message for `window`. Returns false when there is no such window
// (the message is dropped, as for a window that is gone).
bool postMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Takes the oldest queued message of `window`; false when there is none.
bool peekMessage(WindowHandle window, PostedMessage *out);

// Takes the oldest queued message of `window`, waiting for one; false when
// the window is not there.
bool waitMessage(WindowHandle window, PostedMessage *out);

} // namespace platform

#endif
