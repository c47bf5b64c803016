"""Vector2: construction, conversions, copying and the item protocol."""

import collections.abc
import copy
import ctypes
import gc
import json
import pickle
import traceback
import types
import weakref
from decimal import Decimal
from fractions import Fraction

import pytest

from native_access import Vector2Record, capsule_pointer, native_slot
from tavoro.vector2.vector2 import Vector2

INF = float("inf")
NAN = float("nan")
FULL_NAME = "tavoro.vector2.vector2.Vector2"
PICKLING_REFUSED = (
    "Pickling of struct members such as self.data must be explicitly requested with "
    "@auto_pickle(True)"
)
INDEX_ERROR = "Vector index out of range"


def f32(value):
    """The value narrowed to a 32-bit float and widened back."""
    return ctypes.c_float(value).value


def raises_exact(exc, message, func, *args, **kwargs):
    with pytest.raises(exc) as info:
        func(*args, **kwargs)
    assert str(info.value) == message
    return info.value


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class AsFloat:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class AsInt:
    def __init__(self, value):
        self.value = value

    def __int__(self):
        return self.value


class Foreign:
    """A vector of another kind: recognised by its clamp_magnitude_ip attribute."""

    def __init__(self, x, y):
        self.x = x
        self.y = y

    def clamp_magnitude_ip(self, *args):
        raise AssertionError("must not be called")


class PointOnly:
    def __init__(self, x, y):
        self.x = x
        self.y = y


class ListSub(list):
    pass


class TupleSub(tuple):
    pass


class ForeignTuple(tuple):
    clamp_magnitude_ip = None
    x = 5
    y = 6


class ForeignList(list):
    clamp_magnitude_ip = None
    x = -7
    y = 8


# ---------------------------------------------------------------------------------------------
# Construction


@pytest.mark.parametrize(
    "args, expected",
    [
        ((), (0.0, 0.0)),
        ((3, 4), (3.0, 4.0)),
        ((1.5, -2), (1.5, -2.0)),
        ((True, False), (1.0, 0.0)),
        ((Index(7), AsFloat(-0.5)), (7.0, -0.5)),
        ((Decimal("1.5"), Fraction(1, 4)), (1.5, 0.25)),
        (([1, 2],), (1.0, 2.0)),
        (((1, 2),), (1.0, 2.0)),
        (([Index(3), AsFloat(4.5)],), (3.0, 4.5)),
        ((ListSub([1, 2]),), (1.0, 2.0)),
        ((TupleSub((3, 4)),), (3.0, 4.0)),
        ((Vector2(1, 2),), (1.0, 2.0)),
        ((Foreign(9, Index(-3)),), (9.0, -3.0)),
        ((ForeignTuple((1, 2)),), (5.0, 6.0)),
        ((ForeignList([1, 2]),), (-7.0, 8.0)),
    ],
)
def test_construction_forms(args, expected):
    v = Vector2(*args)
    assert type(v) is Vector2
    assert v.get_tuple() == expected
    assert type(v.x) is float and type(v.y) is float


def test_copy_construction_is_independent():
    a = Vector2(1, 2)
    b = Vector2(a)
    b.x = 10
    assert a.get_tuple() == (1.0, 2.0)
    assert b is not a


@pytest.mark.parametrize(
    "args, message",
    [
        (([1, 2, 3],), "Vector2() takes a sequence of length 2, but got 3"),
        (((1,),), "Vector2() takes a sequence of length 2, but got 1"),
        (([],), "Vector2() takes a sequence of length 2, but got 0"),
        ((ListSub([1, 2, 3]),), "Vector2() takes a sequence of length 2, but got 3"),
        ((TupleSub(range(12)),), "Vector2() takes a sequence of length 2, but got 12"),
        ((1, 2, 3), "Vector2() takes 0, 1, or 2 arguments, but 3 were given"),
        ((1, 2, 3, 4), "Vector2() takes 0, 1, or 2 arguments, but 4 were given"),
        ((5,), "Vector2() invalid constructor argument: int"),
        (("ab",), "Vector2() invalid constructor argument: str"),
        ((None,), "Vector2() invalid constructor argument: NoneType"),
        (({"x": 1, "y": 2},), "Vector2() invalid constructor argument: dict"),
        ((range(2),), "Vector2() invalid constructor argument: range"),
        ((PointOnly(1, 2),), "Vector2() invalid constructor argument: PointOnly"),
    ],
)
def test_construction_errors(args, message):
    raises_exact(TypeError, message, Vector2, *args)
    v = Vector2(8, 9)
    raises_exact(TypeError, message, v.__init__, *args)


@pytest.mark.parametrize(
    "kwargs, args, name",
    [({"x": 1, "y": 2}, (), "x"), ({"y": 2}, (1,), "y"), ({"other": 1}, (), "other")],
)
def test_construction_refuses_keywords(kwargs, args, name):
    message = f"__init__() got an unexpected keyword argument '{name}'"
    raises_exact(TypeError, message, Vector2, *args, **kwargs)
    v = Vector2(5, 6)
    raises_exact(TypeError, message, v.__init__, *args, **kwargs)
    assert v.get_tuple() == (5.0, 6.0)


