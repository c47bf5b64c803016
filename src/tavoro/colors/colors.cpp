// tavoro.colors.colors: the named colour palette. A Colors object holds one Color per palette row,
// made fresh for each object, and any entry may be replaced by another Color or cleared to None.
// The ready instance `colors` is made when the module executes.
//
// The palette table in colors.hpp drives everything here: the record's slots, one descriptor per
// row (its closure is the row's index), the colours that __init__ makes, and the look-up by name
// (colors["Tomato"], colors.get("tomato")), iteration over the names, len(), and the mapping's
// keys(), items() and values() views, so that a Colors is a Mapping from names to entries.
#include "colors.hpp"

#include "../shared/siblings.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

namespace tavoro {
namespace {

constexpr const char* get_count_message = "get() takes 1 or 2 positional arguments (%zd given)";
constexpr const char* mirror_message = "_mirror() takes a dict";

using P = Colors;

P* as_colors(PyObject* object) { return reinterpret_cast<P*>(object); }

std::size_t row_of(void* closure) {
    return static_cast<std::size_t>(reinterpret_cast<std::intptr_t>(closure));
}

// The positional arguments of each row's Color call, made once when the module executes.
PyObject* row_arguments[palette_size];

int make_row_arguments() {
    for (std::size_t i = 0; i < palette_size; ++i) {
        if (row_arguments[i]) continue;
        const Swatch& s = palette[i];
        row_arguments[i] = Py_BuildValue("(iiii)", s.r, s.g, s.b, s.a);
        if (!row_arguments[i]) return -1;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The mirror: a namespace, the package tavoro.colors, that holds the ready palette's entries
// under their names, so that the package reads as the palette with a plain dict look-up. Every
// store into the ready palette is copied there, whichever way it is made.

P* ready = nullptr;  // the module's `colors`, held for good: the mirror follows this object
PyObject* mirror = nullptr;
PyObject* names = nullptr;  // the names, in palette order, made once when the module executes

int reflect(P* self, std::size_t row) {
    if (self != ready || !mirror) return 0;
    return PyDict_SetItem(mirror, PyTuple_GET_ITEM(names, row), self->entries[row]);
}

// ---------------------------------------------------------------------------------------------
// Construction and destruction

PyObject* allocate(PyTypeObject* type) {
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    for (PyObject*& entry : as_colors(self)->entries) entry = Py_NewRef(Py_None);
    return self;
}

PyObject* tp_new(PyTypeObject* type, PyObject*, PyObject*) { return allocate(type); }

// Every entry gets a fresh Color, in row order; a failing row leaves the later ones as they were.
bool fill(P* self) {
    auto* color_type = reinterpret_cast<PyObject*>(Color::type);
    for (std::size_t i = 0; i < palette_size; ++i) {
        PyObject* color = PyObject_Call(color_type, row_arguments[i], nullptr);
        if (!color) return false;
        Py_SETREF(self->entries[i], color);
        if (reflect(self, i) < 0) return false;
    }
    return true;
}

// __init__ takes no arguments at all.
int tp_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    if (kwargs && PyDict_GET_SIZE(kwargs)) {
        PyObject *keyword, *value;
        Py_ssize_t position = 0;
        PyDict_Next(kwargs, &position, &keyword, &value);
        frame::raise_keyword_refused("__init__", keyword);
    } else if (frame::bind_none("__init__", PyTuple_GET_SIZE(args), nullptr) &&
               fill(as_colors(self))) {
        return 0;
    }
    frame::traceback(P::type, "__init__");
    return -1;
}

// Colors() straight from the argument vector; a subclass may have its own __new__ or __init__,
// so it goes the ordinary way.
PyObject* vectorcall(PyObject* callable, PyObject* const* args, std::size_t nargsf,
                     PyObject* kwnames) {
    auto* type = reinterpret_cast<PyTypeObject*>(callable);
    if (type == P::type) {
        frame::Ref self(allocate(type));
        if (!self) return nullptr;
        if (!frame::bind_none("__init__", PyVectorcall_NARGS(nargsf), kwnames) ||
            !fill(as_colors(self.get()))) {
            frame::traceback(P::type, "__init__");
            return nullptr;
        }
        return self.release();
    }
    if (!type->tp_new) {
        PyErr_Format(PyExc_TypeError, "cannot create %.200s instances", type->tp_name);
        return nullptr;
    }
    return frame::call_type(callable, args, nargsf, kwnames);
}

int traverse(PyObject* self, visitproc visit, void* arg) {
    for (PyObject* entry : as_colors(self)->entries) Py_VISIT(entry);
    return 0;
}

int clear(PyObject* self) {
    for (PyObject*& entry : as_colors(self)->entries) Py_SETREF(entry, Py_NewRef(Py_None));
    return 0;
}

void dealloc(PyObject* self);

// A subclass defined in C with a finaliser but no deallocator of its own reaches here with the
// finaliser not yet run; Python subclasses have run theirs already.
bool finalize_first(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    return type->tp_finalize && type->tp_dealloc == dealloc && !PyObject_GC_IsFinalized(self) &&
           PyObject_CallFinalizerFromDealloc(self) < 0;
}

void dealloc(PyObject* self) {
    if (finalize_first(self)) return;  // resurrected
    PyObject_GC_UnTrack(self);
    for (PyObject*& entry : as_colors(self)->entries) Py_CLEAR(entry);
    Py_TYPE(self)->tp_free(self);
}

// ---------------------------------------------------------------------------------------------
// One descriptor per palette row

PyObject* get_entry(PyObject* self, void* row) {
    return Py_NewRef(as_colors(self)->entries[row_of(row)]);
}

// None or a Color (of any subclass), stored as given; deleting stores None.
int set_entry(PyObject* self, PyObject* value, void* row) {
    if (value && value != Py_None && !frame::is_instance<Color>(value)) {
        PyErr_Format(PyExc_TypeError, "%.1sCannot convert %.200s to %.200s", "",
                     Py_TYPE(value)->tp_name, Color::type->tp_name);
        frame::traceback(P::type, palette[row_of(row)].name);
        return -1;
    }
    Py_SETREF(as_colors(self)->entries[row_of(row)], Py_NewRef(value ? value : Py_None));
    return reflect(as_colors(self), row_of(row));
}

// ---------------------------------------------------------------------------------------------
// Look-up by name

// ASCII letters compared without case, every other character as it is: the palette's names are
// ASCII and differ in more than case, which the module checks when it executes.
int compare_folded(std::string_view a, std::string_view b) {
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
        if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// The rows ordered by their names without case, for a binary search.
std::array<std::uint8_t, palette_size> rows_by_name = [] {
    std::array<std::uint8_t, palette_size> rows{};
    for (std::size_t i = 0; i < palette_size; ++i) rows[i] = static_cast<std::uint8_t>(i);
    std::sort(rows.begin(), rows.end(), [](std::uint8_t a, std::uint8_t b) {
        return compare_folded(palette[a].name, palette[b].name) < 0;
    });
    return rows;
}();

bool names_differ_without_case() {
    for (std::size_t i = 1; i < palette_size; ++i)
        if (compare_folded(palette[rows_by_name[i - 1]].name, palette[rows_by_name[i]].name) == 0)
            return false;
    return true;
}

// The row named by `key`, exactly or ignoring case; -1 for anything that names no row (also a
// key that is not a str). Never fails.
int find_row(PyObject* key, bool ignore_case) {
    if (!PyUnicode_Check(key)) return -1;
    Py_ssize_t length;
    const char* text = PyUnicode_AsUTF8AndSize(key, &length);
    if (!text) {  // a lone surrogate: no name has one
        PyErr_Clear();
        return -1;
    }
    std::string_view wanted(text, static_cast<std::size_t>(length));
    auto found = std::lower_bound(rows_by_name.begin(), rows_by_name.end(), wanted,
                                  [](std::uint8_t row, std::string_view name) {
                                      return compare_folded(palette[row].name, name) < 0;
                                  });
    if (found == rows_by_name.end() || compare_folded(palette[*found].name, wanted) != 0) return -1;
    if (!ignore_case && wanted != palette[*found].name) return -1;
    return *found;
}

// colors["Name"]: the entry under exactly that name; KeyError for any other key.
PyObject* subscript(PyObject* self, PyObject* key) {
    int row = find_row(key, false);
    if (row >= 0) return Py_NewRef(as_colors(self)->entries[row]);
    // The key as the exception's one argument, as dict does (a tuple or None key stays whole).
    frame::Ref error(PyObject_CallOneArg(PyExc_KeyError, key));
    if (error) PyErr_SetObject(PyExc_KeyError, error.get());
    frame::traceback(P::type, "__getitem__");
    return nullptr;
}

Py_ssize_t length(PyObject*) { return palette_size; }

// `name in colors`, by exact name as [] takes it.
int contains(PyObject*, PyObject* key) { return find_row(key, false) >= 0; }

PyObject* iterate(PyObject*) { return PyObject_GetIter(names); }

// get(name, default=None): the entry whose name matches ignoring case, else default.
PyObject* get(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (kwnames && PyTuple_GET_SIZE(kwnames)) {
        frame::raise_keyword_refused("get", PyTuple_GET_ITEM(kwnames, 0));
    } else if (nargs < 1 || nargs > 2) {
        PyErr_Format(PyExc_TypeError, get_count_message, nargs);
    } else {
        int row = find_row(args[0], true);
        if (row >= 0) return Py_NewRef(as_colors(self)->entries[row]);
        return Py_NewRef(nargs == 2 ? args[1] : Py_None);
    }
    frame::traceback(P::type, "get");
    return nullptr;
}

// The views of collections.abc, which read through iteration and [] and so follow the entries.
PyObject* keys_view = nullptr;
PyObject* items_view = nullptr;
PyObject* values_view = nullptr;

template <PyObject** View>
PyObject* view(PyObject* self, PyObject*) { return PyObject_CallOneArg(*View, self); }

PyMethodDef methods[] = {
    {"get", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(get)),
     METH_FASTCALL | METH_KEYWORDS,
     "get($self, name, default=None, /)\n--\n\nThe entry whose name matches name ignoring the "
     "case of ASCII letters (colors.get(\"tomato\") is colors.Tomato), or default when no name "
     "does. Other characters match only themselves: no Unicode case folding is done, and the "
     "names are ASCII."},
    {"keys", view<&keys_view>, METH_NOARGS,
     "keys($self, /)\n--\n\nA view of the 152 names, in palette order."},
    {"items", view<&items_view>, METH_NOARGS,
     "items($self, /)\n--\n\nA view of the (name, entry) pairs, in palette order."},
    {"values", view<&values_view>, METH_NOARGS,
     "values($self, /)\n--\n\nA view of the entries, in palette order."},
    {},
};

PySequenceMethods sequence_methods = [] {
    PySequenceMethods m{};
    m.sq_contains = contains;
    return m;
}();

PyMappingMethods mapping_methods = [] {
    PyMappingMethods m{};
    m.mp_length = length;
    m.mp_subscript = subscript;
    return m;
}();

// ---------------------------------------------------------------------------------------------
// The type

std::array<PyGetSetDef, palette_size + 1> properties = [] {
    std::array<PyGetSetDef, palette_size + 1> defs{};
    for (std::size_t i = 0; i < palette_size; ++i)
        defs[i] = {palette[i].name, get_entry, set_entry, nullptr,
                   reinterpret_cast<void*>(static_cast<std::intptr_t>(i))};
    return defs;
}();

PyTypeObject type = [] {
    PyTypeObject t = frame::static_type("tavoro.colors.colors.Colors", sizeof(P),
                                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE |
                                            Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE);
    t.tp_dealloc = dealloc;
    t.tp_doc = "The 152 named colors, each a Color; an entry may be replaced by a Color or cleared with None.\nA Mapping from names to entries: palette[\"Tomato\"] and `in` take the exact name, palette.get(\"tomato\") ignores the case of ASCII letters; iteration and keys(), items() and values() go in palette order, and len() is 152.";
    t.tp_traverse = traverse;
    t.tp_clear = clear;
    t.tp_as_mapping = &mapping_methods;
    t.tp_as_sequence = &sequence_methods;
    t.tp_iter = iterate;
    t.tp_methods = methods;
    t.tp_getset = properties.data();
    t.tp_init = tp_init;
    t.tp_new = tp_new;
    t.tp_vectorcall = vectorcall;
    return t;
}();

// Colors registered as a collections.abc.Mapping, and that module's views bound for keys(),
// items() and values().
int become_mapping() {
    if (values_view) return 0;
    frame::Ref abc(PyImport_ImportModule("collections.abc"));
    if (!abc) return -1;
    frame::Ref mapping(PyObject_GetAttrString(abc.get(), "Mapping"));
    if (!mapping) return -1;
    frame::Ref registered(PyObject_CallMethod(mapping.get(), "register", "O", &type));
    if (!registered) return -1;
    for (auto [view, name] : {std::pair{&keys_view, "KeysView"}, std::pair{&items_view, "ItemsView"},
                              std::pair{&values_view, "ValuesView"}})
        if (!*view && !(*view = PyObject_GetAttrString(abc.get(), name))) return -1;
    return 0;
}

// _mirror(namespace): from now on `namespace` holds the ready palette's entries by name.
PyObject* mirror_into(PyObject*, PyObject* target) {
    if (!PyDict_Check(target)) {
        PyErr_SetString(PyExc_TypeError, mirror_message);
        return nullptr;
    }
    Py_XSETREF(mirror, Py_NewRef(target));
    for (std::size_t i = 0; i < palette_size; ++i)
        if (reflect(ready, i) < 0) return nullptr;
    Py_RETURN_NONE;
}

PyMethodDef functions[] = {
    {"_mirror", mirror_into, METH_O,
     "_mirror($module, namespace, /)\n--\n\nKeeps the dict namespace holding the entries of "
     "`colors` under their names from now on, as the package tavoro.colors reads them."},
    {},
};

// The ready instance, made last, once Color is bound.
int make_ready_instance(PyObject* module) {
    if (become_mapping() < 0) return -1;
    if (!names_differ_without_case()) {
        PyErr_SetString(PyExc_RuntimeError, "two palette names differ only in case");
        return -1;
    }
    if (!names) {
        frame::Ref made(PyTuple_New(palette_size));
        if (!made) return -1;
        for (std::size_t i = 0; i < palette_size; ++i) {
            PyObject* name = PyUnicode_InternFromString(palette[i].name);
            if (!name) return -1;
            PyTuple_SET_ITEM(made.get(), i, name);
        }
        names = made.release();
    }
    if (make_row_arguments() < 0) return -1;
    frame::Ref colors(PyObject_CallNoArgs(reinterpret_cast<PyObject*>(&type)));
    if (!colors || PyModule_AddObjectRef(module, "colors", colors.get()) < 0) return -1;
    if (!ready) ready = as_colors(colors.release());
    return PyModule_AddFunctions(module, functions);
}

// Colors has no native table: nothing outside this module calls into it.
const frame::TypeDef types[] = {
    {.type = &type, .binding = &P::type, .table = nullptr, .table_binding = nullptr,
     .static_methods = nullptr, .pickling_refusal = nullptr, .prepare = nullptr},
};
const frame::SiblingDef siblings[] = {
    frame::sibling<Vector4>("tavoro.vector4.vector4", "Vector4"),
    frame::sibling<Color>("tavoro.color.color", "Color"),
};

const frame::ModuleDef module = {
    .name = "colors",
    .full_name = "tavoro.colors.colors",
    .source = "src/tavoro/colors/colors.cpp",
    .types = types,
    .siblings = siblings,
    .finish = make_ready_instance,
};

}  // namespace
}  // namespace tavoro

TAVORO_MODULE(colors, tavoro::module)
