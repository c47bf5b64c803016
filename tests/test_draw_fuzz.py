"""Random primitives with hostile geometry (NaN, infinities, huge, negative and zero sizes, far
outside the frame) never crash or hang the interpreter: each call draws or raises the documented
ValueError or TypeError; and the renderer's fast paths draw random scenes, hostile and plain, to
the pixel as its general rasteriser does. The default run tries few scenes;
TAVORO_FUZZ_EXAMPLES=<n> runs many."""

import os

import numpy
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import pytest

from tavoro import draw
from tavoro.draw import Camera2D
from tavoro.draw.draw import _set_fast_paths
from tavoro.window import Window

FUZZ = settings(max_examples=int(os.environ.get("TAVORO_FUZZ_EXAMPLES", 40)), deadline=None,
                derandomize="TAVORO_FUZZ_EXAMPLES" not in os.environ, database=None,
                suppress_health_check=[HealthCheck.too_slow])

coordinate = st.one_of(st.floats(-100, 200), st.floats(allow_nan=True, allow_infinity=True),
                       st.sampled_from([0.0, -0.0, 1e8, -1e8, 1e7, -1e7, 3e38]))
color = st.tuples(st.integers(-5, 300), st.integers(0, 255), st.integers(0, 255), st.integers(0, 255))
count = st.integers(-3, 5000)


def primitives(coordinate, color, count):
    """Each drawing call with a strategy for its arguments, built from these three."""
    point = st.tuples(coordinate, coordinate)
    return {
    "rect": (draw.rect, st.tuples(st.tuples(coordinate, coordinate, coordinate, coordinate), color)),
    "rect_lines": (draw.rect_lines, st.tuples(st.tuples(coordinate, coordinate, coordinate, coordinate), color, coordinate)),
    "rect_rounded": (draw.rect_rounded, st.tuples(st.tuples(coordinate, coordinate, coordinate, coordinate), coordinate, count, color)),
    "rect_rotated": (draw.rect_rotated, st.tuples(st.tuples(coordinate, coordinate, coordinate, coordinate), point, coordinate, color)),
    "line": (draw.line, st.tuples(point, point, color, coordinate)),
    "circle": (draw.circle, st.tuples(point, coordinate, color)),
    "circle_lines": (draw.circle_lines, st.tuples(point, coordinate, color)),
    "circle_sector": (draw.circle_sector, st.tuples(point, coordinate, coordinate, coordinate, count, color)),
    "ellipse": (draw.ellipse, st.tuples(point, coordinate, coordinate, color)),
    "triangle": (draw.triangle, st.tuples(point, point, point, color)),
    "poly": (draw.poly, st.tuples(point, count, coordinate, coordinate, color)),
    "pixel": (draw.pixel, st.tuples(point, color)),
    "text": (draw.text, st.tuples(st.text(max_size=40), point, coordinate, color)),
    "rects": (lambda rows, c: draw.rects(numpy.array(rows, numpy.float64).reshape(-1, 4).astype(numpy.float32), c),
              st.tuples(st.lists(st.tuples(coordinate, coordinate, coordinate, coordinate), max_size=20), color)),
    }


def scenes(table, max_size=25):
    return st.lists(st.sampled_from(sorted(table)).flatmap(
        lambda name: st.tuples(st.just(name), table[name][1])), min_size=1, max_size=max_size)


PRIMITIVES = primitives(coordinate, color, count)
point = st.tuples(coordinate, coordinate)
scene = scenes(PRIMITIVES)
camera = st.one_of(st.none(), st.tuples(point, coordinate, st.floats(1e-6, 1e6)))

# Plain scenes: shapes on and about the frame, in colours opaque, transparent and in between (the
# fast paths treat each differently), with the usual segment counts.
PLAIN = primitives(st.one_of(st.floats(-20, 180), st.integers(-20, 180).map(float)),
                   st.tuples(st.integers(0, 255), st.integers(0, 255), st.integers(0, 255),
                             st.sampled_from([0, 1, 128, 254, 255])),
                   st.sampled_from([0, 3, 8, 36]))
plain_camera = st.one_of(st.none(), st.tuples(st.tuples(st.floats(-50, 50), st.floats(-50, 50)),
                                              st.sampled_from([0.0, 90.0, 30.0]), st.sampled_from([0.5, 1.0, 3.0])))


def draw_scene(window, table, shapes, view):
    """Clears the frame, draws the shapes (refusals skipped) and returns the frame's pixels."""
    draw.clear((0, 0, 0))
    cam = None
    if view is not None:
        try:
            cam = Camera2D(target=view[0], offset=(24, 16), rotation=view[1], zoom=view[2])
        except ValueError:
            pass
    if cam is not None:
        cam.__enter__()
    for name, args in shapes:
        try:
            with numpy.errstate(over="ignore"):
                table[name][0](*args)
        except (ValueError, TypeError, UnicodeEncodeError):
            pass
    if cam is not None:
        cam.__exit__(None, None, None)
    return numpy.array(window.screenshot())


@FUZZ
@given(scene, camera)
def test_hostile_scenes_draw_or_refuse(shapes, view):
    with Window(48, 32) as window, window.frame():
        assert draw_scene(window, PRIMITIVES, shapes, view).shape == (32, 48, 4)


