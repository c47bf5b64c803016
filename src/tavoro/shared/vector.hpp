// The vector types, written once for both sizes: Vector2 and Vector3 instantiate these templates
// with their own record (which gives `size`, `data`, `type` and `vtable`) and add what only they
// have. Components are 32-bit floats; arithmetic between vectors is done in 32 bits, arithmetic
// with a Python number in double precision and narrowed on store.
#pragma once

#include "compat.hpp"
#include "float_text.hpp"
#include "frame.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <utility>

namespace tavoro::vec {

template <class V>
using Floats = std::array<float, V::size>;

// The names that differ between the sizes.
template <int N>
struct Names;

template <>
struct Names<2> {
    static constexpr const char* class_name = "Vector2";
    static constexpr frame::Text from_self{"from_vector2"};
    static constexpr frame::Text from_components{"from_xy"};
    static constexpr const char* doc =
        "A mutable vector of two 32-bit floats: Vector2(), Vector2(x, y), or Vector2(v) with v a\n"
        "Vector2, a list or tuple of two numbers, or another library's vector.";
};

template <>
struct Names<3> {
    static constexpr const char* class_name = "Vector3";
    static constexpr frame::Text from_self{"from_vector3"};
    static constexpr frame::Text from_components{"from_xyz"};
    static constexpr const char* doc =
        "A mutable vector of three 32-bit floats: Vector3(), Vector3(x, y, z), or Vector3(v) with v\n"
        "a Vector3, a list or tuple of three numbers, or another library's vector.";
};

inline constexpr frame::Text<2> component_names[] = {"x", "y", "z"};

// ---------------------------------------------------------------------------------------------
// Storage and allocation

template <class V>
Floats<V> load(const V* v) { return std::bit_cast<Floats<V>>(v->data); }

template <class V>
void store(V* v, const Floats<V>& values) { v->data = std::bit_cast<decltype(v->data)>(values); }

template <class V>
V* as_vector(PyObject* object) { return reinterpret_cast<V*>(object); }

template <class V>
inline frame::FreeList<V> free_list;

template <class V>
V* allocate(PyTypeObject* type) { return free_list<V>.take(type); }

template <class V>
PyObject* make(const Floats<V>& values) {
    V* v = allocate<V>(V::type);
    if (!v) return nullptr;
    store(v, values);
    return reinterpret_cast<PyObject*>(v);
}

template <class V>
void dealloc(PyObject* self) { free_list<V>.give(as_vector<V>(self)); }

template <class V>
PyObject* tp_new(PyTypeObject* type, PyObject*, PyObject*) {
    return reinterpret_cast<PyObject*>(allocate<V>(type));
}

// Element-wise helpers over the components.
template <class V, class F>
Floats<V> each(const Floats<V>& a, F f) {
    Floats<V> out;
    for (int i = 0; i < V::size; ++i) out[i] = f(a[i]);
    return out;
}

template <class V, class F>
Floats<V> each(const Floats<V>& a, const Floats<V>& b, F f) {
    Floats<V> out;
    for (int i = 0; i < V::size; ++i) out[i] = f(a[i], b[i]);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Construction

// Reads components 0..size-1 from `items` (any sequence), storing each as soon as it converts.
template <class V>
bool assign_items(V* self, PyObject* sequence, bool exact) {
    frame::Ref items[V::size];
    if (exact) {
        // Converting an item runs Python code, which may change a list: hold every item first.
        for (int i = 0; i < V::size; ++i)
            items[i] = frame::Ref(Py_NewRef(PySequence_Fast_GET_ITEM(sequence, i)));
    }
    for (int i = 0; i < V::size; ++i) {
        if (!exact && !(items[i] = frame::Ref(PySequence_GetItem(sequence, i)))) return false;
        if (!frame::to_float(items[i].get(), (&self->data.x)[i])) return false;
    }
    return true;
}

template <class V>
bool raise_sequence_length(Py_ssize_t length) {
    PyErr_Format(PyExc_TypeError, "%s() takes a sequence of length %d, but got %zd",
                 Names<V::size>::class_name, V::size, length);
    return false;
}

// A foreign vector type is recognised by this attribute, then read through x, y (and z).
inline frame::Name clamp_magnitude_ip{"clamp_magnitude_ip"};
inline frame::Name component_attributes[] = {frame::Name{"x"}, frame::Name{"y"}, frame::Name{"z"}};

// The constructor's body, shared by __init__ and the type's vectorcall.
template <class V>
bool init_from(V* self, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs == 0) {
        // Vector2 starts again from zero; Vector3 keeps what it holds.
        if constexpr (V::size == 2) self->data = {};
        return true;
    }
    if (nargs == V::size) {
        for (int i = 0; i < V::size; ++i)
            if (!frame::to_float(args[i], (&self->data.x)[i])) return false;
        return true;
    }
    if (nargs != 1) {
        PyErr_Format(PyExc_TypeError, "%s() takes 0, 1, or %d arguments, but %zd were given",
                     Names<V::size>::class_name, V::size, nargs);
        return false;
    }
    PyObject* arg = args[0];
    if (frame::is_instance<V>(arg)) {
        self->data = as_vector<V>(arg)->data;
        return true;
    }
    // Exact lists and tuples cannot carry a clamp_magnitude_ip attribute, so they skip that test.
    bool exact_sequence = PyList_CheckExact(arg) || PyTuple_CheckExact(arg);
    if (!exact_sequence) {
        int foreign = PyObject_HasAttrWithError(arg, clamp_magnitude_ip);
        if (foreign < 0) return false;
        if (foreign) {
            for (int i = 0; i < V::size; ++i) {
                frame::Ref value(PyObject_GetAttr(arg, component_attributes[i]));
                if (!value || !frame::to_float(value.get(), (&self->data.x)[i])) return false;
            }
            return true;
        }
    }
    if (exact_sequence || PyList_Check(arg) || PyTuple_Check(arg)) {
        Py_ssize_t length = exact_sequence ? PySequence_Fast_GET_SIZE(arg) : PyObject_Length(arg);
        if (length < 0) return false;
        if (length != V::size) return raise_sequence_length<V>(length);
        return assign_items(self, arg, exact_sequence);
    }
    frame::Ref name(PyType_GetName(Py_TYPE(arg)));
    if (name)
        PyErr_Format(PyExc_TypeError, "%s() invalid constructor argument: %U",
                     Names<V::size>::class_name, name.get());
    return false;
}

template <class V>
int tp_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    if (kwargs && PyDict_GET_SIZE(kwargs)) {
        PyObject *key, *value;
        Py_ssize_t pos = 0;
        PyDict_Next(kwargs, &pos, &key, &value);
        frame::raise_keyword_refused("__init__", key);
    } else if (init_from(as_vector<V>(self), &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args))) {
        return 0;
    }
    frame::traceback(V::type, "__init__");
    return -1;
}

