// tavoro.rect.rect: the axis-aligned rectangle. Built from numbers, vectors, sequences or other
// rectangles; moved through its edge and centre properties; asked whether a point lies in it
// (edges inclusive) or another rectangle overlaps it (edges exclusive).
//
// Each collision question has a dispatcher that takes every argument form and converts the
// coordinates to doubles, and typed methods, one per form, that compare the coordinate objects
// with the interpreter's own operators (with a plain-double shortcut where that gives the same
// answer).
#include "rect.hpp"
#include "rect_parts.hpp"

#include "../shared/dispatch.hpp"
#include "../shared/sequence.hpp"


#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace tavoro {
namespace {

// Arguments of the typed sequence methods: exactly a tuple (or list), or None, which then fails
// at the first subscription like any unsubscriptable object.
struct TupleOrNone { PyObject* object; };
struct ListOrNone { PyObject* object; };

template <class T>
bool exact_or_none(PyObject* object, const char* name, PyTypeObject* expected, T& out) {
    if (object != Py_None && Py_TYPE(object) != expected)
        return frame::raise_incorrect_type(name, expected, object);
    out.object = object;
    return true;
}

}  // namespace

template <>
struct frame::Arg<TupleOrNone> {
    static bool from(PyObject* object, const char* name, TupleOrNone& out) {
        return exact_or_none(object, name, &PyTuple_Type, out);
    }
};

template <>
struct frame::Arg<ListOrNone> {
    static bool from(PyObject* object, const char* name, ListOrNone& out) {
        return exact_or_none(object, name, &PyList_Type, out);
    }
};

