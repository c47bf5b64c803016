// What the modules use from the interpreter where its versions differ, in one place. The modules
// build for CPython 3.13, 3.14 and 3.15 from the same sources; each of those needs its own build
// (the frame warns when a module runs on another version than it was built for).
//
// Every interface used elsewhere in the package is public and unchanged over these versions:
// PyImport_AddModuleRef, PyObject_GetOptionalAttr and PyObject_GetOptionalAttrString are part of
// the API since 3.13, and the Py_mod_gil slot exists from 3.13 on. What is here replaces
// interpreter functions that are private.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cmath>

#if PY_VERSION_HEX < 0x030D0000
#error "tavoro needs CPython 3.13 or newer"
#endif

namespace tavoro::compat {

// hash() of a float that is an infinity or NaN, as the interpreter computes it: infinities hash
// to plus or minus a fixed value, NaN by the identity of the object that holds it (so that
// distinct NaNs do not all collide in a dict). `owner` stands in for the float object.
inline Py_hash_t hash_non_finite(PyObject* owner, double value) {
    if (std::isnan(value)) return Py_HashPointer(owner);
    return value > 0 ? PyHASH_INF : -PyHASH_INF;
}

}  // namespace tavoro::compat
