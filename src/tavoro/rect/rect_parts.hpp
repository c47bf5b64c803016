// What the parts of tavoro.rect.rect share inside the one module: rect.cpp (construction,
// properties, the collision tests and the type), rect_geometry.cpp (moving and resizing, clipping)
// and rect_batch.cpp (collision tests over lists). Nothing here leaves the module.
#pragma once

#include "rect.hpp"

#include <span>

namespace tavoro::rect_parts {

using R = Rect;

inline R* as_rect(PyObject* object) { return reinterpret_cast<R*>(object); }

// The edges that the collision tests compare against: right and bottom added in 32-bit floats,
// as the `right` and `bottom` properties read.
struct Edges {
    double x, y, right, bottom;
};

inline Edges edges(const rl::Rectangle& r) {
    return {r.x, r.y, static_cast<float>(r.x + r.width), static_cast<float>(r.y + r.height)};
}

// Points on the border are inside.
inline bool contains(const Edges& e, const double (&p)[2]) {
    return p[0] >= e.x && p[0] <= e.right && p[1] >= e.y && p[1] <= e.bottom;
}

// Rectangles that only touch do not overlap.
inline bool overlaps(const Edges& e, const double (&o)[4]) {
    return o[0] + o[2] > e.x && e.right > o[0] && o[1] + o[3] > e.y && e.bottom > o[1];
}

// The argument forms of collide_point (a Vector2, or a list or tuple of two numbers) and of
// collide_rect (a Rect, a Vector4, or a list or tuple of four numbers), as doubles. False with
// the dispatchers' own exception set when the form is refused.
bool any_point_values(PyObject* point, double (&out)[2]);
bool any_rect_values(PyObject* other, double (&out)[4]);

// The same, with the usual forms, an exact Vector2 or Rect, read here without a call.
inline bool point_values(PyObject* point, double (&out)[2]) {
    if (!Py_IS_TYPE(point, Vector2::type)) return any_point_values(point, out);
    const rl::Vector2& v = reinterpret_cast<Vector2*>(point)->data;
    out[0] = v.x, out[1] = v.y;
    return true;
}

inline bool rect_values(PyObject* other, double (&out)[4]) {
    if (!Py_IS_TYPE(other, R::type)) return any_rect_values(other, out);
    const rl::Rectangle& r = as_rect(other)->_raw;
    out[0] = r.x, out[1] = r.y, out[2] = r.width, out[3] = r.height;
    return true;
}

// A pair given as a Vector2 or a list or tuple of two numbers; `refusal` is the ValueError for
// anything else.
bool pair_values(PyObject* pair, double (&out)[2], const char* refusal);

// A new exact Rect holding `raw`.
PyObject* new_rect(rl::Rectangle raw);

// The methods each part adds to the type, in the order they are listed.
std::span<const PyMethodDef> geometry_methods();
std::span<const PyMethodDef> batch_methods();

}  // namespace tavoro::rect_parts
