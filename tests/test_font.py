"""Fonts: loading at a size and set of code points, glyphs whose images are views that keep the
font alive, text against its measured extent on the CPU and in the frame, the fallback glyph,
the default font, and lifetimes in any order."""

import ctypes
import gc

import numpy
import pytest

from conftest import ROOT
from test_image import png
from tavoro import draw
from tavoro.font import Font
from tavoro.glyph_info.glyph_info import GlyphInfo
from tavoro.image.image import Image
from tavoro.window import Window

TTF = ROOT / "tests" / "data" / "fonts" / "DejaVuSansMono-ascii.ttf"
RED = (255, 0, 0, 255)


def canvas(h=40, w=120):
    return Image.from_buffer(numpy.zeros((h, w, 4), numpy.uint8))


def lit(pixels):
    """The (rows, columns) range of the pixels that were drawn."""
    where = numpy.argwhere(pixels > 0)
    return where.min(0), where.max(0)


def glyph_image(glyph):
    """GlyphInfo has no Python members: its _image is read from the record, after the header,
    the table pointer and the raylib glyph (4 ints and the image record)."""
    offset = object.__basicsize__ + 8 + 16 + 24
    return ctypes.cast(id(glyph) + offset, ctypes.POINTER(ctypes.py_object)).contents.value


@pytest.mark.parametrize("size, codepoints, count", [(16, None, 95), (32, "AB", 2), (12, [72, 233, 252], 3)])
def test_a_font_loads_at_its_size_with_the_glyphs_asked_for(size, codepoints, count):
    font = Font.load(TTF, size, codepoints)
    assert font.valid and font.size == size and len(font.glyphs) == count
    assert all(type(g) is GlyphInfo for g in font.glyphs)


@pytest.mark.parametrize("path", ["missing.ttf", TTF.with_suffix(".otf"), ROOT / "README.md", ROOT / "tests"])
def test_a_font_that_does_not_load_is_invalid(tmp_path, path):
    if path == TTF.with_suffix(".otf"):  # a name the rules take, bytes that are no font
        path = tmp_path / "fake.otf"
        path.write_bytes(b"\0\1\0\0" + bytes(60))
    font = Font.load(path)
    assert not font.valid and font.glyphs == ()
    with pytest.raises(ValueError, match="not loaded"):
        font.measure_text("x", 10)


@pytest.mark.parametrize("call, error", [
    (lambda: Font.load(TTF, 10**6), ValueError), (lambda: Font.load(TTF, 512, list(range(32, 2000))), ValueError),
    (lambda: Font.load(TTF, 16, [5]), ValueError), (lambda: Font.load(TTF, 16, 3.5), TypeError),
    (lambda: Font.load(TTF).draw_text("x" * 5000, (0, 0), 400, RED, image=canvas()), ValueError),
    (lambda: Font.load(TTF).draw_text("x", (0, 0), 10, RED), RuntimeError),  # no frame
    (lambda: Font.default(), RuntimeError),  # no window
])
def test_wrong_arguments_raise(call, error):
    with pytest.raises(error):
        call()


def test_text_drawn_into_an_image_covers_its_measured_extent():
    font = Font.load(TTF, 20)
    image = canvas()
    font.draw_text("Hello", (5, 4), 20, RED, image=image)
    extent = font.measure_text("Hello", 20)
    (top, left), (bottom, right) = lit(numpy.asarray(image)[..., 3])
    assert left >= 5 and right < 5 + extent.x and top >= 4 and bottom < 4 + extent.y
    assert right > 5 + extent.x * 0.8  # the text reaches across its extent


def test_a_glyph_image_matches_what_drawing_the_glyph_produces():
    font = Font.load(TTF, 24, "H")
    glyph = numpy.asarray(font.glyph_image(ord("H")))[..., 1]  # grey-alpha: the alpha channel
    image = canvas()
    value, offset_x, offset_y, advance = font.glyph_metrics(ord("H"))
    font.draw_text("H", (10, 5), 24, (255, 255, 255, 255), image=image)
    drawn = numpy.asarray(image)[5 + offset_y:5 + offset_y + glyph.shape[0], 10 + offset_x:10 + offset_x + glyph.shape[1], 3]
    assert value == ord("H") and advance > 0
    assert (numpy.abs(drawn.astype(int) - glyph) <= 3).all()  # blending rounds and glyph.max() == 255


