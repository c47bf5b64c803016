// tavoro.vector2.vector2: the two-component vector. Everything it shares with Vector3 comes from
// the vector templates; what is its own is the `data` property, `cfrom_struct`, its swizzles and
// (from the geometry templates) its plane rotation, scalar cross product and polar form.
#include "vector2.hpp"

#include "../shared/vector_geometry.hpp"

namespace tavoro {
namespace {

using V = Vector2;

PyObject* get_data(V* self, void*) {
    return Py_BuildValue("{s:d,s:d}", "x", static_cast<double>(self->data.x), "y",
                         static_cast<double>(self->data.y));
}

// Reads keys x then y of any mapping; the vector changes only when both convert.
bool set_data(V* self, PyObject* value, void*) {
    if (!PyMapping_Check(value)) return frame::raise_expected("a mapping", value);
    float components[2];
    for (int i = 0; i < 2; ++i) {
        PyObject* key = vec::component_attributes[i];
        frame::Ref item(PyObject_GetItem(value, key));
        if (!item) {
            if (PyErr_ExceptionMatches(PyExc_KeyError))
                PyErr_Format(PyExc_ValueError, "No value specified for struct attribute %R", key);
            return false;
        }
        if (!frame::to_float(item.get(), components[i])) return false;
    }
    self->data = {components[0], components[1]};
    return true;
}

constexpr auto from_xy = vec::from_values<V, double, double>;

constexpr Vector2Table table = [] {
    Vector2Table t = vec::native_table<V>();
    t.__pyx_new = from_xy;
    t.cfrom_struct = [](rl::Vector2 raw) { return vec::make<V>({raw.x, raw.y}); };
    t.cfrom_ints = vec::from_values<V, int, int>;
    t.cfrom_floats = [](float x, float y) { return vec::make<V>({x, y}); };
    t.cfrom_vector2 = vec::copy_of<V>;
    t.cfrom_xy = from_xy;
    return t;
}();

constexpr std::array<const char*, 4> swizzles = {"xx", "yy", "xy", "yx"};

auto methods = vec::methods_with_geometry<V>();
auto static_methods = vec::static_methods<V>(vec::from_polar_method<V>());
auto properties = vec::properties<V>(swizzles, frame::property<"data", get_data, set_data>(
                                                        nullptr, "The components as a dict {'x': x, 'y': y}; takes any such mapping."));
PyTypeObject type = vec::type_object<V>("tavoro.vector2.vector2.Vector2", methods.data(),
                                        properties.data());

const frame::TypeDef types[] = {
    frame::type_def<V>(type, &table, static_methods.data(), vec::pickling_refusal),
};
const frame::SiblingDef siblings[] = {frame::builtin_type()};

const frame::ModuleDef module = {
    .name = "vector2",
    .full_name = "tavoro.vector2.vector2",
    .source = "src/tavoro/vector2/vector2.cpp",
    .types = types,
    .siblings = siblings,
    .finish = [](PyObject*) { return vec::remove_reflected_operators(&type); },
};

}  // namespace
}  // namespace tavoro

TAVORO_MODULE(vector2, tavoro::module)
