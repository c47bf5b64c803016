// The module frame's out-of-line parts: initialisation, sibling binding, argument binding and the
// shared error messages. Compiled into every module, each of which gets its own copy of the state.
#include "frame.hpp"

#include <frameobject.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace tavoro::frame {
namespace {

const ModuleDef* module_def = nullptr;

// The interpreter that first created the module; the module's state serves that one only.
std::int64_t first_interpreter = -1;

Name name_vtable("__pyx_vtable__");
Name name_capi("__pyx_capi__");
Name name_test("__test__");
Name name_staticmethod("staticmethod");
Name name_not_implemented("NotImplemented");
Name name_reduce("__reduce__");
Name name_reduce_ex("__reduce_ex__");
Name name_setstate("__setstate__");
Name name_getstate("__getstate__");

}  // namespace

// ---------------------------------------------------------------------------------------------
// Names

bool Name::intern_all() {
    for (Name* name = head_; name; name = name->next_) {
        if (name->object_) continue;
        name->object_ = PyUnicode_InternFromString(name->text_);
        if (!name->object_ || PyObject_Hash(name->object_) == -1) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Errors

void traceback(const char* qualified_name) {
    if (!module_def || !state.dict) return;
    PyObject* raised = PyErr_GetRaisedException();
    PyCodeObject* code = PyCode_NewEmpty(module_def->source, qualified_name, 0);
    PyErr_SetRaisedException(raised);
    if (!code) return;
    PyFrameObject* frame = PyFrame_New(PyThreadState_Get(), code, state.dict, nullptr);
    Py_DECREF(code);
    if (!frame) return;
    PyTraceBack_Here(frame);
    Py_DECREF(frame);
}

void traceback(PyTypeObject* owner, const char* member) {
    char qualified_name[512];
    PyOS_snprintf(qualified_name, sizeof qualified_name, "%s.%s",
                  owner ? owner->tp_name : module_def->full_name, member);
    traceback(qualified_name);
}

bool raise_argcount(const char* function, Py_ssize_t expected, Py_ssize_t given) {
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 function, "exactly", expected, expected == 1 ? "" : "s", given);
    return false;
}

bool raise_unexpected_keyword(const char* function, PyObject* keyword) {
    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function,
                 keyword);
    return false;
}

bool raise_duplicate_keyword(const char* function, PyObject* keyword) {
    PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", function,
                 keyword);
    return false;
}

bool raise_keywords_not_strings(const char* function) {
    PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", function);
    return false;
}

bool raise_keyword_refused(const char* function, PyObject* keyword) {
    if (!PyUnicode_Check(keyword)) return raise_keywords_not_strings(function);
    return raise_unexpected_keyword(function, keyword);
}

bool raise_incorrect_type(const char* argument, PyTypeObject* expected, PyObject* given) {
    PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)",
                 argument, expected->tp_name, Py_TYPE(given)->tp_name);
    return false;
}

bool raise_int_overflow() {
    PyErr_Format(PyExc_OverflowError, "value too large to convert to %.200s", "int");
    return false;
}

bool raise_expected(const char* what, PyObject* given) {
    PyErr_Format(PyExc_TypeError, "Expected %.42s, got %.200s", what, Py_TYPE(given)->tp_name);
    return false;
}

int raise_property_deletion() {
    PyErr_SetString(PyExc_NotImplementedError, "__del__");
    return -1;
}

int raise_subscript_deletion(PyTypeObject* type) {
    PyErr_Format(PyExc_NotImplementedError, "Subscript %.10s not supported by %.200s", "deletion",
                 type->tp_name);
    return -1;
}

// ---------------------------------------------------------------------------------------------
// Conversions and argument binding

namespace {

bool int_from_long(PyObject* number, int& out) {
    int overflow = 0;
    long value = PyLong_AsLongAndOverflow(number, &overflow);
    if (overflow || value < INT_MIN || value > INT_MAX) return raise_int_overflow();
    if (value == -1 && PyErr_Occurred()) return false;
    out = static_cast<int>(value);
    return true;
}

}  // namespace