// Calling the type: allocation and __init__ in one step, without an argument tuple.
template <class V>
PyObject* type_vectorcall(PyObject* type, PyObject* const* args, std::size_t nargsf,
                          PyObject* kwnames) {
    if (kwnames && PyTuple_GET_SIZE(kwnames)) {
        frame::raise_keyword_refused("__init__", PyTuple_GET_ITEM(kwnames, 0));
        frame::traceback(V::type, "__init__");
        return nullptr;
    }
    V* self = allocate<V>(reinterpret_cast<PyTypeObject*>(type));
    if (!self) return nullptr;
    if (!init_from(self, args, PyVectorcall_NARGS(nargsf))) {
        frame::traceback(V::type, "__init__");
        Py_DECREF(self);
        return nullptr;
    }
    return reinterpret_cast<PyObject*>(self);
}

// Items 0..size-1 of a list or tuple; refuses anything shorter.
template <class V>
PyObject* from_sequence(PyObject* sequence) {
    if (!PyList_Check(sequence) && !PyTuple_Check(sequence)) {
        frame::raise_incorrect_type("other", &PyTuple_Type, sequence);
        return nullptr;
    }
    Py_ssize_t length = PySequence_Fast_GET_SIZE(sequence);
    if (length < V::size) {
        raise_sequence_length<V>(length);
        return nullptr;
    }
    frame::Ref v(make<V>({}));
    if (!v || !assign_items(as_vector<V>(v.get()), sequence, true)) return nullptr;
    return v.release();
}

template <class V>
PyObject* from_tuple(frame::Tuple other) { return from_sequence<V>(other.object); }

template <class V>
PyObject* from_list(frame::List other) { return from_sequence<V>(other.object); }

template <class V>
PyObject* copy_of(V* other) { return make<V>(load(other)); }

// A vector of the given components, each widened to a double and narrowed to 32 bits.
template <class V, class... C>
PyObject* from_values(C... values) {
    static_assert(sizeof...(C) == V::size);
    return make<V>({static_cast<float>(static_cast<double>(values))...});
}

// ---------------------------------------------------------------------------------------------
// Components, sequence protocol, repr, hash, comparison

template <class V>
PyObject* get_component(V* self, void* index) {
    return PyFloat_FromDouble(load(self)[reinterpret_cast<std::intptr_t>(index)]);
}