@pytest.mark.parametrize(
    "args",
    [
        (7, "bad"),
        ([7, "bad"],),
        ((7, None),),
        (ListSub([7, "bad"]),),
        (Foreign(7, "bad"),),
    ],
)
def test_x_is_stored_before_y_is_converted(args):
    v = Vector2(1, 2)
    with pytest.raises(TypeError):
        v.__init__(*args)
    assert v.get_tuple() == (7.0, 2.0)


@pytest.mark.parametrize("args", [("bad", 7), (["bad", 7],), (Foreign("bad", 7),)])
def test_failing_x_leaves_the_vector_unchanged(args):
    v = Vector2(1, 2)
    with pytest.raises(TypeError):
        v.__init__(*args)
    assert v.get_tuple() == (1.0, 2.0)


def test_foreign_vector_missing_component_raises_attribute_error():
    class HalfForeign:
        clamp_magnitude_ip = None
        x = 3

    v = Vector2(1, 2)
    with pytest.raises(AttributeError):
        v.__init__(HalfForeign())
    assert v.get_tuple() == (3.0, 2.0)


@pytest.mark.parametrize("args", [(3, 4), ([3, 4],), (Vector2(3, 4),), (Foreign(3, 4),)])
def test_reinitialisation_replaces_data(args):
    v = Vector2(1, 2)
    assert v.__init__(*args) is None
    assert v.get_tuple() == (3.0, 4.0)


def test_reinitialisation_without_arguments_resets_to_zero():
    v = Vector2(1, 2)
    v.__init__()
    assert v.get_tuple() == (0.0, 0.0)


def test_new_instance_starts_at_zero_before_init():
    v = Vector2.__new__(Vector2)
    assert v.get_tuple() == (0.0, 0.0)
    v = Vector2.__new__(Vector2, 3, 4)
    assert v.get_tuple() == (0.0, 0.0)


def test_free_list_reuse_starts_at_zero():
    # Released vectors are recycled; a recycled one must not show its earlier components.
    for _ in range(3):
        released = [Vector2(i + 1.5, -i - 2.5) for i in range(64)]
        del released
        fresh = [Vector2.__new__(Vector2) for _ in range(64)]
        assert all(v.get_tuple() == (0.0, 0.0) for v in fresh)
        del fresh
        released = [Vector2(i + 1.5, -i - 2.5) for i in range(64)]
        del released
        fresh = [Vector2() for _ in range(64)]
        assert all(v.get_tuple() == (0.0, 0.0) for v in fresh)
        del fresh


def test_many_releases_beyond_the_free_list():
    vectors = [Vector2(i, -i) for i in range(2500)]
    del vectors
    again = [Vector2.from_xy(i, i + 1) for i in range(2500)]
    assert [v.get_tuple() for v in again[::500]] == [(i, i + 1.0) for i in range(0, 2500, 500)]


def test_type_is_final_and_plain():
    with pytest.raises(TypeError):
        type("Sub", (Vector2,), {})
    v = Vector2(1, 2)
    with pytest.raises(AttributeError):
        v.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(v)
    assert not gc.is_tracked(v)
    assert Vector2.__module__ == "tavoro.vector2.vector2"
    assert Vector2.__name__ == "Vector2"
    assert Vector2.__qualname__ == "Vector2"


# ---------------------------------------------------------------------------------------------
# Static constructors


@pytest.mark.parametrize(
    "call, expected",
    [
        (lambda: Vector2.from_vector2(Vector2(1, 2)), (1.0, 2.0)),
        (lambda: Vector2.from_vector2(other=Vector2(3, 4)), (3.0, 4.0)),
        (lambda: Vector2.from_tuple((1, 2)), (1.0, 2.0)),
        (lambda: Vector2.from_tuple((1, 2, 3, "ignored")), (1.0, 2.0)),
        (lambda: Vector2.from_tuple(other=(Index(5), AsFloat(0.5))), (5.0, 0.5)),
        (lambda: Vector2.from_list([1, 2]), (1.0, 2.0)),
        (lambda: Vector2.from_list([1, 2, "ignored", None]), (1.0, 2.0)),
        (lambda: Vector2.from_list(other=[-1, 0.1]), (-1.0, f32(0.1))),
        (lambda: Vector2.from_ints(2.7, -3.9), (2.0, -3.0)),
        (lambda: Vector2.from_ints(x=1, y=2), (1.0, 2.0)),
        (lambda: Vector2.from_ints(1, y=-2.5), (1.0, -2.0)),
        (lambda: Vector2.from_ints(True, False), (1.0, 0.0)),
        (lambda: Vector2.from_ints(2**31 - 1, -(2**31)), (2147483648.0, -2147483648.0)),
        (lambda: Vector2.from_ints(16777217, -16777217), (16777216.0, -16777216.0)),
        (lambda: Vector2.from_ints(Decimal("2.9"), Fraction(-7, 2)), (2.0, -3.0)),
        (lambda: Vector2.from_ints(AsInt(4), AsInt(-5)), (4.0, -5.0)),
        (lambda: Vector2.from_floats(0.1, 2), (f32(0.1), 2.0)),
        (lambda: Vector2.from_floats(y=1, x=2), (2.0, 1.0)),
        (lambda: Vector2.from_floats(Index(3), AsFloat(1e39)), (3.0, INF)),
        (lambda: Vector2.from_xy(0.1, 2), (f32(0.1), 2.0)),
        (lambda: Vector2.from_xy(y=1, x=2), (2.0, 1.0)),
        (lambda: Vector2.from_xy(Index(3), AsFloat(-1e39)), (3.0, -INF)),
        (lambda: Vector2(0, 0).from_xy(5, 6), (5.0, 6.0)),
    ],
)
def test_static_constructors(call, expected):
    v = call()
    assert type(v) is Vector2
    assert v.get_tuple() == expected