namespace {

using R = Rect;

constexpr const char* arity_message = "Rect expected 0, 1, 2, or 4 arguments, got %zd";
constexpr const char* one_argument_message =
    "Rect takes Vector2, Rect, Vector4, or list/tuple of length 4";
constexpr const char* four_items_message = "list/tuple for rect must have 4 elements";
constexpr const char* first_pair_message =
    "First argument must be a Vector2 or list/tuple of length 2";
constexpr const char* second_pair_message =
    "Second argument must be a Vector2 or list/tuple of length 2";
constexpr const char* point_message = "Point must be a Vector2, tuple, or list of length 2";
constexpr const char* other_rect_message =
    "rect for collision must be a Rect, Vector4, tuple, or list of length 4";
constexpr const char* index_message = "Rect index out of range";
constexpr const char* not_subscriptable_message = "'NoneType' object is not subscriptable";
constexpr const char* pickling_refusal =
    "Pickling of struct members such as self._raw must be explicitly requested with "
    "@auto_pickle(True)";

frame::Name name_x{"x"};
frame::Name name_y{"y"};
frame::Name name_z{"z"};
frame::Name name_w{"w"};

R* as_rect(PyObject* object) { return reinterpret_cast<R*>(object); }
PyObject* as_object(const void* object) { return reinterpret_cast<PyObject*>(const_cast<void*>(object)); }

float* members(R* self) { return &self->_raw.x; }  // x, y, width, height

// Only exact instances go on the free list: a subclass instance's memory may carry the
// collector's header in front of it.
frame::FreeList<R> free_list;

R* allocate(PyTypeObject* type) {
    return type == R::type ? free_list.take(type) : frame::allocate<R>(type);
}

void dealloc(PyObject* self) {
    if (Py_TYPE(self) == R::type)
        free_list.give(as_rect(self));
    else
        Py_TYPE(self)->tp_free(self);
}

PyObject* tp_new(PyTypeObject* type, PyObject*, PyObject*) {
    return reinterpret_cast<PyObject*>(allocate(type));
}

// ---------------------------------------------------------------------------------------------
// Reading the argument forms. Each reads all of its values before the caller writes any.

bool attribute_double(PyObject* object, PyObject* name, double& out) {
    frame::Ref value(PyObject_GetAttr(object, name));
    return value && frame::to_double(value.get(), out);
}

// A Vector2's x and y: an exact one's data, a subclass's attributes.
bool vector2_values(PyObject* vector, double (&out)[2]) {
    if (frame::is_exact<Vector2>(vector)) {
        const rl::Vector2& data = reinterpret_cast<Vector2*>(vector)->data;
        out[0] = data.x;
        out[1] = data.y;
        return true;
    }
    return attribute_double(vector, name_x, out[0]) && attribute_double(vector, name_y, out[1]);
}

// A Vector4's x, y, z and w, in that order.
bool vector4_values(PyObject* vector, double (&out)[4]) {
    if (frame::is_exact<Vector4>(vector)) {
        const Vector4Data& data = reinterpret_cast<Vector4*>(vector)->data;
        out[0] = data.x, out[1] = data.y, out[2] = data.z, out[3] = data.w;
        return true;
    }
    return attribute_double(vector, name_x, out[0]) && attribute_double(vector, name_y, out[1]) &&
           attribute_double(vector, name_z, out[2]) && attribute_double(vector, name_w, out[3]);
}

void rect_values(PyObject* rect, double (&out)[4]) {
    const rl::Rectangle& raw = as_rect(rect)->_raw;
    out[0] = raw.x, out[1] = raw.y, out[2] = raw.width, out[3] = raw.height;
}

bool is_list_or_tuple(PyObject* object) { return PyTuple_Check(object) || PyList_Check(object); }

// Items of a list or tuple that must have exactly N of them; `refusal` is the ValueError for
// any other length.
template <std::size_t N>
bool sequence_values(PyObject* sequence, double (&out)[N], const char* refusal) {
    Py_ssize_t length = sequence::length(sequence);
    if (length < 0) return false;
    if (length != static_cast<Py_ssize_t>(N)) {
        PyErr_SetString(PyExc_ValueError, refusal);
        return false;
    }
    return sequence::convert_items(sequence, out, frame::to_double);
}

// A position or a size: a Vector2 or a list or tuple of 2 items.
bool pair_values(PyObject* arg, double (&out)[2], const char* refusal) {
    if (frame::is_instance<Vector2>(arg)) return vector2_values(arg, out);
    if (is_list_or_tuple(arg)) return sequence_values(arg, out, refusal);
    PyErr_SetString(PyExc_ValueError, refusal);
    return false;
}

bool one_argument_values(PyObject* arg, double (&out)[4]) {
    if (frame::is_instance<Vector2>(arg)) {
        double size[2];
        if (!vector2_values(arg, size)) return false;
        out[0] = out[1] = 0.0, out[2] = size[0], out[3] = size[1];
        return true;
    }
    if (frame::is_instance<R>(arg)) {
        rect_values(arg, out);
        return true;
    }
    if (frame::is_instance<Vector4>(arg)) return vector4_values(arg, out);
    if (is_list_or_tuple(arg)) return sequence_values(arg, out, four_items_message);
    PyErr_SetString(PyExc_ValueError, one_argument_message);
    return false;
}

void store(R* self, const double (&values)[4]) {
    self->_raw = {static_cast<float>(values[0]), static_cast<float>(values[1]),
                  static_cast<float>(values[2]), static_cast<float>(values[3])};
}

// The constructor's body, shared by __init__ and the type's vectorcall.
bool init_from(R* self, PyObject* const* args, Py_ssize_t nargs) {
    double values[4] = {};
    switch (nargs) {
    case 0:
        break;
    case 1:
        if (!one_argument_values(args[0], values)) return false;
        break;
    case 2: {
        double position[2], size[2];
        if (!pair_values(args[0], position, first_pair_message) ||
            !pair_values(args[1], size, second_pair_message))
            return false;
        values[0] = position[0], values[1] = position[1], values[2] = size[0], values[3] = size[1];
        break;
    }
    case 4:
        for (int i = 0; i < 4; ++i)
            if (!frame::to_double(args[i], values[i])) return false;
        break;
    default:
        PyErr_Format(PyExc_TypeError, arity_message, nargs);
        return false;
    }
    store(self, values);
    return true;
}

bool refuse_keywords(PyObject* first_keyword) {
    frame::raise_unexpected_keyword("__init__", first_keyword);
    frame::traceback(R::type, "__init__");
    return false;
}

int tp_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    if (kwargs && PyDict_GET_SIZE(kwargs)) {
        PyObject *key, *value;
        Py_ssize_t pos = 0;
        PyDict_Next(kwargs, &pos, &key, &value);
        refuse_keywords(key);
        return -1;
    }
    if (init_from(as_rect(self), &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args))) return 0;
    frame::traceback(R::type, "__init__");
    return -1;
}

// Calling Rect itself: allocation and __init__ in one step, without an argument tuple.
// Subclasses may define __new__ or __init__ of their own, so they take the ordinary way.
PyObject* type_vectorcall(PyObject* type, PyObject* const* args, std::size_t nargsf,
                          PyObject* kwnames) {
    if (type != as_object(R::type)) return frame::call_type(type, args, nargsf, kwnames);
    if (kwnames && PyTuple_GET_SIZE(kwnames)) {
        refuse_keywords(PyTuple_GET_ITEM(kwnames, 0));
        return nullptr;
    }
    R* self = allocate(R::type);
    if (!self) return nullptr;
    if (!init_from(self, args, PyVectorcall_NARGS(nargsf))) {
        frame::traceback(R::type, "__init__");
        Py_DECREF(self);
        return nullptr;
    }
    return as_object(self);
}

// ---------------------------------------------------------------------------------------------
// Comparing coordinate objects the way the interpreter does

