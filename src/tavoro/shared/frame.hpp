// The module frame: what every tavoro extension module is built on.
//
// A module declares its record types, native tables, Python members and siblings, and hands a
// ModuleDef to TAVORO_MODULE; the frame does the two-phase initialisation, publishes the native
// tables, binds sibling types, and offers the argument binding, conversions and error messages
// that all modules share.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>

namespace tavoro::frame {

// ---------------------------------------------------------------------------------------------
// Small building blocks

// A string usable as a template argument, so that declarations can name things inline.
template <std::size_t N>
struct Text {
    char chars[N];
    constexpr Text(const char (&text)[N]) {
        for (std::size_t i = 0; i < N; ++i) chars[i] = text[i];
    }
};

// An owned reference, released when it goes out of scope.
class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject* owned) : object_(owned) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        Py_XSETREF(object_, std::exchange(other.object_, nullptr));
        return *this;
    }
    ~Ref() { Py_XDECREF(object_); }

    PyObject* get() const { return object_; }
    PyObject* release() { return std::exchange(object_, nullptr); }
    explicit operator bool() const { return object_ != nullptr; }

private:
    PyObject* object_ = nullptr;
};

// An identifier the module looks things up by: created, interned and hashed once when the module
// executes. Declare them at namespace scope, so that they exist before the module does.
class Name {
public:
    explicit Name(const char* text) : text_(text), next_(head_) { head_ = this; }
    Name(const Name&) = delete;
    Name& operator=(const Name&) = delete;

    operator PyObject*() const { return object_; }
    const char* text() const { return text_; }

