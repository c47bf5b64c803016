"""Rect: construction, properties, the sequence protocol, and the collision tests, both through
the Python methods and through the native table."""

import copy
import ctypes
import math
import pickle
from fractions import Fraction

import pytest

from native_access import RectangleRecord, native_slot
from tavoro.rect.rect import Rect
from tavoro.vector2.vector2 import Vector2
from tavoro.vector4.vector4 import Vector4

NAN = float("nan")
INF = float("inf")


def predicate_slot(index, argtype=ctypes.py_object):
    return native_slot(Rect, index, ctypes.c_int, ctypes.py_object, argtype, ctypes.c_int)


class Raises:
    """A number whose float conversion fails."""

    def __float__(self):
        raise ArithmeticError("no float")


# ---------------------------------------------------------------------------------------------
# Construction


@pytest.mark.parametrize(
    "args, expected",
    [
        ((), (0, 0, 0, 0)),
        ((Vector2(3, 4),), (0, 0, 3, 4)),
        ((Rect(1, 2, 3, 4),), (1, 2, 3, 4)),
        ((Vector4(1, 2, 3, 4),), (1, 2, 3, 4)),
        (((1, 2, 3, 4),), (1, 2, 3, 4)),
        (([1, 2, 3, 4],), (1, 2, 3, 4)),
        (((1, 2), (3, 4)), (1, 2, 3, 4)),
        (([1, 2], Vector2(3, 4)), (1, 2, 3, 4)),
        ((Vector2(1, 2), (3, 4)), (1, 2, 3, 4)),
        ((1, 2.5, Fraction(3, 2), True), (1, 2.5, 1.5, 1)),
    ],
)
def test_construction_forms(args, expected):
    assert tuple(Rect(*args)) == expected


def test_values_are_narrowed_to_32_bits():
    assert Rect(0.1, 0, 0, 0).x == 0.10000000149011612
    assert Rect(1e39, 0, 0, 0).x == INF


def test_subclasses_of_the_argument_types_are_accepted():
    class V4(Vector4):
        @property
        def z(self):
            return 30

    class T(tuple):
        pass

    class SubRect(Rect):
        pass

    assert tuple(Rect(V4(1, 2, 3, 4))) == (1, 2, 30, 4)
    assert tuple(Rect(T((1, 2, 3, 4)))) == (1, 2, 3, 4)
    assert tuple(Rect(SubRect(1, 2, 3, 4))) == (1, 2, 3, 4)
    assert tuple(Rect(T((1, 2)), T((3, 4)))) == (1, 2, 3, 4)


@pytest.mark.parametrize(
    "args, error, message",
    [
        ((1, 2, 3), TypeError, "Rect expected 0, 1, 2, or 4 arguments, got 3"),
        ((1, 2, 3, 4, 5), TypeError, "Rect expected 0, 1, 2, or 4 arguments, got 5"),
        (((1, 2, 3),), ValueError, "list/tuple for rect must have 4 elements"),
        (([1, 2, 3, 4, 5],), ValueError, "list/tuple for rect must have 4 elements"),
        ((5,), ValueError, "Rect takes Vector2, Rect, Vector4, or list/tuple of length 4"),
        ((None,), ValueError, "Rect takes Vector2, Rect, Vector4, or list/tuple of length 4"),
        (("abcd",), ValueError, "Rect takes Vector2, Rect, Vector4, or list/tuple of length 4"),
        (((1, 2, 3), (4, 5)), ValueError, "First argument must be a Vector2 or list/tuple of length 2"),
        ((None, (4, 5)), ValueError, "First argument must be a Vector2 or list/tuple of length 2"),
        (((1, 2), 5), ValueError, "Second argument must be a Vector2 or list/tuple of length 2"),
        (((1, 2), [3]), ValueError, "Second argument must be a Vector2 or list/tuple of length 2"),
        (((1, "a"), 5), TypeError, "must be real number, not str"),
        ((1, 2, 3, "4"), TypeError, "must be real number, not str"),
        ((1, 2, Raises(), 4), ArithmeticError, "no float"),
        (((1, 2, None, 4),), TypeError, "must be real number, not NoneType"),
    ],
)
def test_construction_refusals(args, error, message):
    with pytest.raises(error, match="^" + message.replace("(", r"\(").replace(")", r"\)") + "$"):
        Rect(*args)