def test_from_vector2_copies():
    a = Vector2(1, 2)
    b = Vector2.from_vector2(a)
    b.y = 9
    assert b is not a and a.get_tuple() == (1.0, 2.0)


@pytest.mark.parametrize(
    "method, argument, expected",
    [
        ("from_tuple", [1, 2], "tuple"),
        ("from_tuple", TupleSub((1, 2)), "tuple"),
        ("from_tuple", None, "tuple"),
        ("from_tuple", Vector2(1, 2), "tuple"),
        ("from_list", (1, 2), "list"),
        ("from_list", ListSub([1, 2]), "list"),
        ("from_list", None, "list"),
        ("from_vector2", None, FULL_NAME),
        ("from_vector2", (1, 2), FULL_NAME),
        ("from_vector2", Foreign(1, 2), FULL_NAME),
    ],
)
def test_static_constructor_incorrect_type(method, argument, expected):
    message = (
        f"Argument 'other' has incorrect type (expected {expected}, "
        f"got {FULL_NAME if type(argument) is Vector2 else type(argument).__name__})"
    )
    raises_exact(TypeError, message, getattr(Vector2, method), argument)
    raises_exact(TypeError, message, getattr(Vector2, method), other=argument)


@pytest.mark.parametrize(
    "method, argument, length",
    [
        ("from_tuple", (1,), 1),
        ("from_tuple", (), 0),
        ("from_list", [1], 1),
        ("from_list", [], 0),
    ],
)
def test_from_sequence_too_short(method, argument, length):
    message = f"Vector2() takes a sequence of length 2, but got {length}"
    raises_exact(TypeError, message, getattr(Vector2, method), argument)


@pytest.mark.parametrize("method", ["from_tuple", "from_list"])
def test_from_sequence_conversion_error(method):
    kind = tuple if method == "from_tuple" else list
    with pytest.raises(TypeError, match="must be real number, not str"):
        getattr(Vector2, method)(kind([1, "2"]))


@pytest.mark.parametrize(
    "args, exc, message",
    [
        ((2**31, 0), OverflowError, "value too large to convert to int"),
        ((0, 2**31), OverflowError, "value too large to convert to int"),
        ((0, -(2**31) - 1), OverflowError, "value too large to convert to int"),
        ((2**64, 0), OverflowError, "value too large to convert to int"),
        ((-(2**100), 0), OverflowError, "value too large to convert to int"),
        ((3e9, 0), OverflowError, "value too large to convert to int"),
        ((AsInt(2**40), 0), OverflowError, "value too large to convert to int"),
        (("1", 0), TypeError, "an integer is required"),
        ((0, "1"), TypeError, "an integer is required"),
        ((None, 0), TypeError, "an integer is required"),
        ((0, [1]), TypeError, "an integer is required"),
        ((AsInt("7"), 0), TypeError, "__int__ returned non-int (type str)"),
        ((0, AsInt(1.5)), TypeError, "__int__ returned non-int (type float)"),
    ],
)
def test_from_ints_errors(args, exc, message):
    raises_exact(exc, message, Vector2.from_ints, *args)


@pytest.mark.parametrize("method", ["from_floats", "from_xy"])
@pytest.mark.parametrize("args", [("a", 1), (1, None), ([1], 2)])
def test_from_floats_conversion_errors(method, args):
    with pytest.raises(TypeError, match="must be real number"):
        getattr(Vector2, method)(*args)


@pytest.mark.parametrize("value", [0.1, 1 / 3, 1e39, -1e39, 1e-50, 16777217, 3.4028235e38, -0.0])
def test_from_floats_and_from_xy_agree(value):
    a = Vector2.from_floats(value, -value)
    b = Vector2.from_xy(value, -value)
    assert a.get_tuple() == b.get_tuple() == (f32(value), f32(-value))


