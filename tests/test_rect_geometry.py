"""Rect's named points and size, the to_/get_ pairs for moving and resizing, contains and
clip_line: results, argument forms and the edges (negative sizes, NaN, infinities, empty
rectangles)."""

import math
import random
import struct
from fractions import Fraction

import numpy
import pytest

from tavoro.rect.rect import Rect
from tavoro.vector2.vector2 import Vector2
from tavoro.vector4.vector4 import Vector4

NAN = float("nan")
INF = float("inf")


def same(a, b):
    """Tuples equal value by value, NaN equal to NaN."""
    return len(a) == len(b) and all(x == y or (math.isnan(x) and math.isnan(y)) for x, y in zip(a, b))


# ---------------------------------------------------------------------------------------------
# Named points and size


@pytest.mark.parametrize(
    "name, expected",
    [
        ("topleft", (10, 20)), ("topright", (40, 20)), ("bottomleft", (10, 60)),
        ("bottomright", (40, 60)), ("midtop", (25, 20)), ("midbottom", (25, 60)),
        ("midleft", (10, 40)), ("midright", (40, 40)), ("size", (30, 40)),
    ],
)
def test_named_points_read_as_new_vector2s(name, expected):
    r = Rect(10, 20, 30, 40)
    value = getattr(r, name)
    assert type(value) is Vector2 and tuple(value) == expected
    assert getattr(r, name) is not value


@pytest.mark.parametrize(
    "name, value, expected",
    [
        ("topleft", (0, 0), (0, 0, 30, 40)),
        ("topright", Vector2(100, 0), (70, 0, 30, 40)),
        ("bottomleft", [0, 100], (0, 60, 30, 40)),
        ("bottomright", (100, 100), (70, 60, 30, 40)),
        ("midtop", (50, 0), (35, 0, 30, 40)),
        ("midbottom", (50, 100), (35, 60, 30, 40)),
        ("midleft", (0, 50), (0, 30, 30, 40)),
        ("midright", (100, 50), (70, 30, 30, 40)),
        ("size", (5, 6), (10, 20, 5, 6)),
        ("size", {0: -1, 1: 2.5}, (10, 20, -1, 2.5)),
    ],
)
def test_named_points_move_and_size_resizes(name, value, expected):
    r = Rect(10, 20, 30, 40)
    setattr(r, name, value)
    assert r.get_tuple() == expected


def test_named_points_agree_with_the_edge_properties():
    # Far edges in 32-bit floats as `right` reads them, middles in doubles as `center` reads them.
    r = Rect(0.1, 0.2, 0.7, 1e-3)
    assert tuple(r.bottomright) == (r.right, r.bottom)
    assert tuple(r.midleft) == (r.x, Vector2(0, r.centery).y)
    assert tuple(r.midtop) == tuple(Vector2(r.centerx, r.y))


def test_an_infinite_size_keeps_the_near_corner():
    r = Rect(1, 2, INF, INF)
    assert tuple(r.topleft) == (1, 2)
    assert tuple(r.bottomright) == (INF, INF)
    r.topleft = (5, 6)
    assert r.get_tuple() == (5, 6, INF, INF)


@pytest.mark.parametrize("name", ["topleft", "midright", "size"])
@pytest.mark.parametrize("value, error", [(None, TypeError), ((1,), IndexError), (("a", 1), TypeError), (5, TypeError)])
def test_failed_point_writes_change_nothing(name, value, error):
    r = Rect(1, 2, 3, 4)
    with pytest.raises(error):
        setattr(r, name, value)
    assert r.get_tuple() == (1, 2, 3, 4)
    with pytest.raises(NotImplementedError):
        delattr(r, name)


# ---------------------------------------------------------------------------------------------
# The to_/get_ pairs

