"""Arithmetic, comparison and geometry of the vector types, checked on both sizes.

Cases are written with three components; a Vector2 takes the first two.
"""

import itertools
import math
import operator
import struct

import pytest

from tavoro.vector2.vector2 import Vector2
from tavoro.vector3.vector3 import Vector3

SIZE = {Vector2: 2, Vector3: 3}
both = pytest.mark.parametrize("V", [Vector2, Vector3], ids=["Vector2", "Vector3"])
inf, nan = math.inf, math.nan


def f32(x):
    """x narrowed to a 32-bit float and widened back."""
    return struct.unpack("f", struct.pack("f", x))[0]


def mk(V, *components):
    return V(*components[: SIZE[V]])


def same(got, *expected):
    """Bit-for-bit agreement of a vector with the leading `expected` components, each narrowed to
    32 bits, telling -0.0 from 0.0 and taking any NaN as NaN."""
    expected = [f32(e) for e in expected[: len(got)]]
    return len(got) == len(expected) and all(
        (math.isnan(a) and math.isnan(b)) or (a == b and math.copysign(1, a) == math.copysign(1, b))
        for a, b in zip(tuple(got), expected)
    )


def incorrect_type(V, got, argument="other"):
    return f"Argument '{argument}' has incorrect type (expected {V.__module__}.{V.__name__}, got {got})"


# ---------------------------------------------------------------------------------------------
# Binary operators


@both
@pytest.mark.parametrize("by_name", [False, True], ids=["operator", "dunder"])
@pytest.mark.parametrize(
    "op, left, right, expected",
    [
        ("add", (1, 2, 3), (4, 5, 6), (5, 7, 9)),
        ("sub", (1, 2, 3), (3, 4, 1), (-2, -2, 2)),
        ("mul", (1, 2, 3), (3, 4, 5), (3, 8, 15)),
        ("mul", (1, 2, 3), 2, (2, 4, 6)),
        ("mul", (1, -2, 3), True, (1, -2, 3)),
        ("mul", (1, 2, 3), 1e39, (inf, inf, inf)),  # narrowed on store
        ("truediv", (1, 2, 3), (2, 8, 4), (0.5, 0.25, 0.75)),
        ("truediv", (1, -1, 0), (0, 0, 0), (inf, -inf, nan)),
        ("truediv", (1, 0, -1), 0, (inf, nan, -inf)),
        ("truediv", (0, -1, 1), 0.0, (nan, -inf, inf)),
        ("floordiv", (7, -7, 7.5), 2, (3, -4, 3)),
        ("floordiv", (7, -7, 9), (2, 2, -4), (3, -4, -3)),
        ("floordiv", (1, -1, 0), 0, (inf, -inf, nan)),
        ("floordiv", (1, -1, 0), (0, 0, 0), (inf, -inf, nan)),
    ],
)
def test_binary_operators(V, by_name, op, left, right, expected):
    v = mk(V, *left)
    w = mk(V, *right) if isinstance(right, tuple) else right
    result = getattr(v, f"__{op}__")(w) if by_name else getattr(operator, op)(v, w)
    assert type(result) is V and result is not v
    assert same(result, *expected)
    assert same(v, *left)


@both
def test_negation_flips_the_sign_bit(V):
    v = mk(V, 0, 1, -2)
    assert same(-v, -0.0, -1, 2) and same(v, 0, 1, -2)


@both
@pytest.mark.parametrize("op", ["add", "sub"])
@pytest.mark.parametrize("other", [1, 2.5, (1, 2, 3), None, "ab"])
def test_additive_refuse_non_vectors(V, op, other):
    v = mk(V, 1, 2, 3)
    for call in (lambda: getattr(operator, op)(v, other), lambda: getattr(v, f"__{op}__")(other)):
        with pytest.raises(TypeError) as raised:
            call()
        assert str(raised.value) == incorrect_type(V, type(other).__name__)