// An exact float, or an exact int small enough that it, and its sum with another such value,
// is a double without rounding: then comparing and adding doubles is what the interpreter does.
bool plain_double(PyObject* item, double& out) {
    if (PyFloat_CheckExact(item)) {
        out = PyFloat_AS_DOUBLE(item);
        return true;
    }
    if (PyLong_CheckExact(item)) {
        constexpr long limit = 1L << 52;
        int overflow;
        long value = PyLong_AsLongAndOverflow(item, &overflow);
        if (!overflow && value >= -limit && value <= limit) {
            out = static_cast<double>(value);
            return true;
        }
    }
    return false;
}

bool compare_doubles(double a, int op, double b) {
    switch (op) {
    case Py_LT: return a < b;
    case Py_LE: return a <= b;
    default: return false;
    }
}

// The truth of `left op right`: 1 or 0, -1 on failure.
int compare_objects(PyObject* left, int op, PyObject* right) {
    frame::Ref result(PyObject_RichCompare(left, right, op));
    return result ? PyObject_IsTrue(result.get()) : -1;
}

// `bound op item`, the bound being a Python float.
int bound_before(double bound, int op, PyObject* item) {
    double value;
    if (plain_double(item, value)) return compare_doubles(bound, op, value);
    frame::Ref left(PyFloat_FromDouble(bound));
    return left ? compare_objects(left.get(), op, item) : -1;
}

// `item op bound`.
int bound_after(PyObject* item, int op, double bound) {
    double value;
    if (plain_double(item, value)) return compare_doubles(value, op, bound);
    frame::Ref right(PyFloat_FromDouble(bound));
    return right ? compare_objects(item, op, right.get()) : -1;
}

// `bound < a + b`.
int bound_below_sum(double bound, PyObject* a, PyObject* b) {
    double p, q;
    if (plain_double(a, p) && plain_double(b, q)) return bound < p + q;
    frame::Ref sum(PyNumber_Add(a, b));
    return sum ? bound_before(bound, Py_LT, sum.get()) : -1;
}

// `low <= item <= high`, evaluated as the interpreter evaluates a chained comparison.
int between(double low, PyObject* item, double high) {
    int result = bound_before(low, Py_LE, item);
    return result == 1 ? bound_after(item, Py_LE, high) : result;
}

// How the typed methods read a coordinate: an attribute, or an item by position.
struct Attribute {
    PyObject* object;
    PyObject* operator()(const frame::Name& name, Py_ssize_t) const { return PyObject_GetAttr(object, name); }
};

struct Item {
    PyObject* object;
    PyObject* operator()(const frame::Name&, Py_ssize_t index) const {
        return PySequence_GetItem(object, index);
    }
};

// ---------------------------------------------------------------------------------------------
// Collision tests: each returns 1 or 0, or -1 with the exception set.

struct Edges {
    double x, y, right, bottom;  // right and bottom added in 32-bit floats
};

Edges edges(const R* self) {
    const rl::Rectangle& r = self->_raw;
    return {r.x, r.y, static_cast<float>(r.x + r.width), static_cast<float>(r.y + r.height)};
}

int contains(const R* self, const double (&p)[2]) {
    Edges e = edges(self);
    return p[0] >= e.x && p[0] <= e.right && p[1] >= e.y && p[1] <= e.bottom;
}

int overlaps(const R* self, const double (&o)[4]) {
    Edges e = edges(self);
    return o[0] + o[2] > e.x && e.right > o[0] && o[1] + o[3] > e.y && e.bottom > o[1];
}

// Every form collide_point takes, as doubles.
bool point_forms(PyObject* point, double (&p)[2]) {
    if (PyTuple_CheckExact(point) && PyTuple_GET_SIZE(point) == 2)
        return frame::to_double(PyTuple_GET_ITEM(point, 0), p[0]) &&
               frame::to_double(PyTuple_GET_ITEM(point, 1), p[1]);
    if (frame::is_instance<Vector2>(point)) return vector2_values(point, p);
    if (is_list_or_tuple(point)) return sequence_values(point, p, point_message);
    PyErr_SetString(PyExc_ValueError, point_message);
    return false;
}

// Every form collide_rect takes, as doubles.
bool rect_forms(PyObject* other, double (&o)[4]) {
    if (frame::is_instance<R>(other)) {
        rect_values(other, o);
        return true;
    }
    if (frame::is_instance<Vector4>(other)) return vector4_values(other, o);
    if (is_list_or_tuple(other)) return sequence_values(other, o, other_rect_message);
    PyErr_SetString(PyExc_ValueError, other_rect_message);
    return false;
}

int point_dispatch(R* self, PyObject* point) {
    double p[2];
    return point_forms(point, p) ? contains(self, p) : -1;
}

int rect_dispatch(R* self, PyObject* other) {
    double o[4];
    return rect_forms(other, o) ? overlaps(self, o) : -1;
}

// x <= point.x <= right, then y <= point.y <= bottom; the y coordinate is read only when the
// x test holds.
template <class Read>
int point_typed(R* self, Read read) {
    Edges e = edges(self);
    frame::Ref px(read(name_x, 0));
    if (!px) return -1;
    int result = between(e.x, px.get(), e.right);
    if (result != 1) return result;
    frame::Ref py(read(name_y, 1));
    return py ? between(e.y, py.get(), e.bottom) : -1;
}

