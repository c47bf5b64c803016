// Interface of tavoro.rect.rect: the Rect record and its native table, as other modules of the
// package read and call them.
#pragma once

#include "../shared/frame.hpp"
#include "../shared/records.hpp"
#include "../shared/siblings.hpp"
#include "../vector2/vector2.hpp"

namespace tavoro {

struct Rect;

// Native entry points, in slot order. With skip_dispatch 0, an entry that mirrors a Python
// method runs a Python subclass's override of that method instead of its own code. Object
// results are new references (null with the exception set); the int results are 1 or 0, and 0
// with an exception set on failure, so callers check for a pending exception after a 0.
struct RectTable {
    PyObject* (*__pyx_new)(rl::Rectangle raw);
    PyObject* (*get_width)(Rect* self, int skip_dispatch);
    PyObject* (*get_height)(Rect* self, int skip_dispatch);
    int (*collide_point)(Rect* self, PyObject* point, int skip_dispatch);
    int (*collide_point_vector2)(Rect* self, Vector2* point, int skip_dispatch);
    int (*collide_point_tuple)(Rect* self, PyObject* point, int skip_dispatch);
    int (*collide_point_list)(Rect* self, PyObject* point, int skip_dispatch);
    int (*collide_rect)(Rect* self, PyObject* other, int skip_dispatch);
    int (*collide_rect_vector4)(Rect* self, Vector4* other, int skip_dispatch);
    int (*collide_rect_rect)(Rect* self, Rect* other, int skip_dispatch);
    int (*collide_rect_tuple)(Rect* self, PyObject* other, int skip_dispatch);
    int (*collide_rect_list)(Rect* self, PyObject* other, int skip_dispatch);
    PyObject* (*get_vector4)(Rect* self, int skip_dispatch);
    PyObject* (*get_tuple)(Rect* self, int skip_dispatch);
};

struct Rect {
    PyObject_HEAD
    const RectTable* table;
    rl::Rectangle _raw;

    using Table = RectTable;
    static inline PyTypeObject* type = nullptr;
    static inline const RectTable* vtable = nullptr;
};

}  // namespace tavoro
