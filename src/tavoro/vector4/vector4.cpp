// tavoro.vector4.vector4: a four-component vector of doubles. Python code sees its components,
// equality and repr; the arithmetic lives in the native table for the package's other modules.
#include "../shared/siblings.hpp"
#include "../shared/sequence.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <cstdio>

namespace tavoro {
namespace {

using V = Vector4;
using Doubles = std::array<double, 4>;

Doubles load(const V* v) { return std::bit_cast<Doubles>(v->data); }
V* as_vector(PyObject* object) { return reinterpret_cast<V*>(object); }

PyObject* make(const Doubles& values) {
    V* v = frame::allocate<V>(V::type);
    if (v) v->data = std::bit_cast<Vector4Data>(values);
    return reinterpret_cast<PyObject*>(v);
}

template <class F>
Doubles each(const Doubles& a, F f) { return {f(a[0]), f(a[1]), f(a[2]), f(a[3])}; }

template <class F>
Doubles each(const Doubles& a, const Doubles& b, F f) {
    return {f(a[0], b[0]), f(a[1], b[1]), f(a[2], b[2]), f(a[3], b[3])};
}

Doubles add(const Doubles& a, const Doubles& b) { return each(a, b, [](double p, double q) { return p + q; }); }
Doubles sub(const Doubles& a, const Doubles& b) { return each(a, b, [](double p, double q) { return p - q; }); }
Doubles mul(const Doubles& a, const Doubles& b) { return each(a, b, [](double p, double q) { return p * q; }); }

double dot(const Doubles& a, const Doubles& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3]; }

Doubles normalized(const Doubles& a) {
    double length = std::sqrt(dot(a, a));
    if (length == 0.0) return {};
    return each(a, [length](double c) { return c / length; });
}

double round_half_away(double c) { return std::round(c); }

// ---------------------------------------------------------------------------------------------
// Native entries

template <class... C>
PyObject* from_values(C... values) { return make({static_cast<double>(values)...}); }

// Items 0 to 3 of a list or tuple; a shorter one raises IndexError.
PyObject* from_sequence(PyObject* sequence) {
    if (!PyList_Check(sequence) && !PyTuple_Check(sequence)) {
        frame::raise_incorrect_type("other", &PyTuple_Type, sequence);
        return nullptr;
    }
    double values[4];
    if (!sequence::convert_items(sequence, values, frame::to_double)) return nullptr;
    return make({values[0], values[1], values[2], values[3]});
}

PyObject* copy_of(V* other) { return make(load(other)); }

template <Doubles (*Op)(const Doubles&, const Doubles&)>
PyObject* combined(V* a, V* b) { return make(Op(load(a), load(b))); }

template <Doubles (*Op)(const Doubles&, const Doubles&)>
void in_place(V* self, V* other) { self->data = std::bit_cast<Vector4Data>(Op(load(self), load(other))); }

PyObject* tuple_of(V* self) {
    Doubles d = load(self);
    return Py_BuildValue("(dddd)", d[0], d[1], d[2], d[3]);
}

// Python's int() of each component, after `f`.
template <double (*F)(double)>
PyObject* int_tuple(V* self, int) {
    frame::Ref tuple(PyTuple_New(4));
    if (!tuple) return nullptr;
    Doubles d = load(self);
    for (int i = 0; i < 4; ++i) {
        PyObject* item = PyLong_FromDouble(std::trunc(F(d[i])));
        if (!item) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), i, item);
    }
    return tuple.release();
}

double identity(double c) { return c; }
double negate(double c) { return -c; }
double absolute(double c) { return std::fabs(c); }

template <double (*F)(double)>
PyObject* to_each(V* self, int) {
    self->data = std::bit_cast<Vector4Data>(each(load(self), F));
    return Py_NewRef(self);
}

template <double (*F)(double)>
PyObject* get_each(V* self, int) { return make(each(load(self), F)); }

PyObject* to_normalized(V* self, int) {
    self->data = std::bit_cast<Vector4Data>(normalized(load(self)));
    return Py_NewRef(self);
}

PyObject* get_normalized(V* self, int) { return make(normalized(load(self))); }

double distance_squared(V* self, V* other, int) {
    Doubles d = sub(load(self), load(other));
    return dot(d, d);
}