def test_keywords_are_refused():
    with pytest.raises(TypeError, match=r"^__init__\(\) got an unexpected keyword argument 'x'$"):
        Rect(x=1)
    with pytest.raises(TypeError, match="unexpected keyword argument 'y'"):
        Rect(1, 2, 3, 4).__init__(y=1)


@pytest.mark.parametrize(
    "args",
    [
        ((1, 2, 3, "x"),),
        ([9, 9, 9, Raises()],),
        ((9, 9), (9, "x")),
        ((9, 9), 5),
        (9, 9, 9, None),
        (Vector2(9, 9), (9, Raises())),
    ],
)
def test_failed_reinitialisation_leaves_the_rect_unchanged(args):
    r = Rect(1, 2, 3, 4)
    with pytest.raises((TypeError, ValueError, ArithmeticError)):
        r.__init__(*args)
    assert tuple(r) == (1, 2, 3, 4)


def test_reinitialisation_overwrites_and_new_without_init_is_zero():
    r = Rect(1, 2, 3, 4)
    r.__init__()
    assert tuple(r) == (0, 0, 0, 0)
    assert tuple(Rect.__new__(Rect)) == (0, 0, 0, 0)


def test_sequences_that_misreport_or_change_their_length_never_crash():
    class Long(tuple):
        def __len__(self):
            return 4

    class Short(list):
        def __len__(self):
            return 2

    with pytest.raises(IndexError):
        Rect(Long((1, 2)))
    # the length that len() reports decides the form: a list of 4 posing as 2 is a position
    assert tuple(Rect(Short([1, 2, 3, 4]), (5, 6))) == (1, 2, 5, 6)

    items = []

    class Clears:
        def __float__(self):
            items.clear()
            return 7.0

    items[:] = [Clears(), 2, 3, 4]
    assert tuple(Rect(items)) == (7, 2, 3, 4)


def test_subclass_with_its_own_init():
    class Square(Rect):
        def __init__(self, side):
            super().__init__(0, 0, side, side)

    s = Square(5)
    assert type(s) is Square and tuple(s) == (0, 0, 5, 5)
    assert s == Rect(0, 0, 5, 5)


# ---------------------------------------------------------------------------------------------
# Properties


@pytest.mark.parametrize(
    "name, value",
    [("x", 10), ("left", 10), ("y", 20), ("top", 20), ("w", 30), ("width", 30), ("h", 40), ("height", 40),
     ("right", 40), ("bottom", 60), ("centerx", 25), ("centery", 40)],
)
def test_property_reads(name, value):
    assert getattr(Rect(10, 20, 30, 40), name) == value


@pytest.mark.parametrize(
    "name, value, expected",
    [
        ("x", 1, (1, 20, 30, 40)),
        ("left", 1.5, (1.5, 20, 30, 40)),
        ("top", 2, (10, 2, 30, 40)),
        ("w", 3, (10, 20, 3, 40)),
        ("h", 4, (10, 20, 30, 4)),
        ("right", 100, (70, 20, 30, 40)),
        ("bottom", 100, (10, 60, 30, 40)),
        ("centerx", 0, (-15, 20, 30, 40)),
        ("centery", 0.0, (10, -20, 30, 40)),
        ("right", Fraction(101, 2), (20.5, 20, 30, 40)),
        ("center", (0, 0), (-15, -20, 30, 40)),
        ("center", [1, 2, 99], (-14, -18, 30, 40)),
        ("center", {0: 15, 1: 20}, (0, 0, 30, 40)),
        ("center", Vector2(25, 40), (10, 20, 30, 40)),
    ],
)
def test_property_writes_keep_the_size(name, value, expected):
    r = Rect(10, 20, 30, 40)
    setattr(r, name, value)
    assert tuple(r) == expected


