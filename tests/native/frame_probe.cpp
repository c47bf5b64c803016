// A test-only module on the package's frame: it binds a sibling type from the module
// `probe_sibling`, which the tests provide in the shapes they want to check.
#include "tavoro/shared/frame.hpp"

namespace probe {

struct SiblingTable {
    PyObject* (*__pyx_new)();
};

// What this module expects of probe_sibling.Sibling: header, table pointer, one 8-byte field.
struct Sibling {
    PyObject_HEAD
    const SiblingTable* table;
    double value;

    using Table = SiblingTable;
    static inline PyTypeObject* type = nullptr;
    static inline const SiblingTable* vtable = nullptr;
};

struct ProbeTable {
    PyObject* (*__pyx_new)();
};

struct Probe {
    PyObject_HEAD
    const ProbeTable* table;

    using Table = ProbeTable;
    static inline PyTypeObject* type = nullptr;
    static inline const ProbeTable* vtable = nullptr;
};

PyObject* make() { return PyType_GenericNew(Probe::type, nullptr, nullptr); }

// The address of the sibling's table, as fetched when the module executed.
PyObject* sibling_table(Probe*) { return PyLong_FromVoidPtr(const_cast<SiblingTable*>(Sibling::vtable)); }

PyObject* describe(double number, int integer, PyObject* anything) {
    return Py_BuildValue("(diO)", number, integer, anything);
}

constexpr ProbeTable table = {make};

namespace frame = tavoro::frame;

PyMethodDef methods[] = {
    frame::method<"sibling_table", sibling_table>(),
    {},
};
PyMethodDef static_methods[] = {
    frame::static_method<Probe, "describe", describe, "number", "integer", "anything">(),
    {},
};
PyTypeObject type = [] {
    PyTypeObject t = frame::static_type("frame_probe.Probe", sizeof(Probe), Py_TPFLAGS_DEFAULT);
    t.tp_new = PyType_GenericNew;
    t.tp_methods = methods;
    return t;
}();

const frame::TypeDef types[] = {
    frame::type_def<Probe>(type, &table, static_methods, "Probe objects are not picklable"),
};
// The tests stand classes made in Python in for the sibling.
const frame::SiblingDef siblings[] = {
    frame::sibling<Sibling>("probe_sibling", "Sibling", frame::SiblingKind::any_type)};

const frame::ModuleDef module = {
    .name = "frame_probe",
    .full_name = "frame_probe",
    .source = "tests/native/frame_probe.cpp",
    .types = types,
    .siblings = siblings,
};

}  // namespace probe

TAVORO_MODULE(frame_probe, probe::module)
