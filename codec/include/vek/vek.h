// Public interface of the VEK codec library.
//
// Callers load the library at run time, look up VEK_Constructor and
// VEK_Destructor by their plain names and reach the codec object only through
// the virtual operations declared below. The order of these operations is the
// binary contract between the library and its callers: never reorder, insert
// or remove one, and never add a virtual destructor (it would take slots).
// New operations are only ever appended, so a caller built for the first
// fifteen keeps working.
//
// What hosts may rely on:
// - Objects are independent: any number of them may run operations at the
//   same time, each in its own thread. One object is used by one thread at a
//   time (it holds the state of the operation that runs on it).
// - An encode or decode of a picture of two blocks or more (more than about
//   2 MB of data) works with threads of its own besides the caller's: as
//   many as the environment variable VEK_THREADS says (1: none, everything
//   in the caller's thread), by default the number of processors, at most 2
//   (a decode then starts its second thread only once a processor has been
//   seen free for it, so that it never runs slower than in one thread).
//   They end before the operation returns; the bytes written are the same
//   whatever their number, and progress messages are posted from the
//   caller's thread, in the same order and with the same values.
// - An operation that cannot complete (a file that cannot be opened or
//   created, a refused picture, damaged or truncated .vek data, a write that
//   fails, out of memory, an output buffer too small) returns 0 and leaves
//   the process and the object usable; getLastFailure then tells why. No
//   operation ends the process or lets an exception out. A failed file
//   operation leaves no output file behind, except the empty one of a
//   refused BMP picture.
#ifndef VEK_VEK_H
#define VEK_VEK_H

// <stdint.h> rather than <cstdint>: hosts built without a C++ library
// (freestanding) can include this header too.
#include <stdint.h>

// On Windows a host that includes <windows.h> (before this header) gets the
// system's definitions of the two bitmap headers, which have the same
// layout; everyone else gets these.
#if !(defined(_WIN32) && defined(_WINGDI_))
#pragma pack(push, 1)

// The 14-byte file header of a Windows bitmap, little-endian.
struct BITMAPFILEHEADER {
    uint16_t bfType;
    uint32_t bfSize;
    uint16_t bfReserved1;
    uint16_t bfReserved2;
    uint32_t bfOffBits;
};

// The 40-byte info header of a Windows bitmap, little-endian.
struct BITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};

#pragma pack(pop)
#endif

static_assert(sizeof(BITMAPFILEHEADER) == 14, "BITMAPFILEHEADER must be 14 bytes");
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER must be 40 bytes");

// Why the last operation of an object returned 0 (getLastFailure). The
// numbers are part of the binary interface: they never change, and new ones
// are only appended. vek_failures.h has their texts in plain words.
enum VekFailureCode {
    VEK_FAILURE_NONE = 0,              // the last operation succeeded, or none has run
    VEK_FAILURE_OPEN_INPUT = 1,        // the input file cannot be opened (missing, unreadable, a folder)
    VEK_FAILURE_CREATE_OUTPUT = 2,     // the output file cannot be created
    VEK_FAILURE_SAME_FILE = 3,         // the output names the input file itself
    VEK_FAILURE_NOT_BMP = 4,           // the input does not start with "BM" (getEncodeBound: too short for one)
    VEK_FAILURE_BMP_HEADER = 5,        // info header shorter than 40 bytes, or pixel data starting inside the headers
    VEK_FAILURE_COMPRESSED_BMP = 6,    // biCompression is not 0 (run-length coded, bit fields, embedded formats)
    VEK_FAILURE_BIT_COUNT = 7,         // bits per pixel other than 8, 16, 24 or 32
    VEK_FAILURE_TOP_DOWN = 8,          // rows stored top-down (negative height)
    VEK_FAILURE_TOO_LARGE = 9,         // over 65,535 pixels wide or high, 65,535 bytes of headers and colour
                                       // table, or 2^31 - 1 bytes of data or of coded stream
    VEK_FAILURE_SHORT_BMP = 10,        // the BMP file is shorter than its headers say
    VEK_FAILURE_NOT_VEK = 11,          // not a .vek file: wrong magic, shorter than its header, or a header
                                       // no encoder writes
    VEK_FAILURE_DAMAGED_VEK = 12,      // the coded data of a .vek file are damaged or cut short
    VEK_FAILURE_OUTPUT_TOO_SMALL = 13, // the caller's output buffer cannot hold the result (memory operations)
    VEK_FAILURE_OUT_OF_MEMORY = 14,    // memory for the work buffers or the picture could not be had
    VEK_FAILURE_WRITE = 15,            // writing the output failed (full disk, file size limit)
    VEK_FAILURE_READ = 16,             // reading the input failed part-way
    VEK_FAILURE_ARGUMENTS = 17,        // a null pointer or overlapping input and output ranges
    VEK_FAILURE_INTERNAL = 18          // an unexpected error inside the codec
};

// Opaque window handle, message number and message parameter of the progress
// target (see setProgressTarget).
typedef void *VekWindowHandle;
typedef uint32_t VekMessage;
typedef uintptr_t VekMessageParam;

