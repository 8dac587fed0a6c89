// A host of VEK.DLL built as the platform's own C++ compiler builds
// programs: clang in that compiler's compatibility mode
// (--target=i686-pc-windows-msvc), which follows its class layout and its
// member calling convention (`this` in ECX, arguments on the stack popped by
// the callee, the hidden result pointer of a structure returned by value on
// the stack). It includes the public header with its natural declarations
// and calls every operation through the object's virtual table.
//
// No C run-time: the entry point is start(), and everything comes from
// kernel32 through LoadLibraryA and GetProcAddress. It writes a small
// 8-bit picture, runs every operation on it, checks the results and that
// the stack pointer is where it was after repeated calls, prints what
// failed and exits with 0 when everything held, 1 otherwise.
#include "vek/vek.h"

typedef void *HANDLE;
typedef unsigned long DWORD;

extern "C" {
__declspec(dllimport) void *__stdcall LoadLibraryA(const char *name);
__declspec(dllimport) void *__stdcall GetProcAddress(void *module, const char *name);
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(unsigned code);

// The compiler may turn copies and fills into calls of these.
void *memcpy(void *to, const void *from, unsigned n) {
    unsigned char *d = static_cast<unsigned char *>(to);
    const unsigned char *s = static_cast<const unsigned char *>(from);
    while (n--) *d++ = *s++;
    return to;
}
void *memset(void *to, int value, unsigned n) {
    unsigned char *d = static_cast<unsigned char *>(to);
    while (n--) *d++ = static_cast<unsigned char>(value);
    return to;
}
}

