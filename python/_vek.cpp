// vek._vek: the codec library's memory operations for Python.
//
// The module is linked against libvek, the same library the converter and
// the viewer load, and reaches it only through VEK_Constructor and the
// codec object's operations. Each thread uses codec objects of its own, so
// calls from several threads never share one; the global interpreter lock is
// released while the codec works, so threads convert in parallel.
//
// A failed operation raises vek.VekError(code, text) with the library's
// failure code (getLastFailure) and its text from vek_failures.h.
#include <pybind11/pybind11.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "vek/vek.h"
#include "vek/vek_failures.h"

namespace py = pybind11;

namespace {

// A failure that becomes vek.VekError when it reaches Python.
struct CodecFailure {
    int code;
};

struct CodecDeleter {
    void operator()(VekCodecInterface *codec) const { VEK_Destructor(codec); }
};
using Codec = std::unique_ptr<VekCodecInterface, CodecDeleter>;

Codec newCodec() {
    Codec codec(VEK_Constructor());
    if (!codec) throw CodecFailure{VEK_FAILURE_OUT_OF_MEMORY};
    return codec;
}

// The calling thread's own codec object, kept for its next calls: a new
// object for each of many small pictures costs more than coding them. Work
// buffers are released at the end of every operation, so between calls the
// object holds little (loadMemory's picture excepted: load() takes an
// object of its own).
VekCodecInterface &threadCodec() {
    thread_local Codec codec;
    if (!codec) codec = newCodec();
    return *codec;
}

// A read-only view of any object that offers the buffer protocol (bytes,
// bytearray, memoryview, a contiguous numpy array). The exporter cannot
// resize or free the memory while the view is held.
class InputBytes {
public:
    explicit InputBytes(const py::object &source) {
        if (PyObject_GetBuffer(source.ptr(), &view_, PyBUF_SIMPLE) != 0) throw py::error_already_set();
    }
    ~InputBytes() { PyBuffer_Release(&view_); }
    InputBytes(const InputBytes &) = delete;
    InputBytes &operator=(const InputBytes &) = delete;

    const void *data() const { return view_.buf; }
    // The codec takes 32-bit sizes; no BMP or .vek file it accepts is longer.
    uint32_t size() const {
        if (static_cast<uint64_t>(view_.len) > UINT32_MAX) throw CodecFailure{VEK_FAILURE_TOO_LARGE};
        return static_cast<uint32_t>(view_.len);
    }

private:
    Py_buffer view_{};
};

// A bytes object of `capacity` bytes that the codec fills without the
// interpreter lock (nobody else can see it yet), then cut to `used` bytes.
class OutputBytes {
public:
    explicit OutputBytes(uint32_t capacity) {
        object_ = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(capacity));
        if (object_ == nullptr) throw py::error_already_set();
    }
    ~OutputBytes() { Py_XDECREF(object_); }
    OutputBytes(const OutputBytes &) = delete;
    OutputBytes &operator=(const OutputBytes &) = delete;

    void *data() { return PyBytes_AS_STRING(object_); }
    py::bytes release(uint32_t used) {
        if (static_cast<Py_ssize_t>(used) != PyBytes_GET_SIZE(object_) &&
            _PyBytes_Resize(&object_, static_cast<Py_ssize_t>(used)) != 0)
            throw py::error_already_set();  // object_ is already freed and null
        PyObject *result = object_;
        object_ = nullptr;
        return py::reinterpret_steal<py::bytes>(result);
    }

private:
    PyObject *object_;
};

// One whole-file conversion: `capacity` tells the output's size limit (0
// when the input is refused), `convert` is the codec's memory operation.
template <typename Capacity, typename Convert>
py::bytes convertBytes(const py::object &source, Capacity capacity, Convert convert) {
    InputBytes input(source);
    VekCodecInterface &codec = threadCodec();
    uint32_t size = capacity(codec, input);
    if (size == 0) throw CodecFailure{codec.getLastFailure()};
    OutputBytes output(size);
    int done;
    {
        py::gil_scoped_release unlocked;
        done = convert(codec, input, output.data(), &size);
    }
    if (!done) throw CodecFailure{codec.getLastFailure()};
    return output.release(size);
}

