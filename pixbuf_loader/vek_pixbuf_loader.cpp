// gdk-pixbuf loader module for .vek pictures: every program that reads
// pictures through gdk-pixbuf (GTK image viewers, thumbnailers) opens them.
//
// The bytes are collected as they come and decoded in memory by the codec
// library when they are complete. The picture the codec restores is a BMP
// picture's data: the colour table (paletteSize bytes), then the pixel rows
// from the bottom row up, each padded to a multiple of four bytes. They
// become RGB pixels:
// - 8 bits: indexes into the colour table (blue, green, red, 0 per entry);
//   an index past the table's end is black, as in the viewer;
// - 16 bits: 5-5-5 (uncompressed 16-bit BMP pictures), each channel
//   widened to 8 bits by repeating its high bits;
// - 24 bits: blue, green, red;
// - 32 bits: blue, green, red and a fourth byte that uncompressed BMP
//   pictures leave unused. It is not taken as alpha: many writers leave it
//   0, which would make the whole picture transparent. The pictures are
//   opaque, as BMP readers show them.
// A file the codec refuses, or one that is cut short or damaged, ends in a
// GError; nothing is read outside the collected bytes or the decoded image.
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gmodule.h>

#include "vek/vek.h"

namespace {

const size_t VEK_HEADER_SIZE = 12;
const uint8_t VEK_MAGIC[4] = {0x56, 0x45, 0x4B, 0x21};
// The codec takes sizes of 32 bits; no encoder writes a file this long.
const size_t MAX_FILE_SIZE = 0x7FFFFFFF;

struct LoadContext {
    GdkPixbufModuleSizeFunc sizeFunc;
    GdkPixbufModulePreparedFunc preparedFunc;
    GdkPixbufModuleUpdatedFunc updatedFunc;
    gpointer userData;
    std::vector<uint8_t> bytes;
    bool headerSeen = false;
    bool sizeOnly = false;  // the caller asked for the size only
    bool failed = false;
};

void fail(GError **error, GdkPixbufError code, const char *message) {
    if (error != nullptr && *error == nullptr) g_set_error_literal(error, GDK_PIXBUF_ERROR, code, message);
}

uint16_t get16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint8_t widen5(unsigned v) {
    return static_cast<uint8_t>((v << 3) | (v >> 2));
}

// Fills the RGB pixbuf from the restored rows; false when the image is too
// short for the rows the header announces.
bool convertRows(const uint8_t *image, size_t imageLength, size_t paletteSize, int width, int height, int bitCount,
                 GdkPixbuf *pixbuf) {
    const uint64_t rowBytes = (static_cast<uint64_t>(width) * bitCount + 31) / 32 * 4;
    if (paletteSize > imageLength || rowBytes * height > imageLength - paletteSize) return false;
    const uint8_t *palette = image;
    const size_t colours = paletteSize / 4;
    const uint8_t *rows = image + paletteSize;
    guchar *pixels = gdk_pixbuf_get_pixels(pixbuf);
    const size_t stride = static_cast<size_t>(gdk_pixbuf_get_rowstride(pixbuf));
    for (int y = 0; y < height; ++y) {
        const uint8_t *src = rows + rowBytes * static_cast<uint64_t>(height - 1 - y);
        guchar *dst = pixels + stride * static_cast<size_t>(y);
        for (int x = 0; x < width; ++x, dst += 3) {
            switch (bitCount) {
            case 8: {
                const uint8_t index = src[x];
                if (index < colours) {
                    const uint8_t *entry = palette + 4 * static_cast<size_t>(index);
                    dst[0] = entry[2];
                    dst[1] = entry[1];
                    dst[2] = entry[0];
                } else {
                    dst[0] = dst[1] = dst[2] = 0;
                }
                break;
            }
            case 16: {
                const unsigned v = get16(src + 2 * static_cast<size_t>(x));
                dst[0] = widen5((v >> 10) & 0x1F);
                dst[1] = widen5((v >> 5) & 0x1F);
                dst[2] = widen5(v & 0x1F);
                break;
            }
            default: {  // 24 and 32 bits: blue, green, red first
                const uint8_t *p = src + static_cast<size_t>(x) * (bitCount / 8);
                dst[0] = p[2];
                dst[1] = p[1];
                dst[2] = p[0];
                break;
            }
            }
        }
    }
    return true;
}

gpointer beginLoad(GdkPixbufModuleSizeFunc sizeFunc, GdkPixbufModulePreparedFunc preparedFunc,
                   GdkPixbufModuleUpdatedFunc updatedFunc, gpointer userData, GError **error) {
    LoadContext *context = new (std::nothrow) LoadContext();
    if (context == nullptr) {
        fail(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Not enough memory to load the VEK picture");
        return nullptr;
    }
    context->sizeFunc = sizeFunc;
    context->preparedFunc = preparedFunc;
    context->updatedFunc = updatedFunc;
    context->userData = userData;
    return context;
}

// Checks the header as soon as it is there and tells the caller the size.
bool announceSize(LoadContext *context, GError **error) {
    const uint8_t *h = context->bytes.data();
    if (std::memcmp(h, VEK_MAGIC, sizeof(VEK_MAGIC)) != 0) {
        fail(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "Not a VEK picture (no \"VEK!\" at its start)");
        return false;
    }
    const int bitCount = h[7];
    if (bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32) {
        fail(error, GDK_PIXBUF_ERROR_UNKNOWN_TYPE, "VEK pictures of this bit count are not supported");
        return false;
    }
    gint width = get16(h + 8);
    gint height = get16(h + 10);
    if (width == 0 || height == 0) {
        fail(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "The VEK picture has no pixels");
        return false;
    }
    context->headerSeen = true;
    if (context->sizeFunc != nullptr) {
        context->sizeFunc(&width, &height, context->userData);
        if (width == 0 || height == 0) context->sizeOnly = true;
    }
    return true;
}

gboolean loadIncrement(gpointer data, const guchar *buf, guint size, GError **error) {
    LoadContext *context = static_cast<LoadContext *>(data);
    if (context->failed) return FALSE;
    if (context->sizeOnly) return TRUE;
    if (size > MAX_FILE_SIZE - context->bytes.size()) {
        context->failed = true;
        fail(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "The VEK file is too long");
        return FALSE;
    }
    try {
        context->bytes.insert(context->bytes.end(), buf, buf + size);
    } catch (const std::bad_alloc &) {
        context->failed = true;
        fail(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Not enough memory to load the VEK picture");
        return FALSE;
    }
    if (!context->headerSeen && context->bytes.size() >= VEK_HEADER_SIZE && !announceSize(context, error)) {
        context->failed = true;
        return FALSE;
    }
    return TRUE;
}

// Decodes the collected bytes into a new pixbuf; null with the error set.
GdkPixbuf *decode(const std::vector<uint8_t> &bytes, GError **error) {
    VekCodecInterface *codec = VEK_Constructor();
    if (codec == nullptr) {
        fail(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Not enough memory to load the VEK picture");
        return nullptr;
    }
    GdkPixbuf *pixbuf = nullptr;
    if (!codec->loadMemory(bytes.data(), static_cast<uint32_t>(bytes.size()))) {
        fail(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "The VEK picture is damaged and cannot be decoded");
    } else {
        const uint8_t *image = codec->getImage();
        const uint8_t *bits = codec->getBits();
        const int length = codec->getImageLength();
        const int width = codec->getWidth(), height = codec->getHeight();
        pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
        if (pixbuf == nullptr) {
            fail(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Not enough memory for the VEK picture's pixels");
        } else if (image == nullptr || bits < image || length < 0 ||
                   !convertRows(image, static_cast<size_t>(length), static_cast<size_t>(bits - image), width,
                                height, codec->getBitCount(), pixbuf)) {
            g_object_unref(pixbuf);
            pixbuf = nullptr;
            fail(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "The VEK picture is incomplete");
        }
    }
    VEK_Destructor(codec);
    return pixbuf;
}

gboolean stopLoad(gpointer data, GError **error) {
    LoadContext *context = static_cast<LoadContext *>(data);
    gboolean done = FALSE;
    if (context->failed) {
        fail(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "The VEK picture could not be loaded");
    } else if (context->sizeOnly) {
        done = TRUE;
    } else if (!context->headerSeen) {
        fail(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "The VEK file ends inside its header");
    } else if (GdkPixbuf *pixbuf = decode(context->bytes, error)) {
        if (context->preparedFunc != nullptr) context->preparedFunc(pixbuf, nullptr, context->userData);
        if (context->updatedFunc != nullptr)
            context->updatedFunc(pixbuf, 0, 0, gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf),
                                 context->userData);
        g_object_unref(pixbuf);
        done = TRUE;
    }
    delete context;
    return done;
}

} // namespace

extern "C" {

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule *module) {
    module->begin_load = beginLoad;
    module->load_increment = loadIncrement;
    module->stop_load = stopLoad;
}

G_MODULE_EXPORT void fill_info(GdkPixbufFormat *info) {
    static GdkPixbufModulePattern signature[] = {
        {const_cast<gchar *>("VEK!"), nullptr, 100},
        {nullptr, nullptr, 0},
    };
    static const gchar *mimeTypes[] = {"image/x-vek", nullptr};
    static const gchar *extensions[] = {"vek", nullptr};
    info->name = const_cast<gchar *>("vek");
    info->signature = signature;
    info->description = const_cast<gchar *>("VEK picture");
    info->mime_types = const_cast<gchar **>(mimeTypes);
    info->extensions = const_cast<gchar **>(extensions);
    // Each load has its own codec object, and objects are independent.
    info->flags = GDK_PIXBUF_FORMAT_THREADSAFE;
    info->license = const_cast<gchar *>("Other");
}

} // extern "C"
