"""Images: decoded files against an encoder of the test's own, arrays in and out without a copy,
the edits against NumPy's, CPU drawing by its pixels, and the file boundary's answers."""

import struct
import zlib

import numpy
import pytest

from tavoro.color.color import Color
from tavoro.image.image import Image
from tavoro.rect.rect import Rect

RGBA, RGB, GRAY, GRAY_ALPHA = 7, 4, 1, 2
RED, BLUE = (255, 0, 0, 255), (0, 0, 255, 255)
PNG_TYPES = {1: 0, 2: 4, 3: 2, 4: 6}  # channels: PNG colour type


def png(pixels):
    """An 8-bit PNG of `pixels` (rows, columns[, channels]), written without raylib."""
    pixels = numpy.ascontiguousarray(pixels, numpy.uint8)
    if pixels.ndim == 2:
        pixels = pixels[:, :, None]
    h, w, c = pixels.shape

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    rows = b"".join(b"\0" + pixels[y].tobytes() for y in range(h))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, PNG_TYPES[c], 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def gif(indices, palette):
    """A GIF of 3-bit codes: a clear code before every pixel keeps the code size fixed."""
    h, w = indices.shape
    codes = [c for p in indices.flatten() for c in (4, int(p))] + [5]
    bits = sum(c << (3 * i) for i, c in enumerate(codes))
    data = bits.to_bytes((3 * len(codes) + 7) // 8, "little")
    blocks = b"".join(bytes([len(data[i:i + 255])]) + data[i:i + 255] for i in range(0, len(data), 255))
    return (b"GIF89a" + struct.pack("<HHBBB", w, h, 0xF1, 0, 0) + bytes(palette)
            + b"," + struct.pack("<HHHHB", 0, 0, w, h, 0) + b"\2" + blocks + b"\0;")


def pattern(h=5, w=7, c=4):
    return numpy.arange(h * w * c, dtype=numpy.uint8).reshape(h, w, c) * 7


def write(path, data):
    path.write_bytes(data)
    return path


def rgba(h=16, w=16):
    return Image.from_buffer(numpy.zeros((h, w, 4), numpy.uint8))



@pytest.mark.parametrize("channels, fmt", [(1, GRAY), (2, GRAY_ALPHA), (3, RGB), (4, RGBA)])
def test_a_decoded_png_holds_the_pixels_it_encodes(tmp_path, channels, fmt):
    pixels = pattern(c=channels)[..., :channels].squeeze()
    for image in (Image.load(write(tmp_path / "p.PNG", png(pixels))), Image.load(str(tmp_path / "p.PNG")),
                  Image.from_bytes(png(pixels)), Image.from_bytes(memoryview(png(pixels)))):
        assert image.valid and image.format == fmt and (image.width, image.height) == (7, 5)
        assert (numpy.asarray(image) == pixels).all()


BROKEN = {
    "missing": lambda d: d / "none.png",
    "empty": lambda d: write(d / "e.png", b""),
    "unknown extension": lambda d: write(d / "p.tiff", png(pattern())),
    "an extension without a stem": lambda d: write(d / ".png", png(pattern())),
    "not an image": lambda d: write(d / "t.png", b"hello, world, not a picture"),
    "cut short": lambda d: write(d / "c.png", png(pattern())[:60]),
    # A header that asks for 16384 x 16384 pixels from a file of a few bytes is not decoded.
    "lying header": lambda d: write(d / "l.png", png(pattern())[:16] + struct.pack(">II", 16384, 16384)
                                                       + png(pattern())[24:]),
    "too wide": lambda d: write(d / "w.qoi", b"qoif" + struct.pack(">II", 20000, 1) + b"\4\0" + bytes(64)),
    "lying jpeg frame": lambda d: write(d / "l.jpg", b"\xff\xd8\xff\xe0\0\4ab\xff\xc0\0\x11\x08"
                                        + struct.pack(">HH", 16384, 16384) + bytes(200)),
    "too wide tga": lambda d: write(d / "w.tga", tga(pattern(1, 1, 4))[:12] + struct.pack("<HH", 20000, 1)
                                    + tga(pattern(1, 1, 4))[16:]),
    "tga of no kind": lambda d: write(d / "k.tga", b"\0\0\7" + tga(pattern(2, 2, 4))[3:]),
}


def tga(pixels):
    """An uncompressed 32-bit TGA, rows top first, written without raylib."""
    h, w, _ = pixels.shape
    return struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, w, h, 32, 0x28) + pixels[..., [2, 1, 0, 3]].tobytes()


