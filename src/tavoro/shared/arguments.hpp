// Vector2-, rect- and color-like arguments of the drawing modules, as raylib's own records:
// exact Vector2, Rect and Color objects are read in place, anything else goes through the
// parser module's exported routines (which hold the package's one set of rules and messages).
// Geometry is checked before it reaches raylib: every coordinate finite and within
// `coordinate_limit`, sizes not negative.
#pragma once

#include "../rect/rect.hpp"
#include "../vector2/vector2.hpp"
#include "frame.hpp"
#include "siblings.hpp"

#include <raylib.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace tavoro::arguments {

// Beyond this, raylib's circle and rounded-corner code computes segment counts from radii whose
// error terms vanish in float precision (infinite counts), and its float vertices cannot hold a
// pixel position anyway. Ten million pixels is far past any screen, at any sensible zoom.
inline constexpr float coordinate_limit = 1e7f;

constexpr const char* out_of_range =
    "%s must be a finite number within +-10000000 (got %R)";
constexpr const char* negative = "%s must not be negative (got %R)";

struct Routines {
    rl::Vector2 (*vector2)(PyObject*);
    rl::Color (*color)(PyObject*);
    rl::Rectangle (*rect)(PyObject*);
};
inline Routines parse{};

inline bool in_range(float value) { return std::fabs(value) <= coordinate_limit; }

inline bool raise_out_of_range(const char* name, double value) {
    frame::Ref number(PyFloat_FromDouble(value));
    if (number) PyErr_Format(PyExc_ValueError, out_of_range, name, number.get());
    return false;
}

inline bool raise_negative(const char* name, double value) {
    frame::Ref number(PyFloat_FromDouble(value));
    if (number) PyErr_Format(PyExc_ValueError, negative, name, number.get());
    return false;
}

// A position: any vector2-like.
struct Point {
    ::Vector2 value;
};

// An area: any rect-like, its width and height not negative.
struct Area {
    ::Rectangle value;
};

// A colour: any color-like.
struct Paint {
    ::Color value;
};

// A length (radius, thickness, size): a number, not negative.
struct Length {
    float value;
};

// An angle in degrees, or any other finite coordinate-sized number.
struct Number {
    float value;
};

inline bool check_point(const char* name, ::Vector2 v) {
    // Both checked, with no branch between them.
    if (static_cast<int>(in_range(v.x)) & static_cast<int>(in_range(v.y))) [[likely]]
        return true;
    return raise_out_of_range(name, in_range(v.x) ? v.y : v.x);
}

// A rectangle as four float lanes, for the checks that batches make thousands of times: one
// compare of all four in place of four, with no branch until the verdict.
using Lanes = float __attribute__((vector_size(16)));
using LaneMask = std::int32_t __attribute__((vector_size(16)));

inline Lanes lanes(const ::Rectangle& r) {
    Lanes v;
    std::memcpy(&v, &r, sizeof v);
    return v;
}

// Whether every lane of a comparison's mask is set (`all`) or any is (`any`).
inline bool all(LaneMask m) {
#if defined(__SSE__)
    return __builtin_ia32_movmskps(reinterpret_cast<Lanes>(m)) == 0xf;
#else
    std::uint64_t half[2];
    std::memcpy(half, &m, sizeof half);
    return (half[0] & half[1]) == ~std::uint64_t{0};
#endif
}
inline bool any(LaneMask m) {
#if defined(__SSE__)
    return __builtin_ia32_movmskps(reinterpret_cast<Lanes>(m)) != 0;
#else
    std::uint64_t half[2];
    std::memcpy(half, &m, sizeof half);
    return (half[0] | half[1]) != 0;
#endif
}

inline bool check_area(const char* name, ::Rectangle r) {
    // Coordinates within the limit and sizes not negative; NaN fails every comparison.
    constexpr Lanes low{-coordinate_limit, -coordinate_limit, 0.0f, 0.0f};
    constexpr Lanes high{coordinate_limit, coordinate_limit, coordinate_limit, coordinate_limit};
    Lanes v = lanes(r);
    if (all((v >= low) & (v <= high))) [[likely]]
        return true;
    if (in_range(r.x) && in_range(r.y) && in_range(r.width) && in_range(r.height))
        return raise_negative(name, r.width < 0.0f ? r.width : r.height);
    float bad = !in_range(r.x) ? r.x : !in_range(r.y) ? r.y : !in_range(r.width) ? r.width : r.height;
    return raise_out_of_range(name, bad);
}