# ---------------------------------------------------------------------------------------------
# Argument binding messages


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: Vector2(1, 2).copy(1), "copy() takes exactly 0 positional arguments (1 given)"),
        (lambda: Vector2(1, 2).get_tuple(1, 2), "get_tuple() takes exactly 0 positional arguments (2 given)"),
        (lambda: Vector2(1, 2).dot(), "dot() takes exactly 1 positional argument (0 given)"),
        (lambda: Vector2(1, 2).dot(Vector2(), Vector2()), "dot() takes exactly 1 positional argument (2 given)"),
        (lambda: Vector2(1, 2).__deepcopy__(), "__deepcopy__() takes exactly 1 positional argument (0 given)"),
        (lambda: Vector2.from_xy(1), "from_xy() takes exactly 2 positional arguments (1 given)"),
        (lambda: Vector2.from_xy(1, 2, 3), "from_xy() takes exactly 2 positional arguments (3 given)"),
        (lambda: Vector2.from_ints(), "from_ints() takes exactly 2 positional arguments (0 given)"),
        (lambda: Vector2.from_tuple(), "from_tuple() takes exactly 1 positional argument (0 given)"),
        (lambda: Vector2.from_list([1, 2], [3, 4]), "from_list() takes exactly 1 positional argument (2 given)"),
        (lambda: Vector2.from_xy(1, z=2), "from_xy() got an unexpected keyword argument 'z'"),
        (lambda: Vector2(1, 2).copy(memo={}), "copy() got an unexpected keyword argument 'memo'"),
        (lambda: Vector2(1, 2).__deepcopy__(memo={}, extra=1), "__deepcopy__() got an unexpected keyword argument 'extra'"),
        (lambda: Vector2.from_xy(1, x=2), "from_xy() got multiple values for keyword argument 'x'"),
        (lambda: Vector2.from_tuple((1, 2), other=(1, 2)), "from_tuple() got multiple values for keyword argument 'other'"),
        (lambda: Vector2(1, 2).dot(Vector2(), other=Vector2()), "dot() got multiple values for keyword argument 'other'"),
    ],
)
def test_argument_binding_messages(call, message):
    raises_exact(TypeError, message, call)


def test_methods_take_keywords():
    assert Vector2(1, 2).dot(other=Vector2(3, 4)) == 11.0
    assert Vector2(1, 2).distance_to(other=Vector2(4, 6)) == 5.0


NON_STRING_KEYWORD = """
import ctypes, json
from tavoro.vector2.vector2 import Vector2
call = ctypes.pythonapi.PyObject_Vectorcall
call.restype = ctypes.py_object
call.argtypes = [ctypes.py_object, ctypes.POINTER(ctypes.py_object), ctypes.c_size_t, ctypes.py_object]
args = (ctypes.py_object * 3)(1.0, 2.0, 3.0)
target = {target}
try:
    call(target, args, {nargs}, (1,))
    result = None
except Exception as e:
    result = [type(e).__name__, str(e)]
print(json.dumps(result))
"""


@pytest.mark.parametrize(
    "target, nargs, name",
    [
        ("Vector2.from_xy", 1, "from_xy"),
        ("Vector2(1, 2).dot", 0, "dot"),
        ("Vector2(1, 2).copy", 0, "copy"),
        ("Vector2", 0, "__init__"),
    ],
)
def test_keywords_must_be_strings(run_python, target, nargs, name):
    # A keyword that is not a string cannot be written in Python; it is passed through the
    # vectorcall protocol directly, in a separate interpreter in case it is misread.
    proc = run_python(NON_STRING_KEYWORD.format(target=target, nargs=nargs))
    assert json.loads(proc.stdout) == ["TypeError", f"{name}() keywords must be strings"]


def test_init_keywords_must_be_strings(run_python):
    proc = run_python(
        """
        import ctypes, json
        from tavoro.vector2.vector2 import Vector2
        call = ctypes.pythonapi.PyObject_Call
        call.restype = ctypes.py_object
        call.argtypes = [ctypes.py_object, ctypes.py_object, ctypes.py_object]
        try:
            call(Vector2(1, 2).__init__, (), {1: 2})
            result = None
        except Exception as e:
            result = [type(e).__name__, str(e)]
        print(json.dumps(result))
        """
    )
    assert json.loads(proc.stdout) == ["TypeError", "__init__() keywords must be strings"]


@pytest.mark.parametrize(
    "name",
    ["copy", "get_tuple", "get_int_tuple", "get_rounded_tuple", "dot", "__copy__", "__deepcopy__"],
)
def test_method_names(name):
    for method in (getattr(Vector2, name), getattr(Vector2(1, 2), name)):
        assert method.__name__ == name
        assert method.__qualname__ == f"Vector2.{name}"


@pytest.mark.parametrize(
    "name", ["from_vector2", "from_tuple", "from_list", "from_ints", "from_floats", "from_xy"]
)
def test_static_method_names(name):
    assert isinstance(Vector2.__dict__[name], staticmethod)
    for method in (getattr(Vector2, name), getattr(Vector2(), name)):
        assert method.__name__ == name
        assert method.__qualname__ == f"Vector2.{name}"


