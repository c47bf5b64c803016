// Native entries of subclassable types that mirror a Python method: called with skip_dispatch 0,
// a Python subclass's override of that method runs instead of the entry's own code.
#pragma once

#include "frame.hpp"

#include <initializer_list>

namespace tavoro::dispatch {

// True when the override of method `name` (the type's own being `own`) was called, with its
// result in `out` (null on failure); false when the entry's own code is to run.
inline bool call_override(PyObject* self, int skip_dispatch, PyObject* name, PyMethodDef& own,
                          std::initializer_list<PyObject*> args, frame::Ref& out) {
    if (skip_dispatch) return false;
    bool failed;
    frame::Ref found(frame::find_override(self, name, own, failed));
    if (failed) return true;
    if (!found) return false;
    out = frame::Ref(PyObject_Vectorcall(found.get(), args.begin(), args.size(), nullptr));
    return true;
}

// An override's result for an int-valued entry: its truth value; 0 with the exception set when
// the override or the truth test failed.
inline int truth(const frame::Ref& result) {
    if (!result) return 0;
    int value = PyObject_IsTrue(result.get());
    return value < 0 ? 0 : value;
}

}  // namespace tavoro::dispatch