bool to_int(PyObject* object, int& out) {
    if (PyLong_Check(object)) return int_from_long(object, out);
    // Only __int__ counts: strings and other objects that int() would parse are refused.
    PyNumberMethods* number = Py_TYPE(object)->tp_as_number;
    if (!number || !number->nb_int) {
        PyErr_SetString(PyExc_TypeError, "an integer is required");
        return false;
    }
    Ref converted(number->nb_int(object));
    if (!converted) return false;
    if (!PyLong_Check(converted.get())) {
        PyErr_Format(PyExc_TypeError, "__int__ returned non-int (type %.200s)",
                     Py_TYPE(converted.get())->tp_name);
        return false;
    }
    return int_from_long(converted.get(), out);
}

bool bind(const char* function, std::span<const char* const> names, PyObject* const* args,
          Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
    const auto count = static_cast<Py_ssize_t>(names.size());
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    if (nargs > count || (nkw == 0 && nargs != count)) return raise_argcount(function, count, nargs);
    for (Py_ssize_t i = 0; i < count; ++i) out[i] = i < nargs ? args[i] : nullptr;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        if (!PyUnicode_Check(keyword)) return raise_keywords_not_strings(function);
        Py_ssize_t i = 0;
        while (i < count && !PyUnicode_EqualToUTF8(keyword, names[i])) ++i;
        if (i == count) return raise_unexpected_keyword(function, keyword);
        if (out[i]) return raise_duplicate_keyword(function, keyword);
        out[i] = args[nargs + k];
    }
    for (Py_ssize_t i = 0; i < count; ++i)
        if (!out[i]) return raise_argcount(function, count, i);
    return true;
}

// A parameter's name is its text up to '=' (after which its default may stand).
static bool names_parameter(PyObject* keyword, const char* parameter) {
    const char* end = std::strchr(parameter, '=');
    if (!end) return PyUnicode_EqualToUTF8(keyword, parameter);
    Py_ssize_t size;
    const char* text = PyUnicode_AsUTF8AndSize(keyword, &size);
    if (!text) {
        PyErr_Clear();
        return false;
    }
    return size == end - parameter && std::memcmp(text, parameter, static_cast<std::size_t>(size)) == 0;
}

static bool raise_argcount_between(const char* function, Py_ssize_t least, Py_ssize_t most,
                                   Py_ssize_t given) {
    bool too_many = given > most;
    Py_ssize_t expected = too_many ? most : least;
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 function, too_many ? "at most" : "at least", expected, expected == 1 ? "" : "s",
                 given);
    return false;
}

bool bind(const char* function, std::span<const char* const> names, Py_ssize_t required,
          PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
    const auto count = static_cast<Py_ssize_t>(names.size());
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    if (nargs > count || (nkw == 0 && nargs < required))
        return raise_argcount_between(function, required, count, nargs);
    for (Py_ssize_t i = 0; i < count; ++i) out[i] = i < nargs ? args[i] : nullptr;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        if (!PyUnicode_Check(keyword)) return raise_keywords_not_strings(function);
        Py_ssize_t i = 0;
        while (i < count && !names_parameter(keyword, names[i])) ++i;
        if (i == count) return raise_unexpected_keyword(function, keyword);
        if (out[i]) return raise_duplicate_keyword(function, keyword);
        out[i] = args[nargs + k];
    }
    for (Py_ssize_t i = 0; i < required; ++i)
        if (!out[i]) return raise_argcount_between(function, required, count, i);
    return true;
}

namespace detail {

const char* documented(const char* name, bool bound, std::span<const char* const> params,
                       const char* doc) {
    std::size_t size = std::strlen(name) + std::strlen("($self, )\n--\n\n") + (doc ? std::strlen(doc) : 0) + 1;
    for (const char* param : params) size += std::strlen(param) + 2;
    char* text = static_cast<char*>(std::malloc(size));
    if (!text) return doc;
    int used = std::snprintf(text, size, "%s(%s", name, bound ? "$self" : "");
    for (std::size_t i = 0; i < params.size(); ++i)
        used += std::snprintf(text + used, size - used, (bound || i) ? ", %s" : "%s", params[i]);
    std::snprintf(text + used, size - used, ")\n--\n\n%s", doc ? doc : "");
    return text;
}

}  // namespace detail

