"""Times tavoro's drawing against pygame-ce (a Surface, SDL's dummy video driver) and raylib's
CFFI binding (pyray), side by side in one run: the Python side of one drawing call, a batch
against the loop of single calls it replaces, and whole headless frames at 320x240, 640x480 and
1920x1080, with what a pixel and a primitive cost; and the call rows of tavoro on its desktop
backend.

Each cell is the minimum, over repeats, of the time per operation. pyray and tavoro's desktop
backend need a window, so their cells run in child processes under a private X server (Xvfb,
drawing with Mesa's software OpenGL) when one can be started; without one they are left out.

Run with `make bench` (after the vector table), or after `make build`:

    PYTHONPATH=src .venv/bin/python bench/drawing.py [--repeat R] [--no-write]
"""

import argparse
import json
import os
import platform
import shutil
import subprocess
import sys
import tempfile
import time
import timeit
from pathlib import Path

os.environ.setdefault("PYGAME_HIDE_SUPPORT_PROMPT", "1")
os.environ.setdefault("SDL_VIDEODRIVER", "dummy")

HERE = Path(__file__).resolve().parent
sys.path.insert(0, os.environ.get("TAVORO_MODULE_TREE") or str(HERE.parent / "src"))

import numpy  # noqa: E402
import pygame  # noqa: E402

from tavoro import draw  # noqa: E402
from tavoro.color.color import Color  # noqa: E402
from tavoro.rect.rect import Rect  # noqa: E402
from tavoro.window import Window  # noqa: E402

WIDTH, HEIGHT = 640, 480


def best(statement, namespace, number, repeat):
    timer = timeit.Timer(statement, globals=namespace)
    return min(timer.repeat(repeat, number)) / number


def scene(count, seed=7, width=WIDTH, height=HEIGHT):
    rng = numpy.random.default_rng(seed)
    xy = rng.uniform(0, [width - 16, height - 16], (count, 2)).astype(numpy.float32)
    return xy


SIZES = [(320, 240), (640, 480), (1920, 1080)]
TEXT = "tavoro drawing benchmark"
# The frames each library draws at each size; the derived rows (a pixel, a primitive) follow from
# them: a pixel from 100 rectangles of 128x128 against 100 of 1x1, a primitive from 10,000 rects
# of 1x1 and 1,000 circles against a clear frame.
FRAMES = ["clear only", "typical", "10,000 rects 16x16", "1,000 circles r12", "40 lines of text",
          "100 rects 128x128", "100 rects 1x1", "10,000 rects 1x1"]


# ---------------------------------------------------------------------------------------------
# The calls


def tavoro_cells(repeat, backend="headless"):
    window = Window(WIDTH, HEIGHT, "bench", backend=backend)
    off, color = Rect(-100, -100, 16, 16), Color(200, 40, 40, 255)
    xy = scene(10000)
    rects = [Rect(float(x), float(y), 16, 16) for x, y in xy]
    rows = numpy.hstack([xy, numpy.full((len(xy), 2), 16, numpy.float32)])
    circles = [(float(x), float(y)) for x, y in xy[:50]]
    lines = [((float(a), float(b)), (float(a) + 40, float(b) + 20)) for a, b in xy[:20]]
    ns = {"draw": draw, "off": off, "color": color, "rects": rects, "rows": rows, "window": window,
          "first": rects[:1000], "first_rows": rows[:1000], "circles": circles, "lines": lines,
          "away": [Rect(-100 - x, y, 16, 16) for x, y in xy[:1000]],
          "away_rows": numpy.hstack([-100 - xy[:1000, :1], xy[:1000, 1:], numpy.full((1000, 2), 16, numpy.float32)])}
    window.begin_frame()
    cells = {
        "call, rect off the screen": best("draw.rect(off, color)", ns, 20000, repeat),
        "call, 16x16 rect on it": best("draw.rect(first[0], color)", ns, 2000, repeat),
        "loop of 1,000 calls, off the screen": best("for r in away: draw.rect(r, color)", ns, 50, repeat),
        "batch of 1,000, off the screen (list)": best("draw.rects(away, color)", ns, 50, repeat),
        "batch of 1,000, off the screen (array)": best("draw.rects(away_rows, color)", ns, 50, repeat),
        "loop of 1,000 rect calls": best("for r in first: draw.rect(r, color)", ns, 10, repeat),
        "batch of 1,000 rects (list)": best("draw.rects(first, color)", ns, 10, repeat),
        "batch of 1,000 rects (array)": best("draw.rects(first_rows, color)", ns, 10, repeat),
    }
    window.end_frame()

    def typical():
        with window.frame():
            draw.clear((20, 20, 30))
            draw.rects(rects[:300], color)
            draw.circles(circles, 12, (40, 200, 40))
            draw.lines(lines, (240, 240, 240))
            for i in range(4):
                draw.text("tavoro drawing benchmark", (10, 10 + 24 * i), 20, (255, 255, 255))

    def many():
        with window.frame():
            draw.clear((20, 20, 30))
            draw.rects(rows, color)

    ns.update(typical=typical, many=many)
    cells["frame: clear only"] = best("with window.frame(): draw.clear((0, 0, 0))", ns, 20, repeat)
    cells["frame: typical 640x480"] = best("typical()", ns, 5, repeat)
    cells["frame: 10,000 rects 16x16"] = best("many()", ns, 2, repeat)
    window.close()
    return cells


