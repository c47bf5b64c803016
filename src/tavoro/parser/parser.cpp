// tavoro.parser.parser: native routines that turn a loosely typed argument into a raylib record,
// for modules of the package that accept vector2-like, color-like and rect-like arguments. The
// module has nothing Python-visible; the routines are published in __pyx_capi__.
//
// Every routine tests, in order: exactly the package's own type, exactly a tuple, exactly a list,
// then any other sequence (subclasses of those three included), which is first turned into a
// list. The length is checked before any item is converted. A failure leaves the exception
// pending and returns a zeroed record.
#include "../rect/rect.hpp"
#include "../shared/sequence.hpp"

#include <algorithm>

namespace tavoro {
namespace {

// The container kinds the messages name.
enum Kind { tuple_kind, list_kind, sequence_kind };

// Exact tuples and lists are read as they are; any other sequence goes through the
// fast-sequence conversion, whose result `holder` keeps.
PyObject* items_of(PyObject* obj, Kind kind, frame::Ref& holder) {
    if (kind != sequence_kind) return obj;
    holder = frame::Ref(PySequence_Fast(obj, "expected sequence"));
    return holder.get();
}

Kind kind_of(PyObject* obj) {
    return PyTuple_CheckExact(obj) ? tuple_kind : PyList_CheckExact(obj) ? list_kind : sequence_kind;
}

bool raise_length(const char* const (&messages)[3], Kind kind) {
    PyErr_SetString(PyExc_ValueError, messages[kind]);
    return false;
}

// ---------------------------------------------------------------------------------------------
// Vector2

constexpr const char* vector2_length_messages[] = {
    "tuple for vector2-like argument must have only 2 elements.",
    "list for vector2-like argument must have only 2 elements.",
    "sequence for vector2-like argument must have only 2 elements.",
};

rl::Vector2 parse_vector2_like(PyObject* obj) {
    if (frame::is_exact<Vector2>(obj)) return reinterpret_cast<Vector2*>(obj)->data;
    Kind kind = kind_of(obj);
    if (kind == sequence_kind && !PySequence_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "vector2-like argument must be Vector2, or any sequence, got %s.",
                     Py_TYPE(obj)->tp_name);
        return {};
    }
    frame::Ref holder;
    PyObject* items = items_of(obj, kind, holder);
    if (!items) return {};
    if (PySequence_Fast_GET_SIZE(items) != 2) {
        raise_length(vector2_length_messages, kind);
        return {};
    }
    float values[2];
    if (kind == sequence_kind) {
        // Item 1 first: the order other sequences have always been read in.
        if (!frame::to_float(PySequence_Fast_GET_ITEM(items, 1), values[1]) ||
            !frame::to_float(PySequence_Fast_GET_ITEM(items, 0), values[0]))
            return {};
    } else if (!sequence::convert_items(items, values, frame::to_float)) {
        return {};
    }
    return {values[0], values[1]};
}

// ---------------------------------------------------------------------------------------------
// Rectangle

constexpr const char* rect_length_messages[] = {
    "tuple for rect-like argument must have only 4 elements.",
    "list for rect-like argument must have only 4 elements.",
    "sequence for rect-like argument must have only 4 elements.",
};

rl::Rectangle parse_rect_like(PyObject* obj) {
    if (frame::is_exact<Rect>(obj)) return reinterpret_cast<Rect*>(obj)->_raw;
    Kind kind = kind_of(obj);
    if (kind == sequence_kind && !PySequence_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "rect_like argument must be Rect, tuple, or list, got %s",
                     Py_TYPE(obj)->tp_name);
        return {};
    }
    frame::Ref holder;
    PyObject* items = items_of(obj, kind, holder);
    if (!items) return {};
    if (PySequence_Fast_GET_SIZE(items) != 4) {
        raise_length(rect_length_messages, kind);
        return {};
    }
    float values[4];
    if (!sequence::convert_items(items, values, frame::to_float)) return {};
    return {values[0], values[1], values[2], values[3]};
}

// ---------------------------------------------------------------------------------------------
// Color

constexpr const char* color_length_messages[] = {
    "tuple for color-like argument must have only 3-4 elements.",
    "list for color-like argument must have only 3-4 elements.",
    "sequence for color-like argument must have only 3-4 elements.",
};

std::uint8_t clamp_channel(int value) { return static_cast<std::uint8_t>(std::clamp(value, 0, 255)); }

rl::Color parse_color_like(PyObject* obj) {
    if (frame::is_exact<Color>(obj)) return reinterpret_cast<Color*>(obj)->_raw;
    Kind kind = kind_of(obj);
    if (kind == sequence_kind && !PySequence_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "color-like argument must be Color, or any sequence, got %s.",
                     Py_TYPE(obj)->tp_name);
        return {};
    }
    frame::Ref holder;
    PyObject* items = items_of(obj, kind, holder);
    if (!items) return {};
    Py_ssize_t length = PySequence_Fast_GET_SIZE(items);
    if (length != 3 && length != 4) {
        raise_length(color_length_messages, kind);
        return {};
    }
    // Every channel converts before any is clamped; three channels mean full opacity.
    int channels[4] = {0, 0, 0, 255};
    if (!sequence::convert_items(items, channels, length, frame::to_int)) return {};
    return {clamp_channel(channels[0]), clamp_channel(channels[1]), clamp_channel(channels[2]),
            clamp_channel(channels[3])};
}

// ---------------------------------------------------------------------------------------------
// Module

const frame::ExportDef exports[] = {
    {"parse_color_like", "struct Color (PyObject *)", reinterpret_cast<void*>(&parse_color_like)},
    {"parse_rect_like", "struct Rectangle (PyObject *)", reinterpret_cast<void*>(&parse_rect_like)},
    {"parse_vector2_like", "struct Vector2 (PyObject *)", reinterpret_cast<void*>(&parse_vector2_like)},
};

const frame::SiblingDef siblings[] = {
    frame::sibling<Vector2>("tavoro.vector2.vector2", "Vector2"),
    frame::sibling<Vector4>("tavoro.vector4.vector4", "Vector4"),
    frame::sibling<Color>("tavoro.color.color", "Color"),
    frame::sibling<Rect>("tavoro.rect.rect", "Rect"),
    frame::builtin_type(),
};

const frame::ModuleDef module = {
    .name = "parser",
    .full_name = "tavoro.parser.parser",
    .source = "src/tavoro/parser/parser.cpp",
    .types = {},
    .siblings = siblings,
    .exports = exports,
};

}  // namespace
}  // namespace tavoro

TAVORO_MODULE(parser, tavoro::module)
