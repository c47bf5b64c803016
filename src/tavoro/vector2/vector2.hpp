// Interface of tavoro.vector2.vector2: the Vector2 record and its native table, as other modules
// of the package read and call them.
#pragma once

#include "../shared/frame.hpp"
#include "../shared/records.hpp"

namespace tavoro {

struct Vector2;

// Native entry points, in slot order. `flag` is skip_dispatch, which this final type ignores.
// Object results are new references (null with the exception set); the double results and the
// entries without a result report failure only through a pending exception.
struct Vector2Table {
    PyObject* (*__pyx_new)(double x, double y);
    PyObject* (*cfrom_struct)(rl::Vector2 raw);
    PyObject* (*cfrom_list)(PyObject* list);
    PyObject* (*cfrom_ints)(int x, int y);
    PyObject* (*cfrom_floats)(float x, float y);
    PyObject* (*cfrom_tuple)(PyObject* tuple);
    PyObject* (*cfrom_vector2)(Vector2* other);
    PyObject* (*cfrom_xy)(double x, double y);
    PyObject* (*_add)(Vector2* a, Vector2* b);
    PyObject* (*_sub)(Vector2* a, Vector2* b);
    void (*_iadd)(Vector2* self, Vector2* other);
    void (*_isub)(Vector2* self, Vector2* other);
    void (*_imul)(Vector2* self, Vector2* other);
    void (*_sadd)(Vector2* self, Vector2* new_vec, Vector2* old_vec);
    void (*sadd)(Vector2* self, Vector2* new_vec, Vector2* old_vec, int flag);
    PyObject* (*get_tuple)(Vector2* self, int flag);
    PyObject* (*c_get_tuple)(Vector2* self);
    PyObject* (*to_round)(Vector2* self, int flag);
    PyObject* (*get_round)(Vector2* self, int flag);
    PyObject* (*to_abs)(Vector2* self, int flag);
    PyObject* (*get_abs)(Vector2* self, int flag);
    PyObject* (*to_neg)(Vector2* self, int flag);
    PyObject* (*get_neg)(Vector2* self, int flag);
    PyObject* (*get_int_tuple)(Vector2* self, int flag);
    PyObject* (*get_rounded_tuple)(Vector2* self, int flag);
    PyObject* (*copy)(Vector2* self, int flag);
    PyObject* (*to_normalized)(Vector2* self, int flag);
    PyObject* (*get_normalized)(Vector2* self, int flag);
    double (*distance_to)(Vector2* self, Vector2* other, int flag);
    double (*distance_squared_to)(Vector2* self, Vector2* other, int flag);
    double (*dot)(Vector2* self, Vector2* other, int flag);
};

struct Vector2 {
    PyObject_HEAD
    const Vector2Table* table;
    rl::Vector2 data;

    using Table = Vector2Table;
    static constexpr int size = 2;
    static constexpr bool final = true;  // the type cannot be subclassed
    static inline PyTypeObject* type = nullptr;
    static inline const Vector2Table* vtable = nullptr;
};

}  // namespace tavoro