def test_derived_setters_use_the_values_own_subtraction():
    class Offset:
        def __sub__(self, other):
            return 50 + other

    r = Rect(10, 20, 30, 40)
    r.right = Offset()  # x = Offset() - 30.0 = 80
    assert r.x == 80
    import decimal

    with pytest.raises(TypeError, match="unsupported operand"):
        r.centerx = decimal.Decimal(1)
    assert tuple(r) == (80, 20, 30, 40)


def test_center_is_a_new_vector2_in_doubles():
    r = Rect(1, 2, 3, 5)
    c = r.center
    assert type(c) is Vector2 and tuple(c) == (2.5, 4.5)
    assert r.center is not c


@pytest.mark.parametrize(
    "name, value, error",
    [
        ("x", "1", TypeError),
        ("right", "1", TypeError),
        ("center", None, TypeError),
        ("center", (1,), IndexError),
        ("center", (1, "a"), TypeError),
        ("center", 5, TypeError),
        ("y", Raises(), ArithmeticError),
        ("centery", Raises(), TypeError),  # the subtraction comes before the float conversion
    ],
)
def test_failed_property_writes_leave_the_rect_unchanged(name, value, error):
    r = Rect(10, 20, 30, 40)
    with pytest.raises(error):
        setattr(r, name, value)
    assert tuple(r) == (10, 20, 30, 40)


@pytest.mark.parametrize("name", ["x", "left", "height", "right", "centery", "center"])
def test_properties_refuse_deletion(name):
    with pytest.raises(NotImplementedError, match="^__del__$"):
        delattr(Rect(), name)


# ---------------------------------------------------------------------------------------------
# Sequence protocol, comparison, repr, hashing, pickling


def test_item_access():
    r = Rect(1, 2, 3, 4)
    assert len(r) == 4
    assert [r[i] for i in range(4)] == [1, 2, 3, 4]
    x, y, w, h = r
    assert (x, y, w, h) == (1, 2, 3, 4)
    r[2] = 7
    r[True] = 9
    assert tuple(r) == (1, 9, 7, 4)


@pytest.mark.parametrize("index", [4, -1, -4, 2**70])
def test_out_of_range_indices(index):
    r = Rect(1, 2, 3, 4)
    with pytest.raises((IndexError, OverflowError)):
        r[index]
    with pytest.raises((IndexError, OverflowError)):
        r[index] = 0
    assert tuple(r) == (1, 2, 3, 4)
    if abs(index) < 10:
        with pytest.raises(IndexError, match="^Rect index out of range$"):
            r[index]


def test_item_errors():
    r = Rect(1, 2, 3, 4)
    with pytest.raises(TypeError):
        r["a"]
    with pytest.raises(TypeError):
        r[1:2]
    with pytest.raises(TypeError, match="must be real number"):
        r[7] = None  # the value is converted before the index is checked
    with pytest.raises(NotImplementedError, match=r"^Subscript deletion not supported by tavoro\.rect\.rect\.Rect$"):
        del r[0]


@pytest.mark.parametrize(
    "a, b, equal",
    [
        (Rect(1, 2, 3, 4), Rect(1, 2, 3, 4), True),
        (Rect(1, 2, 3, 4), Rect(1, 2, 3, 5), False),
        (Rect(1, 2, 3, 4), (1, 2, 3, 4), False),
        (Rect(1, 2, 3, 4), Vector4(1, 2, 3, 4), False),
        (Rect(NAN, 0, 0, 0), Rect(NAN, 0, 0, 0), False),
        (Rect(-0.0, 0, 0, 0), Rect(0.0, 0, 0, 0), True),
    ],
)
def test_equality(a, b, equal):
    assert (a == b) is equal
    assert (a != b) is not equal


def test_ordering_is_not_supported():
    with pytest.raises(TypeError):
        Rect() < Rect()