# ---------------------------------------------------------------------------------------------
# Properties


@pytest.mark.parametrize("name, index", [("x", 0), ("y", 1)])
@pytest.mark.parametrize(
    "value, expected",
    [
        (3, 3.0),
        (0.1, 0.10000000149011612),
        (True, 1.0),
        (Index(-4), -4.0),
        (AsFloat(2.5), 2.5),
        (1e39, INF),
        (-1e39, -INF),
        (16777217, 16777216.0),
    ],
)
def test_component_properties(name, index, value, expected):
    v = Vector2(11, 12)
    setattr(v, name, value)
    got = getattr(v, name)
    assert type(got) is float and got == expected
    other = v.get_tuple()[1 - index]
    assert other == (12.0 if index == 0 else 11.0)


@pytest.mark.parametrize("name", ["x", "y"])
def test_component_property_errors(name):
    v = Vector2(1, 2)
    with pytest.raises(TypeError, match="must be real number, not str"):
        setattr(v, name, "3")
    with pytest.raises(TypeError):
        setattr(v, name, None)
    with pytest.raises(OverflowError):
        setattr(v, name, 10**400)
    raises_exact(NotImplementedError, "__del__", delattr, v, name)
    assert v.get_tuple() == (1.0, 2.0)


class Recording(collections.abc.Mapping):
    """A mapping that records the keys it is asked for."""

    def __init__(self, items):
        self.items = dict(items)
        self.asked = []

    def __getitem__(self, key):
        self.asked.append(key)
        return self.items[key]

    def __iter__(self):
        return iter(self.items)

    def __len__(self):
        return len(self.items)


def test_data_get():
    v = Vector2(0.1, -2)
    data = v.data
    assert data == {"x": 0.10000000149011612, "y": -2.0}
    assert list(data) == ["x", "y"]
    assert all(type(value) is float for value in data.values())
    assert v.data is not data
    data["x"] = 5
    assert v.x == f32(0.1)


@pytest.mark.parametrize(
    "mapping",
    [
        {"x": 3, "y": 4},
        {"y": 4, "x": 3, "z": 99, 0: "ignored"},
        types.MappingProxyType({"x": 3.0, "y": Index(4)}),
        Recording({"x": AsFloat(3.0), "y": 4, "w": 1}),
    ],
)
def test_data_set_from_mappings(mapping):
    v = Vector2(1, 2)
    v.data = mapping
    assert v.get_tuple() == (3.0, 4.0)


def test_data_reads_x_then_y():
    mapping = Recording({"x": 1, "y": 2})
    Vector2().data = mapping
    assert mapping.asked == ["x", "y"]
    missing = Recording({"y": 2})
    with pytest.raises(ValueError):
        Vector2().data = missing
    assert missing.asked == ["x"]


def test_data_narrows():
    v = Vector2()
    v.data = {"x": 0.1, "y": 1e39}
    assert v.get_tuple() == (0.10000000149011612, INF)


@pytest.mark.parametrize(
    "mapping, exc, message",
    [
        ({"x": 1}, ValueError, "No value specified for struct attribute 'y'"),
        ({"y": 1}, ValueError, "No value specified for struct attribute 'x'"),
        ({}, ValueError, "No value specified for struct attribute 'x'"),
        (Recording({"x": 1, "z": 2}), ValueError, "No value specified for struct attribute 'y'"),
        ({"x": 1, "y": "a"}, TypeError, "must be real number, not str"),
        ({"x": 5, "y": None}, TypeError, "must be real number, not NoneType"),
        (5, TypeError, "Expected a mapping, got int"),
        (None, TypeError, "Expected a mapping, got NoneType"),
        (1.5, TypeError, "Expected a mapping, got float"),
        (object(), TypeError, "Expected a mapping, got object"),
        ({1, 2}, TypeError, "Expected a mapping, got set"),
    ],
)
def test_data_set_errors_leave_vector_unchanged(mapping, exc, message):
    v = Vector2(1, 2)
    raises_exact(exc, message, setattr, v, "data", mapping)
    assert v.get_tuple() == (1.0, 2.0)


def test_data_delete():
    v = Vector2(1, 2)
    raises_exact(NotImplementedError, "__del__", delattr, v, "data")
    assert v.get_tuple() == (1.0, 2.0)


# ---------------------------------------------------------------------------------------------
# Sequence protocol


def test_length_and_items():
    v = Vector2(1.5, -2)
    assert len(v) == 2
    assert v[0] == 1.5 and v[1] == -2.0
    assert type(v[0]) is float
    assert v[False] == 1.5 and v[True] == -2.0
    assert v[Index(1)] == -2.0


@pytest.mark.parametrize("index", [-1, -2, 2, 3, 100, Index(2), Index(-1)])
def test_item_out_of_range(index):
    v = Vector2(1, 2)
    raises_exact(IndexError, INDEX_ERROR, v.__getitem__, index)
    with pytest.raises(IndexError) as info:
        v[index] = 5
    assert str(info.value) == INDEX_ERROR
    assert v.get_tuple() == (1.0, 2.0)


