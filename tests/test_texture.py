"""Textures and render targets, by the pixels a screenshot reads back: sprites out of a sheet,
rotation, tint and filtering, render targets the right way up, and lifetimes that end with the
window that made them."""

import numpy
import pytest

from test_draw import shot, window  # noqa: F401  (the window fixture)
from tavoro import draw
from tavoro.image.image import Image
from tavoro.texture import Texture

BLUE, RED, BLACK = (0, 0, 255, 255), (255, 0, 0, 255), (0, 0, 0, 255)


def sheet():
    """Two 8x8 sprites side by side: red on the left, blue on the right."""
    return Image.from_buffer(numpy.repeat(numpy.array([[RED, BLUE]], numpy.uint8), 8, 0).repeat(8, 1))


def colour(pixels, x, y):
    return tuple(pixels[y, x].tolist())


DRAWS = {
    # name: (draw call on the sheet's texture, {pixel: colour})
    "whole": (lambda t: t.draw((10, 10, 16, 8)), {(10, 10): RED, (17, 17): RED, (18, 10): BLUE, (26, 10): BLACK}),
    "sprite": (lambda t: t.draw((10, 10, 8, 8), source=(8, 0, 8, 8)), {(10, 10): BLUE, (17, 17): BLUE, (18, 10): BLACK}),
    "scaled sprite": (lambda t: t.draw((0, 0, 32, 32), (0, 0, 8, 8)), {(0, 0): RED, (31, 31): RED, (32, 32): BLACK}),
    "rotated": (lambda t: t.draw((20, 20, 8, 8), (8, 0, 8, 8), origin=(0, 0), rotation=90),
                {(14, 22): BLUE, (21, 22): BLACK}),
    "tinted": (lambda t: t.draw((10, 10, 8, 8), (8, 0, 8, 8), tint=(255, 255, 255, 0)), {(12, 12): BLACK}),
    "flipped source": (lambda t: t.draw((10, 10, 16, 8), (0, 0, -16, 8)), {(10, 10): BLUE, (20, 10): RED}),
}


@pytest.mark.parametrize("call, expected", DRAWS.values(), ids=DRAWS.keys())
def test_a_texture_lands_where_its_destination_says(window, call, expected):
    texture = Texture.from_image(sheet())
    pixels = shot(window, lambda: call(texture))
    for (x, y), c in expected.items():
        assert colour(pixels, x, y) == c, (x, y)


def test_filtering_picks_texels_or_blends_them(window):
    checker = Image.from_buffer(numpy.array([[[255] * 4, [0, 0, 0, 255]]], numpy.uint8))
    texture = Texture.from_image(checker)
    nearest = shot(window, lambda: texture.draw((0, 0, 40, 4)))
    texture.filter = "bilinear"
    blended = shot(window, lambda: texture.draw((0, 0, 40, 4)))
    assert set(nearest[2, :40, 0]) <= {0, 255} and any(0 < v < 255 for v in blended[2, :40, 0])


@pytest.mark.parametrize("channels", [1, 4])
def test_a_texture_reads_back_as_the_image_it_was_made_of(window, channels):
    pixels = (numpy.arange(5 * 7 * channels) * 11 % 256).astype(numpy.uint8).reshape(5, 7, channels).squeeze()
    back = Texture.from_image(Image.from_buffer(pixels)).to_image()
    assert back.width == 7 and (numpy.asarray(back) == pixels).all()


def test_a_render_target_reads_back_and_draws_the_right_way_up(window):
    target = Texture.render_target(20, 10)
    with window.frame():
        with target:
            draw.clear(BLACK)
            draw.rect((0, 0, 5, 3), RED)  # the top-left corner
        draw.clear(BLACK)
        target.draw((30, 30, 20, 10))
        pixels = numpy.array(window.screenshot())
    image = numpy.asarray(target.to_image())
    assert colour(image, 1, 1) == RED and colour(image, 1, 8) == BLACK and colour(image, 8, 1) == BLACK
    assert colour(pixels, 31, 31) == RED and colour(pixels, 31, 38) == BLACK


def test_leaving_a_render_target_restores_the_window_even_through_an_exception(window):
    target = Texture.render_target(8, 8)
    with window.frame():
        with pytest.raises(KeyError):
            with target:
                draw.clear(BLUE)
                raise KeyError
        draw.clear(BLACK)
        draw.rect((40, 40, 4, 4), RED)  # culled against the window's area again, not the target's
        pixels = numpy.array(window.screenshot())
    assert colour(pixels, 41, 41) == RED and colour(numpy.asarray(target.to_image()), 7, 7) == BLUE


REFUSALS = {
    "draw outside a frame": (lambda w, t, r: t.draw((0, 0, 4, 4)), RuntimeError, "frame"),
    "with on a plain texture": (lambda w, t, r: [w.begin_frame(), t.__enter__()], TypeError, "render target"),
    "nested targets": (lambda w, t, r: [w.begin_frame(), r.__enter__(), Texture.render_target(4, 4).__enter__()],
                       RuntimeError, "already"),
    "a target into itself": (lambda w, t, r: [w.begin_frame(), r.__enter__(), r.draw((0, 0, 4, 4))],
                             RuntimeError, "itself"),
    "huge target": (lambda w, t, r: Texture.render_target(10**5, 10**5), ValueError, "16384"),
    "bad filter": (lambda w, t, r: setattr(t, "filter", "cubic"), ValueError, "nearest"),
}


@pytest.mark.parametrize("call, error, message", REFUSALS.values(), ids=REFUSALS.keys())
def test_wrong_use_raises(window, call, error, message):
    texture, target = Texture.from_image(sheet()), Texture.render_target(8, 8)
    try:
        with pytest.raises(error, match=message):
            call(window, texture, target)
    finally:
        target.__exit__(None, None, None)
        if window.in_frame:
            window.end_frame()


def test_what_does_not_load_is_invalid_and_textures_need_a_window(window, tmp_path):
    assert not Texture.load(tmp_path / "missing.png").valid and not Texture.from_image(Image()).valid
    sheet().export(tmp_path / "sheet.png")
    assert Texture.load(tmp_path / "sheet.png").width == 16
    window.close()
    with pytest.raises(RuntimeError, match="no window"):
        Texture.from_image(sheet())


def test_a_texture_of_a_closed_window_refuses_use_and_releases_nothing(run_python):
    # The second window's texture gets the id the first one had: releasing the old texture
    # after its window closed must not free the new one.
    run_python("""
import numpy
from tavoro import draw
from tavoro.image.image import Image
from tavoro.texture import Texture
from tavoro.window import Window
red = Image.from_buffer(numpy.full((4, 4, 4), (255, 0, 0, 255), numpy.uint8))
with Window(16, 16, "first"):
    old = Texture.from_image(red)
    target = Texture.render_target(4, 4)
assert not old.valid and "closed" in repr(old)
try:
    old.to_image()
    raise AssertionError("used after its window closed")
except RuntimeError as error:
    assert "has closed" in str(error)
with Window(16, 16, "second") as window:
    new = Texture.from_image(red)
    old.unload()
    del target
    with window.frame():
        draw.clear((0, 0, 0))
        new.draw((0, 0, 4, 4))
        assert tuple(numpy.asarray(window.screenshot())[1, 1]) == (255, 0, 0, 255)
    kept = Texture.render_target(8, 8)  # alive at exit, with the window open
""")