def test_additive_refuse_the_other_size():
    with pytest.raises(TypeError, match=r"expected tavoro\.vector2\.vector2\.Vector2, got tavoro"):
        Vector2(1, 2) + Vector3(1, 2, 3)
    with pytest.raises(TypeError, match=r"expected tavoro\.vector3\.vector3\.Vector3, got tavoro"):
        Vector3(1, 2, 3) - Vector2(1, 2)


class Reflecting:
    def __radd__(self, other):
        return "radd"

    def __rmul__(self, other):
        return "rmul"

    def __rtruediv__(self, other):
        return "rtruediv"

    def __rfloordiv__(self, other):
        return "rfloordiv"


@both
def test_addition_never_consults_the_right_operand(V):
    with pytest.raises(TypeError, match="Argument 'other' has incorrect type"):
        mk(V, 1, 2, 3) + Reflecting()


@both
@pytest.mark.parametrize("op, symbol", [("mul", "*"), ("truediv", "/"), ("floordiv", "//")])
def test_multiplicative_return_not_implemented(V, op, symbol):
    v = mk(V, 1, 2, 3)
    for other in (object(), None, "a", (1, 2, 3), 1j):
        assert getattr(v, f"__{op}__")(other) is NotImplemented
    with pytest.raises(TypeError) as raised:
        getattr(operator, op)(v, object())
    assert str(raised.value) == (
        f"unsupported operand type(s) for {symbol}: '{V.__module__}.{V.__name__}' and 'object'"
    )
    assert getattr(operator, op)(v, Reflecting()) == f"r{op}"


@both
@pytest.mark.parametrize("op", ["add", "sub", "mul", "truediv", "floordiv"])
def test_no_reflected_operators(V, op):
    assert not hasattr(V, f"__r{op}__")
    with pytest.raises(TypeError, match="unsupported operand"):
        getattr(operator, op)(2, mk(V, 1, 2, 3))


@both
def test_no_unary_plus_abs_or_truth_of_its_own(V):
    v = mk(V, 0, 0, 0)
    with pytest.raises(TypeError):
        +v
    with pytest.raises(TypeError):
        abs(v)
    assert bool(v) is True


@both
def test_scalar_too_large_for_a_double(V):
    with pytest.raises(OverflowError):
        mk(V, 1, 2, 3) * 10**400


# ---------------------------------------------------------------------------------------------
# Precision: between vectors in 32 bits, with a scalar in double precision


