// Camera2D: a 2D view, as raylib's Camera2D: the world point `target` appears at the screen
// point `offset`, turned by `rotation` degrees and scaled by `zoom`. Drawing inside
// `with camera:` goes through it; the conversions between screen and world need no window.
#include "draw.hpp"


#include <cmath>

namespace tavoro::draw {
namespace {

using C = Camera;

constexpr const char* bad_zoom = "zoom must be a finite number from 1e-06 to 1000000 (got %R)";
constexpr const char* camera_in_use = "a camera is already in use: leave it first";

C* as_camera(PyObject* object) { return reinterpret_cast<C*>(object); }

bool read_zoom(PyObject* value, float& out) {
    double zoom;
    if (!frame::to_double(value, zoom)) return false;
    if (zoom >= 1e-6 && zoom <= 1e6) {
        out = static_cast<float>(zoom);
        return true;
    }
    PyErr_Format(PyExc_ValueError, bad_zoom, value);
    return false;
}

PyObject* vector(::Vector2 v) { return Vector2::vtable->cfrom_floats(v.x, v.y); }

using Point = ::Vector2(::Camera2D::*);

template <Point Field>
PyObject* get_point(C* self, void*) { return vector(self->raw.*Field); }

template <Point Field, frame::Text Name>
bool set_point(C* self, PyObject* value, void*) {
    return arguments::read_point(value, Name.chars, self->raw.*Field);
}

PyObject* get_rotation(C* self, void*) { return PyFloat_FromDouble(self->raw.rotation); }
bool set_rotation(C* self, PyObject* value, void*) {
    return arguments::read_number(value, "rotation", self->raw.rotation);
}

PyObject* get_zoom(C* self, void*) { return PyFloat_FromDouble(self->raw.zoom); }
bool set_zoom(C* self, PyObject* value, void*) { return read_zoom(value, self->raw.zoom); }

// The camera whose `with` block is running (borrowed: it is left before the frame ends).
C* active = nullptr;

PyObject* enter(C* self) {
    if (!display::require_frame()) return nullptr;
    if (display::state->transformed) {
        PyErr_SetString(PyExc_RuntimeError, camera_in_use);
        return nullptr;
    }
    display::rl().BeginMode2D(self->raw);
    display::state->transformed = true;
    active = self;
    return Py_NewRef(reinterpret_cast<PyObject*>(self));
}

// Leaves the camera whether or not an exception passes through (and lets it pass). A frame that
// ended inside the block has left the camera already.
PyObject* exit(C* self, PyObject*, PyObject*, PyObject*) {
    if (active == self) {
        active = nullptr;
        if (display::state->transformed && display::state->frame_thread == display::current_thread()) {
            display::rl().EndMode2D();
            display::state->transformed = false;
        }
    }
    Py_RETURN_FALSE;
}

PyObject* screen_to_world(C* self, arguments::Point position) {
    return vector(GetScreenToWorld2D(position.value, self->raw));
}

PyObject* world_to_screen(C* self, arguments::Point position) {
    return vector(GetWorldToScreen2D(position.value, self->raw));
}

PyMethodDef methods[] = {
    frame::method<"__enter__", enter>("Drawing goes through the camera until the block ends."),
    frame::method<"__exit__", exit, "type", "value", "traceback">("Leaves the camera."),
    frame::method<"screen_to_world", screen_to_world, "position">(
        "The world point seen at a screen position, as a Vector2."),
    frame::method<"world_to_screen", world_to_screen, "position">(
        "The screen position of a world point, as a Vector2."),
    {},
};

PyGetSetDef properties[] = {
    frame::property<"target", get_point<&::Camera2D::target>, set_point<&::Camera2D::target, "target">>(
        nullptr, "The world point the camera looks at, as a Vector2."),
    frame::property<"offset", get_point<&::Camera2D::offset>, set_point<&::Camera2D::offset, "offset">>(
        nullptr, "Where on the screen the target appears, as a Vector2."),
    frame::property<"rotation", get_rotation, set_rotation>(nullptr, "Rotation in degrees."),
    frame::property<"zoom", get_zoom, set_zoom>(nullptr, "Scale: 1 draws the world at its size."),
    {},
};

// Camera2D(target=(0, 0), offset=(0, 0), rotation=0.0, zoom=1.0)
int tp_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* names[] = {"target", "offset", "rotation", "zoom", nullptr};
    PyObject *target = nullptr, *offset = nullptr, *rotation = nullptr, *zoom = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OOOO:Camera2D", const_cast<char**>(names),
                                     &target, &offset, &rotation, &zoom))
        return -1;
    ::Camera2D raw{.offset = {0.0f, 0.0f}, .target = {0.0f, 0.0f}, .rotation = 0.0f, .zoom = 1.0f};
    if ((target && !arguments::read_point(target, "target", raw.target)) ||
        (offset && !arguments::read_point(offset, "offset", raw.offset)) ||
        (rotation && !arguments::read_number(rotation, "rotation", raw.rotation)) ||
        (zoom && !read_zoom(zoom, raw.zoom))) {
        frame::traceback(C::type, "__init__");
        return -1;
    }
    as_camera(self)->raw = raw;
    return 0;
}

PyObject* tp_new(PyTypeObject* type, PyObject*, PyObject*) {
    C* self = frame::allocate<C>(type);
    if (self) self->raw.zoom = 1.0f;
    return reinterpret_cast<PyObject*>(self);
}

void dealloc(PyObject* self) {
    if (active == as_camera(self)) active = nullptr;
    Py_TYPE(self)->tp_free(self);
}

PyObject* repr(PyObject* self) {
    const ::Camera2D& c = as_camera(self)->raw;
    frame::Ref text(PyUnicode_FromFormat("Camera2D(target=(%R, %R), offset=(%R, %R), rotation=%R, zoom=%R)",
                                         frame::Ref(PyFloat_FromDouble(c.target.x)).get(),
                                         frame::Ref(PyFloat_FromDouble(c.target.y)).get(),
                                         frame::Ref(PyFloat_FromDouble(c.offset.x)).get(),
                                         frame::Ref(PyFloat_FromDouble(c.offset.y)).get(),
                                         frame::Ref(PyFloat_FromDouble(c.rotation)).get(),
                                         frame::Ref(PyFloat_FromDouble(c.zoom)).get()));
    return text.release();
}

}  // namespace

PyTypeObject camera_type = [] {
    PyTypeObject t = frame::static_type("tavoro.draw.draw.Camera2D", sizeof(C), Py_TPFLAGS_DEFAULT);
    t.tp_doc = "A 2D camera: Camera2D(target=(0, 0), offset=(0, 0), rotation=0.0, zoom=1.0). "
               "`with camera:` inside a frame draws through it.";
    t.tp_dealloc = dealloc;
    t.tp_repr = repr;
    t.tp_methods = methods;
    t.tp_getset = properties;
    t.tp_init = tp_init;
    t.tp_new = tp_new;
    return t;
}();

}  // namespace tavoro::draw