def tavoro_frames(size, repeat):
    """The frame rows at one size, in seconds per frame."""
    width, height = size
    window = Window(width, height, "bench")
    color = Color(200, 40, 40, 255)
    xy = scene(10000, width=width, height=height)
    rows = numpy.hstack([xy, numpy.full((len(xy), 2), 16, numpy.float32)])
    dots = numpy.hstack([xy, numpy.ones((len(xy), 2), numpy.float32)])
    big = numpy.hstack([xy[:100] % [max(width - 128, 1), max(height - 128, 1)],
                        numpy.full((100, 2), 128, numpy.float32)]).astype(numpy.float32)
    rects = [Rect(float(x), float(y), 16, 16) for x, y in xy[:300]]
    circles = [(float(x), float(y)) for x, y in xy[:1000]]
    lines = [((float(a), float(b)), (float(a) + 40, float(b) + 20)) for a, b in xy[:20]]
    places = [(10.0, float((10 + 24 * i) % max(height - 20, 1))) for i in range(40)]

    def frame(body):
        def run():
            with window.frame():
                draw.clear((20, 20, 30))
                body()
        return run

    def typical():
        draw.rects(rects, color)
        draw.circles(circles[:50], 12, (40, 200, 40))
        draw.lines(lines, (240, 240, 240))
        for i in range(4):
            draw.text(TEXT, (10, 10 + 24 * i), 20, (255, 255, 255))

    def text():
        for at in places:
            draw.text(TEXT, at, 20, (255, 255, 255))

    bodies = {
        "clear only": lambda: None,
        "typical": typical,
        "10,000 rects 16x16": lambda: draw.rects(rows, color),
        "1,000 circles r12": lambda: draw.circles(circles, 12, (40, 200, 40)),
        "40 lines of text": text,
        "100 rects 128x128": lambda: draw.rects(big, color),
        "100 rects 1x1": lambda: draw.rects(dots[:100], color),
        "10,000 rects 1x1": lambda: draw.rects(dots, color),
    }
    number = {"clear only": 20, "100 rects 1x1": 20}
    cells = {name: best("run()", {"run": frame(bodies[name])}, number.get(name, 3), repeat) for name in FRAMES}
    window.close()
    return cells


def pygame_frames(size, repeat):
    """The same frames with pygame-ce, filled as it draws."""
    width, height = size
    surface = pygame.Surface((width, height))
    color = pygame.Color(200, 40, 40)
    xy = scene(10000, width=width, height=height)
    rects = [pygame.Rect(int(x), int(y), 16, 16) for x, y in xy]
    dots = [pygame.Rect(int(x), int(y), 1, 1) for x, y in xy]
    big = [pygame.Rect(int(x) % max(width - 128, 1), int(y) % max(height - 128, 1), 128, 128) for x, y in xy[:100]]
    circles = [(int(x), int(y)) for x, y in xy[:1000]]
    lines = [((int(a), int(b)), (int(a) + 40, int(b) + 20)) for a, b in xy[:20]]
    places = [(10, (10 + 24 * i) % max(height - 20, 1)) for i in range(40)]
    font = pygame.font.Font(None, 20)

    def frame(body):
        def run():
            surface.fill((20, 20, 30))
            body()
        return run

    def fill(shapes):
        def run():
            for r in shapes:
                pygame.draw.rect(surface, color, r)
        return run

    def typical():
        fill(rects[:300])()
        for c in circles[:50]:
            pygame.draw.circle(surface, (40, 200, 40), c, 12)
        for a, b in lines:
            pygame.draw.line(surface, (240, 240, 240), a, b)
        for i in range(4):
            surface.blit(font.render(TEXT, True, (255, 255, 255)), (10, 10 + 24 * i))

    def circles_body():
        for c in circles:
            pygame.draw.circle(surface, (40, 200, 40), c, 12)

    def text():
        for at in places:
            surface.blit(font.render(TEXT, True, (255, 255, 255)), at)

    bodies = {
        "clear only": lambda: None,
        "typical": typical,
        "10,000 rects 16x16": fill(rects),
        "1,000 circles r12": circles_body,
        "40 lines of text": text,
        "100 rects 128x128": fill(big),
        "100 rects 1x1": fill(dots[:100]),
        "10,000 rects 1x1": fill(dots),
    }
    number = {"clear only": 20, "100 rects 1x1": 20}
    return {name: best("run()", {"run": frame(bodies[name])}, number.get(name, 3), repeat) for name in FRAMES}