constexpr Vector4Table table = {
    .__pyx_new = from_values<double, double, double, double>,
    .cfrom_list = from_sequence,
    .cfrom_ints = from_values<int, int, int, int>,
    .cfrom_floats = from_values<float, float, float, float>,
    .cfrom_tuple = from_sequence,
    .cfrom_vector4 = copy_of,
    .cfrom_xyzw = from_values<double, double, double, double>,
    ._add = combined<add>,
    ._sub = combined<sub>,
    ._iadd = in_place<add>,
    ._isub = in_place<sub>,
    ._imul = in_place<mul>,
    ._sadd = [](V* self, V* a, V* b) { self->data = std::bit_cast<Vector4Data>(add(load(a), load(b))); },
    .sadd = [](V* self, V* a, V* b, int) { self->data = std::bit_cast<Vector4Data>(add(load(a), load(b))); },
    .get_tuple = [](V* self, int) { return tuple_of(self); },
    .c_get_tuple = tuple_of,
    .to_round = to_each<round_half_away>,
    .get_round = get_each<round_half_away>,
    .to_abs = to_each<absolute>,
    .get_abs = get_each<absolute>,
    .to_neg = to_each<negate>,
    .get_neg = get_each<negate>,
    .get_int_tuple = int_tuple<identity>,
    .get_rounded_tuple = int_tuple<round_half_away>,
    .copy = [](V* self, int) { return copy_of(self); },
    .to_normalized = to_normalized,
    .get_normalized = get_normalized,
    .distance_to = [](V* self, V* other, int flag) { return std::sqrt(distance_squared(self, other, flag)); },
    .distance_squared_to = distance_squared,
    .dot = [](V* self, V* other, int) { return dot(load(self), load(other)); },
};

// ---------------------------------------------------------------------------------------------
// Python members

PyObject* tp_new(PyTypeObject* type, PyObject*, PyObject*) {
    return reinterpret_cast<PyObject*>(frame::allocate<V>(type));
}

void dealloc(PyObject* self) { Py_TYPE(self)->tp_free(self); }

// Vector4() is the zero vector; Vector4(x, y, z, w) takes four numbers. Keywords are refused.
int tp_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    static constexpr const char* names[] = {"x", "y", "z", "w"};
    Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    PyObject* given[4];
    double values[4] = {};
    if (kwargs && PyDict_GET_SIZE(kwargs)) {
        PyObject *key, *value;
        Py_ssize_t pos = 0;
        PyDict_Next(kwargs, &pos, &key, &value);
        frame::raise_unexpected_keyword("__init__", key);
    } else if (nargs == 0 ||
               (frame::bind("__init__", names, &PyTuple_GET_ITEM(args, 0), nargs, nullptr, given) &&
                frame::to_double(given[0], values[0]) && frame::to_double(given[1], values[1]) &&
                frame::to_double(given[2], values[2]) && frame::to_double(given[3], values[3]))) {
        as_vector(self)->data = {values[0], values[1], values[2], values[3]};
        return 0;
    }
    frame::traceback(V::type, "__init__");
    return -1;
}

PyObject* get_component(V* self, void* index) {
    return PyFloat_FromDouble(load(self)[reinterpret_cast<std::intptr_t>(index)]);
}

bool set_component(V* self, PyObject* value, void* index) {
    return frame::to_double(value, (&self->data.x)[reinterpret_cast<std::intptr_t>(index)]);
}

void* index(std::intptr_t i) { return reinterpret_cast<void*>(i); }

PyGetSetDef properties[] = {
    frame::property<"x", get_component, set_component>(index(0), "The x component."),
    frame::property<"y", get_component, set_component>(index(1), "The y component."),
    frame::property<"z", get_component, set_component>(index(2), "The z component."),
    frame::property<"w", get_component, set_component>(index(3), "The w component."),
    {},
};

PyObject* repr(PyObject* self) {
    Doubles d = load(as_vector(self));
    char* text[4] = {};
    for (int i = 0; i < 4; ++i)
        text[i] = PyOS_double_to_string(d[i], 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
    PyObject* result = nullptr;
    if (text[0] && text[1] && text[2] && text[3])
        result = PyUnicode_FromFormat("Vector4(%s, %s, %s, %s)", text[0], text[1], text[2], text[3]);
    for (char* t : text) PyMem_Free(t);
    return result;
}

// Equal when the other is a Vector4 (or subclass) with the same components; mutable, so no hash.
PyObject* richcompare(PyObject* self, PyObject* other, int op) {
    if ((op != Py_EQ && op != Py_NE) || !frame::is_instance<V>(other)) Py_RETURN_NOTIMPLEMENTED;
    bool equal = load(as_vector(self)) == load(as_vector(other));
    return PyBool_FromLong(equal == (op == Py_EQ));
}

PyTypeObject type = [] {
    PyTypeObject t = frame::static_type("tavoro.vector4.vector4.Vector4", sizeof(V),
                                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE);
    t.tp_dealloc = dealloc;
    t.tp_doc = "A mutable vector of four 64-bit floats: Vector4() or Vector4(x, y, z, w).";
    t.tp_repr = repr;
    t.tp_hash = PyObject_HashNotImplemented;
    t.tp_richcompare = richcompare;
    t.tp_getset = properties;
    t.tp_setattro = frame::assign_properties<V>;
    t.tp_init = tp_init;
    t.tp_new = tp_new;
    return t;
}();

const frame::TypeDef types[] = {
    frame::type_def<V>(type, &table, nullptr,
                       "Pickling of struct members such as self.data must be explicitly requested "
                       "with @auto_pickle(True)"),
};

const frame::ModuleDef module = {
    .name = "vector4",
    .full_name = "tavoro.vector4.vector4",
    .source = "src/tavoro/vector4/vector4.cpp",
    .types = types,
};

}  // namespace
}  // namespace tavoro

TAVORO_MODULE(vector4, tavoro::module)