PAIRS = [
    # name, arguments, result from Rect(0, 0, 10, 10)
    ("moved", (1, -2), (1, -2, 10, 10)),
    ("moved", ((1, -2),), (1, -2, 10, 10)),
    ("moved", (Vector2(1, -2),), (1, -2, 10, 10)),
    ("inflated", (4, -2), (-2, 1, 14, 8)),
    ("inflated", ([-30, 0],), (15, 0, -20, 10)),
    ("scaled", (2,), (-5, -5, 20, 20)),
    ("scaled", (2, 0.5), (-5, 2.5, 20, 5)),
    ("scaled", ((-2, 0),), (-5, 5, 20, 0)),
    ("clamped", ((20, 20, 100, 100),), (20, 20, 10, 10)),
    ("clamped", ((-100, -100, 95, 95),), (-15, -15, 10, 10)),
    ("clamped", ((0, 0, 5, 50),), (-2.5, 0, 10, 10)),
    ("clamped", ((2, 2, 20, 20),), (2, 2, 10, 10)),
    ("union", (Rect(20, -5, 5, 5),), (0, -5, 25, 15)),
    ("union", ((2, 2, 1, 1),), (0, 0, 10, 10)),
    ("clipped", (Vector4(5, -5, 10, 10),), (5, 0, 5, 5)),
    ("clipped", ((2, 2, 3, 3),), (2, 2, 3, 3)),
    ("clipped", ((10, 0, 5, 5),), (0, 0, 0, 0)),
    ("clipped", ((50, 50, 5, 5),), (0, 0, 0, 0)),
    ("clipped", ((5, 0, 0, 10),), (5, 0, 0, 10)),
    ("fitted", ((0, 0, 100, 50),), (25, 0, 50, 50)),
    ("fitted", ((0, 0, 4, 100),), (0, 48, 4, 4)),
    ("fitted", ((0, 0, 0, 5),), (0, 2.5, 0, 0)),
]


@pytest.mark.parametrize("name, args, expected", PAIRS)
def test_pairs(name, args, expected):
    r = Rect(0, 0, 10, 10)
    made = getattr(r, "get_" + name)(*args)
    assert type(made) is Rect and made.get_tuple() == expected
    assert r.get_tuple() == (0, 0, 10, 10)
    assert getattr(r, "to_" + name)(*args) is r
    assert r.get_tuple() == expected


def test_get_returns_an_exact_rect_and_to_returns_the_subclass_instance():
    class Sub(Rect):
        pass

    s = Sub(0, 0, 10, 10)
    assert type(s.get_moved(1, 1)) is Rect
    assert s.to_moved(1, 1) is s


def test_clip_away_from_the_origin_keeps_the_receivers_position():
    assert Rect(3, 4, 5, 6).get_clipped((100, 100, 1, 1)).get_tuple() == (3, 4, 0, 0)
    assert Rect(3, 4, 5, 6).get_clipped((3, 4, NAN, 1)).get_tuple() == (3, 4, 0, 0)


@pytest.mark.parametrize(
    "rect, other, expected",
    [
        ((0, 0, 10, 20), (0, 0, 100, 100), (25, 0, 50, 100)),
        ((0, 0, 0, 0), (0, 0, 10, 10), (5, 5, 0, 0)),
        ((0, 0, 0, 10), (0, 0, 100, 100), (50, 0, 0, 100)),
        ((0, 0, -10, 20), (0, 0, 100, 100), (25, 0, 50, 100)),
        ((5, 5, 1, 1), (0, 0, 0, 0), (0, 0, 0, 0)),
        ((0, 0, 0, 5), (0, 0, 0, 10), (0, 5, 0, 0)),
        ((0, 0, 5, 0), (0, 0, 10, 0), (5, 0, 0, 0)),
    ],
)
def test_fit_edges(rect, other, expected):
    assert Rect(*rect).get_fitted(other).get_tuple() == expected


@pytest.mark.parametrize(
    "name, args",
    [("moved", (NAN, 0)), ("inflated", (0, NAN)), ("scaled", (NAN,)), ("union", ((NAN, 0, 1, 1),)),
     ("clamped", ((0, 0, NAN, 1),)), ("fitted", ((0, NAN, 1, 1),))],
)
def test_nan_is_carried_into_the_result(name, args):
    assert any(math.isnan(v) for v in getattr(Rect(0, 0, 10, 10), "get_" + name)(*args))


def test_huge_values_become_infinities_not_errors():
    assert Rect(0, 0, 10, 10).get_moved(1e300, 0).x == INF
    assert Rect(0, 0, 3e38, 3e38).get_scaled(10).w == INF