template <class V>
bool set_component(V* self, PyObject* value, void* index) {
    return frame::to_float(value, (&self->data.x)[reinterpret_cast<std::intptr_t>(index)]);
}

// Component I's property; the closure carries the index, the name shows in tracebacks.
template <class V, std::size_t I>
PyGetSetDef component_property() {
    static constexpr const char* docs[] = {"The x component.", "The y component.", "The z component."};
    return frame::property<component_names[I], get_component<V>, set_component<V>>(
        reinterpret_cast<void*>(static_cast<std::intptr_t>(I)), docs[I]);
}

inline void raise_index() { PyErr_SetString(PyExc_IndexError, "Vector index out of range"); }

template <class V>
Py_ssize_t length(PyObject*) { return V::size; }

// The sequence slot serves iteration, which ends at the first IndexError: it adds no traceback
// entry, since the interpreter discards the exception at once.
template <class V>
PyObject* item(PyObject* self, Py_ssize_t i) {
    if (i < 0 || i >= V::size) {
        raise_index();
        return nullptr;
    }
    return PyFloat_FromDouble(load(as_vector<V>(self))[i]);
}

// Subscription goes through here rather than the sequence slot, so negative indices are refused
// instead of counted from the end.
template <class V>
PyObject* subscript(PyObject* self, PyObject* key) {
    Py_ssize_t i;
    PyObject* result = frame::to_index(key, i) ? item<V>(self, i) : nullptr;
    if (!result) frame::traceback(V::type, "__getitem__");
    return result;
}

template <class V>
int assign_subscript(PyObject* self, PyObject* key, PyObject* value) {
    if (!value) {
        frame::raise_subscript_deletion(V::type);
    } else {
        Py_ssize_t i;
        float converted;
        if (frame::to_index(key, i) && frame::to_float(value, converted)) {
            if (i >= 0 && i < V::size) {
                (&as_vector<V>(self)->data.x)[i] = converted;
                return 0;
            }
            raise_index();
        }
    }
    frame::traceback(V::type, "__setitem__");
    return -1;
}

template <class V>
PyObject* repr(PyObject* self) {
    Floats<V> values = load(as_vector<V>(self));
    char text[V::size * (text::float_repr_size + 2) + 16] = "Vector";
    char* end = text + 6;
    *end++ = static_cast<char>('0' + V::size);
    *end++ = '(';
    for (int i = 0; i < V::size; ++i) {
        if (i) *end++ = ',', *end++ = ' ';
        end = text::float_repr(end, values[i]);
    }
    *end++ = ')';
    return text::ascii_string(text, end - text);
}

// hash(float(c)) of a 32-bit component: c is M·2^E with M below 2^24, and the interpreter's
// numeric hash is that value modulo the prime 2^61 - 1, where 2^E is a rotation by E mod 61.
inline Py_hash_t float_hash(PyObject* owner, float c) {
    constexpr int bits = 61;
    constexpr std::uint64_t modulus = (std::uint64_t{1} << bits) - 1;
    std::uint32_t raw = std::bit_cast<std::uint32_t>(c);
    int biased = static_cast<int>((raw >> 23) & 0xff);
    // Infinities and NaN (which hashes by identity: this vector stands in for the float).
    if (biased == 0xff) return compat::hash_non_finite(owner, c);
    std::uint64_t x = raw & 0x7fffff;
    int exponent = -149;
    if (biased) {
        x |= 0x800000;
        exponent = biased - 150;
    }
    int e = ((exponent % bits) + bits) % bits;
    x = ((x << e) & modulus) | (x >> (bits - e));
    if (raw >> 31) x = -x;
    return x == static_cast<std::uint64_t>(-1) ? -2 : static_cast<Py_hash_t>(x);
}

// The hash of the tuple of the components as Python floats, computed without building it.
template <class V>
Py_hash_t hash(PyObject* self) {
    constexpr Py_uhash_t prime1 = 11400714785074694791ULL;
    constexpr Py_uhash_t prime2 = 14029467366897019727ULL;
    constexpr Py_uhash_t prime5 = 2870177450012600261ULL;
    Py_uhash_t acc = prime5;
    for (float component : load(as_vector<V>(self))) {
        acc += static_cast<Py_uhash_t>(float_hash(self, component)) * prime2;
        acc = (acc << 31) | (acc >> 33);
        acc *= prime1;
    }
    acc += static_cast<Py_uhash_t>(V::size) ^ (prime5 ^ 3527539UL);
    return acc == static_cast<Py_uhash_t>(-1) ? 1546275796 : static_cast<Py_hash_t>(acc);
}

