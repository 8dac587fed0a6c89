// vekconv: converts one BMP file to a .vek file or back, through the codec
// library loaded at run time.
//
// Exit codes: 0 when the conversion succeeded, 1 when it failed or the codec
// could not be used, 2 for a usage error (too few arguments, an unknown
// command, an output name that does not fit).
//
// Standard output carries the converter's fixed messages. Standard error
// gets the reason of a failed conversion, and, only when it is a terminal,
// the progress of an encode.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <future>
#include <thread>

#include <unistd.h>

#include "module_loader.h"
#include "vek/vek.h"
#include "vek/vek_failures.h"
#include "window_messages.h"

namespace {

const size_t OUTPUT_NAME_SIZE = 260;  // with the terminating zero
const int EXIT_OK = 0;
const int EXIT_FAILED = 1;
const int EXIT_USAGE = 2;

// The file name within a path: from the character after its last backslash
// (or slash, the separator of this platform) on.
const char *fileNamePart(const char *argv0) {
    const char *name = argv0;
    for (const char *p = argv0; *p != '\0'; ++p)
        if (*p == '\\' || *p == '/') name = p + 1;
    return name;
}

void printUsage(const char *name) {
    std::printf("%s <de> <input.bmp> [output.vek]\n\n"
                "command:    <d> decode to Windows Bitmap.    <e> encode to VE-Picture.\n\n"
                "ex:\n    %s e bitmap.bmp compress.vek\n    %s d compress.vek bitmap.bmp\n\n"
                "\t(*) VEK compression technology is based on the ORLO archiver.\n",
                name, name, name);
}

// Fills `out` with the given output name, or the input name with its
// extension replaced. False when the name would not fit.
bool outputName(const char *input, const char *given, const char *extension, char out[OUTPUT_NAME_SIZE]) {
    if (given != nullptr) {
        if (std::strlen(given) >= OUTPUT_NAME_SIZE) return false;
        std::strcpy(out, given);
        return true;
    }
    // Only a dot in the file's own name starts its extension: a dot in a
    // folder name must not cut the path there.
    const char *dot = std::strrchr(fileNamePart(input), '.');
    const size_t stem = dot != nullptr ? static_cast<size_t>(dot - input) : std::strlen(input);
    if (stem + std::strlen(extension) >= OUTPUT_NAME_SIZE) return false;
    std::memcpy(out, input, stem);
    std::strcpy(out + stem, extension);
    return true;
}

// The progress of one encode as a single line on standard error, rewritten
// in place ("\r") from the percentages the codec posts to its progress
// target: a message window of this object's own thread, which waits for the
// messages and prints. The end is one more message on the same queue, so
// every percentage posted before it is shown first.
class ProgressLine {
public:
    explicit ProgressLine(VekCodecInterface *codec) : codec_(codec) {
        std::promise<platform::WindowHandle> made;
        std::future<platform::WindowHandle> window = made.get_future();
        thread_ = std::thread([this, &made] { run(made); });
        window_ = window.get();
        if (window_ != nullptr) {
            codec_->setProgressTarget(window_, PROGRESS_MESSAGE, 0);
        } else {
            thread_.join();
        }
    }
    ~ProgressLine() {
        stopThread();
        codec_->clearProgressTarget();
    }
    ProgressLine(const ProgressLine &) = delete;
    ProgressLine &operator=(const ProgressLine &) = delete;

    // After the encode: a completed one ends on 100 %; the line, if any was
    // shown, is closed so that what follows starts on a line of its own.
    void finish(bool done) {
        stopThread();
        if (done) show(100);
        if (shown_ >= 0) std::fputc('\n', stderr);
        std::fflush(stderr);
    }

private:
    static const uint32_t PROGRESS_MESSAGE = 0x8001;
    static const uint32_t END_MESSAGE = 0x8002;