def pygame_cells(repeat):
    pygame.font.init()  # the whole of pygame.init() would open an audio device too
    surface = pygame.Surface((WIDTH, HEIGHT))
    off, color = pygame.Rect(-100, -100, 16, 16), pygame.Color(200, 40, 40)
    xy = scene(10000)
    rects = [pygame.Rect(int(x), int(y), 16, 16) for x, y in xy]
    circles = [(int(x), int(y)) for x, y in xy[:50]]
    lines = [((int(a), int(b)), (int(a) + 40, int(b) + 20)) for a, b in xy[:20]]
    font = pygame.font.Font(None, 20)
    ns = {"pygame": pygame, "surface": surface, "off": off, "color": color, "first": rects[:1000],
          "rects": rects, "away": [pygame.Rect(-100 - int(x), int(y), 16, 16) for x, y in xy[:1000]]}

    def typical():
        surface.fill((20, 20, 30))
        for r in rects[:300]:
            pygame.draw.rect(surface, color, r)
        for c in circles:
            pygame.draw.circle(surface, (40, 200, 40), c, 12)
        for a, b in lines:
            pygame.draw.line(surface, (240, 240, 240), a, b)
        for i in range(4):
            surface.blit(font.render("tavoro drawing benchmark", True, (255, 255, 255)), (10, 10 + 24 * i))

    def many():
        surface.fill((20, 20, 30))
        for r in rects:
            pygame.draw.rect(surface, color, r)

    ns.update(typical=typical, many=many)
    return {
        "call, rect off the screen": best("pygame.draw.rect(surface, color, off)", ns, 20000, repeat),
        "call, 16x16 rect on it": best("pygame.draw.rect(surface, color, first[0])", ns, 2000, repeat),
        "loop of 1,000 calls, off the screen": best("for r in away: pygame.draw.rect(surface, color, r)", ns, 50, repeat),
        "loop of 1,000 rect calls": best("for r in first: pygame.draw.rect(surface, color, r)", ns, 10, repeat),
        "frame: clear only": best("surface.fill((0, 0, 0))", ns, 20, repeat),
        "frame: typical 640x480": best("typical()", ns, 5, repeat),
        "frame: 10,000 rects 16x16": best("many()", ns, 2, repeat),
    }


PYRAY_CHILD = """
import json, sys, timeit
import pyray
pyray.set_trace_log_level(pyray.LOG_NONE)
pyray.init_window(64, 48, "bench")
off, color = pyray.Rectangle(-100, -100, 16, 16), pyray.Color(200, 40, 40, 255)
ns = {"pyray": pyray, "off": off, "color": color}
pyray.begin_drawing()
t = timeit.Timer("pyray.draw_rectangle_rec(off, color)", globals=ns)
cell = min(t.repeat(int(sys.argv[1]), 5000)) / 5000
pyray.end_drawing()
pyray.close_window()
print(json.dumps({"call, rect off the screen": cell}))
"""


def child_cells(server, code, repeat):
    """The cells a child prints as JSON on its last line, run on the X server `server`."""
    with tempfile.TemporaryDirectory() as home:
        env = dict(os.environ, DISPLAY=server, HOME=home, LIBGL_ALWAYS_SOFTWARE="1")
        try:
            proc = subprocess.run([sys.executable, "-c", code, str(repeat)], env=env,
                                  capture_output=True, text=True, timeout=600)
            return json.loads(proc.stdout.splitlines()[-1]) if proc.returncode == 0 else {}
        except (subprocess.TimeoutExpired, IndexError, ValueError):
            return {}


DESKTOP_CHILD = f"""
import json, sys
sys.path.insert(0, {str(HERE)!r})
from drawing import tavoro_cells
print(json.dumps(tavoro_cells(int(sys.argv[1]), "desktop")))
"""


