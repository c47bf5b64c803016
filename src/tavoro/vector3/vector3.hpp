// Interface of tavoro.vector3.vector3: the Vector3 record and its native table, as other modules
// of the package read and call them.
#pragma once

#include "../shared/frame.hpp"
#include "../shared/records.hpp"

namespace tavoro {

struct Vector3;

// Native entry points, in slot order. `flag` is skip_dispatch, which this final type ignores.
// Object results are new references (null with the exception set); the double results and the
// entries without a result report failure only through a pending exception.
struct Vector3Table {
    PyObject* (*__pyx_new)(double x, double y, double z);
    PyObject* (*cfrom_list)(PyObject* list);
    PyObject* (*cfrom_ints)(int x, int y, int z);
    PyObject* (*cfrom_floats)(float x, float y, float z);
    PyObject* (*cfrom_tuple)(PyObject* tuple);
    PyObject* (*cfrom_vector3)(Vector3* other);
    PyObject* (*cfrom_xyz)(double x, double y, double z);
    PyObject* (*_add)(Vector3* a, Vector3* b);
    PyObject* (*_sub)(Vector3* a, Vector3* b);
    void (*_iadd)(Vector3* self, Vector3* other);
    void (*_isub)(Vector3* self, Vector3* other);
    void (*_imul)(Vector3* self, Vector3* other);
    void (*_sadd)(Vector3* self, Vector3* new_vec, Vector3* old_vec);
    void (*sadd)(Vector3* self, Vector3* new_vec, Vector3* old_vec, int flag);
    PyObject* (*get_tuple)(Vector3* self, int flag);
    PyObject* (*c_get_tuple)(Vector3* self);
    PyObject* (*to_round)(Vector3* self, int flag);
    PyObject* (*get_round)(Vector3* self, int flag);
    PyObject* (*to_abs)(Vector3* self, int flag);
    PyObject* (*get_abs)(Vector3* self, int flag);
    PyObject* (*to_neg)(Vector3* self, int flag);
    PyObject* (*get_neg)(Vector3* self, int flag);
    PyObject* (*get_int_tuple)(Vector3* self, int flag);
    PyObject* (*get_rounded_tuple)(Vector3* self, int flag);
    PyObject* (*copy)(Vector3* self, int flag);
    PyObject* (*to_normalized)(Vector3* self, int flag);
    PyObject* (*get_normalized)(Vector3* self, int flag);
    double (*distance_to)(Vector3* self, Vector3* other, int flag);
    double (*distance_squared_to)(Vector3* self, Vector3* other, int flag);
    double (*dot)(Vector3* self, Vector3* other, int flag);
    PyObject* (*cross)(Vector3* self, Vector3* other, int flag);
};

struct Vector3 {
    PyObject_HEAD
    const Vector3Table* table;
    rl::Vector3 data;

    using Table = Vector3Table;
    static constexpr int size = 3;
    static constexpr bool final = true;  // the type cannot be subclassed
    static inline PyTypeObject* type = nullptr;
    static inline const Vector3Table* vtable = nullptr;
};

}  // namespace tavoro