@pytest.mark.parametrize("index", [2**63, -(2**63) - 1, 2**100])
def test_index_beyond_the_machine_range_overflows(index):
    # As the index conversion reports it, like Vector3.
    v = Vector2(1, 2)
    with pytest.raises(OverflowError):
        v[index]
    with pytest.raises(OverflowError):
        v[index] = 5
    assert v.get_tuple() == (1.0, 2.0)


@pytest.mark.parametrize("index", [1.0, "0", None, slice(0, 1), (0,)])
def test_item_index_must_be_an_index(index):
    v = Vector2(1, 2)
    with pytest.raises(TypeError):
        v[index]
    with pytest.raises(TypeError):
        v[index] = 5
    assert v.get_tuple() == (1.0, 2.0)


@pytest.mark.parametrize(
    "index, value, expected",
    [
        (0, 5, (5.0, 2.0)),
        (1, 5, (1.0, 5.0)),
        (Index(1), Index(-3), (1.0, -3.0)),
        (True, 0.1, (1.0, 0.10000000149011612)),
        (0, 1e39, (INF, 2.0)),
    ],
)
def test_item_assignment(index, value, expected):
    v = Vector2(1, 2)
    v[index] = value
    assert v.get_tuple() == expected


@pytest.mark.parametrize("index", [0, 1, 2, -1, 99])
def test_item_assignment_converts_value_first(index):
    v = Vector2(1, 2)
    with pytest.raises(TypeError, match="must be real number, not str"):
        v[index] = "7"
    assert v.get_tuple() == (1.0, 2.0)


@pytest.mark.parametrize("index", [0, 1, 5, -1])
def test_item_deletion_refused(index):
    v = Vector2(1, 2)
    message = f"Subscript deletion not supported by {FULL_NAME}"
    with pytest.raises(NotImplementedError) as info:
        del v[index]
    assert str(info.value) == message
    assert v.get_tuple() == (1.0, 2.0)


def test_iteration_and_unpacking():
    v = Vector2(3, -4.5)
    assert list(v) == [3.0, -4.5]
    assert tuple(v) == (3.0, -4.5)
    x, y = v
    assert (x, y) == (3.0, -4.5)
    it = iter(v)
    assert next(it) == 3.0 and next(it) == -4.5
    with pytest.raises(StopIteration):
        next(it)
    with pytest.raises(ValueError):
        a, b, c = v
    assert -4.5 in v and 4.5 not in v


# ---------------------------------------------------------------------------------------------
# repr and hash


@pytest.mark.parametrize(
    "args, text",
    [
        ((1, 2), "Vector2(1.0, 2.0)"),
        ((1.5, -2), "Vector2(1.5, -2.0)"),
        ((), "Vector2(0.0, 0.0)"),
        ((0.1, 0), "Vector2(0.10000000149011612, 0.0)"),
        ((-0.0, 1e20), "Vector2(-0.0, 1.0000000200408773e+20)"),
        ((1e16, 1e-5), "Vector2(1.0000000272564224e+16, 9.999999747378752e-06)"),
        ((1e39, -1e39), "Vector2(inf, -inf)"),
        ((NAN, 3), "Vector2(nan, 3.0)"),
        ((-3.4028234663852886e38, 1e-45), "Vector2(-3.4028234663852886e+38, 1.401298464324817e-45)"),
    ],
)
def test_repr(args, text):
    v = Vector2(*args)
    assert repr(v) == text
    assert str(v) == text


@pytest.mark.parametrize("x, y", [(0.1, 1 / 3), (123456.789, -7e-20), (2.5e30, 16777217)])
def test_repr_round_trips(x, y):
    v = Vector2(x, y)
    assert repr(v) == f"Vector2({f32(x)!r}, {f32(y)!r})"
    assert eval(repr(v), {"Vector2": Vector2}).get_tuple() == v.get_tuple()


@pytest.mark.parametrize(
    "x, y",
    [(1, 2), (0, 0), (-0.0, 0.0), (-1, -1), (-1, 1.5), (0.1, -0.1), (INF, -INF), (1e30, 2**31), (-2, 7)],
)
def test_hash_is_hash_of_tuple(x, y):
    v = Vector2(x, y)
    assert hash(v) == hash(v.get_tuple()) == hash((f32(x), f32(y)))


def test_hash_follows_mutation():
    v = Vector2(1, 2)
    before = hash(v)
    v.x = 3
    assert hash(v) != before
    assert hash(v) == hash((3.0, 2.0))


# ---------------------------------------------------------------------------------------------
# Conversions


def test_get_tuple():
    t = Vector2(0.1, -2).get_tuple()
    assert type(t) is tuple
    assert t == (0.10000000149011612, -2.0)
    assert all(type(c) is float for c in t)


