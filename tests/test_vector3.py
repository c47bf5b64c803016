"""Vector3: construction, component access, protocols, cross product, swizzles, and the native
method tables of both vector sizes."""

import copy
import ctypes
import itertools
import math
import pickle
import struct

import pytest

import tavoro.vector3.vector3 as module
from tavoro.vector2.vector2 import Vector2
from tavoro.vector3.vector3 import Vector3

NAME = "tavoro.vector3.vector3.Vector3"
both = pytest.mark.parametrize("V", [Vector2, Vector3], ids=["Vector2", "Vector3"])


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def raises(error, message, call, *args, **kwargs):
    with pytest.raises(error) as raised:
        call(*args, **kwargs)
    assert str(raised.value) == message


# ---------------------------------------------------------------------------------------------
# Construction


class Foreign:
    """A vector of another library, recognised by its clamp_magnitude_ip attribute."""

    def __init__(self, x, y, z, clamp=True):
        self.x, self.y, self.z = x, y, z
        if clamp:
            self.clamp_magnitude_ip = None


class Floaty:
    def __float__(self):
        return 2.5


@pytest.mark.parametrize(
    "args, expected",
    [
        ((), (0.0, 0.0, 0.0)),
        ((1, 2, 3), (1.0, 2.0, 3.0)),
        ((0.1, True, Floaty()), (f32(0.1), 1.0, 2.5)),
        ((1e39, -1e39, 0), (math.inf, -math.inf, 0.0)),
        (([1, 2, 3],), (1.0, 2.0, 3.0)),
        (((1, 2, 3),), (1.0, 2.0, 3.0)),
        ((type("L", (list,), {})([4, 5, 6]),), (4.0, 5.0, 6.0)),
        ((Vector3(1, 2, 3),), (1.0, 2.0, 3.0)),
        ((Foreign(7, 8, 9),), (7.0, 8.0, 9.0)),
    ],
)
def test_construction(args, expected):
    v = Vector3(*args)
    assert (v.x, v.y, v.z) == expected
    assert v.get_tuple() == expected


@pytest.mark.parametrize(
    "args, message",
    [
        ((1, 2), "Vector3() takes 0, 1, or 3 arguments, but 2 were given"),
        ((1, 2, 3, 4), "Vector3() takes 0, 1, or 3 arguments, but 4 were given"),
        (([1, 2],), "Vector3() takes a sequence of length 3, but got 2"),
        (((1, 2, 3, 4),), "Vector3() takes a sequence of length 3, but got 4"),
        (("ab",), "Vector3() invalid constructor argument: str"),
        ((5,), "Vector3() invalid constructor argument: int"),
        ((Vector2(1, 2),), "Vector3() invalid constructor argument: Vector2"),
        ((Foreign(1, 2, 3, clamp=False),), "Vector3() invalid constructor argument: Foreign"),
    ],
)
def test_construction_refusals(args, message):
    raises(TypeError, message, Vector3, *args)


def test_keywords_are_refused():
    raises(TypeError, "__init__() got an unexpected keyword argument 'x'", Vector3, x=1, y=2, z=3)
    raises(TypeError, "__init__() got an unexpected keyword argument 'x'", Vector3(1, 2, 3).__init__, x=1)


def test_reinitialising_stores_each_component_as_it_converts():
    v = Vector3(1, 2, 3)
    with pytest.raises(TypeError):
        v.__init__(9, "a", 9)
    assert v.get_tuple() == (9.0, 2.0, 3.0)
    v.__init__()
    assert v.get_tuple() == (9.0, 2.0, 3.0)
    v.__init__([4, 5, 6])
    assert v.get_tuple() == (4.0, 5.0, 6.0)


@pytest.mark.parametrize(
    "make, expected",
    [
        (lambda: Vector3.from_vector3(Vector3(1, 2, 3)), (1.0, 2.0, 3.0)),
        (lambda: Vector3.from_tuple((1, 2, 3, 4)), (1.0, 2.0, 3.0)),
        (lambda: Vector3.from_list(other=[1, 2, 3]), (1.0, 2.0, 3.0)),
        (lambda: Vector3.from_ints(1.5, 0, -2.7), (1.0, 0.0, -2.0)),
        (lambda: Vector3.from_ints(z=3, y=2, x=-2**31), (-2147483648.0, 2.0, 3.0)),
        (lambda: Vector3.from_floats(0.1, 2, 3), (f32(0.1), 2.0, 3.0)),
        (lambda: Vector3.from_xyz(x=0.1, y=2, z=1e39), (f32(0.1), 2.0, math.inf)),
        (lambda: Vector3(0, 0, 0).from_xyz(1, 2, 3), (1.0, 2.0, 3.0)),
    ],
)
def test_static_constructors(make, expected):
    v = make()
    assert type(v) is Vector3 and v.get_tuple() == expected


