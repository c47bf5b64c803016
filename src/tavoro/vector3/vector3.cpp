// tavoro.vector3.vector3: the three-component vector. Everything it shares with Vector2 comes from
// the vector templates; what is its own is the cross product and its swizzles.
#include "vector3.hpp"

#include "../shared/vector_geometry.hpp"

namespace tavoro {
namespace {

using V = Vector3;

// self × other, in 32 bits.
PyObject* cross(V* self, V* other) {
    auto [x, y, z] = vec::load(self);
    auto [u, v, w] = vec::load(other);
    return vec::make<V>({y * w - z * v, z * u - x * w, x * v - y * u});
}

constexpr auto from_xyz = vec::from_values<V, double, double, double>;

constexpr Vector3Table table = [] {
    Vector3Table t = vec::native_table<V>();
    t.__pyx_new = from_xyz;
    t.cfrom_ints = vec::from_values<V, int, int, int>;
    t.cfrom_floats = [](float x, float y, float z) { return vec::make<V>({x, y, z}); };
    t.cfrom_vector3 = vec::copy_of<V>;
    t.cfrom_xyz = from_xyz;
    t.cross = [](V* self, V* other, int) { return cross(self, other); };
    return t;
}();

// Every three-letter word over x, y and z, in declaration order (xzy comes before xzx).
constexpr std::array<const char*, 27> swizzles = {
    "xxx", "xxy", "xxz", "xyx", "xyy", "xyz", "xzy", "xzx", "xzz",
    "yxx", "yxy", "yxz", "yyx", "yyy", "yyz", "yzx", "yzy", "yzz",
    "zxx", "zxy", "zxz", "zyx", "zyy", "zyz", "zzx", "zzy", "zzz",
};

auto methods = vec::methods_with_geometry<V>(frame::method<"cross", cross, "other">("The cross product with the vector other."));
auto static_methods = vec::static_methods<V>();
auto properties = vec::properties<V>(swizzles);
PyTypeObject type = vec::type_object<V>("tavoro.vector3.vector3.Vector3", methods.data(),
                                        properties.data());

const frame::TypeDef types[] = {
    frame::type_def<V>(type, &table, static_methods.data(), vec::pickling_refusal),
};
const frame::SiblingDef siblings[] = {frame::builtin_type()};

const frame::ModuleDef module = {
    .name = "vector3",
    .full_name = "tavoro.vector3.vector3",
    .source = "src/tavoro/vector3/vector3.cpp",
    .types = types,
    .siblings = siblings,
    .finish = [](PyObject*) { return vec::remove_reflected_operators(&type); },
};

}  // namespace
}  // namespace tavoro

TAVORO_MODULE(vector3, tavoro::module)
