// tavoro.texture.texture: pictures on the window's side, drawn with a destination, a source
// rectangle (a sprite out of a sheet), an origin, a rotation and a tint; and render targets,
// textures drawn into inside `with target:` and read back as Images.
//
// A texture belongs to the window it was made in: it records that window's generation
// (display.hpp) and refuses every use once the window has closed. Releasing it then makes no
// raylib call, since closing the window freed everything raylib held for it. raylib's calls are
// all in the `gpu` namespace below, so that another backend can route them elsewhere.
#include "../audio_device/audio_device.hpp"
#include "../shared/arguments.hpp"
#include "../shared/display.hpp"
#include "../shared/siblings.hpp"
#include "../image/image_file.hpp"

#include <raylib.h>

#include <bit>

namespace tavoro {
namespace {

constexpr const char* invalid = "the texture is not loaded";
constexpr const char* not_target = "only a render target can be drawn into: make one with Texture.render_target()";
constexpr const char* target_active = "a render target is already being drawn into";
constexpr const char* bad_filter = "filter must be 'nearest' or 'bilinear' (got %R)";
constexpr const char* bad_size = "width and height must be from 1 to 16384, 2**26 pixels in all (got %d x %d)";
constexpr const char* compressed = "the image's pixel format %d cannot make a texture";
constexpr const char* what = "texture";

struct Texture {
    PyObject_HEAD
    const void* table;
    ::RenderTexture2D raw;      // a plain texture has no framebuffer: raw.id 0
    unsigned long generation;   // the window it was made in; 0 when released or never loaded
    bool target;
    bool bilinear;