PyObject* call_type(PyObject* type, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    Ref positional(PyTuple_New(nargs));
    if (!positional) return nullptr;
    for (Py_ssize_t i = 0; i < nargs; ++i) PyTuple_SET_ITEM(positional.get(), i, Py_NewRef(args[i]));
    Ref keywords;
    if (kwnames && PyTuple_GET_SIZE(kwnames)) {
        keywords = Ref(PyDict_New());
        if (!keywords) return nullptr;
        for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(kwnames); ++k)
            if (PyDict_SetItem(keywords.get(), PyTuple_GET_ITEM(kwnames, k), args[nargs + k]) < 0)
                return nullptr;
    }
    return PyType_Type.tp_call(type, positional.get(), keywords.get());
}

PyObject* find_override(PyObject* self, PyObject* name, PyMethodDef& own, bool& failed) {
    failed = false;
    PyTypeObject* type = Py_TYPE(self);
    // Only a Python-level subclass or an instance with a dictionary can carry an override.
    if (!(type->tp_flags & Py_TPFLAGS_HEAPTYPE) && type->tp_dictoffset == 0) return nullptr;
    PyObject* found = PyObject_GetAttr(self, name);
    if (!found) {
        failed = true;
        return nullptr;
    }
    if (PyCFunction_Check(found) && PyCFunction_GET_FUNCTION(found) == own.ml_meth &&
        PyCFunction_GET_SELF(found) == self) {
        Py_DECREF(found);
        return nullptr;
    }
    return found;
}

// ---------------------------------------------------------------------------------------------
// Sibling types

PyTypeObject* import_type(PyObject* module, const char* module_name, const char* class_name,
                          Py_ssize_t expected_size) {
    Ref found(PyObject_GetAttrString(module, class_name));
    if (!found) return nullptr;
    if (!PyType_Check(found.get())) {
        PyErr_Format(PyExc_TypeError, "%.200s.%.200s is not a type object", module_name,
                     class_name);
        return nullptr;
    }
    auto* type = reinterpret_cast<PyTypeObject*>(found.get());
    Py_ssize_t basic_size = type->tp_basicsize;
    Py_ssize_t item_size = type->tp_itemsize;
    if (item_size) item_size = item_size < 8 ? 8 : item_size;
    if (basic_size + item_size < expected_size) {
        PyErr_Format(PyExc_ValueError,
                     "%.200s.%.200s size changed, may indicate binary incompatibility. "
                     "Expected %zd from C header, got %zd from PyObject",
                     module_name, class_name, expected_size, basic_size + item_size);
        return nullptr;
    }
    if (basic_size > expected_size) {
        char warning[400];
        PyOS_snprintf(warning, sizeof warning,
                      "%.200s.%.200s size changed, may indicate binary incompatibility. "
                      "Expected %zd from C header, got %zd from PyObject",
                      module_name, class_name, expected_size, basic_size);
        if (PyErr_WarnEx(PyExc_RuntimeWarning, warning, 0) < 0) return nullptr;
    }
    return reinterpret_cast<PyTypeObject*>(found.release());
}

const void* fetch_native_table(PyTypeObject* type) {
    PyObject* capsule = PyDict_GetItemWithError(type->tp_dict, name_vtable);
    if (!capsule) {
        if (!PyErr_Occurred()) PyErr_SetObject(PyExc_KeyError, name_vtable);
        return nullptr;
    }
    void* table = PyCapsule_GetPointer(capsule, nullptr);
    if (!table && !PyErr_Occurred())
        PyErr_SetString(PyExc_RuntimeError, "invalid vtable found for imported type");
    return table;
}

// ---------------------------------------------------------------------------------------------
// Initialisation

