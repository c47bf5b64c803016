// tavoro.rect.rect, moving and resizing: the to_/get_ pairs (to_... changes the rectangle and
// returns it, get_... returns a new Rect and leaves the receiver as it was), `contains` and
// `clip_line`.
//
// Arithmetic is done in doubles from the 32-bit members and stored back narrowed. Sizes are used
// as given: no rectangle is normalised, and one with a negative width or height covers no point
// (as collide_point already says). NaN is carried through wherever a value is computed from it;
// the tests it takes part in are false.
#include "rect_parts.hpp"
#include "rect_clip.hpp"

#include "../shared/sequence.hpp"

#include <cmath>
#include <initializer_list>
#include <limits>

namespace tavoro::rect_parts {
namespace {

constexpr const char* xy_count_message = "%.200s() takes 1 or 2 positional arguments (%zd given)";
constexpr const char* offset_message = "Offset must be a Vector2, tuple, or list of length 2";
constexpr const char* amount_message = "Amount must be a Vector2, tuple, or list of length 2";
constexpr const char* factor_message = "Factor must be a number, Vector2, tuple, or list of length 2";
constexpr const char* line_count_message =
    "clip_line() takes 1, 2 or 4 positional arguments (%zd given)";
constexpr const char* line_message =
    "Line must be x1, y1, x2, y2, two points, or a list or tuple of four numbers or of two points";

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// ---------------------------------------------------------------------------------------------
// The operations, on one rectangle record in place

struct Box {
    double x, y, w, h;

