// tavoro.rect.rect, collision tests over a list or tuple in one call: collide_list,
// collide_list_all and collide_points.
//
// Each element may take any form that collide_rect (or collide_point) takes, with the same edge
// rules. Exact Rects, Vector2s and tuples of floats are read in place without running Python
// code. Any other element is held by its own reference while it is converted: its __float__ may
// run Python code that changes the list, the receiver or the element, so the list's length is
// read again before every element and the receiver's edges after every such conversion.
#include "rect_parts.hpp"

namespace tavoro::rect_parts {
namespace {

constexpr const char* rects_message = "Expected a list or tuple of rectangles, got %.200s";
constexpr const char* points_message = "Expected a list or tuple of points, got %.200s";

bool list_or_tuple(PyObject* items, const char* refusal) {
    if (PyList_Check(items) || PyTuple_Check(items)) return true;
    PyErr_Format(PyExc_TypeError, refusal, Py_TYPE(items)->tp_name);
    return false;
}

// Item i of a list or tuple (subclasses included: their storage is read, as iteration does), or
// null past its current end. Borrowed.
PyObject* item_at(PyObject* items, Py_ssize_t i) {
    if (PyList_Check(items)) return i < PyList_GET_SIZE(items) ? PyList_GET_ITEM(items, i) : nullptr;
    return i < PyTuple_GET_SIZE(items) ? PyTuple_GET_ITEM(items, i) : nullptr;
}

// The N items of an exact tuple when all are exact floats: read without any conversion.
template <std::size_t N>
bool float_tuple(PyObject* item, double (&out)[N]) {
    if (!PyTuple_CheckExact(item) || PyTuple_GET_SIZE(item) != static_cast<Py_ssize_t>(N))
        return false;
    for (std::size_t i = 0; i < N; ++i) {
        PyObject* value = PyTuple_GET_ITEM(item, i);
        if (!PyFloat_CheckExact(value)) return false;
        out[i] = PyFloat_AS_DOUBLE(value);
    }
    return true;
}

// Whether a rectangle element overlaps the receiver: 1 or 0, -1 with the exception set.
// `e` holds the receiver's edges and is refreshed after any conversion that ran Python code.
int rect_hit(R* self, Edges& e, PyObject* item) {
    double o[4];
    if (Py_IS_TYPE(item, R::type)) {
        const rl::Rectangle& r = as_rect(item)->_raw;
        o[0] = r.x, o[1] = r.y, o[2] = r.width, o[3] = r.height;
        return overlaps(e, o);
    }
    if (float_tuple(item, o)) return overlaps(e, o);
    frame::Ref held(Py_NewRef(item));
    if (!rect_values(held.get(), o)) return -1;
    e = edges(self->_raw);
    return overlaps(e, o);
}

int point_hit(R* self, Edges& e, PyObject* item) {
    double p[2];
    if (Py_IS_TYPE(item, Vector2::type)) {
        const rl::Vector2& v = reinterpret_cast<Vector2*>(item)->data;
        p[0] = v.x, p[1] = v.y;
        return contains(e, p);
    }
    if (float_tuple(item, p)) return contains(e, p);
    frame::Ref held(Py_NewRef(item));
    if (!point_values(held.get(), p)) return -1;
    e = edges(self->_raw);
    return contains(e, p);
}

using Hit = int (*)(R*, Edges&, PyObject*);

// Calls `found(i)` for each element i that hits, in order, until it returns false. False when an
// element is refused (the exception is set).
template <Hit hit, class Found>
bool scan(R* self, PyObject* items, Found found) {
    Edges e = edges(self->_raw);
    for (Py_ssize_t i = 0;; ++i) {
        PyObject* item = item_at(items, i);
        if (!item) return true;
        int result = hit(self, e, item);
        if (result < 0) return false;
        if (result && !found(i)) return true;
    }
}

PyObject* first_hit(R* self, PyObject* rects) {
    if (!list_or_tuple(rects, rects_message)) return nullptr;
    Py_ssize_t index = -1;
    if (!scan<rect_hit>(self, rects, [&](Py_ssize_t i) { return index = i, false; })) return nullptr;
    return PyLong_FromSsize_t(index);
}

template <Hit hit>
PyObject* all_hits(R* self, PyObject* items, const char* refusal) {
    if (!list_or_tuple(items, refusal)) return nullptr;
    frame::Ref indices(PyList_New(0));
    if (!indices) return nullptr;
    bool failed = false;
    auto append = [&](Py_ssize_t i) {
        frame::Ref index(PyLong_FromSsize_t(i));
        failed = !index || PyList_Append(indices.get(), index.get()) < 0;
        return !failed;
    };
    if (!scan<hit>(self, items, append) || failed) return nullptr;
    return indices.release();
}

PyObject* every_rect_hit(R* self, PyObject* rects) { return all_hits<rect_hit>(self, rects, rects_message); }
PyObject* every_point_hit(R* self, PyObject* points) { return all_hits<point_hit>(self, points, points_message); }

}  // namespace

// Made on first use, as the geometry part's are.
std::span<const PyMethodDef> batch_methods() {
    static const PyMethodDef defs[] = {
        frame::method<"collide_list", first_hit, "rects">(
            "The index of the first element of the list or tuple rects that overlaps this "
            "rectangle (as collide_rect tests it), or -1 when none does."),
        frame::method<"collide_list_all", every_rect_hit, "rects">(
            "The indices, in order, of the elements of the list or tuple rects that overlap this "
            "rectangle (as collide_rect tests them)."),
        frame::method<"collide_points", every_point_hit, "points">(
            "The indices, in order, of the elements of the list or tuple points that lie inside "
            "this rectangle or on its border (as collide_point tests them)."),
    };
    return defs;
}

}  // namespace tavoro::rect_parts