template <class V>
PyObject* richcompare(PyObject* self, PyObject* other, int op) {
    if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
    bool equal = frame::is_instance<V>(other) && load(as_vector<V>(self)) == load(as_vector<V>(other));
    return Py_NewRef(equal == (op == Py_EQ) ? Py_True : Py_False);
}

// ---------------------------------------------------------------------------------------------
// Arithmetic

template <class V>
Floats<V> add(const Floats<V>& a, const Floats<V>& b) { return each<V>(a, b, [](float x, float y) { return x + y; }); }

template <class V>
Floats<V> sub(const Floats<V>& a, const Floats<V>& b) { return each<V>(a, b, [](float x, float y) { return x - y; }); }

template <class V>
Floats<V> mul(const Floats<V>& a, const Floats<V>& b) { return each<V>(a, b, [](float x, float y) { return x * y; }); }

// Round half away from zero in 32 bits: 0.49999997 is the largest float below one half, so
// values just under a half do not round up.
inline float round_half_away(float c) { return std::trunc(c + std::copysign(0.49999997f, c)); }

// The sum of the squares in double precision: a square of a 32-bit float is exact there and
// neither overflows nor underflows, so lengths are right across the whole 32-bit range
// (in 32 bits, 1e20 squared is infinite and 1e-23 squared is zero).
template <class V>
double squared_length(const Floats<V>& a) {
    double squares = 0.0;
    for (float c : a) squares += static_cast<double>(c) * static_cast<double>(c);
    return squares;
}

// The length as a 32-bit float, from the squares summed in double: right across the 32-bit range,
// and the value `length` reads.
template <class V>
float length32(const Floats<V>& a) { return static_cast<float>(std::sqrt(squared_length<V>(a))); }

// Divided by the 32-bit length in double. A length outside the normal 32-bit range (its square
// outside [2^-252, 2^254]) divides by the double root instead: narrowed, it would be infinite
// near the largest float, and among the subnormals too coarse to give a unit vector.
template <class V>
Floats<V> normalized(const Floats<V>& a) {
    double squares = squared_length<V>(a);
    if (squares == 0.0) return {};
    double root = std::sqrt(squares);
    bool normal = squares >= 0x1p-252 && squares <= 0x1p254;
    double k = 1.0 / (normal ? static_cast<double>(static_cast<float>(root)) : root);
    return each<V>(a, [k](float c) { return static_cast<float>(static_cast<double>(c) * k); });
}

template <class V>
double distance_squared(const Floats<V>& a, const Floats<V>& b) {
    double sum = 0.0;
    for (int i = 0; i < V::size; ++i) {
        double d = static_cast<double>(a[i] - b[i]);
        sum += d * d;
    }
    return sum;
}

template <class V>
float dot(const Floats<V>& a, const Floats<V>& b) {
    float sum = 0.0f;
    for (int i = 0; i < V::size; ++i) sum += a[i] * b[i];
    return sum;
}

// The numbers a vector scales by: ints and floats, subclasses (and bool) included.
inline bool is_scalar(PyObject* object) { return PyFloat_Check(object) || PyLong_Check(object); }

// + and - refuse anything but a vector on the right with the incorrect-type error.
template <class V, Floats<V> (*Op)(const Floats<V>&, const Floats<V>&)>
PyObject* additive(PyObject* a, PyObject* b) {
    if (!frame::is_instance<V>(a)) Py_RETURN_NOTIMPLEMENTED;
    if (!frame::is_instance<V>(b)) {
        frame::raise_incorrect_type("other", V::type, b);
        return nullptr;
    }
    return make<V>(Op(load(as_vector<V>(a)), load(as_vector<V>(b))));
}

// *, / and //: component-wise with a vector, in double precision with a number.
template <class V, class VectorOp, class ScalarOp>
PyObject* multiplicative(PyObject* a, PyObject* b, VectorOp vector_op, ScalarOp scalar_op) {
    if (!frame::is_instance<V>(a)) Py_RETURN_NOTIMPLEMENTED;
    Floats<V> left = load(as_vector<V>(a));
    if (frame::is_instance<V>(b)) return make<V>(each<V>(left, load(as_vector<V>(b)), vector_op));
    if (!is_scalar(b)) Py_RETURN_NOTIMPLEMENTED;
    double s;
    if (!frame::to_double(b, s)) return nullptr;
    return make<V>(each<V>(left, [&](float c) {
        return static_cast<float>(scalar_op(static_cast<double>(c), s));
    }));
}

template <class V>
PyObject* nb_add(PyObject* a, PyObject* b) { return additive<V, add<V>>(a, b); }

