// Window messages on Linux: the program's copy of this file keeps the
// queues of its message windows and exports vek_post_window_message; every
// copy's postMessage, the codec library's included, posts through that one
// entry point, looked up in the process's global symbols. Where there is no
// such entry (a program linked without exporting it, a WebAssembly module)
// a copy posts to its own queues.
#include "window_messages.h"

#if !defined(__EMSCRIPTEN__)
#include <dlfcn.h>
#endif

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

namespace {

struct Receiver {
    std::deque<platform::PostedMessage> queue;
    std::condition_variable arrived;
    platform::MessageNotifier notify = nullptr;
    void *context = nullptr;
};

std::mutex &registryLock() {
    static std::mutex lock;
    return lock;
}

// Each window's handle is the address of its receiver.
std::map<platform::WindowHandle, Receiver *> &registry() {
    static std::map<platform::WindowHandle, Receiver *> receivers;
    return receivers;
}

typedef int (*PostEntry)(void *window, uint32_t message, uintptr_t wParam, intptr_t lParam);

} // namespace

// The entry point through which every copy of this layer in the process
// posts: exported from the program (its link adds it to the dynamic symbol
// table), so a library loaded at run time finds the program's queues.
extern "C" __attribute__((visibility("default"))) int vek_post_window_message(void *window, uint32_t message,
                                                                              uintptr_t wParam, intptr_t lParam) {
    platform::MessageNotifier notify = nullptr;
    void *context = nullptr;
    {
        std::lock_guard<std::mutex> guard(registryLock());
        auto it = registry().find(window);
        if (it == registry().end()) return 0;
        it->second->queue.push_back(platform::PostedMessage{window, message, wParam, lParam});
        it->second->arrived.notify_all();
        notify = it->second->notify;
        context = it->second->context;
    }
    if (notify != nullptr) notify(context);
    return 1;
}

namespace platform {

WindowHandle createMessageWindow(MessageNotifier notify, void *context) {
    Receiver *r = new Receiver;
    r->notify = notify;
    r->context = context;
    std::lock_guard<std::mutex> guard(registryLock());
    registry()[r] = r;
    return r;
}

void destroyMessageWindow(WindowHandle window) {
    Receiver *r = nullptr;
    {
        std::lock_guard<std::mutex> guard(registryLock());
        auto it = registry().find(window);
        if (it == registry().end()) return;
        r = it->second;
        registry().erase(it);
    }
    delete r;
}

#if !defined(__EMSCRIPTEN__)
namespace {
const char POST_ENTRY[] = "vek_post_window_message";
}
#endif

bool postMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    // Looked up at each post: the program that hosts a library may be one
    // without message windows.
#if defined(__EMSCRIPTEN__)
    // One module without dynamic linking: these queues are the program's.
    PostEntry post = &vek_post_window_message;
#else
    PostEntry post = reinterpret_cast<PostEntry>(::dlsym(RTLD_DEFAULT, POST_ENTRY));
    if (post == nullptr) post = &vek_post_window_message;
#endif
    return post(window, message, wParam, lParam) != 0;
}

bool peekMessage(WindowHandle window, PostedMessage *out) {
    std::lock_guard<std::mutex> guard(registryLock());
    auto it = registry().find(window);
    if (it == registry().end() || it->second->queue.empty()) return false;
    *out = it->second->queue.front();
    it->second->queue.pop_front();
    return true;
}

bool waitMessage(WindowHandle window, PostedMessage *out) {
    std::unique_lock<std::mutex> guard(registryLock());
    auto it = registry().find(window);
    if (it == registry().end()) return false;
    Receiver *r = it->second;
    // Only the owning thread destroys the window, so r stays valid here.
    r->arrived.wait(guard, [r] { return !r->queue.empty(); });
    *out = r->queue.front();
    r->queue.pop_front();
    return true;
}

} // namespace platform
