"""Times tavoro's pictures and text against pygame-ce, side by side in one run: loading a PNG,
drawing a 32x32 sprite (Surface.blit against Texture.draw), a line of text in a TrueType font
(Font.render plus a blit against Font.draw_text) and an image as a NumPy array (surfarray
against the buffer view).

Each cell is the minimum, over repeats, of the time per operation. tavoro's drawing calls queue
their work for raylib's software renderer, which fills the pixels when the frame ends: those
rows time the Python side of the call, as pygame-ce's blit of a sprite fully off its surface
does.

Run with `make bench`, or after `make build`:

    PYTHONPATH=src .venv/bin/python bench/pictures.py [--repeat R] [--no-write]
"""

import argparse
import os
import platform
import sys
import tempfile
import timeit
from pathlib import Path

os.environ.setdefault("PYGAME_HIDE_SUPPORT_PROMPT", "1")
os.environ.setdefault("SDL_VIDEODRIVER", "dummy")

HERE = Path(__file__).resolve().parent
sys.path.insert(0, os.environ.get("TAVORO_MODULE_TREE") or str(HERE.parent / "src"))

import numpy  # noqa: E402
import pygame  # noqa: E402
import pygame.surfarray  # noqa: E402

from tavoro.color.color import Color  # noqa: E402
from tavoro.font import Font  # noqa: E402
from tavoro.image.image import Image  # noqa: E402
from tavoro.rect.rect import Rect  # noqa: E402
from tavoro.texture import Texture  # noqa: E402
from tavoro.window import Window  # noqa: E402

WIDTH, HEIGHT = 640, 480
TTF = HERE.parent / "tests" / "data" / "fonts" / "DejaVuSansMono-ascii.ttf"
TEXT = "Score: 12345  Lives: 3"


def best(statement, namespace, number, repeat):
    timer = timeit.Timer(statement, globals=namespace)
    return min(timer.repeat(repeat, number)) / number


def sprite_pixels():
    rng = numpy.random.default_rng(3)
    return rng.integers(0, 256, (32, 32, 4), dtype=numpy.uint8)


def tavoro_cells(repeat, png):
    window = Window(WIDTH, HEIGHT, "bench")
    sprite = Texture.from_image(Image.from_buffer(sprite_pixels()))
    font = Font.load(TTF, 20)
    image = Image.load(png)
    ns = {"Image": Image, "png": png, "sprite": sprite, "font": font, "image": image, "numpy": numpy,
          "on": Rect(100, 100, 32, 32), "off": Rect(-100, -100, 32, 32), "white": Color(255, 255, 255, 255),
          "at": (10.0, 10.0)}
    cells = {"load a 64x64 PNG": best("Image.load(png)", ns, 200, repeat)}
    window.begin_frame()
    cells.update({
        "draw a 32x32 sprite, off the screen": best("sprite.draw(off)", ns, 20000, repeat),
        "draw a 32x32 sprite (the call)": best("sprite.draw(on)", ns, 2000, repeat),
        "a line of text in a TTF font, off the screen": best("font.draw_text(TEXT, away, 20, white)",
                                                              {**ns, "TEXT": TEXT, "away": (-1000.0, -1000.0)}, 2000, repeat),
        "a line of text in a TTF font (the call)": best("font.draw_text(TEXT, at, 20, white)", {**ns, "TEXT": TEXT}, 500, repeat),
        "image as a NumPy array (a view)": best("numpy.asarray(image)", ns, 20000, repeat),
    })
    window.end_frame()
    window.close()
    return cells


def pygame_cells(repeat, png):
    pygame.display.init()
    pygame.font.init()
    screen = pygame.Surface((WIDTH, HEIGHT))
    sprite = pygame.image.frombuffer(sprite_pixels().tobytes(), (32, 32), "RGBA")
    font = pygame.font.Font(str(TTF), 20)
    image = pygame.image.load(png)
    ns = {"pygame": pygame, "png": png, "screen": screen, "sprite": sprite, "font": font, "image": image,
          "white": (255, 255, 255), "TEXT": TEXT}
    return {
        "load a 64x64 PNG": best("pygame.image.load(png)", ns, 200, repeat),
        "draw a 32x32 sprite, off the screen": best("screen.blit(sprite, (-100, -100))", ns, 20000, repeat),
        "draw a 32x32 sprite (the call)": best("screen.blit(sprite, (100, 100))", ns, 2000, repeat),
        "a line of text in a TTF font, off the screen": best("screen.blit(font.render(TEXT, True, white), (-1000, -1000))",
                                                              ns, 2000, repeat),
        "a line of text in a TTF font (the call)": best("screen.blit(font.render(TEXT, True, white), (10, 10))",
                                                        ns, 500, repeat),
        "image as a NumPy array (a view)": best("pygame.surfarray.pixels3d(image)", ns, 20000, repeat),
    }


def fmt(seconds):
    return f"{seconds * 1e9:.0f} ns" if seconds < 1e-5 else f"{seconds * 1e6:.1f} µs"


def table(columns):
    out = ["| row | tavoro | pygame-ce | pygame-ce / tavoro |", "| --- | ---: | ---: | ---: |"]
    for name, ours in columns["tavoro"].items():
        theirs = columns["pygame-ce"][name]
        out.append(f"| {name} | {fmt(ours)} | {fmt(theirs)} | {theirs / ours:.1f} |")
    return "\n".join(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=7)
    parser.add_argument("--no-write", action="store_true")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as directory:
        png = str(Path(directory) / "sprite.png")
        big = numpy.tile(sprite_pixels(), (2, 2, 1))
        Image.from_buffer(big).export(png)
        columns = {"tavoro": tavoro_cells(args.repeat, png), "pygame-ce": pygame_cells(args.repeat, png)}
    text = (f"# Pictures and text, headless\n\nCPython {platform.python_version()} on {platform.machine()}, "
            f"{WIDTH}x{HEIGHT}; minimum over {args.repeat} repeats. tavoro's drawing rows time the call, "
            "whose pixels raylib's software renderer fills when the frame ends; pygame-ce fills them in "
            "the call, so its off-the-screen row is the one that compares the Python side alone. Text is "
            f"{TEXT!r} at 20 pixels in the test font.\n\n" + table(columns) + "\n")
    print(text)
    if not args.no_write:
        (HERE / "pictures.md").write_text(text)


if __name__ == "__main__":
    main()