@pytest.mark.parametrize(
    "rect, text",
    [
        (Rect(1, 2, 3, 4), "Rect(position=1.0, size=3.0)"),
        (Rect(0.1, 0, 1e20, 0), "Rect(position=0.10000000149011612, size=1.0000000200408773e+20)"),
        (Rect(INF, 0, NAN, 0), "Rect(position=inf, size=nan)"),
    ],
)
def test_repr(rect, text):
    assert repr(rect) == text


def test_hashing_and_pickling_are_refused():
    with pytest.raises(TypeError):
        hash(Rect())
    message = r"^Pickling of struct members such as self\._raw must be explicitly requested with @auto_pickle\(True\)$"
    for attempt in (pickle.dumps, copy.copy, copy.deepcopy):
        with pytest.raises(TypeError, match=message):
            attempt(Rect(1, 2, 3, 4))


def test_getters():
    r = Rect(1, 2, 3, 4.5)
    assert r.get_width() == 3 and r.get_height() == 4.5
    assert r.get_tuple() == (1, 2, 3, 4.5)
    v = r.get_vector4()
    assert type(v) is Vector4 and (v.x, v.y, v.z, v.w) == (1, 2, 3, 4.5)


# ---------------------------------------------------------------------------------------------
# Collisions

UNIT = Rect(0, 0, 10, 10)


@pytest.mark.parametrize(
    "point, inside",
    [
        ((0, 0), True), ((10, 10), True), ((10, 5), True), ((5, 5), True),
        ((10.001, 5), False), ((-0.001, 5), False), ((5, 10.5), False), ((5, -1), False),
        ((NAN, 0), False), ((0, NAN), False), ((INF, 0), False),
    ],
)
def test_point_tests_are_inclusive_on_every_path(point, inside):
    assert UNIT.collide_point(point) is inside
    assert UNIT.collide_point(list(point)) is inside
    assert UNIT.collide_point(Vector2(*point)) is inside
    assert UNIT.collide_point_tuple(point) is inside
    assert UNIT.collide_point_list(list(point)) is inside
    assert UNIT.collide_point_vector2(Vector2(*point)) is inside


@pytest.mark.parametrize(
    "rect, point, inside",
    [
        (Rect(5, 0, 0, 10), (5, 3), True),  # a zero width keeps its edge line
        (Rect(5, 0, 0, 10), (5.001, 3), False),
        (Rect(5, 5, -2, 2), (4, 6), False),  # a negative width contains nothing
        (Rect(5, 5, -2, 2), (5, 6), False),
    ],
)
def test_point_tests_on_degenerate_rects(rect, point, inside):
    assert rect.collide_point(point) is inside
    assert rect.collide_point_tuple(point) is inside


@pytest.mark.parametrize(
    "other, overlap",
    [
        ((10, 0, 5, 5), False),  # touching edges do not collide
        ((9.5, 0, 5, 5), True),
        ((0, 10, 5, 5), False),
        ((-5, -5, 5, 5), False),
        ((-5, -5, 5.5, 5.5), True),
        ((2, 2, 1, 1), True),
        ((-1, -1, 20, 20), True),
        ((5, 5, 0, 0), True),  # an empty rect strictly inside
        ((10, 5, 0, 0), False),  # an empty rect on the edge
        ((NAN, 0, 5, 5), False),
    ],
)
def test_rect_tests_are_strict_on_every_path(other, overlap):
    expected = overlap
    assert UNIT.collide_rect(other) is expected
    assert UNIT.collide_rect(list(other)) is expected
    assert UNIT.collide_rect(Rect(*other)) is expected
    assert UNIT.collide_rect(Vector4(*other)) is expected
    assert UNIT.collide_rect_tuple(other) is expected
    assert UNIT.collide_rect_list(list(other)) is expected
    assert UNIT.collide_rect_rect(Rect(*other)) is expected
    assert UNIT.collide_rect_vector4(Vector4(*other)) is expected


def test_zero_width_rect_collides_with_a_rect_spanning_it():
    assert Rect(5, 0, 0, 10).collide_rect((0, 0, 10, 10)) is True
    assert Rect(5, 0, 0, 10).collide_rect((5, 0, 10, 10)) is False