// x < ox + ow, ox < right, y < oy + oh, oy < bottom: each coordinate read when its term is
// evaluated, stopping at the first false term.
template <class Read>
int rect_typed(R* self, Read read) {
    Edges e = edges(self);
    const frame::Name* names[4] = {&name_x, &name_y, &name_z, &name_w};
    double low[2] = {e.x, e.y}, high[2] = {e.right, e.bottom};
    for (int axis = 0; axis < 2; ++axis) {
        frame::Ref start(read(*names[axis], axis));
        if (!start) return -1;
        frame::Ref extent(read(*names[axis + 2], axis + 2));
        if (!extent) return -1;
        int result = bound_below_sum(low[axis], start.get(), extent.get());
        if (result != 1) return result;
        start = frame::Ref(read(*names[axis], axis));
        if (!start) return -1;
        result = bound_after(start.get(), Py_LT, high[axis]);
        if (result != 1) return result;
    }
    return 1;
}

// The typed methods refuse None (which native callers may pass) the way the Python methods do.
bool refuse_none(PyObject* object, const char* argument, PyTypeObject* expected) {
    if (object != Py_None) return true;
    frame::raise_incorrect_type(argument, expected, object);
    return false;
}

bool subscriptable(PyObject* object) {
    if (object != Py_None) return true;
    PyErr_SetString(PyExc_TypeError, not_subscriptable_message);
    return false;
}

int point_vector2(R* self, Vector2* point) {
    PyObject* object = as_object(point);
    if (!refuse_none(object, "point", Vector2::type)) return -1;
    if (frame::is_exact<Vector2>(object)) {
        double p[2] = {point->data.x, point->data.y};
        return contains(self, p);
    }
    return point_typed(self, Attribute{object});
}

int point_sequence(R* self, PyObject* point) {
    if (!subscriptable(point)) return -1;
    return point_typed(self, Item{point});
}

int rect_vector4(R* self, Vector4* other) {
    PyObject* object = as_object(other);
    if (!refuse_none(object, "other", Vector4::type)) return -1;
    if (frame::is_exact<Vector4>(object)) {
        double o[4];
        vector4_values(object, o);
        Edges e = edges(self);
        return e.x < o[0] + o[2] && o[0] < e.right && e.y < o[1] + o[3] && o[1] < e.bottom;
    }
    return rect_typed(self, Attribute{object});
}

// Entirely in 32-bit floats.
int rect_rect(R* self, R* other) {
    if (!refuse_none(as_object(other), "other", R::type)) return -1;
    const rl::Rectangle &a = self->_raw, &b = other->_raw;
    float b_right = b.x + b.width, b_bottom = b.y + b.height;
    float a_right = a.x + a.width, a_bottom = a.y + a.height;
    return a.x < b_right && b.x < a_right && a.y < b_bottom && b.y < a_bottom;
}

int rect_sequence(R* self, PyObject* other) {
    if (!subscriptable(other)) return -1;
    return rect_typed(self, Item{other});
}

// ---------------------------------------------------------------------------------------------
// The other methods' own code

PyObject* width_of(R* self) { return PyFloat_FromDouble(self->_raw.width); }
PyObject* height_of(R* self) { return PyFloat_FromDouble(self->_raw.height); }

PyObject* vector4_of(R* self) {
    const rl::Rectangle& r = self->_raw;
    return Vector4::vtable->__pyx_new(r.x, r.y, r.width, r.height);
}

PyObject* tuple_of(R* self) {
    const rl::Rectangle& r = self->_raw;
    return Py_BuildValue("(dddd)", static_cast<double>(r.x), static_cast<double>(r.y),
                         static_cast<double>(r.width), static_cast<double>(r.height));
}

// What an override of an object-valued method may return.
bool any_result(PyObject*) { return true; }

bool tuple_result(PyObject* result) {
    return result == Py_None || PyTuple_Check(result) || frame::raise_expected("tuple", result);
}

bool vector4_result(PyObject* result) {
    return result == Py_None || frame::is_instance<Vector4>(result) ||
           frame::raise_expected(Vector4::type->tp_name, result);
}

// ---------------------------------------------------------------------------------------------
// Native entries. With skip_dispatch 0 a Python subclass's override of the same-named method
// runs instead; with 1, or from the Python methods, their own code runs.

enum Method {
    m_get_width,
    m_get_height,
    m_collide_point,
    m_collide_point_vector2,
    m_collide_point_tuple,
    m_collide_point_list,
    m_collide_rect,
    m_collide_rect_vector4,
    m_collide_rect_rect,
    m_collide_rect_tuple,
    m_collide_rect_list,
    m_get_vector4,
    m_get_tuple,
};