@pytest.mark.parametrize(
    "name, args, error, message",
    [
        ("get_moved", (), TypeError, "get_moved() takes 1 or 2 positional arguments (0 given)"),
        ("to_moved", (1, 2, 3), TypeError, "to_moved() takes 1 or 2 positional arguments (3 given)"),
        ("get_moved", (1,), ValueError, "Offset must be a Vector2, tuple, or list of length 2"),
        ("get_moved", ((1, 2, 3),), ValueError, "Offset must be a Vector2, tuple, or list of length 2"),
        ("get_inflated", (None,), ValueError, "Amount must be a Vector2, tuple, or list of length 2"),
        ("get_scaled", ("2",), ValueError, "Factor must be a number, Vector2, tuple, or list of length 2"),
        ("get_scaled", (1j,), TypeError, None),
        ("get_moved", (1, None), TypeError, None),
        ("get_union", (None,), ValueError, "rect for collision must be a Rect, Vector4, tuple, or list of length 4"),
        ("to_clipped", ((1, 2),), ValueError, "rect for collision must be a Rect, Vector4, tuple, or list of length 4"),
        ("contains", (Vector2(1, 1),), ValueError, None),
    ],
)
def test_refusals_change_nothing(name, args, error, message):
    r = Rect(1, 2, 3, 4)
    with pytest.raises(error) as info:
        getattr(r, name)(*args)
    if message:
        assert str(info.value) == message
    assert r.get_tuple() == (1, 2, 3, 4)


@pytest.mark.parametrize("name", ["get_moved", "to_scaled", "clip_line"])
def test_keywords_are_refused_where_forms_vary(name):
    with pytest.raises(TypeError, match="keyword"):
        getattr(Rect(), name)(1, 2, y=3)


def test_one_argument_methods_take_their_keyword():
    assert Rect(0, 0, 10, 10).get_union(other=(10, 10, 1, 1)).get_tuple() == (0, 0, 11, 11)
    assert Rect(0, 0, 10, 10).contains(other=(1, 1, 1, 1))


# ---------------------------------------------------------------------------------------------
# contains


@pytest.mark.parametrize(
    "rect, other, inside",
    [
        ((0, 0, 10, 10), (0, 0, 10, 10), True),
        ((0, 0, 10, 10), (10, 10, 0, 0), True),   # a point on the border is inside
        ((0, 0, 10, 10), (2, 2, 8.5, 1), False),
        ((0, 0, 10, 10), (-0.5, 2, 1, 1), False),
        ((0, 0, 10, 10), (2, 2, -1, 1), False),   # negative sizes: nothing is contained
        ((0, 0, -10, 10), (-5, 2, 1, 1), False),
        ((0, 0, 10, 10), (NAN, 2, 1, 1), False),
        ((0, 0, INF, INF), (1e30, 1e30, 1, 1), True),
    ],
)
def test_contains(rect, other, inside):
    assert Rect(*rect).contains(other) is inside


# ---------------------------------------------------------------------------------------------
# clip_line


@pytest.mark.parametrize(
    "args",
    [(-5, 5, 15, 5), ((-5, 5), (15, 5)), (Vector2(-5, 5), [15, 5]), (((-5, 5), (15, 5)),),
     ([-5, 5, 15, 5],), ([Vector2(-5, 5), (15, 5)],)],
)
def test_clip_line_forms(args):
    a, b = Rect(0, 0, 10, 10).clip_line(*args)
    assert (tuple(a), tuple(b)) == ((0, 5), (10, 5))


@pytest.mark.parametrize(
    "line, expected",
    [
        ((15, 5, -5, 5), ((10, 5), (0, 5))),        # the segment's own direction is kept
        ((2, 3, 4, 5), ((2, 3), (4, 5))),           # entirely inside: unchanged
        ((-10, -10, 20, 20), ((0, 0), (10, 10))),
        ((10, -5, 10, 15), ((10, 0), (10, 10))),    # along the border: inside
        ((0, 0, 0, 0), ((0, 0), (0, 0))),
        ((20, 20, 30, 30), ()),
        ((-5, 11, 15, 11), ()),
        ((10.5, 0, 10.5, 10), ()),
        ((NAN, 0, 5, 5), ()),
        ((-INF, 5, INF, 5), ()),
        ((-1e308, 5, 1e308, 5), ((0, 5), (10, 5))),
        ((0, 0, 5, 5, ), ((0, 0), (5, 5))),
    ],
)
def test_clip_line_results(line, expected):
    result = Rect(0, 0, 10, 10).clip_line(*line)
    assert tuple(tuple(p) for p in result) == expected


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def nearest_float32(q):
    """The float nearest to the rational q, ties to even (through a double it could round twice)."""
    f = numpy.float32(float(q))
    for toward in (INF, -INF):
        g = numpy.nextafter(f, numpy.float32(toward))
        middle = (Fraction(float(f)) + Fraction(float(g))) / 2
        if (q > middle if toward > 0 else q < middle) or (q == middle and int(f.view(numpy.uint32)) & 1):
            return float(g)
    return float(f)


