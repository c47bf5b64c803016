// Binding what another module of the package publishes in its __pyx_capi__ (frame::ExportDef):
// routines and shared state, each a capsule keyed by name and tagged with its native signature.
#pragma once

#include "frame.hpp"

#include <initializer_list>
#include <iterator>

namespace tavoro::exports {

// One entry to bind: its name, its signature and where its pointer goes.
struct Import {
    const char* name;
    const char* signature;
    void** slot;
};

template <class T>
Import entry(const char* name, const char* signature, T*& slot) {
    return {name, signature, reinterpret_cast<void**>(&slot)};
}

// Imports `module_name` and fills every slot, or none: 0, or -1 with ImportError (or the
// capsule's own error) set.
inline int bind(const char* module_name, std::initializer_list<Import> imports) {
    frame::Ref module(PyImport_ImportModule(module_name));
    if (!module) return -1;
    frame::Ref capi(PyObject_GetAttrString(module.get(), "__pyx_capi__"));
    if (!capi) return -1;
    void* found[16];
    if (imports.size() > std::size(found)) {
        PyErr_Format(PyExc_ImportError, "too many entries to bind from %s", module_name);
        return -1;
    }
    int count = 0;
    for (const Import& wanted : imports) {
        PyObject* capsule = PyDict_GetItemString(capi.get(), wanted.name);
        if (!capsule) {
            PyErr_Format(PyExc_ImportError, "%s does not export %s", module_name, wanted.name);
            return -1;
        }
        found[count] = PyCapsule_GetPointer(capsule, wanted.signature);
        if (!found[count++]) return -1;
    }
    count = 0;
    for (const Import& wanted : imports) *wanted.slot = found[count++];
    return 0;
}

}  // namespace tavoro::exports
