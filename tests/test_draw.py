"""Drawing, checked by looking at the pixels a screenshot reads back: each primitive inside,
outside and on its edges, blending, text against its measured extent, cameras, and batches
against the loop of single calls they replace."""

import math
import random

import numpy
import pytest

from tavoro import draw
from tavoro.color.color import Color
from tavoro.draw import Camera2D
from tavoro.rect.rect import Rect
from tavoro.vector2.vector2 import Vector2
from tavoro.window import Window

W, H = 64, 48
BLACK, RED = (0, 0, 0), (255, 0, 0)


@pytest.fixture
def window():
    with Window(W, H, "test") as w:
        yield w


def shot(window, *drawing):
    """The frame after clearing it black and running each drawing callable."""
    with window.frame():
        draw.clear(BLACK)
        for step in drawing:
            step()
        return numpy.array(window.screenshot())


def lit(pixels, x, y):
    return pixels[y, x, :3].any()


def test_screenshot_is_upright_rgba_with_each_corner_where_drawn(window):
    corners = {(0, 0): (255, 0, 0), (W - 4, 0): (0, 255, 0), (0, H - 4): (0, 0, 255), (W - 4, H - 4): (255, 255, 0)}
    pixels = shot(window, *[lambda c=c, p=p: draw.rect((*p, 4, 4), c) for p, c in corners.items()])
    assert pixels.shape == (H, W, 4) and pixels.dtype == numpy.uint8
    for (x, y), color in corners.items():
        assert tuple(pixels[y + 1, x + 1]) == (*color, 255)
    assert not lit(pixels, W // 2, H // 2)


PRIMITIVES = {
    # name: (drawing, pixels that must be lit, pixels that must stay dark)
    "rect": (lambda: draw.rect(Rect(10, 10, 20, 10), RED), [(10, 10), (29, 19)], [(9, 10), (30, 10), (10, 20)]),
    "rect tuple": (lambda: draw.rect((10, 10, 20, 10), Color(255, 0, 0, 255)), [(10, 10), (29, 19)], [(30, 19)]),
    "rect_lines": (lambda: draw.rect_lines((10, 10, 20, 20), RED, 2), [(10, 10), (11, 20), (29, 29)], [(12, 12), (20, 20)]),
    "rect_rounded": (lambda: draw.rect_rounded((10, 10, 20, 20), 1.0, 8, RED), [(20, 20), (20, 10)], [(10, 10), (29, 29)]),
    "rect_rotated": (lambda: draw.rect_rotated((32, 24, 20, 4), (10, 2), 90, RED), [(32, 15), (32, 33)], [(24, 24), (40, 24)]),
    "circle": (lambda: draw.circle((32, 24), 10, RED), [(32, 24), (41, 24), (32, 15)], [(43, 24), (24, 16)]),
    "circle_lines": (lambda: draw.circle_lines(Vector2(32, 24), 10, RED), [(41, 24), (21, 24)], [(32, 24), (38, 24)]),
    "circle_sector": (lambda: draw.circle_sector((32, 24), 10, 0, 90, 0, RED), [(36, 28)], [(28, 20), (28, 28)]),
    "ellipse": (lambda: draw.ellipse((32, 24), 20, 5, RED), [(50, 24), (32, 27)], [(32, 31), (10, 24)]),
    "triangle ccw": (lambda: draw.triangle((10, 10), (10, 30), (30, 10), RED), [(12, 12)], [(28, 28)]),
    "triangle cw": (lambda: draw.triangle((10, 10), (30, 10), (10, 30), RED), [(12, 12)], [(28, 28)]),
    "poly": (lambda: draw.poly((32, 24), 6, 10, 0, RED), [(32, 24), (40, 24)], [(32, 14), (44, 24)]),
    "line": (lambda: draw.line((5, 5), (40, 5), RED), [(10, 5), (39, 5)], [(10, 7), (45, 5)]),
    "thick line": (lambda: draw.line((5, 20), (40, 20), RED, 6), [(10, 17), (10, 22)], [(10, 25), (10, 14)]),
    "pixel": (lambda: draw.pixel((3, 4), RED), [(3, 4)], [(4, 4), (3, 5)]),
}


@pytest.mark.parametrize("name", PRIMITIVES)
def test_primitive_fills_inside_and_leaves_outside(window, name):
    drawing, inside, outside = PRIMITIVES[name]
    pixels = shot(window, drawing)
    assert [p for p in inside if not lit(pixels, *p)] == []
    assert [p for p in outside if lit(pixels, *p)] == []


def test_alpha_blends_over_what_is_there(window):
    pixels = shot(window, lambda: draw.rect((0, 0, W, H), (255, 255, 255)),
                  lambda: draw.rect((0, 0, 8, 8), (255, 0, 0, 128)))
    assert pixels[2, 2, 0] == 255 and 120 <= pixels[2, 2, 1] <= 135 and pixels[20, 20, 1] == 255


@pytest.mark.parametrize("size, spacing", [(10, None), (20, None), (20, 4), (30, 0)])
def test_text_covers_its_measured_extent(window, size, spacing):
    extent = draw.measure_text("Hello", size, spacing)
    pixels = shot(window, lambda: draw.text("Hello", (4, 4), size, RED, spacing))
    ys, xs = numpy.nonzero(pixels[:, :, 0])
    assert 4 <= xs.min() and xs.max() < 4 + extent.x and 4 <= ys.min() and ys.max() < 4 + extent.y
    assert xs.max() >= 4 + extent.x - size / 2 and ys.max() >= 4 + extent.y * 0.6


def test_camera_moves_scales_and_converts(window):
    camera = Camera2D(target=(0, 0), offset=(32, 24), rotation=0, zoom=2)

    def scene():
        with camera:
            draw.rect((0, 0, 4, 4), RED)
        draw.rect((0, 0, 2, 2), RED)  # outside the camera again

    pixels = shot(window, scene)
    assert lit(pixels, 32, 24) and lit(pixels, 39, 31) and not lit(pixels, 40, 32) and lit(pixels, 0, 0)
    assert camera.world_to_screen((4, 4)) == Vector2(40, 32)
    assert camera.screen_to_world((40, 32)) == Vector2(4, 4)
    camera.rotation = 90
    back = camera.screen_to_world(camera.world_to_screen((3, -1)))
    assert math.isclose(back.x, 3, abs_tol=1e-4) and math.isclose(back.y, -1, abs_tol=1e-4)


def test_a_frame_ended_inside_a_camera_leaves_it(window):
    camera = Camera2D(offset=(10, 10))
    window.begin_frame()
    camera.__enter__()
    window.end_frame()
    camera.__exit__(None, None, None)
    pixels = shot(window, lambda: draw.rect((0, 0, 2, 2), RED))
    assert lit(pixels, 0, 0) and not lit(pixels, 10, 10)


# Rectangles on and about each edge of the frame: just in, just out, touching, and wider than it.
EDGE_RECTS = [(x, y, w, h) for x, y, w, h in [
    (-4, 10, 4, 4), (-4, 10, 4.01, 4), (-3.5, 10, 4, 4), (W, 10, 4, 4), (W - 0.01, 10, 4, 4),
    (10, -4, 4, 4), (10, -4, 4, 4.01), (10, H, 4, 4), (10, H - 0.5, 4, 4), (-1e6, -1e6, 2e6, 2e6),
    (W - 0.5, H - 0.5, 1, 1), (-0.5, -0.5, 1, 1), (0, 0, 0, 0), (W - 1e-6, 0, 1e-6, H),
]]


@pytest.mark.parametrize("rect", EDGE_RECTS)
def test_culling_a_rect_never_changes_its_pixels(window, rect):
    # A camera that moves nothing turns culling off, so both frames must be the same.
    def through_camera():
        with Camera2D():
            draw.rect(rect, RED)

    assert numpy.array_equal(shot(window, lambda: draw.rect(rect, RED)), shot(window, through_camera))
    assert numpy.array_equal(shot(window, lambda: draw.rects(numpy.array([rect], numpy.float32), RED)),
                             shot(window, through_camera))


def random_scene(seed, count=60):
    rng = random.Random(seed)
    f = lambda lo, hi: rng.uniform(lo, hi)
    color = lambda: (rng.randrange(256), rng.randrange(256), rng.randrange(256), rng.choice([255, 128]))
    rects = [(f(-10, W), f(-10, H), f(0, 20), f(0, 20)) for _ in range(count)]
    centers = [(f(-5, W + 5), f(-5, H + 5)) for _ in range(count)]
    radii = [f(0, 8) for _ in range(count)]
    segments = [((f(-5, W), f(-5, H)), (f(-5, W), f(-5, H))) for _ in range(count)]
    colors = [color() for _ in range(count)]
    return rects, centers, radii, segments, colors


@pytest.mark.parametrize("form", ["list", "tuple", "buffer"])
@pytest.mark.parametrize("seed", [1, 2])
def test_batches_draw_what_the_loop_of_single_calls_draws(window, seed, form):
    rects, centers, radii, segments, colors = random_scene(seed)
    as_form = {"list": list, "tuple": tuple, "buffer": lambda rows: numpy.array(rows, numpy.float32)}[form]
    paint = numpy.array(colors, numpy.uint8) if form == "buffer" else colors
    flat = [(*a, *b) for a, b in segments] if form == "buffer" else segments

    def loop():
        for r, c in zip(rects, colors):
            draw.rect(r, c)
        for p, r, c in zip(centers, radii, colors):
            draw.circle(p, r, c)
        for p, c in zip(centers, colors):
            draw.pixel(p, c)
        for (a, b), c in zip(segments, colors):
            draw.line(a, b, c, 2)

    def batch():
        draw.rects(as_form(rects), paint)
        draw.circles(as_form(centers), as_form(radii), paint)
        draw.points(as_form(centers), paint)
        draw.lines(as_form(flat), paint, 2)

    assert numpy.array_equal(shot(window, loop), shot(window, batch))


def test_batch_with_one_color_for_all(window):
    rects = [Rect(i * 8, 0, 4, 4) for i in range(8)]
    pixels = shot(window, lambda: draw.rects(rects, Color(0, 255, 0, 255)))
    assert all(tuple(pixels[1, i * 8 + 1, :3]) == (0, 255, 0) for i in range(8))


NAN, INF = float("nan"), float("inf")
BAD_CALLS = {
    "nan position": (lambda: draw.rect((NAN, 0, 1, 1), RED), ValueError, "finite"),
    "infinite radius": (lambda: draw.circle((0, 0), INF, RED), ValueError, "finite"),
    "huge coordinate": (lambda: draw.line((0, 0), (1e30, 5), RED), ValueError, "10000000"),
    "negative size": (lambda: draw.rect((0, 0, -1, 5), RED), ValueError, "negative"),
    "negative thickness": (lambda: draw.line((0, 0), (5, 5), RED, -2), ValueError, "negative"),
    "huge thickness": (lambda: draw.rect_lines((0, 0, 5, 5), RED, 1e9), ValueError, "finite"),
    "segments": (lambda: draw.circle_sector((0, 0), 5, 0, 90, 10**6, RED), ValueError, "segments"),
    "sides": (lambda: draw.poly((0, 0), 2, 5, 0, RED), ValueError, "sides"),
    "nul text": (lambda: draw.text("a\0b", (0, 0), 10, RED), ValueError, "NUL"),
    "lone surrogate": (lambda: draw.text("a\ud800", (0, 0), 10, RED), UnicodeEncodeError, "surrogate"),
    "bytes text": (lambda: draw.text(b"ab", (0, 0), 10, RED), TypeError, "str"),
    "bad color": (lambda: draw.rect((0, 0, 1, 1), 5), TypeError, "color-like"),
    "short rect": (lambda: draw.rect((0, 0, 1), RED), ValueError, "rect-like"),
    "float64 buffer": (lambda: draw.rects(numpy.zeros((3, 4)), RED), ValueError, "float32"),
    "wrong width": (lambda: draw.rects(numpy.zeros((3, 3), numpy.float32), RED), ValueError, "(n, 4)"),
    "colors count": (lambda: draw.rects([(0, 0, 1, 1)] * 3, [RED] * 2), ValueError, "3 shapes"),
    "radii count": (lambda: draw.circles([(0, 0)] * 3, [1, 2], RED), ValueError, "3 circles"),
    "nan in buffer": (lambda: draw.rects(numpy.full((2, 4), NAN, numpy.float32), RED), ValueError, "finite"),
    "not a pair": (lambda: draw.lines([(1, 2, 3, 4)], RED), TypeError, "pairs"),
    "zoom": (lambda: Camera2D(zoom=0), ValueError, "zoom"),
}


@pytest.mark.parametrize("name", BAD_CALLS)
def test_bad_arguments_raise_clear_errors(window, name):
    call, error, words = BAD_CALLS[name]
    with window.frame():
        with pytest.raises(error, match=words):
            call()


def test_batch_list_emptied_by_a_conversion_stops_cleanly(window):
    rects = [(0, 0, 1, 1)] * 4

    class Shrinking:
        def __float__(self):
            rects.clear()
            return 1.0

    rects[1] = (0, 0, Shrinking(), 1)
    with window.frame():
        draw.rects(rects, RED)  # the list is re-read at every step
    assert rects == []


@pytest.mark.parametrize("call, message", [
    (lambda: draw.line((0, 0), (1, 1)), "line() takes at least 3 positional arguments (2 given)"),
    (lambda: draw.line((0, 0), (1, 1), RED, 1, 2), "line() takes at most 4 positional arguments (5 given)"),
    (lambda: draw.line((0, 0), (1, 1), RED, thick=2), "line() got an unexpected keyword argument 'thick'"),
    (lambda: draw.line((0, 0), (1, 1), RED, 2, thickness=3), "line() got multiple values for keyword argument 'thickness'"),
    (lambda: draw.rect((0, 0, 1, 1)), "rect() takes exactly 2 positional arguments (1 given)"),
])
def test_optional_parameters_bind_as_the_frame_binds(window, call, message):
    with window.frame():
        with pytest.raises(TypeError) as raised:
            call()
    assert str(raised.value) == message


def test_optional_parameters_by_keyword_and_their_signature(window):
    pixels = shot(window, lambda: draw.line(start=(5, 20), end=(40, 20), color=RED, thickness=6),
                  lambda: draw.text(text="a", position=(50, 5), size=10, color=RED, spacing=None))
    assert lit(pixels, 10, 22) and lit(pixels, 10, 17)
    import inspect
    assert str(inspect.signature(draw.line)) == "(start, end, color, thickness=1.0)"
    assert str(inspect.signature(draw.text)) == "(text, position, size, color, spacing=None)"


def test_camera_rotation_turns_what_is_drawn(window):
    camera = Camera2D(target=(0, 0), offset=(32, 24), rotation=90, zoom=1)

    def scene():
        with camera:
            draw.rect((0, 0, 10, 2), RED)  # along +x in the world: along +y on the screen

    pixels = shot(window, scene)
    assert lit(pixels, 31, 30) and not lit(pixels, 38, 25)
    assert camera.world_to_screen((10, 0)).x == pytest.approx(32, abs=1e-4)


def test_cameras_do_not_nest_and_refuse_outside_a_frame(window):
    a, b = Camera2D(), Camera2D()
    with pytest.raises(RuntimeError, match="frame"):
        a.__enter__()
    with window.frame():
        with a:
            with pytest.raises(RuntimeError, match="already in use"):
                b.__enter__()
        with b:
            pass


def test_per_shape_colors_as_objects_and_rows(window):
    rects = [(i * 8, 0, 4, 4) for i in range(4)]
    palette = [Color(255, 0, 0, 255), (0, 255, 0), [0, 0, 255, 255], Color(9, 9, 9, 255)]
    as_objects = shot(window, lambda: draw.rects(rects, palette))
    rows = numpy.array([(255, 0, 0, 255), (0, 255, 0, 255), (0, 0, 255, 255), (9, 9, 9, 255)], numpy.uint8)
    as_rows = shot(window, lambda: draw.rects(rects, rows))
    assert numpy.array_equal(as_objects, as_rows)
    assert [tuple(as_objects[1, i * 8 + 1, :3]) for i in range(4)] == [(255, 0, 0), (0, 255, 0), (0, 0, 255), (9, 9, 9)]
