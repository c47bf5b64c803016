// tavoro.color.color: an RGBA color of four 8-bit channels. Subclassable, so that palettes and
// user code can hand out colors of their own classes.
#include "../shared/dispatch.hpp"
#include "../shared/siblings.hpp"

#include <algorithm>
#include <cstdint>

namespace tavoro {
namespace {

using C = Color;

C* as_color(PyObject* object) { return reinterpret_cast<C*>(object); }

PyObject* make(rl::Color raw) {
    C* c = frame::allocate<C>(C::type);
    if (c) c->_raw = raw;
    return reinterpret_cast<PyObject*>(c);
}

constexpr const char* channel_names[] = {"r", "g", "b", "a"};

bool check_channel(int value, int channel) {
    if (value >= 0 && value <= 255) return true;
    PyErr_Format(PyExc_ValueError, "Color channel %s must be in 0..255, got %d",
                 channel_names[channel], value);
    return false;
}

// A channel from Python: the integer conversion, then the range check.
bool to_channel(PyObject* value, int channel, std::uint8_t& out) {
    int converted;
    if (!frame::to_int(value, converted) || !check_channel(converted, channel)) return false;
    out = static_cast<std::uint8_t>(converted);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Native entries. to_int and fade are also Python methods, which a subclass may override.

frame::Name name_to_int{"to_int"};
frame::Name name_fade{"fade"};

enum Method { m_to_int, m_fade };
extern PyMethodDef methods[];

PyObject* new_color(int r, int g, int b, int a) {
    int channels[4] = {r, g, b, a};
    for (int i = 0; i < 4; ++i)
        if (!check_channel(channels[i], i)) return nullptr;
    return make({static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                 static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(a)});
}

int equal(C* a, C* b) {
    return a->_raw.r == b->_raw.r && a->_raw.g == b->_raw.g && a->_raw.b == b->_raw.b &&
           a->_raw.a == b->_raw.a;
}

PyObject* normalize(C* self) {
    const rl::Color& c = self->_raw;
    return Vector4::vtable->__pyx_new(c.r / 255.0, c.g / 255.0, c.b / 255.0, c.a / 255.0);
}

// Each channel multiplied by the tint's, over 255.
PyObject* tint(C* self, C* by) {
    auto scale = [](std::uint8_t c, std::uint8_t t) { return static_cast<std::uint8_t>(c * t / 255); };
    const rl::Color &c = self->_raw, &t = by->_raw;
    return make({scale(c.r, t.r), scale(c.g, t.g), scale(c.b, t.b), scale(c.a, t.a)});
}

// The same color with alpha set to `alpha` (clamped to 0..1) of full opacity.
PyObject* fade(C* self, double alpha, int skip_dispatch) {
    frame::Ref result;
    frame::Ref argument(PyFloat_FromDouble(alpha));
    if (!argument) return nullptr;
    if (dispatch::call_override(reinterpret_cast<PyObject*>(self), skip_dispatch, name_fade,
                                methods[m_fade], {argument.get()}, result))
        return result.release();
    float clamped = std::clamp(static_cast<float>(alpha), 0.0f, 1.0f);
    rl::Color faded = self->_raw;
    faded.a = static_cast<std::uint8_t>(255.0f * clamped);
    return make(faded);
}

// The channels packed as 0xRRGGBBAA, read as a signed 32-bit int.
int to_int(C* self, int skip_dispatch) {
    frame::Ref result;
    if (dispatch::call_override(reinterpret_cast<PyObject*>(self), skip_dispatch, name_to_int,
                                methods[m_to_int], {}, result)) {
        int value = 0;
        if (result) frame::to_int(result.get(), value);
        return value;
    }
    const rl::Color& c = self->_raw;
    return static_cast<int>(static_cast<std::uint32_t>(c.r) << 24 | static_cast<std::uint32_t>(c.g) << 16 |
                            static_cast<std::uint32_t>(c.b) << 8 | c.a);
}

constexpr ColorTable table = {
    .__pyx_new = new_color,
    .c_equal = equal,
    .c_normalize = normalize,
    .c_tint = tint,
    .fade = fade,
    .to_int = to_int,
};

// ---------------------------------------------------------------------------------------------
// Python members

PyObject* py_to_int(C* self) {
    int value = to_int(self, 1);
    if (value == -1 && PyErr_Occurred()) return nullptr;
    return PyLong_FromLong(value);
}

PyObject* py_fade(C* self, double alpha) { return fade(self, alpha, 1); }

PyMethodDef methods[] = {  // in the order of Method
    frame::method<"to_int", py_to_int>("The channels packed as 0xRRGGBBAA, read as a signed 32-bit int."),
    frame::method<"fade", py_fade, "alpha">("A new color with alpha set to the fraction alpha (0 to 1) of full opacity."),
    {},
};

PyObject* get_channel(C* self, void* channel) {
    return PyLong_FromLong((&self->_raw.r)[reinterpret_cast<std::intptr_t>(channel)]);
}

bool set_channel(C* self, PyObject* value, void* closure) {
    auto channel = static_cast<int>(reinterpret_cast<std::intptr_t>(closure));
    return to_channel(value, channel, (&self->_raw.r)[channel]);
}

void* channel(std::intptr_t i) { return reinterpret_cast<void*>(i); }

PyGetSetDef properties[] = {
    frame::property<"r", get_channel, set_channel>(channel(0), "The red channel, 0 to 255."),
    frame::property<"g", get_channel, set_channel>(channel(1), "The green channel, 0 to 255."),
    frame::property<"b", get_channel, set_channel>(channel(2), "The blue channel, 0 to 255."),
    frame::property<"a", get_channel, set_channel>(channel(3), "The alpha channel, 0 to 255."),
    {},
};

PyObject* tp_new(PyTypeObject* type, PyObject*, PyObject*) {
    return reinterpret_cast<PyObject*>(frame::allocate<C>(type));
}

void dealloc(PyObject* self) { Py_TYPE(self)->tp_free(self); }

// Color(r, g, b, a): four channels of 0..255, all checked before any is stored. Keywords are
// refused.
int tp_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* given[4];
    rl::Color raw;
    if (kwargs && PyDict_GET_SIZE(kwargs)) {
        PyObject *key, *value;
        Py_ssize_t pos = 0;
        PyDict_Next(kwargs, &pos, &key, &value);
        frame::raise_unexpected_keyword("__init__", key);
    } else if (frame::bind("__init__", channel_names, &PyTuple_GET_ITEM(args, 0),
                           PyTuple_GET_SIZE(args), nullptr, given) &&
               to_channel(given[0], 0, raw.r) && to_channel(given[1], 1, raw.g) &&
               to_channel(given[2], 2, raw.b) && to_channel(given[3], 3, raw.a)) {
        as_color(self)->_raw = raw;
        return 0;
    }
    frame::traceback(C::type, "__init__");
    return -1;
}

PyObject* repr(PyObject* self) {
    const rl::Color& c = as_color(self)->_raw;
    return PyUnicode_FromFormat("Color(%d, %d, %d, %d)", c.r, c.g, c.b, c.a);
}

// Equal when the other is a Color (or subclass) with the same channels; mutable, so no hash.
PyObject* richcompare(PyObject* self, PyObject* other, int op) {
    if ((op != Py_EQ && op != Py_NE) || !frame::is_instance<C>(other)) Py_RETURN_NOTIMPLEMENTED;
    return PyBool_FromLong(equal(as_color(self), as_color(other)) == (op == Py_EQ));
}

PyTypeObject type = [] {
    PyTypeObject t = frame::static_type("tavoro.color.color.Color", sizeof(C),
                                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE);
    t.tp_dealloc = dealloc;
    t.tp_doc = "An RGBA color: Color(r, g, b, a), each channel 0 to 255.";
    t.tp_repr = repr;
    t.tp_hash = PyObject_HashNotImplemented;
    t.tp_richcompare = richcompare;
    t.tp_methods = methods;
    t.tp_getset = properties;
    t.tp_setattro = frame::assign_properties<C>;
    t.tp_init = tp_init;
    t.tp_new = tp_new;
    return t;
}();

const frame::TypeDef types[] = {
    frame::type_def<C>(type, &table, nullptr,
                       "Pickling of struct members such as self._raw must be explicitly requested "
                       "with @auto_pickle(True)"),
};
const frame::SiblingDef siblings[] = {frame::sibling<Vector4>("tavoro.vector4.vector4", "Vector4")};

const frame::ModuleDef module = {
    .name = "color",
    .full_name = "tavoro.color.color",
    .source = "src/tavoro/color/color.cpp",
    .types = types,
    .siblings = siblings,
};

}  // namespace
}  // namespace tavoro

TAVORO_MODULE(color, tavoro::module)
