// Posting of window messages between a library and the program that hosts it.
//
// A receiver registers a handle (any unique pointer) and a notifier. Posting
// appends the message to that handle's queue and calls the notifier, which
// must not block or handle the message itself: it may only wake the
// receiver's own loop (for example by queueing an event). The receiver takes
// its messages with peekMessage. Posting never waits for the receiver.
//
// On Windows the handle is a real window (HWND) and the messages go through
// the system's message queue of the window's thread (PostMessageA), where
// the window's own message loop or peekMessage (from that thread) takes
// them; registering is then optional and the notifier is not needed.
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

// Registers a receiver for `window`; `notify` may be null.
void registerWindow(WindowHandle window, MessageNotifier notify, void *context);

// Removes the receiver and drops the messages still queued for it.
void unregisterWindow(WindowHandle window);

// Queues a message for `window`. Returns false when no receiver is registered
// for that handle (the message is dropped, as for a window that is gone).
bool postMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Takes the oldest queued message of `window`; false when there is none.
bool peekMessage(WindowHandle window, PostedMessage *out);

} // namespace platform

#endif