py::bytes encode(const py::object &bmp) {
    return convertBytes(
        bmp, [](VekCodecInterface &codec, const InputBytes &in) { return codec.getEncodeBound(in.size()); },
        [](VekCodecInterface &codec, const InputBytes &in, void *out, uint32_t *size) {
            return codec.encodeMemory(in.data(), in.size(), out, size);
        });
}

py::bytes decode(const py::object &vek) {
    return convertBytes(
        vek, [](VekCodecInterface &codec, const InputBytes &in) { return codec.getDecodedSize(in.data(), in.size()); },
        [](VekCodecInterface &codec, const InputBytes &in, void *out, uint32_t *size) {
            return codec.decodeMemory(in.data(), in.size(), out, size);
        });
}

// The picture of a .vek file through loadMemory and the accessors:
// (width, height, bit count, colour table, pixel rows). The colour table
// holds 4 bytes an entry (blue, green, red, unused); the rows run from the
// bottom up, each padded to a multiple of 4 bytes, as in a BMP file.
py::tuple load(const py::object &vek) {
    InputBytes input(vek);
    Codec codec = newCodec();
    int done;
    {
        py::gil_scoped_release unlocked;
        done = codec->loadMemory(input.data(), input.size());
    }
    if (!done) throw CodecFailure{codec->getLastFailure()};
    const int width = codec->getWidth();
    const int height = codec->getHeight();
    const int bitCount = codec->getBitCount();
    const uint8_t *image = codec->getImage();
    const uint8_t *bits = codec->getBits();
    const int64_t length = codec->getImageLength();
    const int64_t rowBytes = (static_cast<int64_t>(width) * bitCount + 31) / 32 * 4;
    // The codec vouches for these; checked anyway so that a fault there
    // gives an error instead of a read past its image.
    if (image == nullptr || bits == nullptr || bits < image || length < 0 ||
        (bits - image) + rowBytes * height > length)
        throw CodecFailure{VEK_FAILURE_INTERNAL};
    return py::make_tuple(width, height, bitCount,
                          py::bytes(reinterpret_cast<const char *>(image), static_cast<size_t>(bits - image)),
                          py::bytes(reinterpret_cast<const char *>(bits), static_cast<size_t>(rowBytes * height)));
}

uint32_t decodedSize(const py::object &vek) {
    InputBytes input(vek);
    VekCodecInterface &codec = threadCodec();
    const uint32_t size = codec.getDecodedSize(input.data(), input.size());
    if (size == 0) throw CodecFailure{codec.getLastFailure()};
    return size;
}

int version() {
    return threadCodec().getVersion();
}

} // namespace

PYBIND11_MODULE(_vek, m) {
    m.doc() = "The VEK codec library's memory operations (use the vek package instead)";
    // The exception class lives in Python (vek/_errors.py) so that it can be
    // pickled across processes; it is looked up once here.
    // Kept for the life of the process (never released at exit, when the
    // interpreter may already be gone).
    static py::handle errorType = py::object(py::module_::import("vek._errors").attr("VekError")).release();
    py::register_exception_translator([](std::exception_ptr failure) {
        try {
            if (failure) std::rethrow_exception(failure);
        } catch (const CodecFailure &f) {
            py::object error = errorType(f.code, vekFailureText(f.code));
            PyErr_SetObject(errorType.ptr(), error.ptr());
        }
    });
    m.def("encode", &encode, py::arg("bmp"), "BMP file bytes to .vek file bytes");
    m.def("decode", &decode, py::arg("vek"), "The .vek file bytes to BMP file bytes");
    m.def("load", &load, py::arg("vek"),
          "(width, height, bit count, colour table, bottom-up rows) of the picture in .vek file bytes");
    m.def("decoded_size", &decodedSize, py::arg("vek"),
          "Size of the BMP file the .vek bytes give, from their header");
    m.def("library_version", &version, "The codec library's version number");
}