    explicit Box(const rl::Rectangle& r) : x(r.x), y(r.y), w(r.width), h(r.height) {}
    explicit Box(const double (&o)[4]) : x(o[0]), y(o[1]), w(o[2]), h(o[3]) {}
    rl::Rectangle raw() const {
        return {static_cast<float>(x), static_cast<float>(y), static_cast<float>(w),
                static_cast<float>(h)};
    }
};

// The smaller and the larger of two values, NaN when either is.
double least(double a, double b) { return a != a || b != b ? nan : (b < a ? b : a); }
double most(double a, double b) { return a != a || b != b ? nan : (b > a ? b : a); }

void move(rl::Rectangle& r, double dx, double dy) {
    Box b(r);
    b.x += dx, b.y += dy;
    r = b.raw();
}

// Grows by dx and dy in all (a negative amount shrinks, possibly below zero), about the centre.
void inflate(rl::Rectangle& r, double dx, double dy) {
    Box b(r);
    b.x -= dx * 0.5, b.y -= dy * 0.5, b.w += dx, b.h += dy;
    r = b.raw();
}

// Scales the size about the centre; a factor's sign is ignored, so a size is never mirrored.
void scale(rl::Rectangle& r, double fx, double fy) {
    Box b(r);
    double cx = b.x + b.w * 0.5, cy = b.y + b.h * 0.5;
    b.w *= std::fabs(fx), b.h *= std::fabs(fy);
    b.x = cx - b.w * 0.5, b.y = cy - b.h * 0.5;
    r = b.raw();
}

// Along one axis: moved the least distance that puts [start, start + extent] inside
// [low, low + span]; centred on it when it is larger.
double clamped(double start, double extent, double low, double span) {
    if (low != low || span != span) return nan;
    if (extent >= span) return low + span * 0.5 - extent * 0.5;
    if (start < low) return low;
    if (start + extent > low + span) return low + span - extent;
    return start;
}

void clamp(rl::Rectangle& r, const double (&o)[4]) {
    Box b(r);
    b.x = clamped(b.x, b.w, o[0], o[2]);
    b.y = clamped(b.y, b.h, o[1], o[3]);
    r = b.raw();
}

void unite(rl::Rectangle& r, const double (&o)[4]) {
    Box b(r);
    double left = least(b.x, o[0]), top = least(b.y, o[1]);
    double right = most(b.x + b.w, o[0] + o[2]), bottom = most(b.y + b.h, o[1] + o[3]);
    b.x = left, b.y = top, b.w = right - left, b.h = bottom - top;
    r = b.raw();
}

// The overlap; where the rectangles do not overlap (collide_rect is false, which includes
// rectangles that only touch), an empty rectangle at the receiver's own x and y.
void clip(rl::Rectangle& r, const double (&o)[4]) {
    Edges e = edges(r);
    if (!overlaps(e, o)) {
        r.width = r.height = 0.0f;
        return;
    }
    double left = e.x > o[0] ? e.x : o[0], top = e.y > o[1] ? e.y : o[1];
    double right = e.right < o[0] + o[2] ? e.right : o[0] + o[2];
    double bottom = e.bottom < o[1] + o[3] ? e.bottom : o[1] + o[3];
    r = Box({left, top, right - left, bottom - top}).raw();
}

// Scaled to the largest size that fits in `o` with the same aspect ratio, centred in it. Sizes
// count by their magnitude. A zero-size rectangle, or any fitted into one with a zero side, comes
// out as a zero-size rectangle at the centre of `o`.
void fit(rl::Rectangle& r, const double (&o)[4]) {
    double w = std::fabs(r.width), h = std::fabs(r.height);
    double ratio = most(w / std::fabs(o[2]), h / std::fabs(o[3]));
    if (w == 0 && h == 0) ratio = std::numeric_limits<double>::infinity();
    // A zero side of both makes the ratio 0 / 0, which is no size either.
    if (std::isinf(ratio) || (ratio != ratio && (o[2] == 0 || o[3] == 0))) w = h = 0, ratio = 1;
    w /= ratio, h /= ratio;
    r = Box({o[0] + o[2] * 0.5 - w * 0.5, o[1] + o[3] * 0.5 - h * 0.5, w, h}).raw();
}

// Entirely inside or on the border; a rectangle with a negative side contains nothing and is in
// nothing.
bool contains_rect(const rl::Rectangle& r, const double (&o)[4]) {
    if (r.width < 0 || r.height < 0 || o[2] < 0 || o[3] < 0) return false;
    Edges e = edges(r);
    return o[0] >= e.x && o[1] >= e.y && o[0] + o[2] <= e.right && o[1] + o[3] <= e.bottom;
}

// ---------------------------------------------------------------------------------------------
// Methods with one rectangle argument (any form collide_rect takes)

using RectOp = void (*)(rl::Rectangle&, const double (&)[4]);

template <RectOp Op>
PyObject* to_rect_op(R* self, PyObject* other) {
    double o[4];
    if (!rect_values(other, o)) return nullptr;
    Op(self->_raw, o);
    return Py_NewRef(reinterpret_cast<PyObject*>(self));
}

template <RectOp Op>
PyObject* get_rect_op(R* self, PyObject* other) {
    double o[4];
    if (!rect_values(other, o)) return nullptr;
    rl::Rectangle result = self->_raw;
    Op(result, o);
    return new_rect(result);
}

PyObject* contains_method(R* self, PyObject* other) {
    double o[4];
    if (!rect_values(other, o)) return nullptr;
    return Py_NewRef(contains_rect(self->_raw, o) ? Py_True : Py_False);
}

// ---------------------------------------------------------------------------------------------
// Methods with an x and a y: two numbers, or one pair (a Vector2, or a list or tuple of two);
// `Uniform` methods also take one number for both.

using XyOp = void (*)(rl::Rectangle&, double, double);

bool refuse_keywords(const char* name, PyObject* kwnames) {
    if (kwnames && PyTuple_GET_SIZE(kwnames))
        return frame::raise_keyword_refused(name, PyTuple_GET_ITEM(kwnames, 0));
    return true;
}

bool xy_values(const char* name, const char* refusal, bool uniform, PyObject* const* args,
               Py_ssize_t nargs, PyObject* kwnames, double (&xy)[2]) {
    if (!refuse_keywords(name, kwnames)) return false;
    if (nargs == 2) return frame::to_double(args[0], xy[0]) && frame::to_double(args[1], xy[1]);
    if (nargs != 1) {
        PyErr_Format(PyExc_TypeError, xy_count_message, name, nargs);
        return false;
    }
    PyObject* arg = args[0];
    if (uniform && PyNumber_Check(arg) && !frame::is_instance<Vector2>(arg)) {
        if (!frame::to_double(arg, xy[0])) return false;
        xy[1] = xy[0];
        return true;
    }
    return pair_values(arg, xy, refusal);
}

template <frame::Text Name, XyOp Op, const char* const* Refusal, bool Uniform, bool InPlace>
PyObject* xy_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    double xy[2];
    if (!xy_values(Name.chars, *Refusal, Uniform, args, PyVectorcall_NARGS(nargsf), kwnames, xy)) {
        frame::traceback(R::type, Name.chars);
        return nullptr;
    }
    rl::Rectangle& own = as_rect(self)->_raw;
    if (InPlace) {
        Op(own, xy[0], xy[1]);
        return Py_NewRef(self);
    }
    rl::Rectangle result = own;
    Op(result, xy[0], xy[1]);
    return new_rect(result);
}

template <frame::Text Name, XyOp Op, const char* const* Refusal, bool Uniform, bool InPlace>
PyMethodDef xy_method(const char* doc) {
    return {Name.chars,
            reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(
                &xy_entry<Name, Op, Refusal, Uniform, InPlace>)),
            METH_FASTCALL | METH_KEYWORDS, doc};
}

