// Text arguments of the drawing modules: a str, handed to raylib as UTF-8, without NUL
// characters (raylib's strings end at the first one).
#pragma once

#include "frame.hpp"

#include <cstring>

namespace tavoro::text {

constexpr const char* not_text = "text must be a str, not %.200s";
constexpr const char* embedded_nul = "text must not contain NUL characters";

// The UTF-8 of `text`, which lives as long as the str, or null with the exception set.
inline const char* utf8(PyObject* text) {
    if (!PyUnicode_Check(text)) {
        PyErr_Format(PyExc_TypeError, not_text, Py_TYPE(text)->tp_name);
        return nullptr;
    }
    Py_ssize_t size;
    const char* chars = PyUnicode_AsUTF8AndSize(text, &size);
    if (chars && std::memchr(chars, 0, static_cast<std::size_t>(size))) {
        PyErr_SetString(PyExc_ValueError, embedded_nul);
        return nullptr;
    }
    return chars;
}

}  // namespace tavoro::text
