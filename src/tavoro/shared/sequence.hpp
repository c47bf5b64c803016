// Reading the items of lists and tuples that a caller has already measured.
#pragma once

#include "frame.hpp"

#include <cstddef>

namespace tavoro::sequence {

// Converts items 0..count-1 (count at most 4) of a list or tuple (or subclass) with `convert`.
// Exact tuples are read in place. A list is first captured into owned references, and a
// subclass is read through its own item access: converting an item may run Python code that
// changes the sequence, and a subclass's length may not be the number of items it holds. A
// sequence shorter than count raises the interpreter's IndexError; nothing is read past its end.
template <class T, class Convert>
bool convert_items(PyObject* seq, T* out, Py_ssize_t count, Convert convert) {
    if (PyTuple_CheckExact(seq) && PyTuple_GET_SIZE(seq) >= count) {
        for (Py_ssize_t i = 0; i < count; ++i)
            if (!convert(PyTuple_GET_ITEM(seq, i), out[i])) return false;
        return true;
    }
    if (PyList_CheckExact(seq)) {
        if (PyList_GET_SIZE(seq) < count) {
            PyErr_SetString(PyExc_IndexError, "list index out of range");
            return false;
        }
        frame::Ref items[4];
        for (Py_ssize_t i = 0; i < count; ++i) items[i] = frame::Ref(Py_NewRef(PyList_GET_ITEM(seq, i)));
        for (Py_ssize_t i = 0; i < count; ++i)
            if (!convert(items[i].get(), out[i])) return false;
        return true;
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        frame::Ref item(PySequence_GetItem(seq, i));
        if (!item || !convert(item.get(), out[i])) return false;
    }
    return true;
}

template <std::size_t N, class T, class Convert>
bool convert_items(PyObject* seq, T (&out)[N], Convert convert) {
    static_assert(N <= 4);
    return convert_items(seq, out, static_cast<Py_ssize_t>(N), convert);
}

// The length of a list or tuple as len() gives it: a subclass may define its own.
inline Py_ssize_t length(PyObject* seq) {
    if (PyTuple_CheckExact(seq)) return PyTuple_GET_SIZE(seq);
    if (PyList_CheckExact(seq)) return PyList_GET_SIZE(seq);
    return PyObject_Length(seq);
}

}  // namespace tavoro::sequence