class IntReturnsFloat:
    def __int__(self):
        return 1.5


@pytest.mark.parametrize(
    "call, args, error, message",
    [
        ("from_tuple", ([1, 2, 3],), TypeError, "Argument 'other' has incorrect type (expected tuple, got list)"),
        ("from_list", ((1, 2, 3),), TypeError, "Argument 'other' has incorrect type (expected list, got tuple)"),
        ("from_list", (None,), TypeError, "Argument 'other' has incorrect type (expected list, got NoneType)"),
        ("from_tuple", (type("T", (tuple,), {})((1, 2, 3)),), TypeError,
         "Argument 'other' has incorrect type (expected tuple, got T)"),
        ("from_tuple", ((1, 2),), TypeError, "Vector3() takes a sequence of length 3, but got 2"),
        ("from_list", ([],), TypeError, "Vector3() takes a sequence of length 3, but got 0"),
        ("from_vector3", (None,), TypeError, f"Argument 'other' has incorrect type (expected {NAME}, got NoneType)"),
        ("from_vector3", ((1, 2, 3),), TypeError, f"Argument 'other' has incorrect type (expected {NAME}, got tuple)"),
        ("from_ints", ("1", 2, 3), TypeError, "an integer is required"),
        ("from_ints", (1, IntReturnsFloat(), 3), TypeError, "__int__ returned non-int (type float)"),
        ("from_ints", (1, 2, 2**31), OverflowError, "value too large to convert to int"),
        ("from_floats", (1, 2), TypeError, "from_floats() takes exactly 3 positional arguments (2 given)"),
        ("from_xyz", (1, 2, 3, 4), TypeError, "from_xyz() takes exactly 3 positional arguments (4 given)"),
    ],
)
def test_static_constructor_refusals(call, args, error, message):
    raises(error, message, getattr(Vector3, call), *args)


def test_static_constructor_unknown_keyword():
    raises(TypeError, "from_xyz() got an unexpected keyword argument 'w'", Vector3.from_xyz, 1, 2, w=3)


# ---------------------------------------------------------------------------------------------
# Components and protocols


def test_components():
    v = Vector3()
    v.x, v.y, v.z = 0.1, 2, Floaty()
    assert (v.x, v.y, v.z) == (0.10000000149011612, 2.0, 2.5)
    with pytest.raises(TypeError):
        v.y = "a"
    assert v.y == 2.0
    for name in "xyz":
        raises(NotImplementedError, "__del__", delattr, v, name)
    assert not hasattr(v, "data")


@both
def test_component_errors_name_the_component_in_the_traceback(V):
    with pytest.raises(TypeError) as raised:
        V().y = "a"
    entry = raised.value.__traceback__
    while entry.tb_next:
        entry = entry.tb_next
    assert entry.tb_frame.f_code.co_name == f"{V.__module__}.{V.__name__}.y"


def test_sequence_protocol():
    v = Vector3(1, 2, 3)
    assert len(v) == 3 and (v[0], v[1], v[2]) == (1.0, 2.0, 3.0)
    assert list(v) == [1.0, 2.0, 3.0]
    a, b, c = v
    assert (a, b, c) == (1.0, 2.0, 3.0)
    assert "__iter__" not in vars(Vector3)
    for index in (3, -1, -3):
        raises(IndexError, "Vector index out of range", v.__getitem__, index)
    with pytest.raises(TypeError):
        v[1.0]
    with pytest.raises(OverflowError):
        v[2**70]
    v[2] = 0.1
    assert v.z == f32(0.1)
    raises(IndexError, "Vector index out of range", v.__setitem__, 3, 1.0)
    with pytest.raises(TypeError):
        v[5] = "a"  # the value is converted before the index is checked
    raises(NotImplementedError, f"Subscript deletion not supported by {NAME}", v.__delitem__, 0)
    assert v.get_tuple() == (1.0, 2.0, f32(0.1))


def test_repr_and_hash():
    assert repr(Vector3(1, 2.5, -3)) == str(Vector3(1, 2.5, -3)) == "Vector3(1.0, 2.5, -3.0)"
    assert repr(Vector3(0.1, 0, 0)) == "Vector3(0.10000000149011612, 0.0, 0.0)"
    assert repr(Vector3(0, 0, 0) / 0) == "Vector3(nan, nan, nan)"
    v = Vector3(1, 2, 3)
    assert hash(v) == hash((1.0, 2.0, 3.0))
    v.z = 0.1
    assert hash(v) == hash((1.0, 2.0, f32(0.1)))