namespace {

// Copies spec.<from> to module.<to>; a missing attribute is skipped, None only where allowed.
int copy_spec_attribute(PyObject* spec, PyObject* dict, const char* from, const char* to,
                        bool allow_none) {
    PyObject* value = nullptr;
    int found = PyObject_GetOptionalAttrString(spec, from, &value);
    if (found <= 0) return found;
    Ref owned(value);
    if (value == Py_None && !allow_none) return 0;
    return PyDict_SetItemString(dict, to, value);
}

// The interpreter claims the module when it starts creating it, and gives the claim back when
// creation or execution fails, so that an interpreter whose import failed (and which may be gone
// by now) never locks out another one.
bool claim_interpreter() {
    std::int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (current == -1) return false;
    if (first_interpreter == -1) {
        first_interpreter = current;
    } else if (first_interpreter != current) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one "
                        "interpreter per process.");
        return false;
    }
    return true;
}

void release_unexecuted_claim() {
    if (!state.module) first_interpreter = -1;
}

PyObject* create_module(PyObject* spec) {
    Ref name(PyObject_GetAttrString(spec, "name"));
    if (!name) return nullptr;
    Ref module(PyModule_NewObject(name.get()));
    if (!module) return nullptr;
    PyObject* dict = PyModule_GetDict(module.get());
    if (copy_spec_attribute(spec, dict, "loader", "__loader__", true) < 0 ||
        copy_spec_attribute(spec, dict, "origin", "__file__", true) < 0 ||
        copy_spec_attribute(spec, dict, "parent", "__package__", true) < 0 ||
        copy_spec_attribute(spec, dict, "submodule_search_locations", "__path__", false) < 0)
        return nullptr;
    return module.release();
}

PyObject* create(PyObject* spec, PyModuleDef*) {
    if (!claim_interpreter()) return nullptr;
    if (state.module) return Py_NewRef(state.module);
    PyObject* module = create_module(spec);
    if (!module) release_unexecuted_claim();
    return module;
}

// Runs when the interpreter's version differs from the one the module was compiled for.
int check_version() {
    int major = static_cast<int>((Py_Version >> 24) & 0xff);
    int minor = static_cast<int>((Py_Version >> 16) & 0xff);
    if (major == PY_MAJOR_VERSION && minor == PY_MINOR_VERSION) return 0;
    char message[200];
    PyOS_snprintf(message, sizeof message,
                  "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                  PY_MAJOR_VERSION, PY_MINOR_VERSION, module_def->full_name, "does not match",
                  major, minor);
    return PyErr_WarnEx(PyExc_RuntimeWarning, message, 1);
}

int create_constants() {
    if (!state.empty_tuple && !(state.empty_tuple = PyTuple_New(0))) return -1;
    if (!state.empty_bytes && !(state.empty_bytes = PyBytes_FromStringAndSize("", 0))) return -1;
    if (!state.empty_str && !(state.empty_str = PyUnicode_FromStringAndSize("", 0))) return -1;
    return Name::intern_all() ? 0 : -1;
}

int register_in_sys_modules() {
    PyObject* modules = PyImport_GetModuleDict();
    int present = PyDict_ContainsString(modules, module_def->full_name);
    if (present) return present < 0 ? -1 : 0;
    return PyDict_SetItemString(modules, module_def->full_name, state.module);
}

int publish_exports() {
    if (module_def->exports.empty()) return 0;
    PyObject* capi = nullptr;
    if (PyObject_GetOptionalAttr(state.module, name_capi, &capi) < 0) return -1;
    Ref owned(capi);
    if (!capi) {
        owned = Ref(PyDict_New());
        if (!owned || PyObject_SetAttr(state.module, name_capi, owned.get()) < 0) return -1;
    }
    for (const ExportDef& e : module_def->exports) {
        Ref capsule(PyCapsule_New(e.function, e.signature, nullptr));
        if (!capsule || PyDict_SetItemString(owned.get(), e.name, capsule.get()) < 0) return -1;
    }
    return 0;
}

int lookup_builtin(Name& name, PyObject*& out) {
    if (out) return 0;
    if (PyObject_GetOptionalAttr(state.builtins, name, &out) < 0) return -1;
    if (!out) {
        PyErr_Format(PyExc_NameError, "name '%U' is not defined", static_cast<PyObject*>(name));
        return -1;
    }
    return 0;
}