namespace {

typedef HANDLE(__stdcall *GetStdHandleFn)(DWORD);
typedef int(__stdcall *WriteFileFn)(HANDLE, const void *, DWORD, DWORD *, void *);
typedef HANDLE(__stdcall *CreateFileAFn)(const char *, DWORD, DWORD, void *, DWORD, DWORD, HANDLE);
typedef int(__stdcall *ReadFileFn)(HANDLE, void *, DWORD, DWORD *, void *);
typedef int(__stdcall *CloseHandleFn)(HANDLE);

GetStdHandleFn getStdHandle;
WriteFileFn writeFile;
CreateFileAFn createFile;
ReadFileFn readFile;
CloseHandleFn closeHandle;

const DWORD STD_OUTPUT = static_cast<DWORD>(-11);
const DWORD GENERIC_READ_ACCESS = 0x80000000u;
const DWORD GENERIC_WRITE_ACCESS = 0x40000000u;
const DWORD CREATE_ALWAYS_DISPOSITION = 2;
const DWORD OPEN_EXISTING_DISPOSITION = 3;
HANDLE const INVALID_HANDLE = reinterpret_cast<HANDLE>(-1);

unsigned failures = 0;

unsigned length(const char *s) {
    unsigned n = 0;
    while (s[n] != '\0') ++n;
    return n;
}

void say(const char *text) {
    DWORD written;
    writeFile(getStdHandle(STD_OUTPUT), text, length(text), &written, nullptr);
}

void check(bool holds, const char *what) {
    if (!holds) {
        ++failures;
        say("FAILED: ");
        say(what);
        say("\n");
    }
}

// The stack pointer of the caller's frame, read directly: a callee that
// pops too much or too little leaves it moved after the call.
__attribute__((always_inline)) inline unsigned stackPointer() {
    unsigned sp;
    __asm__ volatile("movl %%esp, %0" : "=r"(sp));
    return sp;
}

// The picture: 5 x 3 pixels, 8 bits, a 256-entry colour table; rows of 8
// bytes. Every accessor has a different answer for it.
const unsigned WIDTH = 5, HEIGHT = 3, STRIDE = 8;
const unsigned PALETTE = 1024, PIXELS = STRIDE * HEIGHT;
const unsigned FILE_SIZE = 54 + PALETTE + PIXELS;
unsigned char picture[FILE_SIZE];

void put(unsigned at, unsigned value, unsigned bytes) {
    for (unsigned i = 0; i < bytes; ++i) picture[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

void makePicture() {
    put(0, 0x4D42, 2);
    put(2, FILE_SIZE, 4);
    put(10, 54 + PALETTE, 4);
    put(14, 40, 4);
    put(18, WIDTH, 4);
    put(22, HEIGHT, 4);
    put(26, 1, 2);
    put(28, 8, 2);
    put(34, PIXELS, 4);
    for (unsigned i = 0; i < PALETTE; ++i) picture[54 + i] = static_cast<unsigned char>(i / 4);
    unsigned x = 12345;
    for (unsigned i = 0; i < PIXELS; ++i) {
        x = x * 1103515245u + 12345u;
        picture[54 + PALETTE + i] = static_cast<unsigned char>(x >> 16);
    }
}

bool writeWhole(const char *path, const void *data, unsigned size) {
    HANDLE file = createFile(path, GENERIC_WRITE_ACCESS, 0, nullptr, CREATE_ALWAYS_DISPOSITION, 0x80, nullptr);
    if (file == INVALID_HANDLE) return false;
    DWORD written = 0;
    const bool done = writeFile(file, data, size, &written, nullptr) && written == size;
    return closeHandle(file) && done;
}

// Bytes read from a file, at most `capacity`; -1 when it cannot be read.
int readWhole(const char *path, void *data, unsigned capacity) {
    HANDLE file = createFile(path, GENERIC_READ_ACCESS, 1, nullptr, OPEN_EXISTING_DISPOSITION, 0x80, nullptr);
    if (file == INVALID_HANDLE) return -1;
    DWORD got = 0;
    const bool done = readFile(file, data, capacity, &got, nullptr) != 0;
    closeHandle(file);
    return done ? static_cast<int>(got) : -1;
}

bool same(const unsigned char *a, const unsigned char *b, unsigned n) {
    for (unsigned i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

// The accessors after the picture was loaded, slot 4 first.
void checkLoadedPicture(VekCodecInterface *codec) {
    const BITMAPFILEHEADER fh = codec->getFileHeader();
    check(fh.bfType == 0x4D42, "getFileHeader: bfType");
    check(fh.bfSize == FILE_SIZE, "getFileHeader: bfSize");
    check(fh.bfReserved1 == 0 && fh.bfReserved2 == 0, "getFileHeader: reserved fields");
    check(fh.bfOffBits == 54 + PALETTE, "getFileHeader: bfOffBits");
    // The object must be intact after the structure was stored: its table
    // pointer is the first thing a wrongly placed result would overwrite.
    check(codec->getVersion() == 1, "getVersion after getFileHeader");

    BITMAPINFOHEADER ih;
    memset(&ih, 0xEE, sizeof(ih));
    codec->getInfoHeader(&ih);
    check(ih.biSize == 40 && ih.biWidth == static_cast<int32_t>(WIDTH) &&
              ih.biHeight == static_cast<int32_t>(HEIGHT) && ih.biPlanes == 1 && ih.biBitCount == 8,
          "getInfoHeader");
    uint8_t *image = codec->getImage();
    check(image != nullptr, "getImage");
    check(codec->getImageLength() == static_cast<int>(PALETTE + PIXELS), "getImageLength");
    check(codec->getBits() == image + (fh.bfOffBits - 54), "getBits lies past the colour table");
    if (image != nullptr) check(same(image, picture + 54, PALETTE + PIXELS), "getImage: the picture's bytes");
    check(codec->getHeight() == static_cast<int>(HEIGHT), "getHeight");
    check(codec->getWidth() == static_cast<int>(WIDTH), "getWidth");
    check(codec->getStride() == static_cast<int>(STRIDE), "getStride");
    check(codec->getBitCount() == 8, "getBitCount");
}

unsigned char fileBytes[65536];
unsigned char memoryBytes[65536];
unsigned char decodedBytes[65536];

void run() {
    void *kernel = LoadLibraryA("kernel32.dll");
    if (kernel == nullptr) ExitProcess(3);
    getStdHandle = reinterpret_cast<GetStdHandleFn>(GetProcAddress(kernel, "GetStdHandle"));
    writeFile = reinterpret_cast<WriteFileFn>(GetProcAddress(kernel, "WriteFile"));
    createFile = reinterpret_cast<CreateFileAFn>(GetProcAddress(kernel, "CreateFileA"));
    readFile = reinterpret_cast<ReadFileFn>(GetProcAddress(kernel, "ReadFile"));
    closeHandle = reinterpret_cast<CloseHandleFn>(GetProcAddress(kernel, "CloseHandle"));
    if (!getStdHandle || !writeFile || !createFile || !readFile || !closeHandle) ExitProcess(3);

    void *library = LoadLibraryA(VEK_LIBRARY_NAME);
    check(library != nullptr, "LoadLibraryA(\"VEK.DLL\")");
    if (library == nullptr) return;
    VekConstructorFn construct = reinterpret_cast<VekConstructorFn>(GetProcAddress(library, VEK_CONSTRUCTOR_NAME));
    VekDestructorFn destroy = reinterpret_cast<VekDestructorFn>(GetProcAddress(library, VEK_DESTRUCTOR_NAME));
    check(construct != nullptr && destroy != nullptr, "GetProcAddress of the two exports");
    if (construct == nullptr || destroy == nullptr) return;

    makePicture();
    check(writeWhole("host.bmp", picture, FILE_SIZE), "writing host.bmp");

    const unsigned before = stackPointer();
    VekCodecInterface *codec = construct();
    check(codec != nullptr, "VEK_Constructor");
    if (codec == nullptr) return;

    // Every slot once, in slot order.
    check(codec->getVersion() == 1, "getVersion");
    check(codec->getImage() == nullptr && codec->getBits() == nullptr, "a new object holds no picture");
    check(codec->encodeFile("host.bmp", "host.vek") == 1, "encodeFile");
    check(codec->decodeFile("host.vek", "back.bmp") == 1, "decodeFile");
    const int restored = readWhole("back.bmp", decodedBytes, sizeof(decodedBytes));
    check(restored == static_cast<int>(FILE_SIZE) && same(decodedBytes + 54, picture + 54, PALETTE + PIXELS),
          "decodeFile: the restored file");
    check(codec->loadFile("host.vek") == 1, "loadFile");
    checkLoadedPicture(codec);
    int window = 0;
    codec->setProgressTarget(&window, 0x8001, 7);
    check(codec->clearProgressTarget() == 0, "clearProgressTarget");

    // The operations appended to the table: encode, measure, decode and load
    // in memory, with the same bytes as the file operations.
    const int vekSize = readWhole("host.vek", fileBytes, sizeof(fileBytes));
    check(vekSize > 12, "reading host.vek");
    const uint32_t bound = codec->getEncodeBound(FILE_SIZE);
    check(bound >= static_cast<uint32_t>(vekSize) && bound <= sizeof(memoryBytes), "getEncodeBound");
    uint32_t memorySize = sizeof(memoryBytes);
    check(codec->encodeMemory(picture, FILE_SIZE, memoryBytes, &memorySize) == 1, "encodeMemory");
    check(memorySize == static_cast<uint32_t>(vekSize) && same(memoryBytes, fileBytes, memorySize),
          "encodeMemory: the bytes of encodeFile");
    check(codec->getDecodedSize(memoryBytes, memorySize) == static_cast<uint32_t>(restored), "getDecodedSize");
    uint32_t decodedSize = sizeof(decodedBytes);
    memset(decodedBytes, 0, sizeof(decodedBytes));
    check(codec->decodeMemory(memoryBytes, memorySize, decodedBytes, &decodedSize) == 1, "decodeMemory");
    check(decodedSize == static_cast<uint32_t>(restored) && same(decodedBytes + 54, picture + 54, PALETTE + PIXELS),
          "decodeMemory: the restored picture");
    check(codec->loadMemory(memoryBytes, memorySize) == 1, "loadMemory");
    checkLoadedPicture(codec);

    // Slot 4 and the accessors many times over: the callee must pop exactly
    // what the caller pushed, every time.
    for (int i = 0; i < 100; ++i) {
        const BITMAPFILEHEADER fh = codec->getFileHeader();
        if (fh.bfSize != FILE_SIZE || fh.bfOffBits != 54 + PALETTE) {
            check(false, "getFileHeader, repeated");
            break;
        }
        BITMAPINFOHEADER ih;
        codec->getInfoHeader(&ih);
        codec->setProgressTarget(nullptr, 0, 0);
        if (codec->getWidth() != static_cast<int>(WIDTH) || codec->getDecodedSize(memoryBytes, memorySize) == 0) {
            check(false, "accessors, repeated");
            break;
        }
    }
    destroy(codec);
    check(stackPointer() == before, "the stack pointer is unchanged after all the calls");
}

} // namespace

extern "C" void start() {
    run();
    say(failures == 0 ? "every slot answered as expected\n" : "");
    ExitProcess(failures == 0 ? 0 : 1);
}