    static bool intern_all();

private:
    const char* text_;
    PyObject* object_ = nullptr;
    Name* next_;
    static inline Name* head_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Process-global module state: one module per process, never freed.

struct State {
    PyObject* module = nullptr;
    PyObject* dict = nullptr;
    PyObject* builtins = nullptr;
    PyObject* empty_tuple = nullptr;
    PyObject* empty_bytes = nullptr;
    PyObject* empty_str = nullptr;
    PyObject* staticmethod = nullptr;
    PyObject* not_implemented = nullptr;
    PyTypeObject* builtin_type = nullptr;
};
inline State state;

// ---------------------------------------------------------------------------------------------
// Errors. Each raise_* sets the exception with the package's shared message and returns false,
// so callers can write `return raise_...(...)` in conversions and checks.

// Adds a traceback entry for `owner.member` (the owner's full dotted name) in the module's source.
void traceback(PyTypeObject* owner, const char* member);
void traceback(const char* qualified_name);

bool raise_argcount(const char* function, Py_ssize_t expected, Py_ssize_t given);
bool raise_unexpected_keyword(const char* function, PyObject* keyword);
bool raise_duplicate_keyword(const char* function, PyObject* keyword);
bool raise_keywords_not_strings(const char* function);
// For callables that take no keywords at all: the message depends on the keyword's type.
bool raise_keyword_refused(const char* function, PyObject* keyword);
bool raise_incorrect_type(const char* argument, PyTypeObject* expected, PyObject* given);
bool raise_int_overflow();
bool raise_expected(const char* what, PyObject* given);  // "Expected a mapping, got int"
int raise_property_deletion();                           // NotImplementedError "__del__"
int raise_subscript_deletion(PyTypeObject* type);

// ---------------------------------------------------------------------------------------------
// Conversions, each true on success and false with the exception set.

// The interpreter's float conversion: exact floats and ints directly (an int's __float__ is this
// conversion, without the float object it would make), others through __float__/__index__.
// `out` is left as it was when the conversion fails.
inline bool to_double(PyObject* object, double& out) {
    if (PyFloat_CheckExact(object)) {
        out = PyFloat_AS_DOUBLE(object);
        return true;
    }
    double value = PyLong_CheckExact(object) ? PyLong_AsDouble(object) : PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return false;
    out = value;
    return true;
}

// The float conversion narrowed to 32 bits, round to nearest (out of range gives an infinity).
inline bool to_float(PyObject* object, float& out) {
    double value;
    if (!to_double(object, value)) return false;
    out = static_cast<float>(value);
    return true;
}

// A signed 32-bit int: ints directly, other objects through __int__ (so floats truncate).
bool to_int(PyObject* object, int& out);

// The index protocol (__index__); integers beyond the machine range raise OverflowError.
inline bool to_index(PyObject* object, Py_ssize_t& out) {
    out = PyNumber_AsSsize_t(object, PyExc_OverflowError);
    return !(out == -1 && PyErr_Occurred());
}

// ---------------------------------------------------------------------------------------------
// Record types. Every extension record has, besides its instance fields, two bindings that the
// frame fills when the module executes: `type` (its type object) and `vtable` (its native table).

template <class R>
concept Record = requires {
    { R::type } -> std::convertible_to<PyTypeObject*>;
};

// A record may declare `static constexpr bool final = true` when its type cannot be subclassed:
// then an instance is one of exactly that type.
template <Record R>
inline bool is_instance(PyObject* object) {
    if constexpr (requires { requires R::final; })
        return Py_TYPE(object) == R::type;
    else
        return Py_TYPE(object) == R::type || PyType_IsSubtype(Py_TYPE(object), R::type);
}

template <Record R>
inline bool is_exact(PyObject* object) {
    return Py_TYPE(object) == R::type;
}

// Arguments that must be exactly of a builtin type (no subclass), such as a tuple or a list.
template <PyTypeObject* T>
struct Exactly { PyObject* object; };
using Tuple = Exactly<&PyTuple_Type>;
using List = Exactly<&PyList_Type>;

// How a parameter of C++ type T is taken from a Python argument.
template <class T>
struct Arg;

template <>
struct Arg<PyObject*> {
    static bool from(PyObject* object, const char*, PyObject*& out) {
        out = object;
        return true;
    }
};

template <>
struct Arg<double> {
    static bool from(PyObject* object, const char*, double& out) { return to_double(object, out); }
};

template <>
struct Arg<float> {
    static bool from(PyObject* object, const char*, float& out) { return to_float(object, out); }
};

template <>
struct Arg<int> {
    static bool from(PyObject* object, const char*, int& out) { return to_int(object, out); }
};

template <Record R>
struct Arg<R*> {
    static bool from(PyObject* object, const char* name, R*& out) {
        if (!is_instance<R>(object)) return raise_incorrect_type(name, R::type, object);
        out = reinterpret_cast<R*>(object);
        return true;
    }
};

template <PyTypeObject* T>
struct Arg<Exactly<T>> {
    static bool from(PyObject* object, const char* name, Exactly<T>& out) {
        if (!Py_IS_TYPE(object, T)) return raise_incorrect_type(name, T, object);
        out.object = object;
        return true;
    }
};

// An optional parameter: the argument when one is given, `Value` otherwise. Its name in the
// parameter list carries the default as the text signature shows it ("thickness=1.0"); optional
// parameters come after the required ones.
template <class T, auto Value>
struct Default {
    T value{Value};
};

template <class T, auto Value>
struct Arg<Default<T, Value>> {
    static bool from(PyObject* object, const char* name, Default<T, Value>& out) {
        if (!object) return true;
        return Arg<T>::from(object, name, out.value);
    }
};

template <class T>
inline constexpr bool is_default = false;
template <class T, auto Value>
inline constexpr bool is_default<Default<T, Value>> = true;

// How a C++ result becomes a Python object (null when the call failed).
inline PyObject* to_python(PyObject* result) { return result; }
inline PyObject* to_python(bool result) { return PyBool_FromLong(result); }
inline PyObject* to_python(double result) {
    if (result == -1.0 && PyErr_Occurred()) return nullptr;
    return PyFloat_FromDouble(result);
}

// Binds a vectorcall's positional and keyword arguments to the required parameters `names`.
bool bind(const char* function, std::span<const char* const> names, PyObject* const* args,
          Py_ssize_t nargs, PyObject* kwnames, PyObject** out);

// The same where only the first `required` parameters must be given: the others are left null.
// A name may carry its default after '=' ("thickness=1.0"); keywords match the part before it.
bool bind(const char* function, std::span<const char* const> names, Py_ssize_t required,
          PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out);

// Refuses every argument: for methods and constructors that take none.
inline bool bind_none(const char* function, Py_ssize_t nargs, PyObject* kwnames) {
    if (nargs != 0) return raise_argcount(function, 0, nargs);
    if (kwnames && PyTuple_GET_SIZE(kwnames) != 0)
        return raise_keyword_refused(function, PyTuple_GET_ITEM(kwnames, 0));
    return true;
}

namespace detail {

template <class F>
struct Signature;

template <class R, class... A>
struct Signature<R (*)(A...)> {
    using Result = R;
    using Args = std::tuple<std::remove_cvref_t<A>...>;
};

// The parameters of a signature after its first `Skip` (the receiver, for methods).
template <std::size_t Skip, class Args, class Seq = std::make_index_sequence<std::tuple_size_v<Args> - Skip>>
struct Drop;

template <std::size_t Skip, class Args, std::size_t... I>
struct Drop<Skip, Args, std::index_sequence<I...>> {
    using type = std::tuple<std::tuple_element_t<Skip + I, Args>...>;
};

template <class Args, std::size_t... I>
bool convert(PyObject* const* raw, const char* const* names, Args& out,
             std::index_sequence<I...>) {
    return (Arg<std::tuple_element_t<I, Args>>::from(raw[I], names[I], std::get<I>(out)) && ...);
}

// How many leading parameters of `Args` are required (not Default<>).
template <class Args, std::size_t... I>
constexpr std::size_t required_count(std::index_sequence<I...>) {
    std::size_t count = 0;
    bool optional_seen = false;
    ((is_default<std::tuple_element_t<I, Args>> ? void(optional_seen = true)
                                                 : void(count += optional_seen ? 1000 : 1)),
     ...);
    return count;
}

// Binds, converts and calls `Impl` with `lead` (the receiver, if any) before the arguments.
template <Text Name, auto Impl, Text... Params, class... Lead>
PyObject* call(PyTypeObject* owner, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
               Lead... lead) {
    constexpr std::size_t count = sizeof...(Params);
    using Converted = typename Drop<sizeof...(Lead), typename Signature<decltype(Impl)>::Args>::type;
    static_assert(std::tuple_size_v<Converted> == count,
                  "every parameter after the receiver needs a name");
    constexpr std::size_t required = required_count<Converted>(std::make_index_sequence<count>{});
    static_assert(required <= count, "optional parameters come after the required ones");
    static constexpr const char* names[count + 1] = {Params.chars..., nullptr};

    // Positional calls, the usual case, convert straight from the argument array.
    // (The array may be null when there are no arguments.)
    PyObject* bound[count + 1];
    PyObject* const* raw = args;
    bool bound_ok = true;
    if (nargs != static_cast<Py_ssize_t>(count) || (kwnames && PyTuple_GET_SIZE(kwnames))) {
        raw = bound;
        if constexpr (count == 0)
            bound_ok = bind_none(Name.chars, nargs, kwnames);
        else if constexpr (required == count)
            bound_ok = bind(Name.chars, {names, count}, args, nargs, kwnames, bound);
        else
            bound_ok = bind(Name.chars, {names, count}, required, args, nargs, kwnames, bound);
    }
    Converted converted;
    PyObject* result = nullptr;
    if (bound_ok && convert(raw, names, converted, std::make_index_sequence<count>{}))
        result = to_python(std::apply(
            [&](auto&... values) { return Impl(lead..., values...); }, converted));
    if (!result) traceback(owner, Name.chars);
    return result;
}

template <Text Name, auto Impl, Text... Params>
PyObject* method_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) {
    using Self = std::tuple_element_t<0, typename Signature<decltype(Impl)>::Args>;
    using Owner = std::remove_pointer_t<Self>;
    return call<Name, Impl, Params...>(Owner::type, args, nargs, kwnames,
                                       reinterpret_cast<Self>(self));
}

template <class Owner, Text Name, auto Impl, Text... Params>
PyObject* static_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call<Name, Impl, Params...>(Owner::type, args, nargs, kwnames);
}