@pytest.mark.parametrize(
    "x, y, expected",
    [
        (2.7, -3.9, (2, -3)),
        (-0.5, 0.99, (0, 0)),
        (0, -0.0, (0, 0)),
        (2147483520.0, -2147483648.0, (2147483520, -2147483648)),
        (16777217, -1e9, (16777216, -1000000000)),
    ],
)
def test_get_int_tuple(x, y, expected):
    t = Vector2(x, y).get_int_tuple()
    assert t == expected
    assert all(type(c) is int for c in t)


@pytest.mark.parametrize(
    "x, y, expected",
    [
        (2.5, -2.5, (3, -3)),
        (0.49999997, -0.49999997, (0, 0)),
        (0.5, -0.5, (1, -1)),
        (1.5, -1.4, (2, -1)),
        (2.4, 3.6, (2, 4)),
        (2147483520.0, -2147483648.0, (2147483520, -2147483648)),
    ],
)
def test_get_rounded_tuple(x, y, expected):
    t = Vector2(x, y).get_rounded_tuple()
    assert t == expected
    assert all(type(c) is int for c in t)


@pytest.mark.parametrize("method", ["get_int_tuple", "get_rounded_tuple"])
@pytest.mark.parametrize(
    "x, y, exc, message",
    [
        (NAN, 0, ValueError, None),
        (0, NAN, ValueError, None),
        (INF, 0, OverflowError, None),
        (0, -INF, OverflowError, None),
        (2.0**31, 0, OverflowError, "value too large to convert to int"),
        (0, -(2.0**31) - 256, OverflowError, "value too large to convert to int"),
        (1e20, 0, OverflowError, "value too large to convert to int"),
    ],
)
def test_int_tuple_errors(method, x, y, exc, message):
    v = Vector2(x, y)
    with pytest.raises(exc) as info:
        getattr(v, method)()
    if message is not None:
        assert str(info.value) == message
    assert repr(v) == repr(Vector2(x, y))


# ---------------------------------------------------------------------------------------------
# Copies and pickling


@pytest.mark.parametrize(
    "make_copy",
    [
        lambda v: v.copy(),
        lambda v: v.__copy__(),
        lambda v: v.__deepcopy__({}),
        lambda v: v.__deepcopy__(memo={}),
        lambda v: v.__deepcopy__(None),
        copy.copy,
        copy.deepcopy,
    ],
)
def test_copies(make_copy):
    v = Vector2(0.1, -3)
    c = make_copy(v)
    assert type(c) is Vector2 and c is not v
    assert c.get_tuple() == v.get_tuple()
    c.x = 9
    assert v.get_tuple() == (f32(0.1), -3.0)


def test_deepcopy_inside_a_container():
    v = Vector2(1, 2)
    a, b = copy.deepcopy([v, v])
    assert a is b and a is not v and a.get_tuple() == (1.0, 2.0)


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_pickling_refused(protocol):
    raises_exact(TypeError, PICKLING_REFUSED, pickle.dumps, Vector2(1, 2), protocol)


@pytest.mark.parametrize(
    "call",
    [
        lambda v: v.__reduce__(),
        lambda v: v.__reduce_ex__(2),
        lambda v: v.__setstate__((1.0, 2.0)),
        lambda v: v.__setstate__(),
    ],
)
def test_reduce_and_setstate_refused(call):
    v = Vector2(1, 2)
    raises_exact(TypeError, PICKLING_REFUSED, call, v)
    assert v.get_tuple() == (1.0, 2.0)


# ---------------------------------------------------------------------------------------------
# Tracebacks


@pytest.mark.parametrize(
    "call, member",
    [
        (lambda: Vector2("ab"), "__init__"),
        (lambda: Vector2(1, 2).__init__(1, "a"), "__init__"),
        (lambda: Vector2(1, 2).dot(1), "dot"),
        (lambda: Vector2.from_xy("a", 1), "from_xy"),
        (lambda: Vector2.from_tuple([1, 2]), "from_tuple"),
        (lambda: Vector2(NAN, 0).get_int_tuple(), "get_int_tuple"),
        (lambda: Vector2()[2], "__getitem__"),
        (lambda: Vector2().__setitem__(2, 0), "__setitem__"),
        (lambda: setattr(Vector2(), "x", "a"), "x"),
        (lambda: setattr(Vector2(), "y", "a"), "y"),
        (lambda: setattr(Vector2(), "data", 5), "data"),
    ],
)
def test_traceback_names_the_failing_member(call, member):
    with pytest.raises(Exception) as info:
        call()
    entries = traceback.extract_tb(info.value.__traceback__)
    ours = [e for e in entries if e.name.startswith(FULL_NAME + ".")]
    assert ours, [e.name for e in entries]
    last = ours[-1]
    assert last.name == f"{FULL_NAME}.{member}" or last.name.startswith(f"{FULL_NAME}.{member}.")
    assert last.filename.replace("\\", "/").endswith("src/tavoro/vector2/vector2.cpp")


# ---------------------------------------------------------------------------------------------
# The native method table, called as another module would