int ready_type(const TypeDef& t) {
    *t.binding = t.type;
    if (t.table_binding) *t.table_binding = t.table;
    if (PyType_Ready(t.type) < 0 || (t.prepare && t.prepare(t.type) < 0)) return -1;
    if (t.table) {
        Ref capsule(PyCapsule_New(const_cast<void*>(t.table), nullptr, nullptr));
        if (!capsule || PyDict_SetItem(t.type->tp_dict, name_vtable, capsule.get()) < 0) return -1;
        PyType_Modified(t.type);
    }
    const char* dot = std::strrchr(t.type->tp_name, '.');
    return PyModule_AddObjectRef(state.module, dot ? dot + 1 : t.type->tp_name,
                                 reinterpret_cast<PyObject*>(t.type));
}

// __reduce__ and __setstate__ of a type whose instances are not to be pickled: the message is
// that of the nearest type of this module in the instance's ancestry.
PyObject* refuse_pickling(PyObject* self, PyObject* const*, Py_ssize_t, PyObject*) {
    for (PyTypeObject* type = Py_TYPE(self); type; type = type->tp_base)
        for (const TypeDef& t : module_def->types)
            if (t.type == type && t.pickling_refusal) {
                PyErr_SetString(PyExc_TypeError, t.pickling_refusal);
                return nullptr;
            }
    PyErr_SetString(PyExc_TypeError, "cannot pickle this object");
    return nullptr;
}

PyMethodDef reduce_def = {"__reduce__", detail::as_cfunction(&refuse_pickling),
                          METH_FASTCALL | METH_KEYWORDS, nullptr};
PyMethodDef setstate_def = {"__setstate__", detail::as_cfunction(&refuse_pickling),
                            METH_FASTCALL | METH_KEYWORDS, nullptr};

// Installs the type's own refusing __reduce__ and __setstate__ unless the type pickles in a
// way of its own (its own __getstate__, __reduce_ex__ or __reduce__).
int install_pickling(const TypeDef& t) {
    if (!t.pickling_refusal) return 0;
    auto* object_type = reinterpret_cast<PyObject*>(&PyBaseObject_Type);
    auto* type = reinterpret_cast<PyObject*>(t.type);
    auto inherited = [&](Name& name) -> int {
        Ref mine(PyObject_GetAttr(type, name));
        Ref base(PyObject_GetAttr(object_type, name));
        if (!mine || !base) return -1;
        return mine.get() == base.get();
    };
    int own_getstate = PyDict_Contains(t.type->tp_dict, name_getstate);
    int plain_reduce_ex = inherited(name_reduce_ex);
    int plain_reduce = inherited(name_reduce);
    if (own_getstate < 0 || plain_reduce_ex < 0 || plain_reduce < 0) goto fail;
    if (!own_getstate && plain_reduce_ex && plain_reduce) {
        for (PyMethodDef* def : {&reduce_def, &setstate_def}) {
            Ref function(PyDescr_NewMethod(t.type, def));
            if (!function || PyDict_SetItemString(t.type->tp_dict, def->ml_name, function.get()) < 0)
                goto fail;
        }
        PyType_Modified(t.type);
    }
    return 0;
fail:
    if (!PyErr_Occurred() || PyErr_ExceptionMatches(PyExc_Exception)) {
        PyErr_Clear();
        PyErr_Format(PyExc_RuntimeError, "Unable to initialize pickling for %.200s",
                     t.type->tp_name);
    }
    return -1;
}

// A native sibling is a static type (no class statement makes one) under its module's name
// (the interpreter's own types go by their bare names).
int check_native(const SiblingDef& s, PyTypeObject* type) {
    if (s.kind != SiblingKind::native) return 0;
    char expected[400];
    PyOS_snprintf(expected, sizeof expected, "%s.%s", s.module, s.name);
    const char* own_name = std::strcmp(s.module, "builtins") == 0 ? s.name : expected;
    if (!(type->tp_flags & Py_TPFLAGS_HEAPTYPE) && std::strcmp(type->tp_name, own_name) == 0)
        return 0;
    PyErr_Format(PyExc_ImportError, "%.200s is not the native type %.200s defines, got %.200s",
                 expected, s.module, type->tp_name);
    return -1;
}