template <Text Name, auto Impl, Text... Params>
PyObject* function_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call<Name, Impl, Params...>(nullptr, args, nargs, kwnames);
}

// The docstring of a method: its text signature ("dot($self, other)" and the "--" line, which
// inspect.signature reads), then `doc`. Made once when the module loads and kept for good.
const char* documented(const char* name, bool bound, std::span<const char* const> params,
                       const char* doc);

template <class F>
PyCFunction as_cfunction(F function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace detail

// A Python method `Name(Params...)` calling `Impl(Self* self, Args... )`: the arguments are
// bound by position or keyword, converted by their C++ types (Arg<T>), and the result by
// to_python. Failures get the shared messages and a traceback entry "<type>.<Name>".
template <Text Name, auto Impl, Text... Params>
PyMethodDef method(const char* doc = nullptr) {
    static constexpr const char* names[] = {Params.chars..., nullptr};
    return {Name.chars, detail::as_cfunction(&detail::method_entry<Name, Impl, Params...>),
            METH_FASTCALL | METH_KEYWORDS,
            detail::documented(Name.chars, true, {names, sizeof...(Params)}, doc)};
}

// The same, for a dunder method that stands beside the slot wrapper the interpreter would
// otherwise put under that name (the type's own method wins).
template <Text Name, auto Impl, Text... Params>
PyMethodDef slot_method(const char* doc = nullptr) {
    PyMethodDef def = method<Name, Impl, Params...>(doc);
    def.ml_flags |= METH_COEXIST;
    return def;
}

// A static method of `Owner`, published wrapped in staticmethod.
template <class Owner, Text Name, auto Impl, Text... Params>
PyMethodDef static_method(const char* doc = nullptr) {
    static constexpr const char* names[] = {Params.chars..., nullptr};
    return {Name.chars, detail::as_cfunction(&detail::static_entry<Owner, Name, Impl, Params...>),
            METH_FASTCALL | METH_KEYWORDS,
            detail::documented(Name.chars, false, {names, sizeof...(Params)}, doc)};
}

// A module-level function `Name(Params...)` calling `Impl(Args...)`, bound and converted as
// methods are; its traceback entry is "<module>.<Name>".
template <Text Name, auto Impl, Text... Params>
PyMethodDef function(const char* doc = nullptr) {
    static constexpr const char* names[] = {Params.chars..., nullptr};
    return {Name.chars, detail::as_cfunction(&detail::function_entry<Name, Impl, Params...>),
            METH_FASTCALL | METH_KEYWORDS,
            detail::documented(Name.chars, false, {names, sizeof...(Params)}, doc)};
}

// A read-write property whose setter refuses deletion with NotImplementedError "__del__".
// Get: PyObject* (Self*, void* closure); Set: bool (Self*, PyObject* value, void* closure).
template <Text Name, auto Get, auto Set>
PyGetSetDef property(void* closure = nullptr, const char* doc = nullptr) {
    using Self = std::tuple_element_t<0, typename detail::Signature<decltype(Get)>::Args>;
    using Owner = std::remove_pointer_t<Self>;
    auto get = [](PyObject* self, void* c) -> PyObject* {
        PyObject* result = Get(reinterpret_cast<Self>(self), c);
        if (!result) traceback(Owner::type, Name.chars);
        return result;
    };
    auto set = [](PyObject* self, PyObject* value, void* c) -> int {
        if (!value) {
            raise_property_deletion();
        } else if (Set(reinterpret_cast<Self>(self), value, c)) {
            return 0;
        }
        traceback(Owner::type, Name.chars);
        return -1;
    };
    return {Name.chars, +get, +set, doc, closure};
}

// A read-only property: assigning raises the interpreter's AttributeError.
template <Text Name, auto Get>
PyGetSetDef readonly(void* closure = nullptr, const char* doc = nullptr) {
    using Self = std::tuple_element_t<0, typename detail::Signature<decltype(Get)>::Args>;
    using Owner = std::remove_pointer_t<Self>;
    auto get = [](PyObject* self, void* c) -> PyObject* {
        PyObject* result = Get(reinterpret_cast<Self>(self), c);
        if (!result) traceback(Owner::type, Name.chars);
        return result;
    };
    return {Name.chars, +get, nullptr, doc, closure};
}

// Assignment to a type's own properties without the interpreter's generic lookup, installed as
// the type's tp_setattro: for an instance of exactly the type (whose static properties nothing
// can replace), an interned name of a property with a setter goes straight to that setter, so
// `v.x = 1.0` costs one hashed slot and a pointer comparison instead of a type-cache lookup and a
// descriptor call. Anything else, subclass instances included, takes the generic path. Reading is
// left to the generic path on purpose: a type that overrides lookup loses the interpreter's
// specialised method calls, which would make every method call several times slower.
//
// The slots are a perfect hash of the names' addresses, found when the type is made: the cost is
// the same for every property, whatever its place in the table and however a compiler treats a
// search loop. A name that no multiplier tried can place (none has been seen) is assigned
// generically, which is slower but the same.
template <Record R>
struct DirectAssignment {
    static constexpr int bits = 7;  // 128 slots: several times the most settable properties a type has
    struct Slot {
        PyObject* name;
        setter set;
        void* closure;
    };
    static inline Slot slots[1 << bits];
    static inline std::uint64_t multiplier = 0;

    static std::size_t slot_of(PyObject* name, std::uint64_t by) {
        return static_cast<std::size_t>((reinterpret_cast<std::uintptr_t>(name) * by) >> (64 - bits));
    }

    static int setattro(PyObject* self, PyObject* name, PyObject* value) {
        if (Py_IS_TYPE(self, R::type)) {
            const Slot& slot = slots[slot_of(name, multiplier)];
            if (slot.name == name) return slot.set(self, value, slot.closure);
        }
        return PyObject_GenericSetAttr(self, name, value);
    }

    // Called once the type is ready; does nothing for a type that assigns generically.
    static int prepare(PyTypeObject* type) {
        if (type->tp_setattro != setattro) return 0;
        constexpr std::size_t size = std::size(slots);
        Slot settable[size];
        std::size_t count = 0;
        for (const PyGetSetDef* p = type->tp_getset; p && p->name && count < size; ++p) {
            if (!p->set) continue;
            PyObject* name = PyUnicode_InternFromString(p->name);  // kept: interned names live on
            if (!name) return -1;
            settable[count++] = {name, p->set, p->closure};
        }
        // Odd multipliers from a fixed sequence: the one that places the most names wins, and the
        // first that places all ends the search (a few tries for a table of twenty names).
        std::size_t best_placed = 0;
        std::uint64_t best = 0x9E3779B97F4A7C15ull, candidate = best;
        for (int attempt = 0; attempt < 256 && best_placed < count; ++attempt) {
            bool taken[size] = {};
            std::size_t placed = 0;
            for (std::size_t k = 0; k < count; ++k) {
                bool& slot = taken[slot_of(settable[k].name, candidate)];
                placed += !slot;
                slot = true;
            }
            if (placed > best_placed) best_placed = placed, best = candidate;
            candidate = (candidate * 6364136223846793005ull + 1442695040888963407ull) | 1;
        }
        multiplier = best;
        for (Slot& slot : slots) slot = {};
        for (std::size_t k = 0; k < count; ++k) {
            Slot& slot = slots[slot_of(settable[k].name, multiplier)];
            if (!slot.name) slot = settable[k];
        }
        return 0;
    }
};

template <Record R>
inline constexpr setattrofunc assign_properties = &DirectAssignment<R>::setattro;

// The override of a method in a Python subclass, for native entries whose skip_dispatch flag is
// 0: returns a new reference to the bound override, or null when the type's own method `own`
// (a method made by method<>) stands, or on error (then `failed` is set).
PyObject* find_override(PyObject* self, PyObject* name, PyMethodDef& own, bool& failed);

// ---------------------------------------------------------------------------------------------
// Instances

// A new instance of `type` (R's type or a subclass) with all fields zero and its native table
// bound, or null with MemoryError set.
template <Record R>
R* allocate(PyTypeObject* type) {
    R* object = reinterpret_cast<R*>(type->tp_alloc(type, 0));
    if (object) object->table = R::vtable;
    return object;
}

// Up to Capacity released instances of record R kept for reuse; only records of exactly R's size
// (so no subclass with extra fields) go on the list.
template <Record R, int Capacity = 1000>
class FreeList {
public:
    // As allocate(), from the list when it holds one.
    R* take(PyTypeObject* type) {
        if (count_ > 0 && type->tp_basicsize == static_cast<Py_ssize_t>(sizeof(R))) {
            R* object = items_[--count_];
            std::memset(static_cast<void*>(object), 0, sizeof(R));
            PyObject_Init(reinterpret_cast<PyObject*>(object), type);
            object->table = R::vtable;
            return object;
        }
        return allocate<R>(type);
    }

    void give(R* object) {
        PyTypeObject* type = Py_TYPE(object);
        if (count_ < Capacity && type->tp_basicsize == static_cast<Py_ssize_t>(sizeof(R)))
            items_[count_++] = object;
        else
            type->tp_free(object);
    }

private:
    R* items_[Capacity];
    int count_ = 0;
};

// A static type object with its header set, for a module to fill in.
inline PyTypeObject static_type(const char* name, Py_ssize_t basic_size, unsigned long flags) {
    PyTypeObject type{};
    type.ob_base = PyVarObject{PyObject_HEAD_INIT(nullptr) 0};
    type.tp_name = name;
    type.tp_basicsize = basic_size;
    type.tp_flags = flags;
    return type;
}

// Calls `type` the ordinary way (tuple and dict): for subclasses that may override __new__ or
// __init__, which a type's vectorcall fast path must not bypass.
PyObject* call_type(PyObject* type, PyObject* const* args, std::size_t nargsf, PyObject* kwnames);

// ---------------------------------------------------------------------------------------------
// Module definition

// One type the module defines.
struct TypeDef {
    PyTypeObject* type;
    PyTypeObject** binding;        // the record's `type`
    const void* table;             // published under __pyx_vtable__; null: the type has none
    const void** table_binding;    // the record's `vtable`
    PyMethodDef* static_methods;   // null-terminated; each is published wrapped in staticmethod
    const char* pickling_refusal;  // raised by __reduce__ and __setstate__; null: default pickling
    int (*prepare)(PyTypeObject*); // run once the type is ready
};

template <Record R>
TypeDef type_def(PyTypeObject& type, const typename R::Table* table,
                 PyMethodDef* static_methods = nullptr,
                 const char* pickling_refusal = nullptr) {
    return {&type, &R::type, table, reinterpret_cast<const void**>(&R::vtable), static_methods,
            pickling_refusal, &DirectAssignment<R>::prepare};
}

// Whether a sibling must be the native type its module defines (a static type named
// "<module>.<name>"), or may be any type of the expected layout (a stand-in made by tests).
enum class SiblingKind { native, any_type };

// A type of another module (or of builtins) that this module uses.
struct SiblingDef {
    const char* module;
    const char* name;
    Py_ssize_t size;               // the instance record size this module was built against
    PyTypeObject** binding;
    const void** table_binding;    // null: bind the type only
    SiblingKind kind = SiblingKind::native;
};

// Native entries are called on the bound type's instances by position, so a class made in
// Python that merely carries a table (say another type's, copied into its dictionary) must
// not pass for the sibling.
template <Record R>
SiblingDef sibling(const char* module, const char* name,
                   SiblingKind kind = SiblingKind::native) {
    return {module, name, static_cast<Py_ssize_t>(sizeof(R)), &R::type,
            reinterpret_cast<const void**>(&R::vtable), kind};
}

// The interpreter's own `type`, checked against the heap-type record this module was built with.
inline SiblingDef builtin_type() {
    return {"builtins", "type", static_cast<Py_ssize_t>(sizeof(PyHeapTypeObject)),
            &state.builtin_type, nullptr, SiblingKind::native};
}

// A native routine published in the module's __pyx_capi__.
struct ExportDef {
    const char* name;
    const char* signature;
    void* function;
};

struct ModuleDef {
    const char* name;       // short name, "vector2"
    const char* full_name;  // "tavoro.vector2.vector2"
    const char* source;     // source path shown in tracebacks
    std::span<const TypeDef> types;
    std::span<const SiblingDef> siblings = {};
    std::span<const ExportDef> exports = {};
    int (*finish)(PyObject* module) = nullptr;  // module-specific last step of execution
};

// Fetch the native table that a type publishes under __pyx_vtable__.
const void* fetch_native_table(PyTypeObject* type);
PyTypeObject* import_type(PyObject* module, const char* module_name, const char* class_name,
                          Py_ssize_t expected_size);

PyObject* init(const ModuleDef& def);

}  // namespace tavoro::frame

// The module's initialisation. Its one exported symbol, PyInit_<name>, is the processor check
// (processor_check.cpp), which calls this once the processor has the instructions the module is
// compiled for.
#define TAVORO_MODULE(name, def) \
    extern "C" PyObject* tavoro_module_init() { return ::tavoro::frame::init(def); }