template <class V>
PyObject* nb_subtract(PyObject* a, PyObject* b) { return additive<V, sub<V>>(a, b); }

template <class V>
PyObject* nb_multiply(PyObject* a, PyObject* b) {
    return multiplicative<V>(a, b, [](float x, float y) { return x * y; },
                             [](double c, double s) { return c * s; });
}

template <class V>
PyObject* nb_true_divide(PyObject* a, PyObject* b) {
    return multiplicative<V>(a, b, [](float x, float y) { return x / y; },
                             [](double c, double s) { return c / s; });
}

// A zero divisor component gives IEEE results (an infinity, or NaN for zero by zero), floored.
template <class V>
PyObject* nb_floor_divide(PyObject* a, PyObject* b) {
    return multiplicative<V>(a, b, [](float x, float y) { return std::floor(x / y); },
                             [](double c, double s) { return std::floor(c / s); });
}

template <class V>
PyObject* nb_negative(PyObject* self) {
    return make<V>(each<V>(load(as_vector<V>(self)), [](float c) { return -c; }));
}

// Py_NewRef for a receiver handed straight back to the interpreter, as the in-place operators
// do. The interpreter increments a count in its low 32 bits and decrements it with a 64-bit
// read-modify-write a few instructions after the operator returns; a 64-bit read of a location
// whose latest store was 32 bits wide cannot be forwarded from the store buffer and waits for the
// store to reach the cache (a store-forwarding stall, about 5 ns here). So this reads the low half,
// as the interpreter's own increment does (the operand's count was just stored that way), and
// writes the whole count. The high half of a count is always zero in CPython 3.13's 64-bit
// builds: increments saturate at the immortal value 0xffffffff, which is left alone. Other
// layouts (free-threaded builds, later versions that keep flags beside the count) take Py_NewRef.
template <class T>
PyObject* new_ref_full_width(T* self) {
    PyObject* object = reinterpret_cast<PyObject*>(self);
#if SIZEOF_VOID_P > 4 && !defined(Py_GIL_DISABLED) && PY_VERSION_HEX < 0x030E0000
    std::uint32_t count = static_cast<std::uint32_t>(object->ob_refcnt) + 1;
    if (count != 0) object->ob_refcnt = static_cast<Py_ssize_t>(count);
    return object;
#else
    return Py_NewRef(object);
#endif
}

// In-place forms accept only a vector and return the receiver.
template <class V, Floats<V> (*Op)(const Floats<V>&, const Floats<V>&)>
PyObject* in_place(PyObject* self, PyObject* other) {
    if (!frame::is_instance<V>(other)) {
        frame::raise_incorrect_type("other", V::type, other);
        return nullptr;
    }
    V* v = as_vector<V>(self);
    store(v, Op(load(v), load(as_vector<V>(other))));
    return new_ref_full_width(self);
}

template <class V>
PyNumberMethods number_methods() {
    PyNumberMethods n{};
    n.nb_add = nb_add<V>;
    n.nb_subtract = nb_subtract<V>;
    n.nb_multiply = nb_multiply<V>;
    n.nb_negative = nb_negative<V>;
    n.nb_inplace_add = in_place<V, add<V>>;
    n.nb_inplace_subtract = in_place<V, sub<V>>;
    n.nb_inplace_multiply = in_place<V, mul<V>>;
    n.nb_floor_divide = nb_floor_divide<V>;
    n.nb_true_divide = nb_true_divide<V>;
    return n;
}

// ---------------------------------------------------------------------------------------------
// Methods. Each takes the receiver first; the native table's entries wrap them with the ignored
// skip_dispatch flag.

template <class V>
PyObject* sadd(V* self, V* new_vec, V* old_vec) {
    store(self, add<V>(load(new_vec), load(old_vec)));
    Py_RETURN_NONE;
}

template <class V>
PyObject* get_tuple(V* self) {
    Floats<V> values = load(self);
    PyObject* tuple = PyTuple_New(V::size);
    if (!tuple) return nullptr;
    for (int i = 0; i < V::size; ++i) {
        PyObject* item = PyFloat_FromDouble(values[i]);
        if (!item) {
            Py_DECREF(tuple);
            return nullptr;
        }
        PyTuple_SET_ITEM(tuple, i, item);
    }
    return tuple;
}

// Python's int() of a 32-bit component, held to the 32-bit signed range.
inline PyObject* int32_of(float c) {
    if (std::isnan(c)) {
        PyErr_SetString(PyExc_ValueError, "cannot convert float NaN to integer");
        return nullptr;
    }
    if (std::isinf(c)) {
        PyErr_SetString(PyExc_OverflowError, "cannot convert float infinity to integer");
        return nullptr;
    }
    float t = std::trunc(c);
    if (t < -2147483648.0f || t >= 2147483648.0f) {
        frame::raise_int_overflow();
        return nullptr;
    }
    return PyLong_FromLong(static_cast<long>(t));
}