    // The window belongs to this thread (on Windows only its own thread
    // takes its messages and destroys it).
    void run(std::promise<platform::WindowHandle> &made) {
        platform::WindowHandle window = platform::createMessageWindow();
        made.set_value(window);
        if (window == nullptr) return;
        platform::PostedMessage message;
        while (platform::waitMessage(window, &message) && message.message != END_MESSAGE)
            if (message.message == PROGRESS_MESSAGE) show(static_cast<int>(message.lParam));
        platform::destroyMessageWindow(window);
    }

    void stopThread() {
        if (!thread_.joinable()) return;
        if (!platform::postMessage(window_, END_MESSAGE, 0, 0)) return;  // the thread would wait for ever
        thread_.join();
    }

    void show(int percent) {
        if (percent == shown_ || percent < 0 || percent > 100) return;
        std::fprintf(stderr, "\rprogress: %3d %%", percent);
        std::fflush(stderr);
        shown_ = percent;
    }

    VekCodecInterface *codec_;
    platform::WindowHandle window_ = nullptr;
    int shown_ = -1;  // the percentage on the line; -1 while none is
    std::thread thread_;
};

} // namespace

int main(int argc, char **argv) {
#ifdef SIGXFSZ
    // Past a file-size limit a write must fail and be reported ("faild..."),
    // not end the program.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    platform::ModuleHandle library = platform::loadLibrary(VEK_LIBRARY_NAME);

    std::printf("VEK picture compressor - console converter\n\n");

    if (argc < 3) {
        printUsage(fileNamePart(argc > 0 ? argv[0] : "vekconv"));
        platform::freeLibrary(library);
        return EXIT_USAGE;
    }
    if (library == nullptr) {
        std::printf("File not found - VEK.DLL\n");
        return EXIT_FAILED;
    }
    VekConstructorFn construct =
        reinterpret_cast<VekConstructorFn>(platform::getProcAddress(library, VEK_CONSTRUCTOR_NAME));
    if (construct == nullptr) {
        std::printf("GetProc error!\n");
        platform::freeLibrary(library);
        return EXIT_FAILED;
    }
    VekCodecInterface *codec = construct();
    if (codec == nullptr) {
        platform::freeLibrary(library);
        return EXIT_FAILED;
    }

    const int version = codec->getVersion();
    std::printf("Loading... 'VEK.DLL' version %x.%02x\n", version >> 8, version & 0xFF);

    int status = EXIT_USAGE;
    const char *input = argv[2];
    const char *given = argc > 3 ? argv[3] : nullptr;
    char output[OUTPUT_NAME_SIZE];
    const char command = argv[1][0];
    if (command == 'd' || command == 'D' || command == 'e' || command == 'E') {
        const bool decode = command == 'd' || command == 'D';
        if (!outputName(input, given, decode ? ".bmp" : ".vek", output)) {
            std::printf("output name too long (at most %u characters)\n",
                        static_cast<unsigned>(OUTPUT_NAME_SIZE - 1));
        } else {
            std::printf(decode ? "decompressing to BMP\n" : "compressing to VEK\n");
            std::fflush(stdout);
            int done;
            if (decode) {
                done = codec->decodeFile(input, output);
            } else if (::isatty(STDERR_FILENO)) {
                ProgressLine progress(codec);
                done = codec->encodeFile(input, output);
                progress.finish(done != 0);
            } else {
                done = codec->encodeFile(input, output);
            }
            if (!done) {
                std::printf("faild...\n");
                std::fflush(stdout);
                std::fprintf(stderr, "vekconv: %s\n", vekFailureText(codec->getLastFailure()));
            }
            status = done ? EXIT_OK : EXIT_FAILED;
        }
    }

    VekDestructorFn destroy =
        reinterpret_cast<VekDestructorFn>(platform::getProcAddress(library, VEK_DESTRUCTOR_NAME));
    if (destroy != nullptr) destroy(codec);
    platform::freeLibrary(library);
    return status;
}