def both_ways(size, table, shapes, view):
    with Window(*size) as window, window.frame():
        if not _set_fast_paths(False):
            pytest.skip("this raylib has no switch for its fast paths")
        try:
            general = draw_scene(window, table, shapes, view)
        finally:
            _set_fast_paths(True)
        fast = draw_scene(window, table, shapes, view)
    differ = numpy.argwhere((general != fast).any(axis=2))
    assert not len(differ), f"{len(differ)} pixels differ, first (y, x) {differ[0].tolist()}"


@FUZZ
@given(scenes(PLAIN, 40), plain_camera, st.sampled_from([(48, 32), (160, 120)]))
def test_fast_paths_draw_plain_scenes_as_the_general_rasteriser(shapes, view, size):
    both_ways(size, PLAIN, shapes, view)


@FUZZ
@given(scene, camera)
def test_fast_paths_draw_hostile_scenes_as_the_general_rasteriser(shapes, view):
    both_ways((48, 32), PRIMITIVES, shapes, view)


# Each fast path and its edges, drawn both ways: opaque colours fill, transparent ones leave the
# frame alone, translucent ones blend; text reads its glyphs texel by texel; rotated and zoomed
# shapes go through the triangle paths; shapes cut by the frame's edges, at subpixel positions and
# of a pixel or less.
SHAPES = {
    "rect": lambda c: draw.rect((3.5, 2.25, 30.7, 20.1), c),
    "rect off the edges": lambda c: draw.rects([(-5, -5, 20, 20), (150, 100, 40, 40), (10, 10, 0.4, 0.6)], c),
    "rect rotated": lambda c: draw.rect_rotated((40, 30, 50, 20), (25, 10), 33.0, c),
    "circle": lambda c: draw.circles([(20.5, 20.5), (-3, 60), (150, 110)], 12.3, c),
    "triangle": lambda c: draw.triangle((5, 5), (90, 17.5), (30, 80), c),
    "thick line": lambda c: draw.line((2, 100), (140, 3), c, thickness=4.5),
    "poly": lambda c: draw.poly((80, 60), 7, 40, 12.0, c),
    "rounded rect": lambda c: draw.rect_rounded((20, 40, 100, 50), 0.5, 6, c),
    "text": lambda c: draw.text("Tavoro 123 !@#", (4.3, 50.6), 20, c),
    "text, large": lambda c: draw.text("Wg", (-10, 10), 90, c),
}
ALPHAS = [255, 128, 1, 0]


@pytest.mark.parametrize("view", [None, ((0, 0), 0.0, 2.5), ((10, -5), 30.0, 1.0)])
@pytest.mark.parametrize("name", sorted(SHAPES))
def test_fast_paths_draw_each_shape_as_the_general_rasteriser(name, view):
    # One over the other, so that the translucent ones blend over drawn pixels
    shapes = [(name, ((200, 90, 30, alpha),)) for alpha in ALPHAS]
    both_ways((160, 120), {name: (SHAPES[name], None)}, shapes, view)


# Large frames: the fast paths' margins for rounding grow with the rows and columns stepped.
LARGE = {
    "rects": lambda c: draw.rects([(0.5, 0.25, 1919.3, 1079.6), (-700.5, 300.5, 2000, 3.5), (900, -50, 0.75, 2000)], c),
    "circle": lambda c: draw.circle((960.4, 540.6), 700.2, c),
    "rotated": lambda c: draw.rect_rotated((960, 540, 1800, 900), (900, 450), 0.01, c),
    "text": lambda c: draw.text("Mw", (-300.5, -100.25), 1500, c),
}


@pytest.mark.parametrize("name", sorted(LARGE))
def test_fast_paths_draw_large_frames_as_the_general_rasteriser(name):
    shapes = [(name, ((30, 200, 90, alpha),)) for alpha in (255, 77)]
    both_ways((1920, 1080), {name: (LARGE[name], None)}, shapes, None)


def model_blend(dst, src):
    """raylib's usual blend of one pixel, in its 32-bit floats: src over dst, truncated."""
    d, s = (numpy.float32(numpy.array(v)) * numpy.float32(1 / 255) for v in (dst, src))
    out = s[3] * s + (numpy.float32(1) - s[3]) * d
    return (out * numpy.float32(255)).astype(numpy.uint8)


@pytest.mark.parametrize("shape", ["rect", "circle", "text"])
@pytest.mark.parametrize("alpha", [255, 200, 128, 1, 0])
def test_fast_paths_blend_as_raylib_blends(shape, alpha):
    ground, paint = (40, 90, 160, 255), (250, 120, 10, alpha)
    calls = {"rect": lambda: draw.rect((4, 4, 20, 20), paint),
             "circle": lambda: draw.circle((14, 14), 10, paint),
             "text": lambda: draw.text("#", (4, 4), 40, paint)}
    with Window(32, 32) as window, window.frame():
        draw.clear(ground)
        calls[shape]()
        pixel = numpy.array(window.screenshot())[14, 14]
    # Exact where the colour is opaque or transparent; within one step of the model otherwise,
    # since a fused multiply-add (where the compiler forms one) rounds once less
    expected = model_blend(ground, paint)
    assert numpy.abs(pixel[:3].astype(int) - expected[:3]).max() <= (0 if alpha in (0, 255) else 1)


def test_fast_path_switch_passes_on_a_failing_truth_value():
    class Undecided:
        def __bool__(self):
            raise ZeroDivisionError
    with pytest.raises(ZeroDivisionError):
        _set_fast_paths(Undecided())
