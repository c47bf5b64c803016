// tavoro.image.image: an image record and whether this object owns its pixel data. An owning
// image frees the pixels when it is unloaded or destroyed; a view (is_owner 0), such as a glyph's
// image whose pixels belong to its font, never does. The pixels of an uncompressed image are
// reachable through the buffer protocol (numpy.asarray(image) is a view of them, rows first), and
// raylib writes images to files. Loading and converting pixel data is not offered here yet: those
// entries refuse with NotImplementedError.
#include "../shared/siblings.hpp"

#include <raylib.h>

#include <bit>
#include <cstdlib>

namespace tavoro {
namespace {

using I = Image;

I* as_image(PyObject* object) { return reinterpret_cast<I*>(object); }

constexpr const char* exported = "the image's pixels are in use by %zd buffer view(s): release them first";
constexpr const char* no_pixels = "the image has no pixels";
constexpr const char* compressed = "the pixels of format %d are compressed: they have no array view";
constexpr const char* export_failed = "raylib could not write the image to %R (see the tavoro.raylib log)";
constexpr const char* unknown_extension =
    "the file name must end in .png, .bmp, .tga, .jpg, .jpeg or .qoi (got %R)";

// Pixels are allocated with the C allocator (raylib's default), so they are freed with it.
void release_pixels(I* self) {
    if (self->is_owner) std::free(self->_raw.data);
    self->_raw.data = nullptr;
}

// How the pixels of each uncompressed format look as an array: the channels of a pixel and the
// struct-module format of one channel (the 16-bit packed formats are one unsigned short).
struct Layout {
    int channels;
    const char* format;
    int item_size;
};

bool layout_of(int format, Layout& out) {
    static constexpr Layout layouts[] = {
        {1, "B", 1}, {2, "B", 1}, {1, "H", 2}, {3, "B", 1}, {1, "H", 2}, {1, "H", 2},
        {4, "B", 1}, {1, "f", 4}, {3, "f", 4}, {4, "f", 4}, {1, "e", 2}, {3, "e", 2}, {4, "e", 2},
    };
    if (format < PIXELFORMAT_UNCOMPRESSED_GRAYSCALE || format > PIXELFORMAT_UNCOMPRESSED_R16G16B16A16)
        return false;
    out = layouts[format - 1];
    return true;
}

// The buffer protocol: rows, then columns, then channels (none for one-channel formats). A view
// of pixels that belong to someone else (a glyph's, a font's) is read-only.
int get_buffer(PyObject* object, Py_buffer* view, int flags) {
    I* self = reinterpret_cast<I*>(object);
    const rl::Image& raw = self->_raw;
    Layout layout;
    if (!raw.data || raw.width <= 0 || raw.height <= 0) {
        PyErr_SetString(PyExc_BufferError, no_pixels);
        return -1;
    }
    if (!layout_of(raw.format, layout)) {
        PyErr_Format(PyExc_BufferError, compressed, raw.format);
        return -1;
    }
    if ((flags & PyBUF_WRITABLE) && !self->is_owner) {
        PyErr_SetString(PyExc_BufferError, "the pixels of this image belong to another object: they are read-only");
        return -1;
    }
    // shape and strides live in one allocation behind view->internal.
    auto* dims = static_cast<Py_ssize_t*>(PyMem_Malloc(6 * sizeof(Py_ssize_t)));
    if (!dims) {
        PyErr_NoMemory();
        return -1;
    }
    int ndim = layout.channels > 1 ? 3 : 2;
    Py_ssize_t* shape = dims;
    Py_ssize_t* strides = dims + 3;
    Py_ssize_t pixel = static_cast<Py_ssize_t>(layout.channels) * layout.item_size;
    shape[0] = raw.height;
    shape[1] = raw.width;
    shape[2] = layout.channels;
    strides[0] = pixel * raw.width;
    strides[1] = pixel;
    strides[2] = layout.item_size;
    view->obj = Py_NewRef(object);
    view->buf = raw.data;
    view->len = static_cast<Py_ssize_t>(raw.width) * raw.height * layout.channels * layout.item_size;
    view->readonly = !self->is_owner;
    view->itemsize = layout.item_size;
    view->format = (flags & PyBUF_FORMAT) ? const_cast<char*>(layout.format) : nullptr;
    view->ndim = ndim;
    view->shape = (flags & PyBUF_ND) ? shape : nullptr;
    view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? strides : nullptr;
    view->suboffsets = nullptr;
    view->internal = dims;
    ++self->exports;
    return 0;
}

void release_buffer(PyObject* object, Py_buffer* view) {
    PyMem_Free(view->internal);
    --reinterpret_cast<I*>(object)->exports;
}

PyBufferProcs buffer_procs = {get_buffer, release_buffer};

bool refuse_while_exported(I* self) {
    if (self->exports == 0) return false;
    PyErr_Format(PyExc_BufferError, exported, static_cast<Py_ssize_t>(self->exports));
    return true;
}

// raylib picks the encoder by the file name's extension, and only logs when it has none for it.
bool known_extension(const char* path) {
    static constexpr const char* extensions[] = {".png", ".bmp", ".tga", ".jpg", ".jpeg", ".qoi"};
    for (const char* extension : extensions)
        if (IsFileExtension(path, extension)) return true;
    return false;
}

int export_image(I* self, PyObject* path) {
    if (!self->_raw.data || self->_raw.width <= 0 || self->_raw.height <= 0) {
        PyErr_SetString(PyExc_ValueError, no_pixels);
        return 0;
    }
    PyObject* encoded = nullptr;
    if (!PyUnicode_FSConverter(path, &encoded)) return 0;
    frame::Ref held(encoded);
    const char* name = PyBytes_AS_STRING(encoded);
    if (!known_extension(name)) {
        PyErr_Format(PyExc_ValueError, unknown_extension, path);
        return 0;
    }
    if (ExportImage(std::bit_cast<::Image>(self->_raw), name)) return 1;
    PyErr_Format(PyExc_OSError, export_failed, path);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Native entries

PyObject* wrap(rl::Image raw, const ImageNewOptional* optional) {
    I* image = frame::allocate<I>(I::type);
    if (!image) return nullptr;
    image->_raw = raw;
    image->is_owner = optional && optional->n > 0 ? optional->is_owner : 1;
    return reinterpret_cast<PyObject*>(image);
}

PyObject* unload(I* self, int /*flag*/) {
    if (refuse_while_exported(self)) return nullptr;
    release_pixels(self);
    Py_RETURN_NONE;
}

template <frame::Text Entry>
void refuse() {
    PyErr_Format(PyExc_NotImplementedError, "Image.%s is not available", Entry.chars);
}

template <frame::Text Entry, class Result, class... A>
Result unavailable(A...) {
    refuse<Entry>();
    return Result{};
}

constexpr ImageTable table = {
    .__pyx_new = wrap,
    .c_load = unavailable<"c_load", PyObject*, PyObject*>,
    .c_load_raw = unavailable<"c_load_raw", PyObject*, PyObject*, int, int, int, int>,
    .c_load_anim = unavailable<"c_load_anim", PyObject*, PyObject*, int*>,
    .c_load_from_screen = unavailable<"c_load_from_screen", PyObject*>,
    .c_copy = unavailable<"c_copy", PyObject*, I*>,
    .c_export = export_image,
    .unload = unload,
    .copy = unavailable<"copy", PyObject*, I*, int>,
    .from_channel = unavailable<"from_channel", PyObject*, I*, int, int>,
};

// ---------------------------------------------------------------------------------------------
// Python members

PyObject* py_unload(I* self) { return unload(self, 1); }

PyObject* py_export(I* self, PyObject* path) {
    if (!export_image(self, path)) return nullptr;
    Py_RETURN_NONE;
}

PyMethodDef methods[] = {
    frame::method<"unload", py_unload>("Frees the pixel data if this image owns it."),
    frame::method<"export", py_export, "path">(
        "Writes the image to a file (str or path-like), encoded as its name's extension says: "
        ".png, .bmp, .tga, .jpg or .qoi. Raises OSError when the file cannot be written."),
    {},
};

template <int rl::Image::*Field>
PyObject* get_field(I* self, void*) { return PyLong_FromLong(self->_raw.*Field); }

PyObject* get_is_owner(I* self, void*) { return PyBool_FromLong(self->is_owner); }

PyGetSetDef properties[] = {
    frame::readonly<"width", get_field<&rl::Image::width>>(nullptr, "The width in pixels."),
    frame::readonly<"height", get_field<&rl::Image::height>>(nullptr, "The height in pixels."),
    frame::readonly<"mipmaps", get_field<&rl::Image::mipmaps>>(nullptr, "The number of mipmap levels."),
    frame::readonly<"format", get_field<&rl::Image::format>>(nullptr, "The pixel format, as raylib numbers it."),
    frame::readonly<"is_owner", get_is_owner>(nullptr, "Whether this image frees its pixel data."),
    {},
};

PyObject* tp_new(PyTypeObject* type, PyObject*, PyObject*) {
    return reinterpret_cast<PyObject*>(frame::allocate<I>(type));
}

// Image() is an empty image that owns nothing.
int tp_init(PyObject*, PyObject* args, PyObject* kwargs) {
    if (kwargs && PyDict_GET_SIZE(kwargs)) {
        PyObject *key, *value;
        Py_ssize_t pos = 0;
        PyDict_Next(kwargs, &pos, &key, &value);
        frame::raise_unexpected_keyword("__init__", key);
    } else if (frame::bind_none("__init__", PyTuple_GET_SIZE(args), nullptr)) {
        return 0;
    }
    frame::traceback(I::type, "__init__");
    return -1;
}

void dealloc(PyObject* self) {
    release_pixels(as_image(self));
    Py_TYPE(self)->tp_free(self);
}

PyObject* repr(PyObject* self) {
    const rl::Image& raw = as_image(self)->_raw;
    return PyUnicode_FromFormat("Image(width=%d, height=%d, mipmaps=%d, format=%d)", raw.width,
                                raw.height, raw.mipmaps, raw.format);
}

// Final: an image's ownership rules are not for subclasses to change.
PyTypeObject type = [] {
    PyTypeObject t = frame::static_type("tavoro.image.image.Image", sizeof(I), Py_TPFLAGS_DEFAULT);
    t.tp_dealloc = dealloc;
    t.tp_doc = "An image; is_owner tells whether it frees its pixel data.";
    t.tp_repr = repr;
    t.tp_as_buffer = &buffer_procs;
    t.tp_methods = methods;
    t.tp_getset = properties;
    t.tp_init = tp_init;
    t.tp_new = tp_new;
    return t;
}();

const frame::TypeDef types[] = {
    frame::type_def<I>(type, &table, nullptr,
                       "Pickling of struct members such as self._raw must be explicitly requested "
                       "with @auto_pickle(True)"),
};

const frame::ModuleDef module = {
    .name = "image",
    .full_name = "tavoro.image.image",
    .source = "src/tavoro/image/image.cpp",
    .types = types,
};

}  // namespace
}  // namespace tavoro

TAVORO_MODULE(image, tavoro::module)
