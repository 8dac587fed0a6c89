// Progress messages of VEK.DLL in a real window: the encode runs in another
// thread and posts to the window, whose thread takes the messages in an
// ordinary message loop (GetMessage, DispatchMessage) and hands them to the
// window procedure.
#include <windows.h>  // before vek.h: its bitmap header types

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "module_loader.h"
#include "test_support.h"
#include "vek/vek.h"

using namespace testsupport;

namespace {

const UINT PROGRESS = WM_APP + 1;
const UINT FINISHED = WM_APP + 2;
const WPARAM PARAM = 42;

struct Received {
    std::vector<LPARAM> percentages;
    std::vector<WPARAM> params;
    int finished = -1;          // the encode's result, once it arrived
    bool progressAfterFinished = false;
};

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Received *r = reinterpret_cast<Received *>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (r != nullptr && message == PROGRESS) {
        if (r->finished >= 0) r->progressAfterFinished = true;
        r->percentages.push_back(lParam);
        r->params.push_back(wParam);
        return 0;
    }
    if (r != nullptr && message == FINISHED) {
        r->finished = static_cast<int>(wParam);
        return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

TEST(ProgressWindow, EncoderProgressReachesTheWindowProcedure) {
    // Rows of flat colour give runs all through the picture.
    Bytes pixels = smoothPixels(256, 256, 24, 2);
    for (size_t i = 0; i < pixels.size(); i += 2000)
        for (size_t k = 0; k < 40 && i + k < pixels.size(); ++k) pixels[i + k] = 0x55;
    TempDir dir;
    const std::string bmp = dir.file("p.bmp"), vek = dir.file("p.vek");
    writeFile(bmp, makeBmp(256, 256, 24, Bytes(), pixels));

    platform::ModuleHandle library = platform::loadLibrary(VEK_LIBRARY_NAME);
    ASSERT_NE(library, nullptr);
    auto construct = reinterpret_cast<VekConstructorFn>(platform::getProcAddress(library, VEK_CONSTRUCTOR_NAME));
    auto destroy = reinterpret_cast<VekDestructorFn>(platform::getProcAddress(library, VEK_DESTRUCTOR_NAME));
    ASSERT_NE(construct, nullptr);
    ASSERT_NE(destroy, nullptr);

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "VekProgressTest";
    ASSERT_NE(::RegisterClassA(&windowClass), 0);
    // A message-only window: a window of its own class and procedure with
    // the thread's message queue, which needs no display.
    HWND window = ::CreateWindowExA(0, "VekProgressTest", "progress", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    Received received;
    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&received));

    VekCodecInterface *codec = construct();
    ASSERT_NE(codec, nullptr);
    codec->setProgressTarget(window, PROGRESS, PARAM);
    std::thread encoder([&] {
        const int result = codec->encodeFile(bmp.c_str(), vek.c_str());
        ::PostMessageA(window, FINISHED, static_cast<WPARAM>(result), 0);
    });
    MSG message;
    while (received.finished < 0 && ::GetMessageA(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
    encoder.join();
    // Whatever is still queued (nothing should be).
    while (::PeekMessageA(&message, window, 0, 0, PM_REMOVE)) ::DispatchMessageA(&message);

    EXPECT_EQ(received.finished, 1);
    ASSERT_GE(received.percentages.size(), 5u);
    for (size_t i = 0; i < received.percentages.size(); ++i) {
        EXPECT_EQ(received.params[i], PARAM);
        EXPECT_GE(received.percentages[i], 0);
        EXPECT_LE(received.percentages[i], 100);
        if (i > 0) {
            EXPECT_GT(received.percentages[i], received.percentages[i - 1]);
        }
    }
    EXPECT_EQ(received.percentages.back(), 100);
    EXPECT_FALSE(received.progressAfterFinished) << "posted messages arrive in the order they were posted";

    destroy(codec);
    ::DestroyWindow(window);
    platform::freeLibrary(library);
}