inline bool read_point(PyObject* object, const char* name, ::Vector2& out) {
    if (frame::is_exact<Vector2>(object)) [[likely]] {
        rl::Vector2 data = reinterpret_cast<Vector2*>(object)->data;
        out = std::bit_cast<::Vector2>(data);
    } else {
        out = std::bit_cast<::Vector2>(parse.vector2(object));
        if (PyErr_Occurred()) return false;
    }
    return check_point(name, out);
}

inline bool read_area(PyObject* object, const char* name, ::Rectangle& out) {
    if (frame::is_exact<Rect>(object)) [[likely]] {
        rl::Rectangle raw = reinterpret_cast<Rect*>(object)->_raw;
        out = std::bit_cast<::Rectangle>(raw);
    } else {
        out = std::bit_cast<::Rectangle>(parse.rect(object));
        if (PyErr_Occurred()) return false;
    }
    return check_area(name, out);
}

inline bool read_paint(PyObject* object, ::Color& out) {
    if (frame::is_exact<Color>(object)) [[likely]] {
        rl::Color raw = reinterpret_cast<Color*>(object)->_raw;
        out = std::bit_cast<::Color>(raw);
        return true;
    }
    out = std::bit_cast<::Color>(parse.color(object));
    return !PyErr_Occurred();
}

inline bool read_number(PyObject* object, const char* name, float& out) {
    double value;
    if (!frame::to_double(object, value)) return false;
    if (!(std::fabs(value) <= coordinate_limit)) return raise_out_of_range(name, value);
    out = static_cast<float>(value);
    return true;
}

inline bool read_length(PyObject* object, const char* name, float& out) {
    if (!read_number(object, name, out)) return false;
    return out >= 0.0f || raise_negative(name, out);
}

// Imports the parser module and takes its routines from __pyx_capi__.
inline int bind() {
    frame::Ref module(PyImport_ImportModule("tavoro.parser.parser"));
    if (!module) return -1;
    frame::Ref capi(PyObject_GetAttrString(module.get(), "__pyx_capi__"));
    if (!capi) return -1;
    auto routine = [&](const char* key, const char* signature) -> void* {
        PyObject* capsule = PyDict_GetItemString(capi.get(), key);
        if (!capsule) {
            PyErr_Format(PyExc_ImportError, "tavoro.parser.parser does not export %s", key);
            return nullptr;
        }
        return PyCapsule_GetPointer(capsule, signature);
    };
    void* vector2 = routine("parse_vector2_like", "struct Vector2 (PyObject *)");
    void* color = routine("parse_color_like", "struct Color (PyObject *)");
    void* rect = routine("parse_rect_like", "struct Rectangle (PyObject *)");
    if (!vector2 || !color || !rect) return -1;
    parse = {reinterpret_cast<decltype(parse.vector2)>(vector2),
             reinterpret_cast<decltype(parse.color)>(color),
             reinterpret_cast<decltype(parse.rect)>(rect)};
    return 0;
}

}  // namespace tavoro::arguments

namespace tavoro::frame {

template <>
struct Arg<arguments::Point> {
    static bool from(PyObject* object, const char* name, arguments::Point& out) {
        return arguments::read_point(object, name, out.value);
    }
};

template <>
struct Arg<arguments::Area> {
    static bool from(PyObject* object, const char* name, arguments::Area& out) {
        return arguments::read_area(object, name, out.value);
    }
};

template <>
struct Arg<arguments::Paint> {
    static bool from(PyObject* object, const char*, arguments::Paint& out) {
        return arguments::read_paint(object, out.value);
    }
};

template <>
struct Arg<arguments::Length> {
    static bool from(PyObject* object, const char* name, arguments::Length& out) {
        return arguments::read_length(object, name, out.value);
    }
};

template <>
struct Arg<arguments::Number> {
    static bool from(PyObject* object, const char* name, arguments::Number& out) {
        return arguments::read_number(object, name, out.value);
    }
};

}  // namespace tavoro::frame