template <class V>
PyObject* int_tuple(const Floats<V>& values) {
    frame::Ref tuple(PyTuple_New(V::size));
    if (!tuple) return nullptr;
    for (int i = 0; i < V::size; ++i) {
        PyObject* item = int32_of(values[i]);
        if (!item) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), i, item);
    }
    return tuple.release();
}

template <class V>
PyObject* get_int_tuple(V* self) { return int_tuple<V>(load(self)); }

template <class V>
PyObject* get_rounded_tuple(V* self) { return int_tuple<V>(each<V>(load(self), round_half_away)); }

template <class V>
PyObject* to_round(V* self) {
    store(self, each<V>(load(self), round_half_away));
    return new_ref_full_width(self);
}

template <class V>
PyObject* get_round(V* self) { return make<V>(each<V>(load(self), round_half_away)); }

template <class V>
PyObject* to_abs(V* self) {
    store(self, each<V>(load(self), [](float c) { return std::fabs(c); }));
    return new_ref_full_width(self);
}

template <class V>
PyObject* get_abs(V* self) { return make<V>(each<V>(load(self), [](float c) { return std::fabs(c); })); }

template <class V>
PyObject* to_neg(V* self) {
    store(self, each<V>(load(self), [](float c) { return -c; }));
    return new_ref_full_width(self);
}

template <class V>
PyObject* get_neg(V* self) { return make<V>(each<V>(load(self), [](float c) { return -c; })); }

template <class V>
PyObject* copy(V* self) { return make<V>(load(self)); }

template <class V>
PyObject* deepcopy(V* self, PyObject* /*memo*/) { return make<V>(load(self)); }

template <class V>
PyObject* to_normalized(V* self) {
    store(self, normalized<V>(load(self)));
    return new_ref_full_width(self);
}

template <class V>
PyObject* get_normalized(V* self) { return make<V>(normalized<V>(load(self))); }

template <class V>
double distance_to(V* self, V* other) { return std::sqrt(distance_squared<V>(load(self), load(other))); }

template <class V>
double distance_squared_to(V* self, V* other) { return distance_squared<V>(load(self), load(other)); }

template <class V>
double dot_method(V* self, V* other) { return dot<V>(load(self), load(other)); }

template <class V>
PyObject* length_of(V* self, void*) { return PyFloat_FromDouble(length32<V>(load(self))); }

template <class V>
double length_squared(V* self) { return squared_length<V>(load(self)); }

// The operators by name, with the results of their slots (NotImplemented returned as a value).
template <class V, binaryfunc Slot>
PyObject* operator_method(V* self, PyObject* other) { return Slot(reinterpret_cast<PyObject*>(self), other); }

// A swizzle property: the closure holds its name, whose letters pick the components.
template <class V>
PyObject* swizzle(V* self, void* letters) {
    Floats<V> values = load(self);
    Floats<V> out;
    const char* name = static_cast<const char*>(letters);
    for (int i = 0; i < V::size; ++i) out[i] = values[name[i] - 'x'];
    return make<V>(out);
}

// ---------------------------------------------------------------------------------------------
// Native table entries: the methods above behind the table's calling convention.

template <class V, PyObject* (*F)(V*)>
PyObject* flagged(V* self, int /*skip_dispatch*/) { return F(self); }

template <class V, double (*F)(V*, V*)>
double flagged_with(V* self, V* other, int /*skip_dispatch*/) { return F(self, other); }

template <class V>
PyObject* native_add(V* a, V* b) { return make<V>(add<V>(load(a), load(b))); }

template <class V>
PyObject* native_sub(V* a, V* b) { return make<V>(sub<V>(load(a), load(b))); }

template <class V, Floats<V> (*Op)(const Floats<V>&, const Floats<V>&)>
void native_in_place(V* self, V* other) { store(self, Op(load(self), load(other))); }

template <class V>
void native_sadd(V* self, V* new_vec, V* old_vec) { store(self, add<V>(load(new_vec), load(old_vec))); }

template <class V>
void native_sadd_flagged(V* self, V* new_vec, V* old_vec, int) { native_sadd(self, new_vec, old_vec); }

