"""Mutational fuzzing of image and font files, as tests/test_file_fuzz.py does for audio: seeds of
every format the build decodes (PNG in each colour type, BMP, GIF, QOI, JPEG and TGA, made here
by an encoder of the test's own and by raylib's writers; the test font for TrueType, a small BDF
font, a BMFont text with its page) are mutated, and each image mutant is loaded from its file,
from bytes and as frames, then copied, edited and read; each font mutant is loaded, measured and
drawn with. Nothing may crash or hang the interpreter. TAVORO_IMAGE_FUZZ_MUTANTS sets the number
of mutants (`make fuzz` runs many), and TAVORO_FILE_FUZZ_SEED the random seed."""

import os
import struct
import zlib

import numpy
import pytest

from test_file_fuzz import SEED, make_mutants, run_mutants
from test_font import PAGE, TTF, bdf, fnt
from test_image import gif, png, tga

from tavoro.font import Font
from tavoro.image.image import Image

MUTANTS = int(os.environ.get("TAVORO_IMAGE_FUZZ_MUTANTS", "40"))


def paletted_png(indices, palette, alpha):
    """A colour-type-3 PNG with a transparency chunk, which raylib's writer never makes."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    h, w = indices.shape
    rows = b"".join(b"\0" + indices[y].astype(numpy.uint8).tobytes() for y in range(h))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 3, 0, 0, 0))
            + chunk(b"PLTE", bytes(palette)) + chunk(b"tRNS", bytes(alpha))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


@pytest.fixture(scope="module")
def seeds(tmp_path_factory):
    directory = tmp_path_factory.mktemp("image-seeds")
    pixels = (numpy.arange(8 * 6 * 4) * 37 % 256).astype(numpy.uint8).reshape(6, 8, 4)
    made = {f"c{c}.png": png(pixels[..., :c].squeeze()) for c in (1, 2, 3, 4)}
    indices = numpy.arange(48).reshape(6, 8) % 4
    made["palette.png"] = paletted_png(indices, range(12), [0, 128, 255])
    made["four.gif"] = gif(indices, [0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255])
    made["frames.gif"] = made["four.gif"][:-1] + made["four.gif"][25:]  # a second frame after the first
    made["font.ttf"] = TTF.read_bytes()
    made["own.tga"] = tga(pixels)
    made["font.bdf"] = bdf().encode()
    made["font.fnt"], made["page.png"] = fnt().encode(), png(PAGE)
    for name, data in made.items():
        (directory / name).write_bytes(data)
    for channels in (1, 3, 4):
        image = Image.from_buffer(numpy.ascontiguousarray(pixels[..., :channels].squeeze()))
        for extension in (".bmp", ".jpg", ".tga") + ((".qoi",) if channels > 1 else ()):  # QOI has no grey
            image.export(directory / f"raylib{channels}{extension}")
    return sorted(directory.iterdir())


CHILD = r"""
import resource, sys
if not {sanitizer}:
    resource.setrlimit(resource.RLIMIT_AS, (3 << 30, 3 << 30))
import numpy
from tavoro.font import Font
from tavoro.image.image import Image
paths = open(sys.argv[1]).read().splitlines()
progress = open(sys.argv[2], "a", buffering=1)
for index in range(int(sys.argv[3]), len(paths)):
    progress.write(f"{{index}}\n")
    if paths[index].endswith((".ttf", ".bdf", ".fnt")):
        font = Font.load(paths[index], 12 + index % 20, None if index % 3 else "Az?\u00e9")
        if font.valid:
            font.glyphs
            canvas = Image.from_buffer(numpy.zeros((40, 200, 4), numpy.uint8))
            font.draw_text("Hello, ?\u00e9", (1, 1), 16, (255, 255, 255, 255), image=canvas)
            font.measure_text("Hello", 30)
        continue
    data = open(paths[index], "rb").read()
    for image in (Image.load(paths[index]), Image.from_bytes(data), Image.load_anim(paths[index])[0]):
        if not image.valid:
            continue
        copy = image.copy()
        int(numpy.asarray(copy).sum())
        copy.get_color((image.width - 1, image.height - 1))
        copy.flip_vertical()
        copy.resize(max(1, image.width // 2), 3, smooth=index % 2 == 0)
        copy.convert(7)
        copy.draw_image(image, (0, 0, image.width, image.height), (1, 1, 5, 5))
progress.write("end\n")
"""


def test_mutated_image_files_neither_crash_nor_hang(tmp_path, seeds):
    assert {p.suffix for p in seeds} == {".png", ".bmp", ".gif", ".qoi", ".jpg", ".tga", ".ttf", ".bdf", ".fnt"}
    assert all((Font.load(p) if p.suffix in (".ttf", ".bdf", ".fnt") else Image.load(p)).valid for p in seeds)
    mutants = tmp_path / "mutants"
    mutants.mkdir()
    (mutants / "page.png").write_bytes(png(PAGE))  # the BMFont mutants' page
    paths = make_mutants(mutants, MUTANTS, SEED, seeds)
    crashes, hangs = run_mutants(paths, tmp_path, CHILD)
    assert not crashes and not hangs, (
        f"{len(crashes)} crashes, {len(hangs)} hangs in {len(paths)} mutants:\n"
        + "\n".join(f"{path}: {detail}" for path, detail in crashes + hangs))
