"""Geometry of the vector types: rotation, angles, interpolation, reflection, projection, length
control and polar form, with their edges; and lengths across the whole 32-bit range."""

import math
import random
import struct
from fractions import Fraction

import pytest

from tavoro.vector2.vector2 import Vector2
from tavoro.vector3.vector3 import Vector3

both = pytest.mark.parametrize("V", [Vector2, Vector3], ids=["Vector2", "Vector3"])
inf, nan = math.inf, math.nan
FLOAT32_MAX = 3.4028234663852886e38


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def mk(V, *components):
    return V(*components[: len(V())])


def close(v, *expected, tol=1e-6):
    return all(math.isclose(a, b, rel_tol=tol, abs_tol=tol) for a, b in zip(v, expected))


def exact(v, *expected):
    """Bit-for-bit, telling -0.0 from 0.0."""
    return [(c, math.copysign(1, c)) for c in v] == [(f32(e), math.copysign(1, e)) for e in expected[: len(v)]]


# ---------------------------------------------------------------------------------------------
# Lengths and normals of large and small vectors


@both
@pytest.mark.parametrize("c", [1e20, 1e-23, FLOAT32_MAX, 1e-45], ids=["1e20", "1e-23", "max", "subnormal"])
def test_length_and_normal_across_the_float32_range(V, c):
    v = mk(V, c, 0, 0)
    assert v.length == f32(c)
    assert v.length_squared() == f32(c) ** 2
    assert tuple(v.get_normalized()) == tuple(mk(V, 1, 0, 0))
    assert close(mk(V, c, c, c).get_normalized(), *[1 / math.sqrt(len(v))] * 3)


@both
@pytest.mark.parametrize("c", [(1, 1, 2), (1, 3, 0), (1, 4, 0), (0.1, 0.2, 0.3)])
def test_length_is_the_32_bit_root_and_normals_divide_by_it(V, c):
    v = mk(V, *c)
    length = f32(math.sqrt(sum(x * x for x in v)))
    assert v.length == length
    assert tuple(v.get_normalized()) == tuple(f32(x * (1 / length)) for x in v)


# ---------------------------------------------------------------------------------------------
# Rotation


@pytest.mark.parametrize(
    "method, angle, expected",
    [("get_rotated", 90, (-0.0, 1)), ("get_rotated", 450, (-0.0, 1)), ("get_rotated", -270, (-0.0, 1)),
     ("get_rotated", 180, (-1, -0.0)), ("get_rotated", -90, (0.0, -1)), ("get_rotated", -720, (1, 0)),
     ("get_rotated", 360 * 10**9, (1, 0)), ("get_rotated_rad", math.pi / 2, (-0.0, 1)),
     ("get_rotated_rad", math.pi, (-1, -0.0)),
     ("get_rotated", 1e20, (math.cos(math.radians(280)), math.sin(math.radians(280)))),
     ("get_rotated_rad", 0.5, (math.cos(0.5), math.sin(0.5))),
     ("get_rotated_rad", 1e308, (math.cos(1e308), math.sin(1e308)))],
)
def test_vector2_rotation_reduces_whole_turns_exactly(method, angle, expected):
    got = getattr(Vector2(1, 0), method)(angle)
    assert exact(got, *expected) if isinstance(angle, int) or angle in (math.pi / 2, math.pi) else close(got, *expected)


@pytest.mark.parametrize(
    "method, args, expected",
    [("rotated", (90, Vector3(0, 0, 5)), (0, 1, 0)),
     ("rotated", (120, Vector3(1, 1, 1)), (0, 1, 0)),
     ("rotated_rad", (math.pi / 2, Vector3(0, 0, -1)), (0, -1, 0)),
     ("rotated_x", (90,), (1, 0, 0)),
     ("rotated_y", (90,), (0, 0, -1)),
     ("rotated_z", (90,), (0, 1, 0)),
     ("rotated_z_rad", (math.pi,), (-1, 0, 0)),
     ("rotated_x_rad", (math.pi / 2,), (1, 0, 0))],
)
def test_vector3_rotation(method, args, expected):
    v = Vector3(1, 0, 0)
    got = getattr(v, "get_" + method)(*args)
    assert close(got, *expected) and tuple(v) == (1, 0, 0)
    assert getattr(v, "to_" + method)(*args) is v and tuple(v) == tuple(got)


# ---------------------------------------------------------------------------------------------
# Angles