// ---------------------------------------------------------------------------------------------
// clip_line

struct Point {
    double v[2];
};

bool point_item(PyObject* item, Point& out) { return point_values(item, out.v); }

bool refuse_line() {
    PyErr_SetString(PyExc_ValueError, line_message);
    return false;
}

// x1, y1, x2, y2 from the forms clip_line takes.
bool line_values(PyObject* const* args, Py_ssize_t nargs, double (&line)[4]) {
    if (nargs == 4) {
        for (int i = 0; i < 4; ++i)
            if (!frame::to_double(args[i], line[i])) return false;
        return true;
    }
    Point ends[2];
    if (nargs == 2) {
        if (!point_values(args[0], ends[0].v) || !point_values(args[1], ends[1].v)) return false;
    } else if (nargs == 1 && (PyTuple_Check(args[0]) || PyList_Check(args[0]))) {
        Py_ssize_t length = sequence::length(args[0]);
        if (length < 0) return false;
        if (length == 4) return sequence::convert_items(args[0], line, frame::to_double);
        if (length != 2) return refuse_line();
        if (!sequence::convert_items(args[0], ends, point_item)) return false;
    } else if (nargs == 1) {
        return refuse_line();
    } else {
        PyErr_Format(PyExc_TypeError, line_count_message, nargs);
        return false;
    }
    line[0] = ends[0].v[0], line[1] = ends[0].v[1], line[2] = ends[1].v[0], line[3] = ends[1].v[1];
    return true;
}

bool all_finite(std::initializer_list<double> values) {
    for (double v : values)
        if (!std::isfinite(v)) return false;
    return true;
}

// The part of the segment inside the rectangle, borders included, as a tuple of two Vector2, or
// an empty tuple when no point of it is inside (collide_point's rules), or when an end is not
// finite. An end inside is kept as given; a cut lies on the edge that made it (exact
// arithmetic, rect_clip.hpp).
PyObject* clipped_line(const rl::Rectangle& r, const double (&line)[4]) {
    Edges e = edges(r);
    double low[2] = {e.x, e.y}, high[2] = {e.right, e.bottom}, a[2], b[2];
    if (!all_finite({line[0], line[1], line[2], line[3]}) || !(e.right >= e.x) ||
        !(e.bottom >= e.y) || !exact::clip(line, low, high, a, b))
        return PyTuple_New(0);
    frame::Ref first(Vector2::vtable->__pyx_new(a[0], a[1]));
    frame::Ref second(first ? Vector2::vtable->__pyx_new(b[0], b[1]) : nullptr);
    return second ? PyTuple_Pack(2, first.get(), second.get()) : nullptr;
}

PyObject* clip_line_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                          PyObject* kwnames) {
    double line[4];
    PyObject* result = nullptr;
    if (refuse_keywords("clip_line", kwnames) &&
        line_values(args, PyVectorcall_NARGS(nargsf), line))
        result = clipped_line(as_rect(self)->_raw, line);
    if (!result) frame::traceback(R::type, "clip_line");
    return result;
}

// ---------------------------------------------------------------------------------------------
// The method table of this part

constexpr const char* const* offset_refusal = &offset_message;
constexpr const char* const* amount_refusal = &amount_message;
constexpr const char* const* factor_refusal = &factor_message;

}  // namespace