def windowed_cells(repeat):
    """pyray's cells and tavoro's on the desktop, from children under a private X server; {}
    for each without one."""
    xvfb = shutil.which("Xvfb")
    if not xvfb:
        return {}, {}
    server = subprocess.Popen([xvfb, ":97", "-screen", "0", f"{WIDTH}x{HEIGHT}x24", "-nolisten", "tcp",
                               "-noreset"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(1.0)
        return child_cells(":97", PYRAY_CHILD, repeat), child_cells(":97", DESKTOP_CHILD, repeat)
    finally:
        server.terminate()
        server.wait()


# ---------------------------------------------------------------------------------------------
# The table


def fmt(seconds):
    if seconds is None:
        return "-"
    return f"{seconds * 1e9:.0f} ns" if seconds < 1e-4 else f"{seconds * 1e3:.3f} ms"


def table(columns):
    names = list(columns["tavoro"])
    libraries = ("tavoro", "tavoro desktop", "pygame-ce", "pyray")
    out = ["| row | " + " | ".join(libraries) + " |", "| --- |" + " ---: |" * len(libraries)]
    for name in names:
        cells = [fmt(columns[lib].get(name)) for lib in libraries]
        out.append(f"| {name} | " + " | ".join(cells) + " |")
    t = columns["tavoro"]
    loop = t["loop of 1,000 calls, off the screen"]
    out.append("")
    out.append(f"The Python side of a batch of 1,000 rectangles (off the screen, so that no pixels are "
               f"filled) is {loop / t['batch of 1,000, off the screen (list)']:.1f} times as fast as the "
               f"loop of single calls from a list, {loop / t['batch of 1,000, off the screen (array)']:.1f} "
               "times from a float32 array. On the screen, both wait for the renderer's pixels.")
    pyray_call = columns["pyray"].get("call, rect off the screen")
    if pyray_call:
        out.append(f"The Python side of a tavoro call is {pyray_call / t['call, rect off the screen']:.1f} "
                   "times as fast as pyray's.")
    return "\n".join(out)


def derived(cells, size):
    """What a pixel and a primitive cost, from the frames."""
    width, height = size
    pixel = (cells["100 rects 128x128"] - cells["100 rects 1x1"]) / (100 * (128 * 128 - 1))
    return {
        "a pixel (rect fill)": pixel,
        "a primitive (1x1 rect)": (cells["10,000 rects 1x1"] - cells["clear only"]) / 10000,
        "a circle r12": (cells["1,000 circles r12"] - cells["clear only"]) / 1000,
    }


def frames_table(frames):
    out = ["| frame | size | tavoro | pygame-ce | ratio |", "| --- | --- | ---: | ---: | ---: |"]
    for size, (ours, theirs) in frames.items():
        rows = {name: (ours[name], theirs[name]) for name in FRAMES}
        mine, peer = derived(ours, size), derived(theirs, size)
        rows.update({name: (mine[name], peer[name]) for name in mine})
        for name, (a, b) in rows.items():
            unit = (lambda t: f"{t * 1e9:.2f} ns") if name == "a pixel (rect fill)" else fmt
            out.append(f"| {name} | {size[0]}x{size[1]} | {unit(a)} | {unit(b)} | {a / b:.2f} |")
    return "\n".join(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=7)
    parser.add_argument("--no-write", action="store_true")
    args = parser.parse_args()
    pyray, desktop = windowed_cells(args.repeat)
    columns = {"tavoro": tavoro_cells(args.repeat), "tavoro desktop": desktop,
               "pygame-ce": pygame_cells(args.repeat), "pyray": pyray}
    frames = {size: (tavoro_frames(size, args.repeat), pygame_frames(size, args.repeat)) for size in SIZES}
    text = (f"# Drawing, headless\n\nCPython {platform.python_version()} on {platform.machine()}, "
            f"{WIDTH}x{HEIGHT}; minimum over {args.repeat} repeats. tavoro draws into raylib's software "
            "renderer, which fills the pixels as each call draws: its call rows time the call, its "
            "frame rows the whole frame. pygame-ce fills the pixels in the call. tavoro desktop is "
            "the same rows on the desktop backend under Xvfb, where Mesa's software OpenGL (llvmpipe) "
            "stands in for a GPU: its call rows are what a real GPU's would be, its frame rows are not "
            "(a GPU draws them in far less).\n\n"
            + table(columns) + "\n\n## Whole frames\n\nEach frame clears to a colour and draws "
            "its shapes (tavoro's in batches, pygame-ce's in a loop of calls; text is rendered anew "
            "each frame by both); the ratio is tavoro's time over pygame-ce's. A pixel is the slope "
            "from 100 rects of 1x1 to 100 of 128x128; a primitive, 10,000 1x1 rects or 1,000 "
            "circles over a clear frame, per shape.\n\n" + frames_table(frames) + "\n")
    print(text)
    if not args.no_write:
        (HERE / "drawing.md").write_text(text)


if __name__ == "__main__":
    main()