    using Table = void;
    static inline PyTypeObject* type = nullptr;
    static inline const void* vtable = nullptr;
    static constexpr bool final = true;
};
using T = Texture;

// ---------------------------------------------------------------------------------------------
// raylib

namespace gpu {

::Texture2D from_image(const rl::Image& image) { return display::rl().LoadTextureFromImage(std::bit_cast<::Image>(image)); }

::RenderTexture2D target(int width, int height) { return display::rl().LoadRenderTexture(width, height); }

void release(const T* self) {
    if (self->target)
        display::rl().UnloadRenderTexture(self->raw);
    else
        display::rl().UnloadTexture(self->raw.texture);
}

void filter(const T* self, bool bilinear) {
    display::rl().SetTextureFilter(self->raw.texture, bilinear ? TEXTURE_FILTER_BILINEAR : TEXTURE_FILTER_POINT);
}

void draw(const T* self, ::Rectangle source, const ::Rectangle& dest, const ::Vector2& origin, float rotation,
          const ::Color& tint) {
    display::rl().DrawTexturePro(self->raw.texture, source, dest, origin, rotation, tint);
}

::Image read(const T* self) { return display::rl().LoadImageFromTexture(self->raw.texture); }

void begin(const T* self) { display::rl().BeginTextureMode(self->raw); }
void end() { display::rl().EndTextureMode(); }

}  // namespace gpu

T* active_target = nullptr;   // the render target drawn into now
display::State outside_target; // the render area and transform to restore when it ends

// ---------------------------------------------------------------------------------------------
// Lifetime

bool loaded(const T* self) { return self->generation && self->raw.texture.id; }

// Whether the texture can go to raylib (inside a frame when `frame`): false with the exception set.
bool usable(const T* self, bool frame) {
    if (!loaded(self)) {
        PyErr_SetString(PyExc_ValueError, invalid);
        return false;
    }
    return display::require_own_window(self->generation, what, frame);
}

// Once, and only into the window that is still open: after it closed, raylib has freed it all.
void release(T* self) {
    if (loaded(self) && display::alive(self->generation)) {
        gpu::release(self);
        audio_device::api.hand_over_log();
    }
    self->generation = 0;
    self->raw = {};
}

PyObject* make(::RenderTexture2D raw, bool target) {
    T* self = frame::allocate<T>(T::type);
    if (!self) {
        T doomed{};
        doomed.raw = raw;
        doomed.target = target;
        doomed.generation = display::state->generation;
        release(&doomed);
        return nullptr;
    }
    self->raw = raw;
    self->target = target;
    self->generation = raw.texture.id ? display::state->generation : 0;
    audio_device::api.hand_over_log();
    return reinterpret_cast<PyObject*>(self);
}

bool size_allowed(int width, int height) {
    if (width >= 1 && height >= 1 && image_file::within_limits(width, height)) return true;
    PyErr_Format(PyExc_ValueError, bad_size, width, height);
    return false;
}

// ---------------------------------------------------------------------------------------------
// Construction

PyObject* from_image(Image* image) {
    if (!display::require_window()) return nullptr;
    const rl::Image& raw = image->_raw;
    if (!raw.data || raw.width <= 0 || raw.height <= 0) return make({}, false);
    if (raw.format < PIXELFORMAT_UNCOMPRESSED_GRAYSCALE || raw.format > PIXELFORMAT_UNCOMPRESSED_R16G16B16A16)
        return PyErr_Format(PyExc_ValueError, compressed, raw.format);
    if (!size_allowed(raw.width, raw.height)) return nullptr;
    ::RenderTexture2D texture{};
    texture.texture = gpu::from_image(raw);
    return make(texture, false);
}

// A file that does not load gives a texture whose `valid` is False, as images do.
PyObject* load(PyObject* path) {
    if (!display::require_window()) return nullptr;
    frame::Ref image(Image::vtable->c_load(path));
    if (!image) return nullptr;
    return from_image(reinterpret_cast<Image*>(image.get()));
}

PyObject* render_target(int width, int height) {
    if (!display::require_window() || !size_allowed(width, height)) return nullptr;
    return make(gpu::target(width, height), true);
}

PyObject* tp_new(PyTypeObject* type, PyObject*, PyObject*) {
    return reinterpret_cast<PyObject*>(frame::allocate<T>(type));
}

// Texture() is an empty texture: textures are made by from_image, load and render_target.
int tp_init(PyObject*, PyObject* args, PyObject* kwargs) {
    if (frame::bind_none("__init__", PyTuple_GET_SIZE(args), kwargs && PyDict_GET_SIZE(kwargs) ? PyDict_Keys(kwargs) : nullptr))
        return 0;
    frame::traceback(T::type, "__init__");
    return -1;
}

void dealloc(PyObject* object) {
    T* self = reinterpret_cast<T*>(object);
    if (active_target == self) active_target = nullptr;
    release(self);
    Py_TYPE(object)->tp_free(object);
}

// ---------------------------------------------------------------------------------------------
// Drawing

// A render target's rows are stored bottom up, as OpenGL's framebuffers are: its source
// rectangle is turned over, so that it is drawn (and read) the way it was drawn into.
::Rectangle stored(const T* self, ::Rectangle source) {
    if (!self->target) return source;
    return {source.x, self->raw.texture.height - source.y - source.height, source.width, -source.height};
}

// A source rectangle may have a negative width or height: raylib mirrors the picture then.
bool read_source(PyObject* object, ::Rectangle& out) {
    if (frame::is_exact<Rect>(object)) {
        out = std::bit_cast<::Rectangle>(reinterpret_cast<Rect*>(object)->_raw);
    } else {
        out = std::bit_cast<::Rectangle>(arguments::parse.rect(object));
        if (PyErr_Occurred()) return false;
    }
    return arguments::check_point("source", {out.x, out.y}) && arguments::check_point("source", {out.width, out.height});
}

PyObject* draw(T* self, arguments::Area dest, frame::Default<PyObject*, nullptr> source,
               frame::Default<PyObject*, nullptr> origin, frame::Default<arguments::Number, 0.0f> rotation,
               frame::Default<PyObject*, nullptr> tint) {
    ::Rectangle from = {0, 0, static_cast<float>(self->raw.texture.width), static_cast<float>(self->raw.texture.height)};
    ::Vector2 pivot = {0, 0};
    ::Color shade = {255, 255, 255, 255};
    if (source.value && source.value != Py_None && !read_source(source.value, from)) return nullptr;
    if (origin.value && origin.value != Py_None && !arguments::read_point(origin.value, "origin", pivot)) return nullptr;
    if (tint.value && tint.value != Py_None && !arguments::read_paint(tint.value, shade)) return nullptr;
    if (!usable(self, true)) return nullptr;
    if (self == active_target) {
        PyErr_SetString(PyExc_RuntimeError, "a render target cannot be drawn into itself");
        return nullptr;
    }
    gpu::draw(self, stored(self, from), dest.value, pivot, rotation.value.value, shade);
    Py_RETURN_NONE;
}

PyObject* to_image(T* self) {
    if (!usable(self, false)) return nullptr;
    ::Image image = gpu::read(self);
    audio_device::api.hand_over_log();
    if (!image.data) return PyErr_NoMemory();
    if (self->target) ImageFlipVertical(&image);
    return Image::vtable->__pyx_new(std::bit_cast<rl::Image>(image), nullptr);
}

PyObject* unload(T* self) {
    if (active_target == self) {
        PyErr_SetString(PyExc_RuntimeError, "the render target is being drawn into");
        return nullptr;
    }
    release(self);
    Py_RETURN_NONE;
}

// `with target:` inside a frame draws into the target; the render area is the target's until it
// ends, then the window's again, also when an exception passes through.
PyObject* enter(T* self) {
    if (!usable(self, true)) return nullptr;
    if (!self->target) return PyErr_SetString(PyExc_TypeError, not_target), nullptr;
    if (active_target) return PyErr_SetString(PyExc_RuntimeError, target_active), nullptr;
    gpu::begin(self);
    active_target = self;
    outside_target = *display::state;
    display::state->width = static_cast<float>(self->raw.texture.width);
    display::state->height = static_cast<float>(self->raw.texture.height);
    display::state->transformed = false;
    return Py_NewRef(reinterpret_cast<PyObject*>(self));
}

PyObject* exit_target(T* self, PyObject*, PyObject*, PyObject*) {
    if (active_target != self) Py_RETURN_FALSE;
    active_target = nullptr;
    if (display::alive(self->generation)) {
        gpu::end();
        display::state->width = outside_target.width;
        display::state->height = outside_target.height;
        display::state->transformed = outside_target.transformed;
    }
    Py_RETURN_FALSE;
}

// ---------------------------------------------------------------------------------------------
// Python members

PyObject* get_width(T* self, void*) { return PyLong_FromLong(self->raw.texture.width); }
PyObject* get_height(T* self, void*) { return PyLong_FromLong(self->raw.texture.height); }
PyObject* get_valid(T* self, void*) { return PyBool_FromLong(loaded(self) && self->generation == display::state->generation); }
PyObject* get_is_target(T* self, void*) { return PyBool_FromLong(self->target); }
PyObject* get_filter(T* self, void*) { return PyUnicode_FromString(self->bilinear ? "bilinear" : "nearest"); }

bool set_filter(T* self, PyObject* value, void*) {
    int bilinear = PyUnicode_Check(value) ? PyUnicode_CompareWithASCIIString(value, "bilinear") == 0 : -1;
    if (bilinear == 0 && PyUnicode_CompareWithASCIIString(value, "nearest") != 0) bilinear = -1;
    if (bilinear < 0) {
        PyErr_Format(PyExc_ValueError, bad_filter, value);
        return false;
    }
    if (!usable(self, false)) return false;
    gpu::filter(self, bilinear);
    self->bilinear = bilinear;
    return true;
}

PyObject* repr(PyObject* object) {
    T* self = reinterpret_cast<T*>(object);
    const char* kind = self->target ? "render target" : "Texture";
    if (!loaded(self)) return PyUnicode_FromFormat("<%s unloaded>", kind);
    if (self->generation != display::state->generation)
        return PyUnicode_FromFormat("<%s %dx%d of window %lu, which has closed>", kind, self->raw.texture.width,
                                    self->raw.texture.height, self->generation);
    return PyUnicode_FromFormat("<%s %dx%d of window %lu>", kind, self->raw.texture.width, self->raw.texture.height,
                                self->generation);
}

PyMethodDef methods[] = {
    frame::method<"draw", draw, "dest", "source=None", "origin=None", "rotation=0.0", "tint=None">(
        "Draws the `source` rectangle of the texture (None: all of it) into the `dest` rectangle, "
        "turned by `rotation` degrees about `origin` (relative to dest's corner), tinted (inside a "
        "frame)."),
    frame::method<"to_image", to_image>("The texture's pixels as an Image, top row first."),
    frame::method<"unload", unload>("Releases the texture; a second call does nothing."),
    frame::method<"__enter__", enter>("Draws into this render target until the block ends (inside a frame)."),
    frame::method<"__exit__", exit_target, "type", "value", "traceback">("Draws into the window again."),
    {},
};

PyMethodDef static_methods[] = {
    frame::static_method<T, "from_image", from_image, "image">(
        "A texture of the image's pixels (needs an open window); an image without pixels gives "
        "a texture whose valid is False."),
    frame::static_method<T, "load", load, "path">(
        "A texture of an image file (needs an open window); check valid for success."),
    frame::static_method<T, "render_target", render_target, "width", "height">(
        "A texture to draw into with `with target:` (needs an open window)."),
    {},
};

PyGetSetDef properties[] = {
    frame::readonly<"width", get_width>(nullptr, "The width in pixels."),
    frame::readonly<"height", get_height>(nullptr, "The height in pixels."),
    frame::readonly<"valid", get_valid>(nullptr, "Whether the texture is loaded and its window open."),
    frame::readonly<"is_target", get_is_target>(nullptr, "Whether the texture is a render target."),
    frame::property<"filter", get_filter, set_filter>(nullptr, "How it is sampled when scaled: 'nearest' or 'bilinear'."),
    {},
};

PyTypeObject type = [] {
    PyTypeObject t = frame::static_type("tavoro.texture.texture.Texture", sizeof(T), Py_TPFLAGS_DEFAULT);
    t.tp_dealloc = dealloc;
    t.tp_doc = "A texture of the window, or a render target; made by from_image, load or render_target.";
    t.tp_repr = repr;
    t.tp_methods = methods;
    t.tp_getset = properties;
    t.tp_init = tp_init;
    t.tp_new = tp_new;
    return t;
}();

const frame::TypeDef types[] = {
    frame::type_def<T>(type, nullptr, static_methods, "a texture lives in its window: it cannot be pickled"),
};

const frame::SiblingDef siblings[] = {
    frame::sibling<Vector2>("tavoro.vector2.vector2", "Vector2"),
    frame::sibling<Rect>("tavoro.rect.rect", "Rect"),
    frame::sibling<Color>("tavoro.color.color", "Color"),
    frame::sibling<Image>("tavoro.image.image", "Image"),
};

const frame::ModuleDef module = {
    .name = "texture",
    .full_name = "tavoro.texture.texture",
    .source = "src/tavoro/texture/texture.cpp",
    .types = types,
    .siblings = siblings,
    .finish =
        [](PyObject*) {
            if (display::bind() < 0 || arguments::bind() < 0) return -1;
            return audio_device::bind_api();
        },
};

}  // namespace
}  // namespace tavoro

TAVORO_MODULE(texture, tavoro::module)