@pytest.fixture(scope="module")
def slots():
    table = ctypes.cast(capsule_pointer(Vector2.__dict__["__pyx_vtable__"]), ctypes.POINTER(ctypes.c_void_p))

    def slot(index, restype, *argtypes):
        assert table[index], index
        return native_slot(Vector2, index, restype, *argtypes)

    return slot


OBJ = ctypes.py_object
FLAG = ctypes.c_int


def test_native_constructors(slots):
    new = slots(0, OBJ, ctypes.c_double, ctypes.c_double)
    v = new(0.1, 1e39)
    assert type(v) is Vector2 and v.get_tuple() == (f32(0.1), INF)

    from_struct = slots(1, OBJ, Vector2Record)
    assert from_struct(Vector2Record(1.5, -2.25)).get_tuple() == (1.5, -2.25)

    from_list = slots(2, OBJ, OBJ)
    assert from_list([Index(3), 4.5, "ignored"]).get_tuple() == (3.0, 4.5)
    raises_exact(TypeError, "Vector2() takes a sequence of length 2, but got 1", from_list, [1])

    from_ints = slots(3, OBJ, ctypes.c_int, ctypes.c_int)
    assert from_ints(16777217, -(2**31)).get_tuple() == (16777216.0, -2147483648.0)

    from_floats = slots(4, OBJ, ctypes.c_float, ctypes.c_float)
    assert from_floats(0.1, -0.5).get_tuple() == (f32(0.1), -0.5)

    from_tuple = slots(5, OBJ, OBJ)
    assert from_tuple((7, 8, 9)).get_tuple() == (7.0, 8.0)
    raises_exact(TypeError, "Vector2() takes a sequence of length 2, but got 0", from_tuple, ())

    from_vector2 = slots(6, OBJ, OBJ)
    source = Vector2(5, 6)
    copied = from_vector2(source)
    assert copied is not source and copied.get_tuple() == (5.0, 6.0)

    from_xy = slots(7, OBJ, ctypes.c_double, ctypes.c_double)
    assert from_xy(0.1, -2).get_tuple() == (f32(0.1), -2.0)


def test_native_arithmetic_entries(slots):
    a, b = Vector2(1, 2), Vector2(3, 5)
    assert slots(8, OBJ, OBJ, OBJ)(a, b).get_tuple() == (4.0, 7.0)
    assert slots(9, OBJ, OBJ, OBJ)(a, b).get_tuple() == (-2.0, -3.0)
    v = Vector2(1, 2)
    assert slots(10, None, OBJ, OBJ)(v, b) is None
    assert v.get_tuple() == (4.0, 7.0)
    slots(11, None, OBJ, OBJ)(v, Vector2(1, 1))
    assert v.get_tuple() == (3.0, 6.0)
    slots(12, None, OBJ, OBJ)(v, Vector2(2, -0.5))
    assert v.get_tuple() == (6.0, -3.0)
    slots(13, None, OBJ, OBJ, OBJ)(v, Vector2(1, 2), Vector2(10, 20))
    assert v.get_tuple() == (11.0, 22.0)
    slots(14, None, OBJ, OBJ, OBJ, FLAG)(v, Vector2(-1, -2), Vector2(1, 1), 1)
    assert v.get_tuple() == (0.0, -1.0)
    assert (a.get_tuple(), b.get_tuple()) == ((1.0, 2.0), (3.0, 5.0))


@pytest.mark.parametrize("flag", [0, 1])
def test_native_copying_entries(slots, flag):
    v = Vector2(-1.5, 2.25)
    for index, name in [
        (15, "get_tuple"),
        (18, "get_round"),
        (20, "get_abs"),
        (22, "get_neg"),
        (23, "get_int_tuple"),
        (24, "get_rounded_tuple"),
        (25, "copy"),
        (27, "get_normalized"),
    ]:
        result = slots(index, OBJ, OBJ, FLAG)(v, flag)
        expected = getattr(v, name)()
        assert type(result) is type(expected), name
        if isinstance(result, Vector2):
            assert result is not v and result.get_tuple() == expected.get_tuple(), name
        else:
            assert result == expected, name
        assert v.get_tuple() == (-1.5, 2.25), name
    assert slots(16, OBJ, OBJ)(v) == (-1.5, 2.25)


@pytest.mark.parametrize("index, name", [(17, "to_round"), (19, "to_abs"), (21, "to_neg"), (26, "to_normalized")])
def test_native_in_place_entries(slots, index, name):
    v = Vector2(-1.5, 2.25)
    expected = getattr(Vector2(-1.5, 2.25), name)().get_tuple()
    assert slots(index, OBJ, OBJ, FLAG)(v, 1) is v
    assert v.get_tuple() == expected


def test_native_double_entries(slots):
    a, b = Vector2(1, 2), Vector2(4, 6)
    assert slots(28, ctypes.c_double, OBJ, OBJ, FLAG)(a, b, 1) == 5.0
    assert slots(29, ctypes.c_double, OBJ, OBJ, FLAG)(a, b, 0) == 25.0
    assert slots(30, ctypes.c_double, OBJ, OBJ, FLAG)(a, b, 1) == 16.0
