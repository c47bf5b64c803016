// tavoro.image.image: an image record and whether this object owns its pixel data. An owning
// image frees the pixels when it is unloaded or destroyed; a view (is_owner 0), such as a glyph's
// image whose pixels belong to its font, never does. Loading and converting pixel data is not
// offered here: those entries refuse with NotImplementedError.
#include "../shared/siblings.hpp"

#include <cstdlib>

namespace tavoro {
namespace {

using I = Image;

I* as_image(PyObject* object) { return reinterpret_cast<I*>(object); }

// Pixels are allocated with the C allocator (raylib's default), so they are freed with it.
void release_pixels(I* self) {
    if (self->is_owner) std::free(self->_raw.data);
    self->_raw.data = nullptr;
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
    .c_export = unavailable<"c_export", int, I*, PyObject*>,
    .unload = unload,
    .copy = unavailable<"copy", PyObject*, I*, int>,
    .from_channel = unavailable<"from_channel", PyObject*, I*, int, int>,
};

// ---------------------------------------------------------------------------------------------
// Python members

PyObject* py_unload(I* self) { return unload(self, 1); }

PyMethodDef methods[] = {
    frame::method<"unload", py_unload>("Frees the pixel data if this image owns it."),
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
