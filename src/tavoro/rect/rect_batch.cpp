// tavoro.rect.rect, collision tests over a list or tuple in one call: collide_list,
// collide_list_all and collide_points.
//
// Each element may take any form that collide_rect (or collide_point) takes, with the same edge
// rules. Exact Rects, Vector2s and tuples of floats are read in place without running Python
// code. Any other element is held by its own reference while it is converted: its __float__ may
// run Python code that changes the list, the receiver or the element, so the list's length is
// read again before every element and the receiver's edges after every such conversion.
#include "rect_parts.hpp"

#include <cstring>

namespace tavoro::rect_parts {
namespace {

constexpr const char* rects_message = "Expected a list or tuple of rectangles, got %.200s";
constexpr const char* points_message = "Expected a list or tuple of points, got %.200s";

bool list_or_tuple(PyObject* items, const char* refusal) {
    if (PyList_Check(items) || PyTuple_Check(items)) return true;
    PyErr_Format(PyExc_TypeError, refusal, Py_TYPE(items)->tp_name);
    return false;
}

// The item array and the current length of a list or tuple (subclasses included: their storage
// is read, as iteration reads it). A list's array moves when the list is resized, so both are
// read again whenever Python code may have run.
struct Storage {
    PyObject* const* items;
    Py_ssize_t length;
};

Storage storage(PyObject* sequence) {
    if (PyList_Check(sequence))
        return {reinterpret_cast<PyListObject*>(sequence)->ob_item, PyList_GET_SIZE(sequence)};
    return {reinterpret_cast<PyTupleObject*>(sequence)->ob_item, PyTuple_GET_SIZE(sequence)};
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

constexpr int slow = -2;  // the element needs a conversion that may run Python code

// A rectangle element against the receiver's edges without running Python code: 1 or 0, or
// `slow`. The test is collide_rect's, in doubles.
inline int rect_fast(const Edges& e, PyObject* item) {
    double o[4];
    if (Py_IS_TYPE(item, R::type)) {
        const rl::Rectangle& r = as_rect(item)->_raw;
        o[0] = r.x, o[1] = r.y, o[2] = r.width, o[3] = r.height;
        return overlaps(e, o);
    }
    return float_tuple(item, o) ? overlaps(e, o) : slow;
}

inline int point_fast(const Edges& e, PyObject* item) {
    double p[2];
    if (Py_IS_TYPE(item, Vector2::type)) {
        const rl::Vector2& v = reinterpret_cast<Vector2*>(item)->data;
        p[0] = v.x, p[1] = v.y;
        return contains(e, p);
    }
    return float_tuple(item, p) ? contains(e, p) : slow;
}

// Any other element, held by its own reference while it is converted: 1 or 0, -1 with the
// exception set. The receiver's edges are read again afterwards, since the conversion may have
// moved it.
int rect_slow(R* self, Edges& e, PyObject* item) {
    frame::Ref held(Py_NewRef(item));
    double o[4];
    if (!rect_values(held.get(), o)) return -1;
    e = edges(self->_raw);
    return overlaps(e, o);
}

int point_slow(R* self, Edges& e, PyObject* item) {
    frame::Ref held(Py_NewRef(item));
    double p[2];
    if (!point_values(held.get(), p)) return -1;
    e = edges(self->_raw);
    return contains(e, p);
}

using Fast = int (*)(const Edges&, PyObject*);
using Slow = int (*)(R*, Edges&, PyObject*);

// Calls `found(i)` for each element i that hits, in order, until it returns false; `found` must
// not run Python code. False when an element is refused (the exception is set). The elements
// read in place run in a tight loop; after any other element the storage is read afresh.
template <Fast fast, Slow slow_test, class Found>
bool scan(R* self, PyObject* sequence, Found found) {
    Edges e = edges(self->_raw);
    Py_ssize_t i = 0;
    for (;;) {
        Storage s = storage(sequence);
        int result = 0;
        for (; i < s.length; ++i) {
            result = fast(e, s.items[i]);
            if (result == slow) break;
            if (result && !found(i)) return true;
        }
        if (i >= s.length) return true;
        if ((result = slow_test(self, e, s.items[i])) < 0) return false;
        if (result && !found(i)) return true;
        ++i;
    }
}

// The indices of the hits, kept in raw memory (which, unlike making objects, never runs the
// collector, so the scan need not read the storage again) and made into a list at the end.
class Indices {
public:
    Indices() = default;
    Indices(const Indices&) = delete;
    Indices& operator=(const Indices&) = delete;
    ~Indices() {
        if (heap_) PyMem_Free(heap_);
    }

    bool add(Py_ssize_t i) {
        if (count_ == capacity_ && !grow()) return false;
        data_[count_++] = i;
        return true;
    }

    PyObject* finish() const {
        frame::Ref list(PyList_New(count_));
        if (!list) return nullptr;
        for (Py_ssize_t k = 0; k < count_; ++k) {
            PyObject* index = PyLong_FromSsize_t(data_[k]);
            if (!index) return nullptr;
            PyList_SET_ITEM(list.get(), k, index);
        }
        return list.release();
    }

private:
    bool grow() {
        Py_ssize_t capacity = capacity_ * 2;
        auto* grown = static_cast<Py_ssize_t*>(PyMem_Realloc(heap_, capacity * sizeof(Py_ssize_t)));
        if (!grown) {
            PyErr_NoMemory();
            return false;
        }
        if (!heap_) std::memcpy(grown, local_, count_ * sizeof(Py_ssize_t));
        heap_ = data_ = grown;
        capacity_ = capacity;
        return true;
    }

    Py_ssize_t local_[64];
    Py_ssize_t* data_ = local_;
    Py_ssize_t* heap_ = nullptr;
    Py_ssize_t capacity_ = 64;
    Py_ssize_t count_ = 0;
};

PyObject* first_hit(R* self, PyObject* rects) {
    if (!list_or_tuple(rects, rects_message)) return nullptr;
    Py_ssize_t index = -1;
    if (!scan<rect_fast, rect_slow>(self, rects, [&](Py_ssize_t i) { return index = i, false; }))
        return nullptr;
    return PyLong_FromSsize_t(index);
}

template <Fast fast, Slow slow_test>
PyObject* all_hits(R* self, PyObject* items, const char* refusal) {
    if (!list_or_tuple(items, refusal)) return nullptr;
    Indices indices;
    bool failed = false;
    auto found = [&](Py_ssize_t i) { return !(failed = !indices.add(i)); };
    if (!scan<fast, slow_test>(self, items, found) || failed) return nullptr;
    return indices.finish();
}

PyObject* every_rect_hit(R* self, PyObject* rects) {
    return all_hits<rect_fast, rect_slow>(self, rects, rects_message);
}

PyObject* every_point_hit(R* self, PyObject* points) {
    return all_hits<point_fast, point_slow>(self, points, points_message);
}

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