@pytest.mark.parametrize("name", BROKEN)
def test_a_file_that_does_not_decode_gives_an_invalid_image(tmp_path, name):
    path = BROKEN[name](tmp_path)
    image = Image.load(path)
    assert not image.valid and image.width == 0
    if path.is_file() and "extension" not in name:  # bytes decode by their content alone
        assert not Image.from_bytes(path.read_bytes()).valid
    with pytest.raises(ValueError, match="no pixels"):
        image.copy().crop((0, 0, 1, 1))


@pytest.mark.parametrize("pixels, fmt", [
    (numpy.zeros((2, 2, 5), numpy.uint8), None), (numpy.zeros((2, 2), numpy.int64), None),
    (numpy.zeros((2, 2), numpy.uint16), None), (numpy.zeros((2, 2, 4), numpy.uint8), 10)])
def test_buffers_of_the_wrong_shape_or_item_raise(pixels, fmt):
    with pytest.raises(ValueError):
        Image.from_buffer(pixels, fmt)
    with pytest.raises(TypeError):
        Image.from_bytes("text")


def test_a_raw_file_loads_after_its_header_and_only_when_whole(tmp_path):
    pixels = pattern(3, 4, 3)
    image = Image.load_raw(write(tmp_path / "p.raw", b"HEAD" + pixels.tobytes()), 4, 3, RGB, header_size=4)
    assert (numpy.asarray(image) == pixels).all() and not Image.load_raw(tmp_path / "p.raw", 4, 4, RGB, 4).valid


@pytest.mark.parametrize("written", ["raylib", "own"])
def test_a_decoded_tga_holds_the_pixels_written_and_bytes_do_not_say_tga(tmp_path, written):
    pixels = pattern(5, 7, 4)
    if written == "raylib":  # run-length coded, rows bottom first
        Image.from_buffer(pixels).export(tmp_path / "p.tga")
    else:
        write(tmp_path / "p.tga", tga(pixels))
    assert (numpy.asarray(Image.load(tmp_path / "p.tga")) == pixels).all()
    assert not Image.from_bytes((tmp_path / "p.tga").read_bytes()).valid


def test_a_decoded_jpeg_is_near_the_pixels_written(tmp_path):
    y, x = numpy.mgrid[0:16, 0:24]
    pixels = numpy.dstack([x * 10, y * 15, x * 5 + y * 5, 255 + 0 * x]).astype(numpy.uint8)
    Image.from_buffer(pixels).export(tmp_path / "p.jpeg")
    for back in (Image.load(tmp_path / "p.jpeg"), Image.from_bytes((tmp_path / "p.jpeg").read_bytes())):
        assert back.valid and numpy.abs(numpy.asarray(back)[..., :3].astype(int) - pixels[..., :3]).mean() < 4


def test_an_animated_gif_loads_as_one_tall_image_of_its_frames(tmp_path):
    first, second = numpy.arange(12).reshape(3, 4) % 4, numpy.arange(12).reshape(3, 4)[::-1] % 4
    palette = [0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255]
    frame = gif(second, palette)[13 + 12:-1]  # the second image block, after the header and palette
    image, frames = Image.load_anim(write(tmp_path / "a.gif", gif(first, palette)[:-1] + frame + b";"))
    colours = numpy.array(palette).reshape(4, 3)
    assert frames == 2 and (image.width, image.height) == (4, 6)
    assert (numpy.asarray(image)[..., :3] == colours[numpy.vstack([first, second])]).all()
    tall = gif(first, palette)[:6] + struct.pack("<HH", 1024, 1024) + gif(first, palette)[10:-1] + frame * 40
    assert Image.load_anim(write(tmp_path / "t.gif", tall + b";"))[1] == 0  # 41 frames of 1024 x 1024
    assert Image.load_anim(write(tmp_path / "b.png", png(pattern())))[1] == 1