frame::Name method_names[] = {  // in the order of Method
    frame::Name{"get_width"},
    frame::Name{"get_height"},
    frame::Name{"collide_point"},
    frame::Name{"collide_point_vector2"},
    frame::Name{"collide_point_tuple"},
    frame::Name{"collide_point_list"},
    frame::Name{"collide_rect"},
    frame::Name{"collide_rect_vector4"},
    frame::Name{"collide_rect_rect"},
    frame::Name{"collide_rect_tuple"},
    frame::Name{"collide_rect_list"},
    frame::Name{"get_vector4"},
    frame::Name{"get_tuple"},
};

extern PyMethodDef methods[];

bool overridden(R* self, int skip_dispatch, Method m, std::initializer_list<PyObject*> args,
                frame::Ref& result) {
    return dispatch::call_override(as_object(self), skip_dispatch, method_names[m], methods[m],
                                   args, result);
}

template <Method M, class A, int (*Own)(R*, A)>
int predicate(R* self, A arg, int skip_dispatch) {
    frame::Ref result;
    int value;
    if (overridden(self, skip_dispatch, M, {as_object(arg)}, result)) {
        value = dispatch::truth(result);
        if (!value && PyErr_Occurred()) value = -1;
    } else {
        value = Own(self, arg);
    }
    if (value >= 0) return value;
    frame::traceback(R::type, method_names[M].text());
    return 0;
}

template <Method M, PyObject* (*Own)(R*), bool (*Accept)(PyObject*)>
PyObject* getter(R* self, int skip_dispatch) {
    frame::Ref result;
    if (overridden(self, skip_dispatch, M, {}, result)) {
        if (result && !Accept(result.get())) result = frame::Ref();
    } else {
        result = frame::Ref(Own(self));
    }
    if (!result) frame::traceback(R::type, method_names[M].text());
    return result.release();
}

PyObject* new_rect(rl::Rectangle raw) {
    R* self = allocate(R::type);
    if (self) self->_raw = raw;
    return as_object(self);
}

constexpr RectTable table = {
    .__pyx_new = new_rect,
    .get_width = getter<m_get_width, width_of, any_result>,
    .get_height = getter<m_get_height, height_of, any_result>,
    .collide_point = predicate<m_collide_point, PyObject*, point_dispatch>,
    .collide_point_vector2 = predicate<m_collide_point_vector2, Vector2*, point_vector2>,
    .collide_point_tuple = predicate<m_collide_point_tuple, PyObject*, point_sequence>,
    .collide_point_list = predicate<m_collide_point_list, PyObject*, point_sequence>,
    .collide_rect = predicate<m_collide_rect, PyObject*, rect_dispatch>,
    .collide_rect_vector4 = predicate<m_collide_rect_vector4, Vector4*, rect_vector4>,
    .collide_rect_rect = predicate<m_collide_rect_rect, R*, rect_rect>,
    .collide_rect_tuple = predicate<m_collide_rect_tuple, PyObject*, rect_sequence>,
    .collide_rect_list = predicate<m_collide_rect_list, PyObject*, rect_sequence>,
    .get_vector4 = getter<m_get_vector4, vector4_of, vector4_result>,
    .get_tuple = getter<m_get_tuple, tuple_of, tuple_result>,
};

// ---------------------------------------------------------------------------------------------
// Python methods: the entries with skip_dispatch 1.

template <PyObject* (*RectTable::*Slot)(R*, int)>
PyObject* call_getter(R* self) { return (table.*Slot)(self, 1); }

PyObject* raw_argument(PyObject* object) { return object; }
template <class T>
T* raw_argument(T* object) { return object; }
PyObject* raw_argument(TupleOrNone argument) { return argument.object; }
PyObject* raw_argument(ListOrNone argument) { return argument.object; }

// With skip_dispatch 1 a test is its own code: called directly, without the override lookup.
template <class P, class A, int (*Own)(R*, A)>
PyObject* call_predicate(R* self, P argument) {
    int value = Own(self, raw_argument(argument));
    return value < 0 ? nullptr : Py_NewRef(value ? Py_True : Py_False);
}

using Table = RectTable;