// Made on first use: the module's method list is put together while the modules' statics are
// still being made, in an order that the parts do not control.
std::span<const PyMethodDef> geometry_methods() {
    static const PyMethodDef defs[] = {
        xy_method<"to_moved", move, offset_refusal, false, true>(
            "to_moved($self, *args)\n--\n\nMoves the rectangle by x and y, or by an offset x "
            "alone (a Vector2, or a tuple or list of two numbers), and returns it."),
        xy_method<"get_moved", move, offset_refusal, false, false>(
            "get_moved($self, *args)\n--\n\nA new Rect moved by x and y, or by an offset x "
            "alone (a Vector2, or a tuple or list of two numbers)."),
        xy_method<"to_inflated", inflate, amount_refusal, false, true>(
            "to_inflated($self, *args)\n--\n\nGrows the rectangle about its centre by x in "
            "width and y in height (or by a pair x alone) and returns it. Negative amounts shrink it, and may leave a "
            "negative size, which is kept."),
        xy_method<"get_inflated", inflate, amount_refusal, false, false>(
            "get_inflated($self, *args)\n--\n\nA new Rect grown about the centre by x in "
            "width and y in height (or by a pair x alone). Negative amounts shrink it, and may leave a negative size."),
        xy_method<"to_scaled", scale, factor_refusal, true, true>(
            "to_scaled($self, *args)\n--\n\nScales the width by x and the height by y "
            "about the centre (x alone: one number for both, or a pair) and returns the rectangle. The sign of "
            "a factor is ignored: a size is never mirrored."),
        xy_method<"get_scaled", scale, factor_refusal, true, false>(
            "get_scaled($self, *args)\n--\n\nA new Rect with the width scaled by x and the "
            "height by y about the centre (x alone: one number for both, or a pair). The sign of a factor is ignored."),
        frame::method<"to_clamped", to_rect_op<clamp>, "other">(
            "Moves the rectangle the least distance that puts it inside other and returns it; along "
            "an axis where it is larger than other, it is centred on other. The size stays."),
        frame::method<"get_clamped", get_rect_op<clamp>, "other">(
            "A new Rect moved inside other, as to_clamped does."),
        frame::method<"to_union", to_rect_op<unite>, "other">(
            "Grows the rectangle to the smallest one covering both it and other (from the least x "
            "and y to the greatest x + width and y + height) and returns it."),
        frame::method<"get_union", get_rect_op<unite>, "other">(
            "The smallest Rect covering this rectangle and other."),
        frame::method<"to_clipped", to_rect_op<clip>, "other">(
            "Cuts the rectangle down to its overlap with other and returns it. Where they do not "
            "overlap (collide_rect is False, also when they only touch), the rectangle keeps its x "
            "and y and gets width and height 0."),
        frame::method<"get_clipped", get_rect_op<clip>, "other">(
            "The overlap of this rectangle and other as a new Rect; where they do not overlap "
            "(also when they only touch), Rect(x, y, 0, 0) at this rectangle's x and y."),
        frame::method<"to_fitted", to_rect_op<fit>, "other">(
            "Scales the rectangle to the largest size that fits inside other with the same aspect "
            "ratio, centres it in other, and returns it. Sizes count by their magnitude; a zero-size "
            "rectangle, or any fitted into a rectangle with a zero side, becomes a zero-size "
            "rectangle at other's centre."),
        frame::method<"get_fitted", get_rect_op<fit>, "other">(
            "A new Rect scaled and centred to fit inside other, as to_fitted does."),
        frame::method<"contains", contains_method, "other">(
            "Whether other (any form collide_rect takes) lies entirely inside this rectangle, "
            "borders included. A rectangle with a negative width or height contains nothing and is "
            "contained in nothing."),
        {"clip_line", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&clip_line_entry)),
         METH_FASTCALL | METH_KEYWORDS,
         "clip_line($self, *args)\n--\n\nclip_line(x1, y1, x2, y2), clip_line(a, b) or clip_line(line): the part of the segment "
         "from (x1, y1) to (x2, y2) inside the rectangle, borders included, as a tuple of two "
         "Vector2 in the segment's direction; an empty tuple when no point of it is inside (also "
         "when a coordinate is NaN or infinite; a rectangle with a negative side has no point "
         "inside). The ends a and b take any form collide_point takes; line is a list or "
         "tuple of four numbers or of two points."},
    };
    return defs;
}

}  // namespace tavoro::rect_parts