@pytest.mark.parametrize("extension", [".png", ".bmp", ".qoi"])
def test_an_exported_image_loads_back_the_same(tmp_path, extension):
    image = Image.from_buffer(pattern(6, 9, 4) | 1)  # BMP and QOI keep alpha only when not all 255
    image.export(tmp_path / f"out{extension}")
    back = Image.load(tmp_path / f"out{extension}")
    assert (numpy.asarray(back)[..., :3] == numpy.asarray(image)[..., :3]).all()



@pytest.mark.parametrize("dtype, shape, fmt", [
    (numpy.uint8, (3, 4), GRAY), (numpy.uint8, (3, 4, 2), GRAY_ALPHA), (numpy.uint8, (3, 4, 3), RGB),
    (numpy.uint8, (3, 4, 4), RGBA), (numpy.float32, (3, 4, 3), 9), (numpy.float16, (3, 4, 4), 13)])
def test_an_array_makes_an_image_of_its_layout_and_reads_back_as_one(dtype, shape, fmt):
    pixels = (numpy.arange(numpy.prod(shape)) % 200).astype(dtype).reshape(shape)
    image = Image.from_buffer(pixels)
    view = numpy.asarray(image)
    assert (image.format, image.width, image.height) == (fmt, 4, 3) and view.dtype == dtype
    assert (view == pixels).all() and not numpy.shares_memory(view, pixels)


def test_a_strided_array_is_copied_in_order_and_the_view_writes_through():
    pixels = pattern(8, 10)[::2, ::3]
    image = Image.from_buffer(pixels)
    assert (numpy.asarray(image) == pixels).all()
    numpy.asarray(image)[1, 2] = (1, 2, 3, 4)
    assert image.get_color((2, 1)) == Color(1, 2, 3, 4) and image.get_color((2.9, 1.5)) == Color(1, 2, 3, 4)
    assert Image.from_buffer(numpy.zeros((2, 2), numpy.uint16), format=3).format == 3



EDITS = {
    "flip_vertical": (lambda i: i.flip_vertical(), lambda a: a[::-1]),
    "rotate_cw": (lambda i: i.rotate_cw(), lambda a: numpy.rot90(a, -1)),
    "crop": (lambda i: i.crop(Rect(2, 1, 3, 2)), lambda a: a[1:3, 2:5]),
    "crop past the edges": (lambda i: i.crop((-3, 3, 100, 100)), lambda a: a[3:]),
    "crop of fractions": (lambda i: i.crop((1.5, 0.5, 1, 1)), lambda a: a[0:2, 1:3]),
    "resize nearest": (lambda i: i.resize(14, 10, smooth=False), lambda a: a.repeat(2, 0).repeat(2, 1)),
    "rotate by a half turn": (lambda i: i.rotate(-180), lambda a: a[::-1, ::-1]),
}


@pytest.mark.parametrize("edit, expected", EDITS.values(), ids=EDITS.keys())
def test_edits_move_the_pixels_as_numpy_does(edit, expected):
    pixels = pattern()
    original = Image.from_buffer(pixels)
    image = original.copy()
    edit(image)
    assert (numpy.asarray(image) == expected(pixels)).all()
    assert (numpy.asarray(original) == pixels).all()