// The entries both sizes' tables share by name; each module fills in the rest.
template <class V>
constexpr typename V::Table native_table() {
    typename V::Table t{};
    t.cfrom_list = from_sequence<V>;
    t.cfrom_tuple = from_sequence<V>;
    t._add = native_add<V>;
    t._sub = native_sub<V>;
    t._iadd = native_in_place<V, add<V>>;
    t._isub = native_in_place<V, sub<V>>;
    t._imul = native_in_place<V, mul<V>>;
    t._sadd = native_sadd<V>;
    t.sadd = native_sadd_flagged<V>;
    t.get_tuple = flagged<V, get_tuple<V>>;
    t.c_get_tuple = get_tuple<V>;
    t.to_round = flagged<V, to_round<V>>;
    t.get_round = flagged<V, get_round<V>>;
    t.to_abs = flagged<V, to_abs<V>>;
    t.get_abs = flagged<V, get_abs<V>>;
    t.to_neg = flagged<V, to_neg<V>>;
    t.get_neg = flagged<V, get_neg<V>>;
    t.get_int_tuple = flagged<V, get_int_tuple<V>>;
    t.get_rounded_tuple = flagged<V, get_rounded_tuple<V>>;
    t.copy = flagged<V, copy<V>>;
    t.to_normalized = flagged<V, to_normalized<V>>;
    t.get_normalized = flagged<V, get_normalized<V>>;
    t.distance_to = flagged_with<V, distance_to<V>>;
    t.distance_squared_to = flagged_with<V, distance_squared_to<V>>;
    t.dot = flagged_with<V, dot_method<V>>;
    return t;
}

// ---------------------------------------------------------------------------------------------
// Python members common to both sizes

// The methods both sizes have, followed by `extra` and the terminating entry.
template <class V, class... Extra>
auto methods(Extra... extra) {
    return std::array{
        frame::method<"sadd", sadd<V>, "new_vec", "old_vec">("Sets this vector to new_vec + old_vec; returns None."),
        frame::method<"get_tuple", get_tuple<V>>("The components as a tuple of floats."),
        frame::method<"to_round", to_round<V>>("Rounds each component to a whole number, halves away from zero; returns self."),
        frame::method<"get_round", get_round<V>>("A new vector of the components rounded, halves away from zero."),
        frame::method<"to_abs", to_abs<V>>("Makes each component non-negative; returns self."),
        frame::method<"get_abs", get_abs<V>>("A new vector of the components' absolute values."),
        frame::method<"to_neg", to_neg<V>>("Flips the sign of each component; returns self."),
        frame::method<"get_neg", get_neg<V>>("A new vector with each component's sign flipped, as -v."),
        frame::method<"get_int_tuple", get_int_tuple<V>>("The components truncated toward zero, as a tuple of ints."),
        frame::method<"get_rounded_tuple", get_rounded_tuple<V>>("The components rounded halves away from zero, as a tuple of ints."),
        frame::method<"copy", copy<V>>("A new vector with the same components."),
        frame::method<"__copy__", copy<V>>("A new vector with the same components."),
        frame::method<"__deepcopy__", deepcopy<V>, "memo">("A new vector with the same components; memo is not used."),
        frame::method<"to_normalized", to_normalized<V>>("Scales this vector to length 1 (the zero vector stays zero); returns self."),
        frame::method<"get_normalized", get_normalized<V>>("A new vector of length 1 in this direction, or zero for the zero vector."),
        frame::method<"distance_to", distance_to<V>, "other">("The distance to the vector other."),
        frame::method<"distance_squared_to", distance_squared_to<V>, "other">("The squared distance to the vector other."),
        frame::method<"dot", dot_method<V>, "other">("The dot product with the vector other, in 32-bit floats."),
        frame::method<"length_squared", length_squared<V>>("The squared length, summed in double precision."),
        frame::slot_method<"__add__", operator_method<V, nb_add<V>>, "other">("The component-wise sum with a vector."),
        frame::slot_method<"__sub__", operator_method<V, nb_subtract<V>>, "other">("The component-wise difference with a vector."),
        frame::slot_method<"__mul__", operator_method<V, nb_multiply<V>>, "other">("The component-wise product with a vector, or the vector times a number."),
        frame::slot_method<"__truediv__", operator_method<V, nb_true_divide<V>>, "other">("The component-wise quotient by a vector, or the vector over a number."),
        frame::slot_method<"__floordiv__", operator_method<V, nb_floor_divide<V>>, "other">("The floor of the component-wise quotient by a vector or a number."),
        extra...,
        PyMethodDef{},
    };
}