def test_typed_paths_compare_with_the_interpreters_own_rules():
    wide = Rect(0, 0, 2.0**53, 1)
    # the dispatcher rounds 2**53 + 1 to a double first; the typed method compares it exactly
    assert wide.collide_point((2**53 + 1, 0)) is True
    assert wide.collide_point_tuple((2**53 + 1, 0)) is False
    assert wide.collide_point_tuple((Fraction(1, 3), Fraction(1, 2))) is True
    assert UNIT.collide_rect_tuple((Fraction(-1), 0, Fraction(3, 2), 1)) is True
    with pytest.raises(TypeError, match="not supported between"):
        UNIT.collide_point_tuple(("a", 0))
    with pytest.raises(TypeError, match="must be real number"):
        UNIT.collide_point(("a", 0))


def test_typed_rect_test_adds_in_32_bits():
    other = Rect(0.75, 0, 0.25 + 2**-25, 5)  # its right edge is 1 in floats, just over 1 in doubles
    assert Rect(1, 0, 5, 5).collide_rect_rect(other) is False
    assert Rect(1, 0, 5, 5).collide_rect(other) is True


def test_typed_tests_read_coordinates_lazily():
    reads = []

    class V4(Vector4):
        def __getattribute__(self, name):
            reads.append(name)
            return object.__getattribute__(self, name)

    assert UNIT.collide_rect_vector4(V4(20, 0, 1, 1)) is False
    assert reads == ["x", "z", "x"]
    reads.clear()
    assert UNIT.collide_rect_vector4(V4(2, 2, 1, 1)) is True
    assert reads == ["x", "z", "x", "y", "w", "y"]


@pytest.mark.parametrize(
    "method, argument, error, message",
    [
        ("collide_point", [1, 2, 3], ValueError, "Point must be a Vector2, tuple, or list of length 2"),
        ("collide_point", 5, ValueError, "Point must be a Vector2, tuple, or list of length 2"),
        ("collide_point", None, ValueError, "Point must be a Vector2, tuple, or list of length 2"),
        ("collide_point", Vector4(1, 2, 3, 4), ValueError, "Point must be a Vector2, tuple, or list of length 2"),
        ("collide_rect", (1, 2, 3), ValueError, "rect for collision must be a Rect, Vector4, tuple, or list of length 4"),
        ("collide_rect", Vector2(1, 2), ValueError, "rect for collision must be a Rect, Vector4, tuple, or list of length 4"),
        ("collide_rect", None, ValueError, "rect for collision must be a Rect, Vector4, tuple, or list of length 4"),
        ("collide_point_tuple", [1, 2], TypeError, "Argument 'point' has incorrect type (expected tuple, got list)"),
        ("collide_point_list", (1, 2), TypeError, "Argument 'point' has incorrect type (expected list, got tuple)"),
        ("collide_rect_tuple", [1, 2, 3, 4], TypeError, "Argument 'other' has incorrect type (expected tuple, got list)"),
        ("collide_rect_list", "abcd", TypeError, "Argument 'other' has incorrect type (expected list, got str)"),
        ("collide_point_vector2", (1, 2), TypeError,
         "Argument 'point' has incorrect type (expected tavoro.vector2.vector2.Vector2, got tuple)"),
        ("collide_point_vector2", None, TypeError,
         "Argument 'point' has incorrect type (expected tavoro.vector2.vector2.Vector2, got NoneType)"),
        ("collide_rect_vector4", None, TypeError,
         "Argument 'other' has incorrect type (expected tavoro.vector4.vector4.Vector4, got NoneType)"),
        ("collide_rect_rect", None, TypeError,
         "Argument 'other' has incorrect type (expected tavoro.rect.rect.Rect, got NoneType)"),
        ("collide_rect_rect", (1, 2, 3, 4), TypeError,
         "Argument 'other' has incorrect type (expected tavoro.rect.rect.Rect, got tuple)"),
        ("collide_point_tuple", None, TypeError, "'NoneType' object is not subscriptable"),
        ("collide_point_list", None, TypeError, "'NoneType' object is not subscriptable"),
        ("collide_rect_tuple", None, TypeError, "'NoneType' object is not subscriptable"),
        ("collide_rect_list", None, TypeError, "'NoneType' object is not subscriptable"),
        ("collide_point_tuple", (5,), IndexError, "tuple index out of range"),
        ("collide_point_list", [5], IndexError, "list index out of range"),
        ("collide_rect_tuple", (1, 2), IndexError, "tuple index out of range"),
        ("collide_rect_list", [1, 2, 3], IndexError, "list index out of range"),
    ],
)
def test_collision_refusals(method, argument, error, message):
    with pytest.raises(error) as raised:
        getattr(UNIT, method)(argument)
    assert str(raised.value) == message