int bind_sibling(const SiblingDef& s) {
    Ref module(PyImport_ImportModule(s.module));
    if (!module) return -1;
    Ref type(reinterpret_cast<PyObject*>(import_type(module.get(), s.module, s.name, s.size)));
    if (!type) return -1;
    auto* bound = reinterpret_cast<PyTypeObject*>(type.get());
    const void* table = nullptr;
    if (s.table_binding && !(table = fetch_native_table(bound))) return -1;
    if (check_native(s, bound) < 0) return -1;
    *s.binding = reinterpret_cast<PyTypeObject*>(type.release());  // kept for the process
    if (s.table_binding) *s.table_binding = table;
    return 0;
}

int publish_static_methods(const TypeDef& t) {
    if (!t.static_methods) return 0;
    Ref module_name(PyUnicode_FromString(module_def->full_name));
    if (!module_name) return -1;
    for (PyMethodDef* def = t.static_methods; def->ml_name; ++def) {
        Ref function(PyCFunction_NewEx(def, reinterpret_cast<PyObject*>(t.type), module_name.get()));
        if (!function) return -1;
        Ref wrapped(PyObject_CallOneArg(state.staticmethod, function.get()));
        if (!wrapped || PyDict_SetItemString(t.type->tp_dict, def->ml_name, wrapped.get()) < 0)
            return -1;
    }
    PyType_Modified(t.type);
    return 0;
}

int execute_steps(PyObject* module) {
    state.module = Py_NewRef(module);
    state.dict = PyModule_GetDict(module);
    if (!state.builtins && !(state.builtins = PyImport_AddModuleRef("builtins"))) return -1;
    if (PyModule_AddObjectRef(module, "__builtins__", state.builtins) < 0) return -1;
    if (check_version() < 0) return -1;
    if (create_constants() < 0) return -1;
    if (register_in_sys_modules() < 0 || publish_exports() < 0) return -1;
    if (lookup_builtin(name_staticmethod, state.staticmethod) < 0 ||
        lookup_builtin(name_not_implemented, state.not_implemented) < 0)
        return -1;
    for (const TypeDef& t : module_def->types)
        if (ready_type(t) < 0) return -1;
    for (const TypeDef& t : module_def->types)
        if (install_pickling(t) < 0) return -1;
    for (const SiblingDef& s : module_def->siblings)
        if (bind_sibling(s) < 0) return -1;
    for (const TypeDef& t : module_def->types)
        if (publish_static_methods(t) < 0) return -1;
    if (module_def->finish && module_def->finish(module) < 0) return -1;
    Ref test(PyDict_New());
    if (!test || PyObject_SetAttr(module, name_test, test.get()) < 0) return -1;
    return 0;
}

int execute(PyObject* module) {
    if (state.module) {
        if (state.module == module) return 0;
        PyErr_Format(PyExc_RuntimeError,
                     "Module '%s' has already been imported. Re-initialisation is not supported.",
                     module_def->name);
        return -1;
    }
    if (execute_steps(module) == 0) return 0;
    // Leave nothing behind that would stop a later import attempt from starting afresh.
    char entry[256];
    PyOS_snprintf(entry, sizeof entry, "init %s", module_def->full_name);
    if (state.empty_str) traceback(entry);
    state.dict = nullptr;
    Py_CLEAR(state.module);
    // The builtins belong to the interpreter that failed; the next attempt looks them up afresh.
    Py_CLEAR(state.builtins);
    release_unexecuted_claim();
    return -1;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(&create)},
    {Py_mod_exec, reinterpret_cast<void*>(&execute)},
    // The modules rely on the interpreter lock: an interpreter built without it turns it on.
    {Py_mod_gil, Py_MOD_GIL_USED},
    {0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, nullptr, nullptr, 0, nullptr, slots, nullptr, nullptr, nullptr,
};

}  // namespace

PyObject* init(const ModuleDef& def) {
    module_def = &def;
    module_definition.m_name = def.name;
    return PyModuleDef_Init(&module_definition);
}

}  // namespace tavoro::frame