def test_code_points_missing_from_the_font_draw_as_its_fallback_glyph():
    font = Font.load(TTF, 20, "?AB")
    assert font.glyph_metrics(ord("Z"))[0] == ord("?")
    missing, question = canvas(), canvas()
    font.draw_text("Z\u4e00", (2, 2), 20, RED, image=missing)
    font.draw_text("??", (2, 2), 20, RED, image=question)
    assert (numpy.asarray(missing) == numpy.asarray(question)).all()


def test_glyph_images_keep_the_font_pixels_alive_and_never_free_them():
    font = Font.load(TTF, 20, "HI")
    glyphs, view = font.glyphs, font.glyph_image(ord("I"))
    image = glyph_image(glyphs[0])
    expected = numpy.asarray(image).copy()
    font.unload()  # the pixels stay while views of them live
    del font, glyphs
    gc.collect()
    assert (numpy.asarray(image) == expected).all() and numpy.asarray(view).any()
    assert not image.is_owner and memoryview(view).readonly
    with pytest.raises(ValueError, match="belong to another"):
        view.resize(2, 2)


def test_a_font_draws_in_the_frame_as_it_measures_and_in_a_later_window_too():
    font = Font.load(TTF, 20)
    for title in ("first", "second"):  # its texture is made again for the second window
        with Window(80, 40, title) as window:
            with window.frame():
                draw.clear((0, 0, 0))
                font.draw_text("Hi!", (4, 4), 20, RED)
                pixels = numpy.array(window.screenshot())[..., 0]
            extent = font.measure_text("Hi!", 20)
            (top, left), (bottom, right) = lit(pixels)
            assert left >= 4 and right < 4 + extent.x and top >= 4 and bottom < 4 + extent.y


def test_the_default_font_is_a_font_of_its_window():
    with Window(40, 40, "default"):
        font = Font.default()
        assert font.valid and len(font.glyphs) > 90
        assert font.measure_text("abc", 10) == draw.measure_text("abc", 10, 0)
    assert not font.valid
    with pytest.raises(RuntimeError, match="has closed"):
        font.measure_text("abc", 10)


def test_fonts_glyphs_and_windows_end_in_any_order(run_python):
    run_python(f"""
import gc
from tavoro.font import Font
from tavoro.window import Window
with Window(20, 20, "a") as w:
    font = Font.load({str(TTF)!r}, 16)
    default = Font.default()
    glyphs, image = font.glyphs, font.glyph_image(65)
    with w.frame():
        font.draw_text("A", (0, 0), 16, (255, 255, 255, 255))
del font
gc.collect()
default_glyphs = default.glyphs if default.valid else ()
kept = Font.load({str(TTF)!r}, 16)  # alive at exit, with its glyphs
kept_glyphs = kept.glyphs
""")


# A BDF font of two glyphs: "A" 5x6 one pixel right of its origin, "?" 4x4 two above the baseline.
BDF_A = ["20", "50", "88", "F8", "88", "88"]


def bdf(a_box="BBX 5 6 1 0", a_rows=BDF_A, header="FONTBOUNDINGBOX 6 8 0 -2"):
    return "\n".join(["STARTFONT 2.1", "SIZE 8 75 75", header, "STARTPROPERTIES 2", "FONT_ASCENT 6",
                      "FONT_DESCENT 2", "ENDPROPERTIES", "CHARS 2", "STARTCHAR A", "ENCODING 65", "DWIDTH 7 0",
                      a_box, "BITMAP", *a_rows, "ENDCHAR", "STARTCHAR question", "ENCODING 63", "DWIDTH 6 0",
                      "BBX 4 4 0 2", "BITMAP", "F0", "10", "60", "40", "ENDCHAR", "ENDFONT", ""])