def test_typed_sequence_methods_reject_subclasses_that_the_dispatchers_accept():
    class T(tuple):
        pass

    assert UNIT.collide_point(T((1, 2))) is True
    with pytest.raises(TypeError, match="expected tuple, got T"):
        UNIT.collide_point_tuple(T((1, 2)))


def test_collision_methods_take_keywords_and_check_counts():
    assert UNIT.collide_point(point=(1, 1)) is True
    assert UNIT.collide_rect(other=(1, 1, 1, 1)) is True
    with pytest.raises(TypeError, match=r"^collide_point\(\) takes exactly 1 positional argument \(0 given\)$"):
        UNIT.collide_point()
    with pytest.raises(TypeError, match="unexpected keyword argument 'other'"):
        UNIT.collide_point(other=(1, 1))


# ---------------------------------------------------------------------------------------------
# The native table and overrides


def test_new_slot_makes_an_exact_rect():
    new = native_slot(Rect, 0, ctypes.py_object, RectangleRecord)
    r = new(RectangleRecord(1, 2, 3, 4))
    assert type(r) is Rect and tuple(r) == (1, 2, 3, 4)


class Recording(Rect):
    calls = []

    def collide_point(self, point):
        Recording.calls.append(point)
        return [1]  # truthy, not a bool

    def get_tuple(self):
        return 7


def test_flag_0_reaches_a_subclass_override():
    collide_point = predicate_slot(3)
    r = Recording(0, 0, 1, 1)
    Recording.calls.clear()
    assert collide_point(r, (5, 5), 0) == 1
    assert Recording.calls == [(5, 5)]
    assert collide_point(r, (5, 5), 1) == 0  # the own code: (5, 5) is outside
    assert collide_point(Rect(0, 0, 1, 1), (5, 5), 0) == 0
    assert Recording.calls == [(5, 5)]


def test_override_errors_and_results_are_checked():
    class Failing(Rect):
        def collide_rect(self, other):
            raise KeyError("boom")

    with pytest.raises(KeyError, match="boom"):
        predicate_slot(7)(Failing(), (1, 1, 1, 1), 0)
    get_tuple = native_slot(Rect, 13, ctypes.py_object, ctypes.py_object, ctypes.c_int)
    with pytest.raises(TypeError, match="^Expected tuple, got int$"):
        get_tuple(Recording(), 0)
    assert get_tuple(Recording(1, 2, 3, 4), 1) == (1, 2, 3, 4)


def test_native_typed_slots_refuse_none():
    with pytest.raises(TypeError, match="expected tavoro.vector2.vector2.Vector2, got NoneType"):
        predicate_slot(4)(UNIT, None, 1)
    with pytest.raises(TypeError, match="'NoneType' object is not subscriptable"):
        predicate_slot(10)(UNIT, None, 1)
    assert predicate_slot(9)(UNIT, Rect(1, 1, 1, 1), 1) == 1


def test_the_python_methods_call_their_own_code_for_subclasses():
    class Sub(Rect):
        pass

    s = Sub(0, 0, 10, 10)
    assert s.collide_point((10, 10)) is True
    assert math.isclose(s.centerx, 5)
