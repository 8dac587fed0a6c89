#include "window_messages.h"

#include <deque>
#include <map>
#include <mutex>

namespace platform {

namespace {

struct Receiver {
    MessageNotifier notify = nullptr;
    void *context = nullptr;
    std::deque<PostedMessage> queue;
};

std::mutex &registryLock() {
    static std::mutex lock;
    return lock;
}

std::map<WindowHandle, Receiver> &registry() {
    static std::map<WindowHandle, Receiver> receivers;
    return receivers;
}

} // namespace

void registerWindow(WindowHandle window, MessageNotifier notify, void *context) {
    std::lock_guard<std::mutex> guard(registryLock());
    Receiver &r = registry()[window];
    r.notify = notify;
    r.context = context;
}

void unregisterWindow(WindowHandle window) {
    std::lock_guard<std::mutex> guard(registryLock());
    registry().erase(window);
}

bool postMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    MessageNotifier notify = nullptr;
    void *context = nullptr;
    {
        std::lock_guard<std::mutex> guard(registryLock());
        auto it = registry().find(window);
        if (it == registry().end()) return false;
        it->second.queue.push_back(PostedMessage{window, message, wParam, lParam});
        notify = it->second.notify;
        context = it->second.context;
    }
    if (notify != nullptr) notify(context);
    return true;
}

bool peekMessage(WindowHandle window, PostedMessage *out) {
    std::lock_guard<std::mutex> guard(registryLock());
    auto it = registry().find(window);
    if (it == registry().end() || it->second.queue.empty()) return false;
    *out = it->second.queue.front();
    it->second.queue.pop_front();
    return true;
}

} // namespace platform