def exact_clip(edges, line):
    """clip_line in rational arithmetic: the ends as given, a cut on its edge with the other
    coordinate rounded once."""
    low, high = map(Fraction, edges[:2]), map(Fraction, edges[2:])
    p1, p2 = [Fraction(c) for c in line[:2]], [Fraction(c) for c in line[2:]]
    (t0, cut0), (t1, cut1) = (Fraction(0), None), (Fraction(1), None)
    for i, lo, hi in zip((0, 1), low, high):
        d = p2[i] - p1[i]
        if d == 0 and not lo <= p1[i] <= hi:
            return ()
        if d != 0:
            (t_in, e_in), (t_out, e_out) = sorted([((lo - p1[i]) / d, lo), ((hi - p1[i]) / d, hi)])
            t0, cut0 = max((t0, cut0), (t_in, (i, e_in)), key=lambda t: t[0])
            t1, cut1 = min((t1, cut1), (t_out, (i, e_out)), key=lambda t: t[0])
    if t0 > t1:
        return ()

    def point(t, cut, end):
        if cut is None:
            return tuple(f32(c) for c in end)
        i, edge = cut
        other = nearest_float32(p1[1 - i] + t * (p2[1 - i] - p1[1 - i]))
        return (float(edge), other) if i == 0 else (other, float(edge))

    return point(t0, cut0, line[:2]), point(t1, cut1, line[2:])


def segments(scale, count, rng):
    """Segments through points near the rectangle, with ends about `scale` away (some ends near
    the rectangle, some segments missing it)."""
    for _ in range(count):
        ax, ay, angle = rng.uniform(-3, 13), rng.uniform(-3, 13), rng.uniform(0, 2 * math.pi)
        dx, dy = math.cos(angle), math.sin(angle)
        if rng.random() < 0.2:
            dx, dy = (1, 0) if rng.random() < 0.5 else (0, -1)
        k1 = 0 if rng.random() < 0.2 else scale * rng.uniform(0.5, 1)
        k2 = scale * rng.uniform(0.5, 1)
        yield ax - dx * k1, ay - dy * k1, ax + dx * k2, ay + dy * k2


@pytest.mark.parametrize("scale", [1, 1e6, 1e12, 1e15, 1e20, 1e50, 1e100, 1e200, 1e300, 1e308])
@pytest.mark.parametrize("rect", [(0, 0, 10, 10), (-3.3, 1.7, 7.1, 0.2)])
def test_clip_line_is_exact_at_every_scale(scale, rect):
    r = Rect(*rect)
    edges = (r.x, r.y, r.right, r.bottom)
    wrong = []
    for line in segments(scale, 150, random.Random(hash((scale, rect)) & 0xffff)):
        got = tuple(tuple(p) for p in r.clip_line(*line))
        want = exact_clip(edges, line)
        if got != want:
            wrong.append((line, got, want))
    assert wrong == []


def test_clip_line_on_odd_rectangles():
    assert Rect(0, 0, -10, 10).clip_line(-20, 5, 20, 5) == ()
    assert Rect(0, 0, NAN, 10).clip_line(-20, 5, 20, 5) == ()
    a, b = Rect(5, 0, 0, 10).clip_line(0, 5, 10, 5)    # a zero-width rectangle is a segment
    assert tuple(a) == tuple(b) == (5, 5)


@pytest.mark.parametrize(
    "args, error",
    [((), TypeError), ((1, 2, 3), TypeError), ((1, 2, 3, 4, 5), TypeError), ((5,), ValueError),
     (((1, 2, 3),), ValueError), (((1, 2), 5), ValueError), ((1, 2, 3, "4"), TypeError),
     (([(1, 2), None],), ValueError)],
)
def test_clip_line_refusals(args, error):
    with pytest.raises(error):
        Rect(0, 0, 10, 10).clip_line(*args)


def test_clip_line_survives_a_list_that_empties_itself():
    line = [(0, 0)]

    class Emptying:
        def __float__(self):
            line.clear()
            return 5.0

    line.append((Emptying(), 5))
    a, b = Rect(0, 0, 10, 10).clip_line(line)
    assert (tuple(a), tuple(b)) == ((0, 0), (5, 5))
