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
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
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
// target. The target is a receiver of the platform's window messages; as
// the message layer asks, its notifier only wakes this object's own thread,
// which takes the messages and prints.
class ProgressLine {
public:
    explicit ProgressLine(VekCodecInterface *codec) : codec_(codec) {
        platform::registerWindow(this, &ProgressLine::wake, this);
        codec_->setProgressTarget(this, PROGRESS_MESSAGE, 0);
        thread_ = std::thread([this] { run(); });
    }
    ~ProgressLine() {
        stopThread();
        codec_->clearProgressTarget();
        platform::unregisterWindow(this);
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

    static void wake(void *context) {
        ProgressLine *self = static_cast<ProgressLine *>(context);
        std::lock_guard<std::mutex> guard(self->lock_);
        self->woken_ = true;
        self->signal_.notify_one();
    }

    void run() {
        std::unique_lock<std::mutex> guard(lock_);
        for (;;) {
            signal_.wait(guard, [this] { return woken_ || stopping_; });
            woken_ = false;
            const bool last = stopping_;
            guard.unlock();
            platform::PostedMessage message;
            while (platform::peekMessage(this, &message))
                if (message.message == PROGRESS_MESSAGE) show(static_cast<int>(message.lParam));
            guard.lock();
            if (last) return;
        }
    }

    void stopThread() {
        if (!thread_.joinable()) return;
        {
            std::lock_guard<std::mutex> guard(lock_);
            stopping_ = true;
        }
        signal_.notify_one();
        thread_.join();
    }

    void show(int percent) {
        if (percent == shown_ || percent < 0 || percent > 100) return;
        std::fprintf(stderr, "\rprogress: %3d %%", percent);
        std::fflush(stderr);
        shown_ = percent;
    }

    VekCodecInterface *codec_;
    std::mutex lock_;
    std::condition_variable signal_;
    bool woken_ = false;
    bool stopping_ = false;
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