@both
def test_copies(V):
    v = V(*range(1, V().__len__() + 1))
    for duplicate in (v.copy(), v.__copy__(), v.__deepcopy__({}), v.__deepcopy__(memo=None),
                      copy.copy(v), copy.deepcopy(v)):
        assert type(duplicate) is V and duplicate is not v and duplicate == v
    raises(TypeError, "__deepcopy__() takes exactly 1 positional argument (0 given)", v.__deepcopy__)


@both
def test_pickling_is_refused(V):
    message = ("Pickling of struct members such as self.data must be explicitly requested with "
               "@auto_pickle(True)")
    v = V()
    raises(TypeError, message, pickle.dumps, v)
    raises(TypeError, message, v.__reduce__)
    raises(TypeError, message, v.__setstate__, {})


@both
def test_type_is_final(V):
    with pytest.raises(TypeError):
        type("Sub", (V,), {})


def test_module():
    assert Vector3.__module__ == "tavoro.vector3.vector3" and Vector3.__qualname__ == "Vector3"
    assert [n for n in vars(module) if not n.startswith("_")] == ["Vector3"]


# ---------------------------------------------------------------------------------------------
# Cross product and swizzles


@pytest.mark.parametrize(
    "a, b, expected",
    [
        ((1, 0, 0), (0, 1, 0), (0.0, 0.0, 1.0)),
        ((0, 1, 0), (1, 0, 0), (0.0, 0.0, -1.0)),
        ((1, 2, 3), (4, 5, 6), (-3.0, 6.0, -3.0)),
        ((2, 3, 4), (2, 3, 4), (0.0, 0.0, 0.0)),
    ],
)
def test_cross(a, b, expected):
    u, w = Vector3(*a), Vector3(*b)
    result = u.cross(w)
    assert type(result) is Vector3 and result.get_tuple() == expected
    assert u.get_tuple() == tuple(map(float, a)) and u.cross(other=w) == result


@pytest.mark.parametrize(
    "other, got", [(None, "NoneType"), ((1, 2, 3), "tuple"), (Vector2(1, 2), "tavoro.vector2.vector2.Vector2")]
)
def test_cross_refuses_non_vectors(other, got):
    raises(TypeError, f"Argument 'other' has incorrect type (expected {NAME}, got {got})", Vector3().cross, other)


def test_swizzles_follow_the_declared_order():
    expected = ["".join(word) for word in itertools.product("xyz", repeat=3)]
    expected[6:8] = ["xzy", "xzx"]  # declared in this order
    assert [n for n in vars(Vector3) if len(n) == 3 and set(n) <= set("xyz")] == expected
    v = Vector3(1, 2, 3)
    for name in expected:
        result = getattr(v, name)
        assert type(result) is Vector3 and result is not v
        assert result.get_tuple() == tuple(getattr(v, letter) for letter in name)
        with pytest.raises(AttributeError):
            setattr(v, name, Vector3())
    assert v.zyx.get_tuple() == (3.0, 2.0, 1.0) and v.xxz.get_tuple() == (1.0, 1.0, 3.0)


# ---------------------------------------------------------------------------------------------
# Native method tables, called through ctypes as another module would call them

SHARED_SLOTS = [
    "_add", "_sub", "_iadd", "_isub", "_imul", "_sadd", "sadd", "get_tuple", "c_get_tuple",
    "to_round", "get_round", "to_abs", "get_abs", "to_neg", "get_neg", "get_int_tuple",
    "get_rounded_tuple", "copy", "to_normalized", "get_normalized", "distance_to",
    "distance_squared_to", "dot",
]
SLOTS = {
    Vector2: ["new", "cfrom_struct", "cfrom_list", "cfrom_ints", "cfrom_floats", "cfrom_tuple",
              "cfrom_vector2", "cfrom_xy"] + SHARED_SLOTS,
    Vector3: ["new", "cfrom_list", "cfrom_ints", "cfrom_floats", "cfrom_tuple", "cfrom_vector3",
              "cfrom_xyz"] + SHARED_SLOTS + ["cross"],
}
O, I, D, F = ctypes.py_object, ctypes.c_int, ctypes.c_double, ctypes.c_float
capsule_pointer = ctypes.PYFUNCTYPE(ctypes.c_void_p, ctypes.py_object, ctypes.c_char_p)(
    ("PyCapsule_GetPointer", ctypes.pythonapi))


def table_of(V):
    return capsule_pointer(vars(V)["__pyx_vtable__"], None)


def slot(V, name, restype, *argtypes):
    """Slot `name` of V's table as a callable that keeps the interpreter lock."""
    size = ctypes.sizeof(ctypes.c_void_p)
    address = ctypes.c_void_p.from_address(table_of(V) + size * SLOTS[V].index(name)).value
    return ctypes.PYFUNCTYPE(restype, *argtypes)(address)