@pytest.mark.parametrize(
    "a, b, expected",
    [((1, 0), (0, 1), 90), ((1, 0), (0, -2), -90), ((1, 0), (-1, 0), 180), ((1, 0), (-1, -0.0), 180),
     ((-1, -0.1), (-1, 0.1), -math.degrees(2 * math.atan(f32(0.1)))), ((1, 0), (1, 1e-7), math.degrees(f32(1e-7)))],
)
def test_vector2_angle_is_signed_within_a_half_turn(a, b, expected):
    assert math.isclose(Vector2(*a).angle_to(Vector2(*b)), expected, rel_tol=1e-12)


@pytest.mark.parametrize("b, expected", [((0, -3, 0), 90), ((-2, 0, 0), 180), ((5, 0, 0), 0), ((1, 1, 0), 45)])
def test_vector3_angle_is_unsigned(b, expected):
    assert math.isclose(Vector3(1, 0, 0).angle_to(Vector3(*b)), expected, abs_tol=1e-12)


def arctan_inverse(n, bits):
    """arctan(1/n) · 2^bits, by its series in integers."""
    total, term, k = 0, (1 << bits) // n, 0
    while term:
        total += (-1) ** k * (term // (2 * k + 1))
        term, k = term // (n * n), k + 1
    return total


# π/2 to 2,400 bits (Machin's formula): x / (π/2) for the largest double still has 1,300 right.
QUARTER_TURN = Fraction(8 * arctan_inverse(5, 2400) - 2 * arctan_inverse(239, 2400), 1 << 2400)


def exact_turn(x):
    """cos and sin of the double x, reduced modulo π/2 as the exact rational it is."""
    k = round(Fraction(x) / QUARTER_TURN)
    rest = float(Fraction(x) - k * QUARTER_TURN)
    c, s = math.cos(rest), math.sin(rest)
    return [(c, s), (-s, c), (-c, -s), (s, -c)][k % 4]


# Up to about 1e9 radians the old conversion through degrees was right to 32 bits; past that it
# drifted, and from 1e14 on it was plainly wrong. 6381956970095103 · 2^797 is the double closest
# to a multiple of π/2.
LARGE_RADIANS = [1025.0, 1e9, 2.0**40 + 0.5, 1e14, 1e17, 1e22, 1e100, 1e200, 1e300,
                 1.7976931348623157e308, 6381956970095103 * 2.0**797,
                 *(random.Random(7).uniform(1, 2) * 2.0**k for k in range(11, 1024, 13))]


@pytest.mark.parametrize("sign", [1, -1])
def test_large_radians_turn_by_the_exact_double(sign):
    wrong = []
    for x in LARGE_RADIANS:
        c, s = exact_turn(sign * x)
        for got in (tuple(Vector2(1, 0).get_rotated_rad(sign * x)),
                    tuple(Vector3(1, 0, 0).get_rotated_z_rad(sign * x))[:2]):
            if not all(math.isclose(a, b, rel_tol=2**-23, abs_tol=1e-300) for a, b in zip(got, (c, s))):
                wrong.append((sign * x, got, (c, s)))
    assert wrong == []


# ---------------------------------------------------------------------------------------------
# Interpolation


@both
@pytest.mark.parametrize("t, expected", [(0, (0.1, -7, 3)), (1, (1e30, 0.3, -2)), (0.5, None), (2, None)])
def test_lerp_ends_exactly_and_extrapolates(V, t, expected):
    a, b = mk(V, 0.1, -7, 3), mk(V, 1e30, 0.3, -2)
    got = a.get_lerp(b, t)
    want = expected or [x + (y - x) * t for x, y in zip(a, b)]
    assert tuple(got) == tuple(mk(V, *want)) if expected else close(got, *want)


@both
@pytest.mark.parametrize(
    "a, b, t, expected",
    [((1, 0, 0), (0, 3, 0), 0.5, (math.sqrt(2), math.sqrt(2), 0)),
     ((2, 0, 0), (4, 0, 0), 0.25, (2.5, 0, 0)),
     ((1, 0, 0), (0, 1, 0), 2, (-1, 0, 0))],
)
def test_slerp_turns_the_direction_and_interpolates_the_length(V, a, b, t, expected):
    assert close(mk(V, *a).get_slerp(mk(V, *b), t), *expected)


@both
@pytest.mark.parametrize("t", [1e200, -1e300, 1e306])
def test_slerp_far_out_keeps_equal_lengths(V, t):
    assert math.isclose(mk(V, 1, 0, 0).get_slerp(mk(V, 0, 1, 0), t).length, 1, rel_tol=1e-6)


@both
@pytest.mark.parametrize("b, t", [((0, 1, 0), 1e307), ((0, 1, 0), -1e307), ((0, 2, 0), 1e200),
                                  ((0, 2, 0), 1e39)])
def test_slerp_refuses_a_turn_or_length_out_of_range(V, b, t):
    with pytest.raises(ValueError, match="^t is too large for slerp: the turn or the length it "
                                         "extrapolates to is out of range$"):
        mk(V, 1, 0, 0).get_slerp(mk(V, *b), t)


def test_vector2_slerp_between_opposites_turns_counter_clockwise():
    assert exact(Vector2(2, 0).get_slerp(Vector2(-2, 0), 0.5), -0.0, 2)


# ---------------------------------------------------------------------------------------------
# Reflection, projection, length control


@both
@pytest.mark.parametrize(
    "method, a, arg, expected",
    [("reflected", (1, 1, 0), (0, 2, 0), (1, -1, 0)),
     ("reflected", (3, -4, 5), (1e-20, 0, 0), (-3, -4, 5)),
     ("projected", (1, 1, 7), (0, 2, 0), (0, 1, 0)),
     ("projected", (2, 0, 0), (1e20, 1e20, 0), (1, 1, 0))],
)
def test_reflection_and_projection_take_any_non_zero_vector(V, method, a, arg, expected):
    assert close(getattr(mk(V, *a), "get_" + method)(mk(V, *arg)), *expected)


@both
@pytest.mark.parametrize(
    "max_distance, expected",
    [(3, (3, 0, 0)), (10, (10, 0, 0)), (1e9, (10, 0, 0)), (inf, (10, 0, 0)), (-3, (-3, 0, 0))],
)
def test_move_towards(V, max_distance, expected):
    assert tuple(mk(V, 0, 0, 0).get_moved_towards(mk(V, 10, 0, 0), max_distance)) == tuple(mk(V, *expected))


# Stepping away: from the target itself there is no way away, and an infinite step is infinite
# only along the way to the target.
@both
@pytest.mark.parametrize(
    "a, target, max_distance, expected",
    [((1, 1, 1), (1, 1, 1), -1, (1, 1, 1)), ((1, 1, 1), (1, 1, 1), -inf, (1, 1, 1)),
     ((1, 1, 1), (2, 1, 1), -inf, (-inf, 1, 1)), ((1, 1, 1), (1, 1, 0), -inf, (1, 1, inf))],
)
def test_move_away_leaves_no_nan(V, a, target, max_distance, expected):
    v = mk(V, *a)
    assert tuple(v.get_moved_towards(mk(V, *target), max_distance)) == tuple(mk(V, *expected))
    assert v.to_moved_towards(mk(V, *target), max_distance) is v and tuple(v) == tuple(mk(V, *expected))


@both
@pytest.mark.parametrize(
    "method, a, arg, expected",
    [("clamped_magnitude", (3, 4, 0), 2, (1.2, 1.6, 0)),
     ("clamped_magnitude", (3, 4, 0), 5, (3, 4, 0)),
     ("clamped_magnitude", (0, 0, 0), 0, (0, 0, 0)),
     ("clamped_magnitude", (1e38, 1e38, 0), inf, (1e38, 1e38, 0)),
     ("scaled_to_length", (3, 4, 0), 10, (6, 8, 0)),
     ("scaled_to_length", (3, 4, 0), -10, (-6, -8, 0)),
     ("scaled_to_length", (1e-40, 0, 0), 1, (1, 0, 0))],
)
def test_length_control(V, method, a, arg, expected):
    assert close(getattr(mk(V, *a), "get_" + method)(arg), *expected)


# ---------------------------------------------------------------------------------------------
# Vector2's cross product and polar form


def test_vector2_cross_and_polar_form():
    assert Vector2(1, 0).cross(Vector2(0, 2)) == 2.0 and Vector2(0, 2).cross(Vector2(1, 0)) == -2.0
    assert Vector2(0, 0).as_polar() == (0.0, 0.0) and Vector2(-0.0, -0.0).as_polar() == (0.0, 0.0)
    assert Vector2(-1, -0.0).as_polar() == (1.0, 180.0)
    assert exact(Vector2.from_polar(2, 90), -0.0, 2) and exact(Vector2.from_polar(2, -360 * 7), 2, 0)
    r, phi = Vector2(-3, 4).as_polar()
    assert close(Vector2.from_polar(r, phi), -3, 4)


# ---------------------------------------------------------------------------------------------
# Refusals: the edges with no answer, and arguments of the wrong type. A refused to_... call
# leaves the receiver as it was.

ZERO, NAN, INF = (0, 0, 0), (nan, 1, 1), (inf, 1, 1)


@both
@pytest.mark.parametrize(
    "method, a, args, message",
    [("angle_to", (1, 0, 0), [ZERO], "An angle needs two non-zero vectors of finite components"),
     ("angle_to", ZERO, [(1, 0, 0)], "An angle needs two non-zero vectors of finite components"),
     ("angle_to", NAN, [(1, 0, 0)], "An angle needs two non-zero vectors of finite components"),
     ("to_lerp", (1, 0, 0), [(0, 1, 0), nan], "The interpolation factor t must be a finite number"),
     ("to_slerp", (1, 0, 0), [(0, 1, 0), inf], "The interpolation factor t must be a finite number"),
     ("to_slerp", (1, 0, 0), [ZERO, 0.5], "slerp needs two non-zero vectors of finite components"),
     ("to_slerp", INF, [(1, 0, 0), 0.5], "slerp needs two non-zero vectors of finite components"),
     ("to_reflected", (1, 0, 0), [ZERO], "The normal must be a non-zero vector of finite components"),
     ("to_reflected", (1, 0, 0), [INF], "The normal must be a non-zero vector of finite components"),
     ("to_projected", (1, 0, 0), [ZERO], "Cannot project onto a zero vector or one with non-finite components"),
     ("to_moved_towards", (1, 0, 0), [(0, 1, 0), nan], "max_distance must not be NaN"),
     ("to_moved_towards", INF, [(0, 1, 0), 1], "move_towards needs vectors of finite components"),
     ("to_clamped_magnitude", (1, 0, 0), [-1], "max_length must be zero or more"),
     ("to_clamped_magnitude", (1, 0, 0), [nan], "max_length must be zero or more"),
     ("to_clamped_magnitude", NAN, [1], "Cannot clamp the length of a vector with non-finite components"),
     ("to_scaled_to_length", ZERO, [1], "Cannot scale a zero vector or one with non-finite components to a length"),
     ("to_scaled_to_length", (1, 0, 0), [inf], "The length must be a finite number"),
     ("to_rotated_rad", (1, 0, 0), "angle", "The angle must be a finite number")],
)
def test_edges_without_an_answer_raise_value_error(V, method, a, args, message):
    if args == "angle":  # Vector3's rotation takes an axis as well
        args = [inf] if V is Vector2 else [nan, (0, 0, 1)]
    v = mk(V, *a)
    before = [struct.pack("f", c) for c in v]
    converted = [mk(V, *x) if isinstance(x, tuple) else x for x in args]
    with pytest.raises(ValueError) as caught:
        getattr(v, method)(*converted)
    assert str(caught.value) == message
    assert [struct.pack("f", c) for c in v] == before


def test_opposite_vector3s_have_no_slerp_and_a_zero_axis_no_rotation():
    with pytest.raises(ValueError, match="^slerp between opposite vectors has no single path"):
        Vector3(1, 2, 3).get_slerp(Vector3(-2, -4, -6), 0.5)
    with pytest.raises(ValueError, match="^The rotation axis must be a non-zero vector of finite components$"):
        Vector3(1, 2, 3).get_rotated(90, Vector3(0, 0, 0))
    for bad in (nan, inf, -inf):
        with pytest.raises(ValueError, match="^from_polar needs a finite length and angle$"):
            Vector2.from_polar(bad, 0)
        with pytest.raises(ValueError, match="^Polar form needs a vector of finite components$"):
            Vector2(bad, 0).as_polar()


@both
@pytest.mark.parametrize("method", ["angle_to", "get_lerp", "to_slerp", "get_reflected", "to_projected", "get_moved_towards"])
@pytest.mark.parametrize("other", [None, (1, 2, 3), "xy"], ids=["None", "tuple", "str"])
def test_vector_arguments_refuse_other_types(V, method, other):
    name = {"get_reflected": "normal", "get_moved_towards": "target"}.get(method, "other")
    args = [other] + ([0.5] if method in ("get_lerp", "to_slerp", "get_moved_towards") else [])
    with pytest.raises(TypeError) as caught:
        getattr(mk(V, 1, 2, 3), method)(*args)
    assert str(caught.value) == (
        f"Argument '{name}' has incorrect type (expected {V.__module__}.{V.__name__}, got {type(other).__name__})")


def test_a_string_angle_is_refused_by_the_float_conversion():
    with pytest.raises(TypeError, match="must be real number, not str"):
        Vector2(1, 2).get_rotated("90")
