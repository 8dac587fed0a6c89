// Public interface of the VEK codec library.
//
// Callers load the library at run time, look up VEK_Constructor and
// VEK_Destructor by their plain names and reach the codec object only through
// the virtual operations declared below. The order of these operations is the
// binary contract between the library and its callers: never reorder, insert
// or remove one, and never add a virtual destructor (it would take slots).
#ifndef VEK_VEK_H
#define VEK_VEK_H

#include <cstdint>

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

static_assert(sizeof(BITMAPFILEHEADER) == 14, "BITMAPFILEHEADER must be 14 bytes");
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER must be 40 bytes");

// Opaque window handle, message number and message parameter of the progress
// target (see setProgressTarget).
typedef void *VekWindowHandle;
typedef uint32_t VekMessage;
typedef uintptr_t VekMessageParam;

// The codec object as its callers see it: fifteen operations in slot order.
// Results are 1 for success and 0 for failure unless stated otherwise.
class VekCodecInterface {
public:
    virtual int getVersion() = 0;                                   // slot 0
    virtual int decodeFile(const char *vekPath, const char *bmpPath) = 0; // slot 1
    virtual int encodeFile(const char *bmpPath, const char *vekPath) = 0; // slot 2
    virtual int loadFile(const char *vekPath) = 0;                   // slot 3
    virtual BITMAPFILEHEADER getFileHeader() = 0;                    // slot 4
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

#endif