// The static constructors both sizes have, followed by `extra` and the terminating entry.
template <class V, class... Extra>
auto static_methods(Extra... extra) {
    using N = Names<V::size>;
    auto shared = [&](auto from_ints, auto from_floats, auto from_components) {
        return std::array{
            frame::static_method<V, N::from_self, copy_of<V>, "other">("A copy of the vector other."),
            frame::static_method<V, "from_tuple", from_tuple<V>, "other">("A new vector from the first items of a tuple."),
            frame::static_method<V, "from_list", from_list<V>, "other">("A new vector from the first items of a list."),
            from_ints, from_floats, from_components,
            extra...,
            PyMethodDef{},
        };
    };
    if constexpr (V::size == 2) {
        constexpr auto from = from_values<V, double, double>;
        return shared(frame::static_method<V, "from_ints", from_values<V, int, int>, "x", "y">("A new vector from two 32-bit integers."),
                      frame::static_method<V, "from_floats", from, "x", "y">("A new vector from two numbers."),
                      frame::static_method<V, N::from_components, from, "x", "y">("A new vector from two numbers."));
    } else {
        constexpr auto from = from_values<V, double, double, double>;
        return shared(frame::static_method<V, "from_ints", from_values<V, int, int, int>, "x", "y", "z">("A new vector from three 32-bit integers."),
                      frame::static_method<V, "from_floats", from, "x", "y", "z">("A new vector from three numbers."),
                      frame::static_method<V, N::from_components, from, "x", "y", "z">("A new vector from three numbers."));
    }
}

// Component properties, `length`, the swizzles named in `swizzles`, then `extra`.
template <class V, std::size_t S, class... Extra>
auto properties(const std::array<const char*, S>& swizzles, Extra... extra) {
    std::array<PyGetSetDef, V::size + 1 + S + sizeof...(Extra) + 1> out{};
    std::size_t n = 0;
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        ((out[n++] = component_property<V, I>()), ...);
    }(std::make_index_sequence<V::size>{});
    out[n++] = frame::readonly<"length", length_of<V>>(nullptr, "The length as a 32-bit float, from the squares summed in double precision.");
    for (const char* name : swizzles) {
        out[n] = frame::readonly<"swizzle", swizzle<V>>(const_cast<char*>(name),
                                                    "A new vector of the components named, in that order.");
        out[n++].name = name;
    }
    ((out[n++] = extra), ...);
    return out;
}

// The sequence and mapping protocols: len() is the size, subscription refuses negative indices.
template <class V>
PySequenceMethods sequence_methods() {
    PySequenceMethods s{};
    s.sq_length = length<V>;
    s.sq_item = item<V>;
    return s;
}

template <class V>
PyMappingMethods mapping_methods() {
    PyMappingMethods m{};
    m.mp_length = length<V>;
    m.mp_subscript = subscript<V>;
    m.mp_ass_subscript = assign_subscript<V>;
    return m;
}

// The protocol tables, the same for every vector of a size.
template <class V>
inline PyNumberMethods number_slots = number_methods<V>();
template <class V>
inline PySequenceMethods sequence_slots = sequence_methods<V>();
template <class V>
inline PyMappingMethods mapping_slots = mapping_methods<V>();

// The type object, less the member tables that each size gives it.
template <class V>
PyTypeObject type_object(const char* name, PyMethodDef* methods, PyGetSetDef* getset) {
    // Final: no subclasses, no references to other objects, no GC.
    PyTypeObject t = frame::static_type(name, sizeof(V), Py_TPFLAGS_DEFAULT);
    t.tp_dealloc = dealloc<V>;
    t.tp_doc = Names<V::size>::doc;
    t.tp_repr = repr<V>;
    t.tp_as_number = &number_slots<V>;
    t.tp_as_sequence = &sequence_slots<V>;
    t.tp_as_mapping = &mapping_slots<V>;
    t.tp_hash = hash<V>;
    t.tp_richcompare = richcompare<V>;
    t.tp_methods = methods;
    t.tp_getset = getset;
    t.tp_setattro = frame::assign_properties<V>;
    t.tp_init = tp_init<V>;
    t.tp_new = tp_new<V>;
    t.tp_vectorcall = type_vectorcall<V>;
    return t;
}

// Removes the slot wrappers the interpreter derives for reflected operands: a vector is never
// the right operand of its own operators.
inline int remove_reflected_operators(PyTypeObject* type) {
    for (const char* name : {"__radd__", "__rsub__", "__rmul__", "__rtruediv__", "__rfloordiv__"})
        if (PyDict_PopString(type->tp_dict, name, nullptr) < 0) return -1;
    PyType_Modified(type);
    return 0;
}

inline constexpr const char* pickling_refusal =
    "Pickling of struct members such as self.data must be explicitly requested with "
    "@auto_pickle(True)";

}  // namespace tavoro::vec
