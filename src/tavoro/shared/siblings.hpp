// Interfaces of tavoro.color.color, tavoro.vector4.vector4 and tavoro.image.image: their instance
// records and native tables, as the owning modules define them and other modules bind them. The
// record layouts and slot orders are an interface of the package: importers check the record
// sizes and call the entries by position.
#pragma once

#include "frame.hpp"
#include "records.hpp"

namespace tavoro {

struct Color;
struct Vector4;
struct Image;

// ---------------------------------------------------------------------------------------------
// Color: one raylib Color. Object results are new references (null with the exception set); the
// int results report failure only through a pending exception.

struct ColorTable {
    PyObject* (*__pyx_new)(int r, int g, int b, int a);
    int (*c_equal)(Color* a, Color* b);
    PyObject* (*c_normalize)(Color* self);  // a Vector4 of the channels over 255
    PyObject* (*c_tint)(Color* self, Color* tint);
    PyObject* (*fade)(Color* self, double alpha, int skip_dispatch);
    int (*to_int)(Color* self, int skip_dispatch);
};

struct Color {
    PyObject_HEAD
    const ColorTable* table;
    rl::Color _raw;

    using Table = ColorTable;
    static inline PyTypeObject* type = nullptr;
    static inline const ColorTable* vtable = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Vector4: four doubles. The entries mirror Vector2's; `flag` is skip_dispatch, which these
// entries ignore (none of them is a Python method that a subclass could override).

struct Vector4Data {
    double x, y, z, w;
};

struct Vector4Table {
    PyObject* (*__pyx_new)(double x, double y, double z, double w);
    PyObject* (*cfrom_list)(PyObject* list);
    PyObject* (*cfrom_ints)(int x, int y, int z, int w);
    PyObject* (*cfrom_floats)(float x, float y, float z, float w);
    PyObject* (*cfrom_tuple)(PyObject* tuple);
    PyObject* (*cfrom_vector4)(Vector4* other);
    PyObject* (*cfrom_xyzw)(double x, double y, double z, double w);
    PyObject* (*_add)(Vector4* a, Vector4* b);
    PyObject* (*_sub)(Vector4* a, Vector4* b);
    void (*_iadd)(Vector4* self, Vector4* other);
    void (*_isub)(Vector4* self, Vector4* other);
    void (*_imul)(Vector4* self, Vector4* other);
    void (*_sadd)(Vector4* self, Vector4* new_vec, Vector4* old_vec);
    void (*sadd)(Vector4* self, Vector4* new_vec, Vector4* old_vec, int flag);
    PyObject* (*get_tuple)(Vector4* self, int flag);
    PyObject* (*c_get_tuple)(Vector4* self);
    PyObject* (*to_round)(Vector4* self, int flag);
    PyObject* (*get_round)(Vector4* self, int flag);
    PyObject* (*to_abs)(Vector4* self, int flag);
    PyObject* (*get_abs)(Vector4* self, int flag);
    PyObject* (*to_neg)(Vector4* self, int flag);
    PyObject* (*get_neg)(Vector4* self, int flag);
    PyObject* (*get_int_tuple)(Vector4* self, int flag);
    PyObject* (*get_rounded_tuple)(Vector4* self, int flag);
    PyObject* (*copy)(Vector4* self, int flag);
    PyObject* (*to_normalized)(Vector4* self, int flag);
    PyObject* (*get_normalized)(Vector4* self, int flag);
    double (*distance_to)(Vector4* self, Vector4* other, int flag);
    double (*distance_squared_to)(Vector4* self, Vector4* other, int flag);
    double (*dot)(Vector4* self, Vector4* other, int flag);
};

struct Vector4 {
    PyObject_HEAD
    const Vector4Table* table;
    Vector4Data data;

    using Table = Vector4Table;
    static inline PyTypeObject* type = nullptr;
    static inline const Vector4Table* vtable = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Image: one raylib Image and whether this object frees its pixel data.

// The optional arguments of `new`: how many are given, then their values.
struct ImageNewOptional {
    int n;
    int is_owner;
};

struct ImageTable {
    // Wraps `raw`; without the optional argument (null or n == 0) the image owns its pixels.
    PyObject* (*__pyx_new)(rl::Image raw, const ImageNewOptional* optional);
    PyObject* (*c_load)(PyObject* path);
    PyObject* (*c_load_raw)(PyObject* path, int width, int height, int format, int header_size);
    PyObject* (*c_load_anim)(PyObject* path, int* frames);
    PyObject* (*c_load_from_screen)();
    PyObject* (*c_copy)(Image* self);
    int (*c_export)(Image* self, PyObject* path);
    PyObject* (*unload)(Image* self, int flag);
    PyObject* (*copy)(Image* self, int flag);
    PyObject* (*from_channel)(Image* self, int channel, int flag);
};

struct Image {
    PyObject_HEAD
    const ImageTable* table;
    rl::Image _raw;
    int is_owner;
    int exports;  // buffer views of the pixels now open: the pixels stay while there are any
    PyObject* keeper;  // what owns the pixels of a view (a glyph's font), kept alive by it; or null

    using Table = ImageTable;
    static inline PyTypeObject* type = nullptr;
    static inline const ImageTable* vtable = nullptr;
};

}  // namespace tavoro