PyMethodDef own_methods[] = {  // in the order of Method
    frame::method<"get_width", call_getter<&Table::get_width>>("The width."),
    frame::method<"get_height", call_getter<&Table::get_height>>("The height."),
    frame::method<"collide_point", call_predicate<PyObject*, PyObject*, point_dispatch>, "point">("Whether point (a Vector2, or a tuple or list of two numbers) lies inside or on the border."),
    frame::method<"collide_point_vector2", call_predicate<Vector2*, Vector2*, point_vector2>, "point">("Whether the Vector2 point lies inside or on the border."),
    frame::method<"collide_point_tuple", call_predicate<TupleOrNone, PyObject*, point_sequence>, "point">("Whether the tuple point (x, y) lies inside or on the border."),
    frame::method<"collide_point_list", call_predicate<ListOrNone, PyObject*, point_sequence>, "point">("Whether the list point [x, y] lies inside or on the border."),
    frame::method<"collide_rect", call_predicate<PyObject*, PyObject*, rect_dispatch>, "other">("Whether other (a Rect, a Vector4, or a tuple or list of four numbers) overlaps this rectangle."),
    frame::method<"collide_rect_vector4", call_predicate<Vector4*, Vector4*, rect_vector4>, "other">("Whether the Vector4 other (x, y, width, height) overlaps this rectangle."),
    frame::method<"collide_rect_rect", call_predicate<R*, R*, rect_rect>, "other">("Whether the Rect other overlaps this rectangle."),
    frame::method<"collide_rect_tuple", call_predicate<TupleOrNone, PyObject*, rect_sequence>, "other">("Whether the tuple other (x, y, width, height) overlaps this rectangle."),
    frame::method<"collide_rect_list", call_predicate<ListOrNone, PyObject*, rect_sequence>, "other">("Whether the list other [x, y, width, height] overlaps this rectangle."),
    frame::method<"get_vector4", call_getter<&Table::get_vector4>>("The rectangle as a Vector4 (x, y, width, height)."),
    frame::method<"get_tuple", call_getter<&Table::get_tuple>>("The rectangle as a tuple (x, y, width, height)."),
};

// The type's methods: its own first, where the override lookup finds them by Method, then those
// of the geometry and batch parts; null-terminated.
PyMethodDef methods[48];

[[maybe_unused]] const bool methods_joined = [] {
    std::size_t n = 0;
    auto add = [&n](std::span<const PyMethodDef> defs) {
        if (n + defs.size() >= std::size(methods)) std::abort();  // raise the capacity above
        for (const PyMethodDef& def : defs) methods[n++] = def;
    };
    add(own_methods);
    add(rect_parts::geometry_methods());
    add(rect_parts::batch_methods());
    return true;
}();

// ---------------------------------------------------------------------------------------------
// Properties

void* closure(std::intptr_t i) { return reinterpret_cast<void*>(i); }
std::intptr_t index_of(void* closure) { return reinterpret_cast<std::intptr_t>(closure); }

// x, y, width and height; the closure is the member's index.
PyObject* get_member(R* self, void* i) { return PyFloat_FromDouble(members(self)[index_of(i)]); }

bool set_member(R* self, PyObject* value, void* i) {
    return frame::to_float(value, members(self)[index_of(i)]);
}

// The derived properties; the closure is the axis, 0 for x and width, 1 for y and height.
float& start(R* self, void* axis) { return members(self)[index_of(axis)]; }
float extent(R* self, void* axis) { return members(self)[2 + index_of(axis)]; }

// `value - amount` with the interpreter's subtraction, as a double.
bool difference(PyObject* value, double amount, double& out) {
    if (PyFloat_CheckExact(value) || PyLong_CheckExact(value)) {
        if (!frame::to_double(value, out)) return false;
        out -= amount;
        return true;
    }
    frame::Ref subtrahend(PyFloat_FromDouble(amount));
    if (!subtrahend) return false;
    frame::Ref result(PyNumber_Subtract(value, subtrahend.get()));
    return result && frame::to_double(result.get(), out);
}

PyObject* get_far_edge(R* self, void* axis) {
    return PyFloat_FromDouble(static_cast<float>(start(self, axis) + extent(self, axis)));
}

bool set_far_edge(R* self, PyObject* value, void* axis) {
    double moved;
    if (!difference(value, extent(self, axis), moved)) return false;
    start(self, axis) = static_cast<float>(moved);
    return true;
}

PyObject* get_centre(R* self, void* axis) {
    return PyFloat_FromDouble(start(self, axis) + static_cast<double>(extent(self, axis)) * 0.5);
}

bool set_centre(R* self, PyObject* value, void* axis) {
    double moved;
    if (!difference(value, static_cast<double>(extent(self, axis)) * 0.5, moved)) return false;
    start(self, axis) = static_cast<float>(moved);
    return true;
}

PyObject* get_center(R* self, void*) {
    const rl::Rectangle& r = self->_raw;
    return Vector2::vtable->__pyx_new(r.x + static_cast<double>(r.width) * 0.5,
                                      r.y + static_cast<double>(r.height) * 0.5);
}

// A Vector2's x and y, or items 0 and 1 of anything subscriptable (no length check).
bool centre_values(PyObject* value, double (&out)[2]) {
    if (frame::is_instance<Vector2>(value)) return vector2_values(value, out);
    for (int i = 0; i < 2; ++i) {
        frame::Ref key(PyLong_FromLong(i));
        frame::Ref item(key ? PyObject_GetItem(value, key.get()) : nullptr);
        if (!item || !frame::to_double(item.get(), out[i])) return false;
    }
    return true;
}