@both
def test_scalar_operations_use_the_double_scalar(V):
    # 7 * 0.3 and 7 / 0.3 round differently when 0.3 is first narrowed to 32 bits.
    c, s = 7.0, 0.3
    assert f32(c * s) != f32(c * f32(s)) and f32(c / s) != f32(c / f32(s))
    v = mk(V, c, c, c)
    assert same(v * s, *[f32(c * s)] * 3)
    assert same(v / s, *[f32(c / s)] * 3)
    # floor(0.7f / 0.1) is 6 in double, while the 32-bit quotient rounds up to 7.
    seven = f32(0.7)
    assert same(mk(V, seven, seven, seven) // 0.1, 6, 6, 6)


@both
def test_vector_floor_division_divides_in_32_bits(V):
    a, b = f32(0.7), f32(0.1)
    assert math.floor(a / b) == 6  # the double quotient would floor to 6
    assert same(mk(V, a, a, a) // mk(V, b, b, b), 7, 7, 7)


@both
def test_dot_sums_in_32_bits(V):
    # 1e8 + 1 is not a 32-bit float: it rounds to 1e8.
    assert mk(V, 1e8, 1, 0).dot(mk(V, 1, 1, 1)) == 1e8


@both
def test_length_sums_the_squares_in_double(V):
    # Summed in 32 bits, these squares round to a sum whose root narrows to another float.
    assert mk(V, 471326, 495186, 0).length == f32(math.sqrt(471326**2 + 495186**2))
    assert mk(V, 1e4, 1, 0).length_squared() == 100000001.0


@both
def test_distances_subtract_in_32_bits_and_square_in_double(V):
    a, origin = mk(V, 1e4, 1, 0), mk(V, 0, 0, 0)
    assert a.distance_squared_to(origin) == 100000001.0
    assert a.distance_to(origin) == math.sqrt(100000001.0)
    # 1e8 - (-1) rounds to 1e8 in 32 bits before squaring.
    assert mk(V, 1e8, 0, 0).distance_squared_to(mk(V, -1, 0, 0)) == 1e16


@both
def test_normalisation_multiplies_by_a_double_reciprocal(V):
    # With a 32-bit reciprocal the components would be 0.7071068286895752.
    assert same(mk(V, 5, 5, 0).get_normalized(), 0.7071067690849304, 0.7071067690849304, 0)


# ---------------------------------------------------------------------------------------------
# In-place operators


@both
@pytest.mark.parametrize(
    "op, expected", [("iadd", (4, 6, 8)), ("isub", (-2, -2, -2)), ("imul", (3, 8, 15))]
)
def test_in_place_operators_change_the_receiver(V, op, expected):
    v = mk(V, 1, 2, 3)
    w = v
    v = getattr(operator, op)(v, mk(V, 3, 4, 5))
    assert v is w and same(w, *expected)
    assert getattr(w, f"__{op}__")(mk(V, 1, 1, 1)) is w


@both
@pytest.mark.parametrize("op", ["itruediv", "ifloordiv"])
def test_division_in_place_rebinds(V, op):
    v = mk(V, 2, 4, 6)
    w = v
    v = getattr(operator, op)(v, 2)
    assert v is not w and same(v, 1, 2, 3) and same(w, 2, 4, 6)


@both
@pytest.mark.parametrize("op", ["iadd", "isub", "imul"])
@pytest.mark.parametrize("other", [2, 2.0, None, (1, 2, 3)])
def test_failed_in_place_leaves_the_receiver(V, op, other):
    v = mk(V, 1, 2, 3)
    with pytest.raises(TypeError) as raised:
        getattr(operator, op)(v, other)
    assert str(raised.value) == incorrect_type(V, type(other).__name__)
    assert same(v, 1, 2, 3)


# ---------------------------------------------------------------------------------------------
# Comparison


@both
@pytest.mark.parametrize(
    "left, right, equal",
    [
        ((1, 2, 3), (1, 2, 3), True),
        ((1, 2, 3), (2, 2, 3), False),
        ((1, 2, 3), (1, 3, 3), False),
        ((0.0, 0.0, 0.0), (-0.0, 0.0, -0.0), True),
        ((0.1, 0, 0), (f32(0.1), 0, 0), True),
        ((nan, 0, 0), (nan, 0, 0), False),
        ((0, nan, 0), (0, 0, 0), False),
    ],
)
def test_equality_is_ieee_on_32_bit_components(V, left, right, equal):
    a, b = mk(V, *left), mk(V, *right)
    assert (a == b) is equal and (a != b) is (not equal)
    assert (a == a) is (a == mk(V, *left))  # no identity shortcut: NaN is unequal to itself


@both
@pytest.mark.parametrize("other", [(1, 2, 3), [1, 2, 3], None, 1, "xyz"])
def test_foreign_objects_are_unequal(V, other):
    v = mk(V, 1, 2, 3)
    assert (v == other) is False and (v != other) is True
    assert v.__eq__(other) is False


def test_vectors_of_the_two_sizes_are_unequal():
    assert (Vector2(1, 2) == Vector3(1, 2, 0)) is False
    assert (Vector3(1, 2, 0) != Vector2(1, 2)) is True


@both
@pytest.mark.parametrize("op", ["lt", "le", "gt", "ge"])
def test_no_ordering(V, op):
    a, b = mk(V, 1, 2, 3), mk(V, 3, 4, 5)
    with pytest.raises(TypeError, match="not supported between instances"):
        getattr(operator, op)(a, b)
    assert getattr(a, f"__{op}__")(b) is NotImplemented


@both
def test_equal_vectors_hash_alike(V):
    assert hash(mk(V, 0.0, -0.0, 1)) == hash(mk(V, -0.0, 0.0, 1))


# ---------------------------------------------------------------------------------------------
# Methods


@both
@pytest.mark.parametrize(
    "name, before, after",
    [
        ("abs", (-0.0, -1.5, 2), (0.0, 1.5, 2)),
        ("neg", (0.0, 1.5, -2), (-0.0, -1.5, 2)),
        ("round", (0.49999997, 2.5, -2.5), (0, 3, -3)),
        ("round", (0.5, -0.5, 1.5), (1, -1, 2)),
        ("round", (-0.49999997, 1e9 + 64, 2.4999998), (-0.0, 1e9 + 64, 2)),
        ("normalized", (0, 0, 0), (0, 0, 0)),
        ("normalized", (3, 4, 0), (f32(0.6), f32(0.8), 0)),
        ("normalized", (-0.0, 0, -0.0), (0, 0, 0)),
    ],
)
def test_to_and_get_pairs(V, name, before, after):
    v = mk(V, *before)
    copy = getattr(v, f"get_{name}")()
    assert type(copy) is V and copy is not v
    assert same(copy, *after) and same(v, *before)
    assert getattr(v, f"to_{name}")() is v
    assert same(v, *after)


@both
def test_normalising_three_four_five_on_any_axes(V):
    if V is Vector3:
        assert same(Vector3(3, 0, 4).get_normalized(), f32(0.6), 0, f32(0.8))
    assert mk(V, 3, 4, 0).get_normalized().length == pytest.approx(1.0, abs=1e-7)


@both
@pytest.mark.parametrize(
    "method, components, expected",
    [
        ("get_tuple", (0.1, -2, 3), (f32(0.1), -2.0, 3.0)),
        ("get_int_tuple", (1.9, -1.9, 0.5), (1, -1, 0)),
        ("get_int_tuple", (2147483520.0, -2147483648.0, 0), (2147483520, -2147483648, 0)),
        ("get_rounded_tuple", (0.5, -0.5, 1.5), (1, -1, 2)),
        ("get_rounded_tuple", (0.49999997, 2.5, -2.5), (0, 3, -3)),
    ],
)
def test_tuples(V, method, components, expected):
    result = getattr(mk(V, *components), method)()
    assert type(result) is tuple and result == expected[: SIZE[V]]
    assert [type(c) for c in result] == [type(c) for c in expected[: SIZE[V]]]


@both
@pytest.mark.parametrize("method", ["get_int_tuple", "get_rounded_tuple"])
@pytest.mark.parametrize(
    "value, error, message",
    [
        (nan, ValueError, "cannot convert float NaN to integer"),
        (inf, OverflowError, "cannot convert float infinity to integer"),
        (-inf, OverflowError, "cannot convert float infinity to integer"),
        (2147483648.0, OverflowError, "value too large to convert to int"),
        (-3e9, OverflowError, "value too large to convert to int"),
    ],
)
def test_int_tuples_refuse_what_int32_cannot_hold(V, method, value, error, message):
    with pytest.raises(error) as raised:
        getattr(mk(V, 0, value, 0), method)()
    assert str(raised.value) == message


@both
def test_sadd(V):
    a, b, u = mk(V, 1, 2, 3), mk(V, 10, 20, 30), mk(V, 7, 7, 7)
    assert u.sadd(a, b) is None
    assert same(u, 11, 22, 33) and same(a, 1, 2, 3) and same(b, 10, 20, 30)
    assert u.sadd(old_vec=a, new_vec=u) is None and same(u, 12, 24, 36)
    u.sadd(u, u)
    assert same(u, 24, 48, 72)


@both
@pytest.mark.parametrize("position", [0, 1])
def test_sadd_refuses_non_vectors(V, position):
    u, args = mk(V, 1, 2, 3), [mk(V, 1, 1, 1), mk(V, 1, 1, 1)]
    args[position] = None
    with pytest.raises(TypeError) as raised:
        u.sadd(*args)
    assert str(raised.value) == incorrect_type(V, "NoneType", ["new_vec", "old_vec"][position])
    assert same(u, 1, 2, 3)


@both
def test_scalar_geometry(V):
    assert mk(V, 0, 0, 0).distance_to(mk(V, 3, 4, 0)) == 5.0
    assert mk(V, 0, 0, 0).distance_squared_to(other=mk(V, 3, 4, 0)) == 25.0
    assert mk(V, 1, 2, 3).dot(mk(V, 3, 4, 5)) == (11.0 if V is Vector2 else 26.0)
    assert mk(V, 3, 4, 0).length == 5.0
    assert type(mk(V, 1, 2, 3).dot(other=mk(V, 1, 1, 1))) is float


@pytest.mark.parametrize(
    "call, value",
    [
        (lambda: Vector3(1, 2, 3).dot(Vector3(4, 5, 6)), 32.0),
        (lambda: Vector3(0, 0, 0).distance_squared_to(Vector3(1, 2, 2)), 9.0),
        (lambda: Vector3(0, 0, 0).distance_to(Vector3(1, 2, 2)), 3.0),
        (lambda: Vector3(3, 0, 4).length, 5.0),
    ],
)
def test_vector3_geometry(call, value):
    assert call() == value


@both
@pytest.mark.parametrize("method", ["distance_to", "distance_squared_to", "dot"])
@pytest.mark.parametrize("other", [None, (1, 2, 3), 1.0])
def test_geometry_refuses_non_vectors(V, method, other):
    with pytest.raises(TypeError) as raised:
        getattr(mk(V, 1, 2, 3), method)(other)
    assert str(raised.value) == incorrect_type(V, type(other).__name__)


@both
def test_length_is_read_only(V):
    with pytest.raises(AttributeError):
        mk(V, 1, 2, 3).length = 1


# ---------------------------------------------------------------------------------------------
# Swizzles of Vector2 (Vector3's are with its own tests)


def test_vector2_swizzles():
    v = Vector2(1, 2)
    for name in ("xx", "yy", "xy", "yx"):
        result = getattr(v, name)
        assert type(result) is Vector2 and result is not v
        assert same(result, *(getattr(v, letter) for letter in name))
        with pytest.raises(AttributeError):
            setattr(v, name, Vector2())
    swizzles = [n for n in vars(Vector2) if len(n) == 2 and set(n) <= set("xy")]
    assert swizzles == ["xx", "yy", "xy", "yx"]
    assert sorted(swizzles) == sorted(map("".join, itertools.product("xy", repeat=2)))


# ---------------------------------------------------------------------------------------------
# Argument counts and keywords


@both
@pytest.mark.parametrize(
    "call, message",
    [
        (lambda v: v.to_round(1), "to_round() takes exactly 0 positional arguments (1 given)"),
        (lambda v: v.get_tuple(1, 2), "get_tuple() takes exactly 0 positional arguments (2 given)"),
        (lambda v: v.to_abs(x=1), "to_abs() got an unexpected keyword argument 'x'"),
        (lambda v: v.dot(), "dot() takes exactly 1 positional argument (0 given)"),
        (lambda v: v.dot(v, v), "dot() takes exactly 1 positional argument (2 given)"),
        (lambda v: v.dot(o=v), "dot() got an unexpected keyword argument 'o'"),
        (lambda v: v.dot(v, other=v), "dot() got multiple values for keyword argument 'other'"),
        (lambda v: v.sadd(v), "sadd() takes exactly 2 positional arguments (1 given)"),
        (lambda v: v.__add__(), "__add__() takes exactly 1 positional argument (0 given)"),
        (lambda v: v.__mul__(v, v), "__mul__() takes exactly 1 positional argument (2 given)"),
    ],
)
def test_argument_messages(V, call, message):
    with pytest.raises(TypeError) as raised:
        call(mk(V, 1, 2, 3))
    assert str(raised.value) == message