@both
def test_instances_carry_the_table_and_components(V):
    v = V(*[1.5, -2, 3][: len(V())])
    header = object.__basicsize__
    assert ctypes.c_void_p.from_address(id(v) + header).value == table_of(V)
    components = (ctypes.c_float * len(v)).from_address(id(v) + header + ctypes.sizeof(ctypes.c_void_p))
    assert tuple(components) == v.get_tuple()


@pytest.mark.parametrize(
    "name, argtypes, args",
    [
        ("new", (D, D, D), (0.1, 2, 1e39)),
        ("cfrom_xyz", (D, D, D), (0.1, 2, 1e39)),
        ("cfrom_ints", (I, I, I), (1, -2, 2**31 - 1)),
        ("cfrom_floats", (F, F, F), (0.1, 2, 3)),
        ("cfrom_list", (O,), ([0.1, 2, 3],)),
        ("cfrom_tuple", (O,), ((0.1, 2, 3, 4),)),
        ("cfrom_vector3", (O,), (Vector3(0.1, 2, 3),)),
    ],
)
def test_vector3_native_constructors(name, argtypes, args):
    v = slot(Vector3, name, O, *argtypes)(*args)
    components = list(args[0] if len(args) == 1 else args)
    assert type(v) is Vector3
    assert v.get_tuple() == tuple(f32(c) if abs(c) < 1e38 else math.inf for c in components[:3])


def test_vector3_native_sequences_refuse_short_ones():
    raises(TypeError, "Vector3() takes a sequence of length 3, but got 2",
           slot(Vector3, "cfrom_list", O, O), [1, 2])


def vectors(V, *rows):
    return [V(*row[: len(V())]) for row in rows]


@both
@pytest.mark.parametrize("name, expected", [("_add", lambda a, b: a + b), ("_sub", lambda a, b: a - b)])
def test_native_binary_entries(V, name, expected):
    a, b = vectors(V, (1, 2, 3), (4, -5, 0.5))
    result = slot(V, name, O, O, O)(a, b)
    assert type(result) is V and result == expected(a, b)


def test_native_cross():
    a, b = Vector3(1, 2, 3), Vector3(4, -5, 0.5)
    result = slot(Vector3, "cross", O, O, O, I)(a, b, 0)
    assert type(result) is Vector3 and result == a.cross(b) and result != b.cross(a)


@both
@pytest.mark.parametrize("name, op", [("_iadd", "__iadd__"), ("_isub", "__isub__"), ("_imul", "__imul__")])
def test_native_in_place_entries(V, name, op):
    a, b = vectors(V, (1, 2, 3), (4, -5, 0.5))
    expected = getattr(a.copy(), op)(b)
    assert slot(V, name, None, O, O)(a, b) is None
    assert a == expected


@both
def test_native_sadd_entries(V):
    u, a, b = vectors(V, (9, 9, 9), (1, 2, 3), (4, 5, 6))
    slot(V, "_sadd", None, O, O, O)(u, a, b)
    assert u == a + b
    slot(V, "sadd", None, O, O, O, I)(u, u, u, 0)
    assert u == (a + b) + (a + b)


@both
@pytest.mark.parametrize(
    "name",
    ["get_tuple", "to_round", "get_round", "to_abs", "get_abs", "to_neg", "get_neg",
     "get_int_tuple", "get_rounded_tuple", "copy", "to_normalized", "get_normalized"],
)
def test_native_entries_mirror_methods(V, name):
    v, mirror = vectors(V, (2.5, -3.5, 0.25), (2.5, -3.5, 0.25))
    result = slot(V, name, O, O, I)(v, 0)
    expected = getattr(mirror, name)()
    assert type(result) is type(expected) and result == expected and v == mirror
    assert (result is v) == name.startswith("to_")


@both
def test_native_c_get_tuple(V):
    (v,) = vectors(V, (2.5, -3.5, 0.25))
    assert slot(V, "c_get_tuple", O, O)(v) == v.get_tuple()


@both
def test_native_int_tuple_failure_is_raised(V):
    (v,) = vectors(V, (math.nan, 0, 0))
    with pytest.raises(ValueError):
        slot(V, "get_int_tuple", O, O, I)(v, 0)


@both
@pytest.mark.parametrize("name", ["distance_to", "distance_squared_to", "dot"])
def test_native_scalar_entries(V, name):
    a, b = vectors(V, (1, 2, 3), (4, -5, 0.5))
    assert slot(V, name, D, O, O, I)(a, b, 0) == getattr(a, name)(b)