bool set_center(R* self, PyObject* value, void*) {
    double c[2];
    if (!centre_values(value, c)) return false;
    rl::Rectangle& r = self->_raw;
    r.x = static_cast<float>(c[0] - static_cast<double>(r.width) * 0.5);
    r.y = static_cast<float>(c[1] - static_cast<double>(r.height) * 0.5);
    return true;
}

// The named points, each a fraction of the size away from the top-left corner. A far edge is
// added in 32-bit floats, as `right` and `bottom` read; a middle in doubles, as `center` reads.
struct Anchor {
    double x, y;  // 0, 0.5 or 1
};

constexpr Anchor anchors[] = {
    {0, 0}, {1, 0}, {0, 1}, {1, 1},        // topleft, topright, bottomleft, bottomright
    {0.5, 0}, {0.5, 1}, {0, 0.5}, {1, 0.5},  // midtop, midbottom, midleft, midright
};

double along(float start, float extent, double fraction) {
    if (fraction == 0) return start;  // also for an infinite extent, where 0 * inf is NaN
    if (fraction == 1) return static_cast<float>(start + extent);
    return start + static_cast<double>(extent) * fraction;
}

double back(double value, float extent, double fraction) {
    return fraction == 0 ? value : value - static_cast<double>(extent) * fraction;
}

PyObject* get_point(R* self, void* i) {
    const Anchor& a = anchors[index_of(i)];
    const rl::Rectangle& r = self->_raw;
    return Vector2::vtable->__pyx_new(along(r.x, r.width, a.x), along(r.y, r.height, a.y));
}

// Setting a named point moves the rectangle so that the point lands on the value; the size stays.
bool set_point(R* self, PyObject* value, void* i) {
    double p[2];
    if (!centre_values(value, p)) return false;
    const Anchor& a = anchors[index_of(i)];
    rl::Rectangle& r = self->_raw;
    r.x = static_cast<float>(back(p[0], r.width, a.x));
    r.y = static_cast<float>(back(p[1], r.height, a.y));
    return true;
}

PyObject* get_size(R* self, void*) {
    return Vector2::vtable->__pyx_new(self->_raw.width, self->_raw.height);
}

bool set_size(R* self, PyObject* value, void*) {
    double s[2];
    if (!centre_values(value, s)) return false;
    self->_raw.width = static_cast<float>(s[0]);
    self->_raw.height = static_cast<float>(s[1]);
    return true;
}

PyGetSetDef properties[] = {
    frame::property<"x", get_member, set_member>(closure(0), "The left edge."),
    frame::property<"left", get_member, set_member>(closure(0), "The left edge."),
    frame::property<"y", get_member, set_member>(closure(1), "The top edge."),
    frame::property<"top", get_member, set_member>(closure(1), "The top edge."),
    frame::property<"w", get_member, set_member>(closure(2), "The width."),
    frame::property<"width", get_member, set_member>(closure(2), "The width."),
    frame::property<"h", get_member, set_member>(closure(3), "The height."),
    frame::property<"height", get_member, set_member>(closure(3), "The height."),
    frame::property<"right", get_far_edge, set_far_edge>(closure(0), "The right edge, x + width; setting it moves the rectangle."),
    frame::property<"bottom", get_far_edge, set_far_edge>(closure(1), "The bottom edge, y + height; setting it moves the rectangle."),
    frame::property<"centerx", get_centre, set_centre>(closure(0), "The x of the centre; setting it moves the rectangle."),
    frame::property<"centery", get_centre, set_centre>(closure(1), "The y of the centre; setting it moves the rectangle."),
    frame::property<"center", get_center, set_center>(
        nullptr, "The centre as a Vector2; setting it moves the rectangle."),
    frame::property<"topleft", get_point, set_point>(closure(0), "The top-left corner (x, y) as a Vector2; setting it moves the rectangle."),
    frame::property<"topright", get_point, set_point>(closure(1), "The top-right corner (right, y) as a Vector2; setting it moves the rectangle."),
    frame::property<"bottomleft", get_point, set_point>(closure(2), "The bottom-left corner (x, bottom) as a Vector2; setting it moves the rectangle."),
    frame::property<"bottomright", get_point, set_point>(closure(3), "The bottom-right corner (right, bottom) as a Vector2; setting it moves the rectangle."),
    frame::property<"midtop", get_point, set_point>(closure(4), "The middle of the top edge (centerx, y) as a Vector2; setting it moves the rectangle."),
    frame::property<"midbottom", get_point, set_point>(closure(5), "The middle of the bottom edge (centerx, bottom) as a Vector2; setting it moves the rectangle."),
    frame::property<"midleft", get_point, set_point>(closure(6), "The middle of the left edge (x, centery) as a Vector2; setting it moves the rectangle."),
    frame::property<"midright", get_point, set_point>(closure(7), "The middle of the right edge (right, centery) as a Vector2; setting it moves the rectangle."),
    frame::property<"size", get_size, set_size>(nullptr, "The size (width, height) as a Vector2; setting it keeps the top-left corner."),
    {},
};