def test_a_bdf_glyph_lands_where_its_bitmap_says(tmp_path):
    (tmp_path / "two.bdf").write_text(bdf())
    font = Font.load(tmp_path / "two.bdf", 16, "A?")
    assert font.valid and font.size == 8 and font.glyph_metrics(ord("A")) == (65, 1, 0, 7)
    image = canvas(20, 30)
    font.draw_text("A?", (3, 2), 8, RED, image=image)
    bits = numpy.array([[int(c) for c in f"{int(r, 16):08b}"] for r in BDF_A])[:, :5]
    question = numpy.array([[int(c) for c in f"{int(r, 16):08b}"] for r in ["F0", "10", "60", "40"]])[:, :4]
    expected = numpy.zeros((20, 30), bool)
    expected[2:8, 4:9] = bits  # at x 3 + 1, y 2 + ascent 6 - (6 + 0)
    expected[2:6, 10:14] = question  # after the advance of 7, ascent 6 - (4 + 2) = 0 down
    assert (numpy.asarray(image)[..., 3] > 0).tolist() == expected.tolist()


@pytest.mark.parametrize("text", [
    bdf(a_box="BBX 5 6 1"), bdf(a_box="BBX 600 6 0 0"), bdf(a_box="BBX -5 6 0 0"), bdf(a_rows=BDF_A[:5]),
    bdf(a_rows=["2G", *BDF_A[1:]]), bdf(header="COMMENT no box"), bdf().replace("STARTFONT", "STARTFONX"),
    bdf().replace("ENCODING 65", "ENCODING 66").replace("ENCODING 63", "ENCODING 64"),  # none asked for
])
def test_a_malformed_bdf_is_invalid(tmp_path, text):
    (tmp_path / "bad.bdf").write_text(text)
    assert not Font.load(tmp_path / "bad.bdf", 16, "A?").valid


# A BMFont page of 16x8 whose alpha holds "A" as a 3x4 box at (2, 1); grey 9 elsewhere is no glyph.
PAGE = numpy.full((8, 16, 4), 255, numpy.uint8)
PAGE[..., 3] = 0
PAGE[1:5, 2:5, 3] = [[0, 255, 0], [255, 0, 255], [255, 255, 255], [255, 0, 255]]


def fnt(page='file="page.png"', box="x=2 y=1 width=3 height=4"):
    return "\n".join(['info face="t" size=8', "common lineHeight=8 base=6 scaleW=16 scaleH=8 pages=1",
                      f"page id=0 {page}", "chars count=1",
                      f"char id=65 {box} xoffset=1 yoffset=2 xadvance=5 page=0 chnl=15", ""])


def write_fnt(folder, text=None, page=png(PAGE)):
    (folder / "page.png").write_bytes(page)
    (folder / "font.fnt").write_text(fnt() if text is None else text)
    return folder / "font.fnt"


def test_a_bmfont_glyph_is_cut_from_its_page_and_lands_by_its_offsets(tmp_path):
    font = Font.load(write_fnt(tmp_path), 16, "A")
    assert font.valid and font.size == 8 and font.glyph_metrics(ord("A")) == (65, 1, 2, 5)
    image = canvas(20, 30)
    font.draw_text("A", (3, 2), 8, RED, image=image)
    expected = numpy.zeros((20, 30), bool)
    expected[4:8, 4:7] = PAGE[1:5, 2:5, 3] > 0
    assert (numpy.asarray(image)[..., 3] > 0).tolist() == expected.tolist()


@pytest.mark.parametrize("name", ["../page.png", "{root}/page.png", "sub/page.png", "..", "missing.png"])
def test_a_bmfont_page_outside_the_font_folder_is_refused_though_it_exists(tmp_path, name):
    (tmp_path / "fonts" / "sub").mkdir(parents=True)
    for folder in (tmp_path, tmp_path / "fonts" / "sub"):
        (folder / "page.png").write_bytes(png(PAGE))
    text = fnt(f'file="{name.format(root=tmp_path)}"')
    assert not Font.load(write_fnt(tmp_path / "fonts", text), 16, "A").valid


@pytest.mark.parametrize("text, page", [
    (fnt(box="x=14 y=1 width=3 height=4"), None), (fnt().replace("pages=1", "pages=0"), None),
    (fnt().replace("info", "nfo"), None), (fnt().replace("xadvance=5", "xadvance=5x"), None),
    (None, b"\x89PNG\r\n\x1a\n" + bytes(40)), (None, b"not a picture"),
])
def test_a_malformed_bmfont_or_page_is_invalid(tmp_path, text, page):
    font_file = write_fnt(tmp_path, text, png(PAGE) if page is None else page)
    assert not Font.load(font_file, 16, "A").valid