// Slot 4 returns a 14-byte structure by value. On 32-bit Windows the
// platform's own C++ compiler passes `this` of a member function in ECX and
// the hidden result pointer on the stack (popped by the callee, returned in
// EAX), while MinGW's g++ (and clang targeting MinGW) swaps them: the
// result pointer in ECX, `this` on the stack. The library is built with g++
// and must answer the platform compiler's hosts, so with MinGW the slot is
// declared with that result pointer as an explicit argument, which g++ passes
// exactly the platform compiler's way. Other compilers and platforms see the
// natural declaration; callers write codec->getFileHeader() either way.
#if defined(__MINGW32__) && !defined(_WIN64)
#define VEK_FILE_HEADER_BY_POINTER 1
#else
#define VEK_FILE_HEADER_BY_POINTER 0
#endif

// The codec object as its callers see it: its operations in slot order.
// Results are 1 for success and 0 for failure unless stated otherwise.
class VekCodecInterface {
public:
    virtual int getVersion() = 0;                                   // slot 0
    virtual int decodeFile(const char *vekPath, const char *bmpPath) = 0; // slot 1
    virtual int encodeFile(const char *bmpPath, const char *vekPath) = 0; // slot 2
    virtual int loadFile(const char *vekPath) = 0;                   // slot 3
#if VEK_FILE_HEADER_BY_POINTER
    // Copies the header to *result and returns result.
    virtual BITMAPFILEHEADER *getFileHeader(BITMAPFILEHEADER *result) = 0; // slot 4
#else
    virtual BITMAPFILEHEADER getFileHeader() = 0;                    // slot 4
#endif
    virtual void getInfoHeader(BITMAPINFOHEADER *out) = 0;           // slot 5
    virtual uint8_t *getImage() = 0;                                 // slot 6
    virtual int getImageLength() = 0;                                // slot 7
    virtual uint8_t *getBits() = 0;                                  // slot 8
    virtual int getHeight() = 0;                                     // slot 9
    virtual int getWidth() = 0;                                      // slot 10
    virtual int getStride() = 0;                                     // slot 11
    virtual int getBitCount() = 0;                                   // slot 12
    virtual void setProgressTarget(VekWindowHandle window, VekMessage message,
                                   VekMessageParam param) = 0;       // slot 13
    virtual int clearProgressTarget() = 0;                           // slot 14

    // In-memory operations. `bmp` holds a whole BMP file image, `vek` a
    // whole .vek file image; the ranges given are never read or written
    // outside, and the input and output ranges must not overlap. Capacities
    // go in through *vekSize / *bmpSize and the bytes written come out there
    // on success (left unchanged on failure, when the output's contents are
    // undefined).

    // The largest .vek size that encodeMemory can produce for a BMP file of
    // bmpSize bytes, whatever its contents; 0 when no BMP file of that size
    // can be encoded.
    virtual uint32_t getEncodeBound(uint32_t bmpSize) = 0;           // slot 15
    // Encodes a BMP file image: the same bytes as encodeFile. Bytes past the
    // end of a picture shorter than its headers say are read as zeros, as
    // in encodeFile.
    virtual int encodeMemory(const void *bmp, uint32_t bmpSize, void *vek,
                             uint32_t *vekSize) = 0;                 // slot 16
    // The size of the BMP file that decoding these bytes gives, from the
    // 12-byte header; 0 when the header is refused.
    virtual uint32_t getDecodedSize(const void *vek, uint32_t vekSize) = 0; // slot 17
    // Decodes into a BMP file image: the same bytes as decodeFile.
    virtual int decodeMemory(const void *vek, uint32_t vekSize, void *bmp,
                             uint32_t *bmpSize) = 0;                 // slot 18
    // Like loadFile, from memory: afterwards the accessors describe the
    // picture.
    virtual int loadMemory(const void *vek, uint32_t vekSize) = 0;   // slot 19

    // Why the object's last operation returned 0: a VekFailureCode. Every
    // operation from slot 1 to 3 and 15 to 19 sets it: VEK_FAILURE_NONE when
    // it succeeded, exactly one other code when it returned 0. The
    // accessors and the progress operations leave it alone.
    virtual int getLastFailure() = 0;                                // slot 20

#if VEK_FILE_HEADER_BY_POINTER
    // The natural call for callers built with MinGW (not a slot).
    BITMAPFILEHEADER getFileHeader() {
        BITMAPFILEHEADER header;
        getFileHeader(&header);
        return header;
    }
#endif

protected:
    // Objects are destroyed only through VEK_Destructor.
    ~VekCodecInterface() = default;
};

// Names and types of the two exports, looked up with the module loader.
#define VEK_CONSTRUCTOR_NAME "VEK_Constructor"
#define VEK_DESTRUCTOR_NAME "VEK_Destructor"
#define VEK_LIBRARY_NAME "VEK.DLL"

typedef VekCodecInterface *(*VekConstructorFn)();
typedef void (*VekDestructorFn)(VekCodecInterface *);

// Hosts linked against the library (pkg-config "vek", or the CMake target
// VEK::vek) may call the two exports directly instead of looking them up.
extern "C" {
VekCodecInterface *VEK_Constructor();
void VEK_Destructor(VekCodecInterface *codec);
}

#endif