// ---------------------------------------------------------------------------------------------
// Sequence protocol, comparison, repr

Py_ssize_t length(PyObject*) { return 4; }

PyObject* item(PyObject* self, Py_ssize_t i) {
    if (i >= 0 && i < 4) return PyFloat_FromDouble(members(as_rect(self))[i]);
    PyErr_SetString(PyExc_IndexError, index_message);
    frame::traceback(R::type, "__getitem__");
    return nullptr;
}

// Subscription comes here rather than to the sequence slot, so that negative indices are
// refused instead of counted from the end.
PyObject* subscript(PyObject* self, PyObject* key) {
    Py_ssize_t i;
    if (frame::to_index(key, i)) return item(self, i);
    frame::traceback(R::type, "__getitem__");
    return nullptr;
}

// The index is converted first, then the value, and only then is the index checked.
int assign_subscript(PyObject* self, PyObject* key, PyObject* value) {
    if (!value) {
        frame::raise_subscript_deletion(R::type);
    } else {
        Py_ssize_t i;
        float converted;
        if (frame::to_index(key, i) && frame::to_float(value, converted)) {
            if (i >= 0 && i < 4) {
                members(as_rect(self))[i] = converted;
                return 0;
            }
            PyErr_SetString(PyExc_IndexError, index_message);
        }
    }
    frame::traceback(R::type, "__setitem__");
    return -1;
}

// Equal to another Rect (or subclass) with equal members; never to anything else.
PyObject* richcompare(PyObject* self, PyObject* other, int op) {
    if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
    bool equal = false;
    if (frame::is_instance<R>(other)) {
        const float *a = members(as_rect(self)), *b = members(as_rect(other));
        equal = a[0] == b[0] && a[1] == b[1] && a[2] == b[2] && a[3] == b[3];
    }
    return PyBool_FromLong(equal == (op == Py_EQ));
}

// Only the position's x and the size's width appear.
PyObject* repr(PyObject* self) {
    const rl::Rectangle& r = as_rect(self)->_raw;
    char* x = PyOS_double_to_string(r.x, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
    char* width = x ? PyOS_double_to_string(r.width, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr) : nullptr;
    PyObject* text = width ? PyUnicode_FromFormat("Rect(position=%s, size=%s)", x, width) : nullptr;
    PyMem_Free(x);
    PyMem_Free(width);
    return text;
}

PySequenceMethods sequence_methods = [] {
    PySequenceMethods s{};
    s.sq_length = length;
    s.sq_item = item;
    return s;
}();

PyMappingMethods mapping_methods = [] {
    PyMappingMethods m{};
    m.mp_length = length;
    m.mp_subscript = subscript;
    m.mp_ass_subscript = assign_subscript;
    return m;
}();

PyTypeObject type = [] {
    PyTypeObject t = frame::static_type("tavoro.rect.rect.Rect", sizeof(R),
                                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE);
    t.tp_dealloc = dealloc;
    t.tp_doc = "A mutable axis-aligned rectangle: Rect(), Rect(x, y, width, height), Rect(position, size),\nor Rect(r) with r a Rect, a Vector4, a Vector2 size, or a list or tuple of four numbers.";
    t.tp_repr = repr;
    t.tp_as_sequence = &sequence_methods;
    t.tp_as_mapping = &mapping_methods;
    t.tp_hash = PyObject_HashNotImplemented;
    t.tp_richcompare = richcompare;
    t.tp_methods = methods;
    t.tp_getset = properties;
    t.tp_setattro = frame::assign_properties<R>;
    t.tp_init = tp_init;
    t.tp_new = tp_new;
    t.tp_vectorcall = type_vectorcall;
    return t;
}();

const frame::TypeDef types[] = {frame::type_def<R>(type, &table, nullptr, pickling_refusal)};
const frame::SiblingDef siblings[] = {
    frame::sibling<Vector2>("tavoro.vector2.vector2", "Vector2"),
    frame::sibling<Vector4>("tavoro.vector4.vector4", "Vector4"),
};

const frame::ModuleDef module = {
    .name = "rect",
    .full_name = "tavoro.rect.rect",
    .source = "src/tavoro/rect/rect.cpp",
    .types = types,
    .siblings = siblings,
};

}  // namespace

namespace rect_parts {

bool any_point_values(PyObject* point, double (&out)[2]) { return point_forms(point, out); }
bool any_rect_values(PyObject* other, double (&out)[4]) { return rect_forms(other, out); }
bool pair_values(PyObject* pair, double (&out)[2], const char* refusal) {
    return tavoro::pair_values(pair, out, refusal);
}
PyObject* new_rect(rl::Rectangle raw) { return tavoro::new_rect(raw); }

}  // namespace rect_parts
}  // namespace tavoro

TAVORO_MODULE(rect, tavoro::module)