def test_smooth_resize_channels_and_conversion():
    image = Image.from_buffer(numpy.full((4, 4, 4), (200, 100, 50, 255), numpy.uint8))
    image.resize(9, 3)
    assert (image.width, image.height) == (9, 3) and image.get_color((4, 1)) == Color(200, 100, 50, 255)
    assert (numpy.asarray(image.from_channel(1)) == 100).all()
    image.convert(GRAY)
    assert image.format == GRAY and numpy.asarray(image).shape == (3, 9)


@pytest.mark.parametrize("edit, error, message", [
    (lambda i: i.resize(10**5, 10**4), ValueError, "16384"),
    (lambda i: i.crop((20, 20, 4, 4)), ValueError, "outside"),
    (lambda i: i.crop((0, 0, -4, 4)), ValueError, "negative"),
    (lambda i: i.from_channel(4), ValueError, "channel"),
    (lambda i: i.get_color((16, 0)), IndexError, "outside"),
    (lambda i: (i.convert(10), i.rotate(30)), ValueError, "8 bits"),
    (lambda i: i.draw_line((0, 0), (10**6, 0), RED), ValueError, "16000"),
    (lambda i: i.draw_image(i, (0, 0, 4, 4), (0, 0, 10**5, 10**5)), ValueError, "16384"),
    (lambda i: i.draw_text("no window", (0, 0), 10, RED), RuntimeError, "no window"),
])
def test_impossible_edits_raise_and_leave_the_image(edit, error, message):
    image = rgba()
    with pytest.raises(error, match=message):
        edit(image)
    assert image.valid


def test_edits_wait_for_buffer_views_but_drawing_shows_through_them():
    image = rgba()
    view = numpy.asarray(image)
    with pytest.raises(BufferError, match="in use"):
        image.resize(4, 4)
    image.draw_pixel((1, 1), RED)
    assert tuple(view[1, 1]) == RED



DRAWINGS = {
    # name: (drawing, pixels that must be red, pixels that must stay clear)
    "rect": (lambda i: i.draw_rect(Rect(4, 4, 6, 3), RED), [(4, 4), (9, 6)], [(3, 4), (10, 4), (4, 7)]),
    "rect_lines": (lambda i: i.draw_rect_lines((2, 2, 12, 12), RED, 2), [(2, 2), (3, 8), (13, 13)], [(4, 4), (8, 8)]),
    "line": (lambda i: i.draw_line((1, 8), (14, 8), RED), [(1, 8), (13, 8)], [(1, 7), (1, 9)]),
    "thick line": (lambda i: i.draw_line((1, 8), (14, 8), RED, 3), [(5, 7), (5, 9)], [(5, 5), (5, 11)]),
    "circle": (lambda i: i.draw_circle((8, 8), 4, RED), [(8, 8), (11, 8), (8, 5)], [(13, 8), (4, 4)]),
    "triangle": (lambda i: i.draw_triangle((2, 2), (2, 12), (12, 2), RED), [(3, 3), (3, 10)], [(11, 11)]),
}


@pytest.mark.parametrize("drawing, inside, outside", DRAWINGS.values(), ids=DRAWINGS.keys())
def test_cpu_drawing_lands_where_it_says(drawing, inside, outside):
    image = rgba()
    drawing(image)
    pixels = numpy.asarray(image)
    assert [tuple(pixels[y, x]) for x, y in inside] == [RED] * len(inside)
    assert not any(pixels[y, x].any() for x, y in outside)


def test_an_image_drawn_through_a_source_rect_lands_scaled_in_its_destination():
    sheet = rgba(8, 16)
    sheet.draw_rect((8, 0, 8, 8), BLUE)  # the second sprite of the sheet
    image = rgba()
    image.draw_image(sheet, (8, 0, 8, 8), (4, 4, 4, 4))
    pixels = numpy.asarray(image)
    assert (pixels[4:8, 4:8] == BLUE).all() and not pixels[:4].any() and not pixels[8:].any()
    image.draw_image(image, (4, 4, 4, 4), (0, 0, 4, 4), tint=(255, 255, 255, 255))
    assert (pixels[0:4, 0:4] == BLUE).all()

