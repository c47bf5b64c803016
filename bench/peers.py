"""Times tavoro against its peers, pygame-ce and PyGLM, on the same operations in one run on the
same interpreter, beside a floor of CPython's own C-level types doing the same shape of work.

Each cell is the minimum, over many repeats, of the time per operation in nanoseconds; nothing is
subtracted (the empty loop is printed so that readers can judge). The repeats of a row are taken
in turn across its cells, so that a burst of load on the machine hits every cell of the row.

Run with `make bench`, which builds the modules and installs the peers (bench/requirements.txt),
or after `make build`:

    PYTHONPATH=src .venv/bin/python bench/peers.py [--repeat R] [--only TEXT] [--no-write]

The table goes to stdout and, unless --no-write or --only is given, to bench/results.md.
"""

import argparse
import ctypes
from importlib import metadata
import os
import platform
import random
import re
import subprocess
import sys
import textwrap
import timeit
from dataclasses import dataclass, field
from pathlib import Path

os.environ.setdefault("PYGAME_HIDE_SUPPORT_PROMPT", "1")

HERE = Path(__file__).resolve().parent
# The in-place modules, or the tree of modules built for another interpreter (`make bench PY=3.14`).
MODULE_PATH = os.environ.get("TAVORO_MODULE_TREE") or str(HERE.parent / "src")
sys.path.insert(0, MODULE_PATH)

import glm  # noqa: E402
import pygame  # noqa: E402

from tavoro.rect.rect import Rect  # noqa: E402
from tavoro.vector2.vector2 import Vector2  # noqa: E402
from tavoro.vector3.vector3 import Vector3  # noqa: E402

LIBS = ("tavoro", "pygame-ce", "PyGLM")
COLUMNS = LIBS + ("floor",)
PEERS = LIBS[1:]

# How far ahead of the fastest peer tavoro is to be on these kinds of row, and how close to the
# floor every row with one is to stay.
GOAL = {"arith": 1.25, "collision": 1.25, "other": 1.0}
FLOOR_LIMIT = 1.5

NAMESPACE = {
    "Vector2": Vector2,
    "Vector3": Vector3,
    "Rect": Rect,
    "pygame": pygame,
    "glm": glm,
    "random": random,
}


@dataclass
class Row:
    group: str
    label: str
    kind: str  # "arith", "collision" or "other": which goal applies
    cells: dict  # column -> (statement, setup); a column the peer lacks is absent
    number: int | None = None  # operations per timed batch; None: calibrated
    note: str = ""
    results: dict = field(default_factory=dict)  # column -> ns per operation


# ---------------------------------------------------------------------------------------------
# The rows

# Reading a property of a C type takes the interpreter's generic lookup (type cache, descriptor
# call: about 125 instructions), which 3.13 does not specialise; a type that replaces the lookup
# loses the specialised method calls instead (the interpreter binds a method object per call).
READ_NOTE = ("reading goes through the interpreter's generic attribute lookup; PyGLM replaces its "
             "types' lookup, which speeds reads and slows every method call (tried on tavoro: "
             "`v.x` 31 → 20 ns, `v.dot(w)` 24 → 78 ns), so tavoro keeps the generic lookup")


def vector_rows(n):
    letters = "xyz"[:n]
    comps = ", ".join(letters)
    values_v = ", ".join(("1.5", "2.5", "3.5")[:n])
    values_w = ", ".join(("3.0", "-4.0", "0.5")[:n])
    head = f"v = V({values_v}); w = V({values_w}); {comps} = {values_v}"
    setups = {
        "tavoro": f"V = Vector{n}; {head}",
        "pygame-ce": f"V = pygame.math.Vector{n}; {head}",
        "PyGLM": f"V = glm.vec{n}; {head}",
        "floor": "C = complex; c = C(1.5, 2.5); d = C(3.0, -4.0); x, y = 1.5, 2.5",
    }
    group = f"Vector{n}"

    def row(label, kind, tavoro, pygame_ce, pyglm, floor, note=""):
        statements = {"tavoro": tavoro, "pygame-ce": pygame_ce, "PyGLM": pyglm, "floor": floor}
        cells = {c: (s, setups[c]) for c, s in statements.items() if s is not None}
        return Row(group, label, kind, cells, note=note)

    rows = [
        row(f"Vector{n}({comps})", "other", f"V({comps})", f"V({comps})", f"V({comps})", "C(x, y)",
            "" if n == 2 else "the floor of the Vector3 rows is still complex, two components"),
        row(f"Vector{n}(({comps}))", "other", f"V(({comps}))", f"V(({comps}))", f"V(({comps}))", None),
        row("v + w", "arith", "v + w", "v + w", "v + w", "c + d"),
        row("v - w", "arith", "v - w", "v - w", "v - w", "c - d"),
        row("v * 2.0", "arith", "v * 2.0", "v * 2.0", "v * 2.0", "c * 2.0"),
        row("v * w", "arith", "v * w", None, "v * w", "c * d",
            "pygame-ce's `v * w` is the dot product, not the component-wise product"),
        row("v / 2.0", "arith", "v / 2.0", "v / 2.0", "v / 2.0", "c / 2.0"),
        row("-v", "arith", "-v", "-v", "-v", "-c"),
        row("v += w", "arith", "v += w", "v += w", "v += w", "c += d",
            "the floor's `c += d` makes a new complex; the vectors change in place"),
        row("v.x", "other", "v.x", "v.x", "v.x", "c.real", READ_NOTE),
        row("v.x = 1.0", "other", "v.x = 1.0", "v.x = 1.0", "v.x = 1.0", None),
        row("v == w", "other", "v == w", "v == w", "v == w", "c == d"),
        row("length", "other", "v.length", "v.length()", "glm.length(v)", "abs(c)",
            "tavoro: property, read through the same lookup as `v.x`; pygame-ce: method; "
            "PyGLM: module function"),
        row("dot", "other", "v.dot(w)", "v.dot(w)", "glm.dot(v, w)", None),
        row("distance_to", "other", "v.distance_to(w)", "v.distance_to(w)", "glm.distance(v, w)", None),
        row("get_normalized", "other", "v.get_normalized()", "v.normalize()", "glm.normalize(v)",
            "c.conjugate()", "floor: a no-argument method returning a new object"),
        row("to_normalized", "other", "v.to_normalized()", "v.normalize_ip()", None, None),
        row("tuple", "other", "v.get_tuple()", "tuple(v)", "tuple(v)", None),
        row("hash(v)", "other", "hash(v)", None, "hash(v)", "hash(c)",
            "pygame-ce's vectors are unhashable"),
        row("repr(v)", "other", "repr(v)", "repr(v)", "repr(v)", "repr(c)"),
    ]
    if n == 3:
        rows.append(row("cross", "other", "v.cross(w)", "v.cross(w)", "glm.cross(v, w)", None))
    rows += geometry_rows(n, row)
    return rows


# PyGLM's geometric functions take unit vectors (slerp, reflect) and angles in radians; the rows
# time the call each library offers for the operation, with the same vectors.
GLM_UNIT_NOTE = ("PyGLM's reflect and slerp take unit vectors and do not normalise (its slerp also "
                 "keeps unit length); tavoro and pygame-ce take any length")
GLM_SLERP_NOTE = (GLM_UNIT_NOTE + ". PyGLM's slerp also works in 32-bit floats without lengths; "
                  "tavoro's Vector3 slerp, in double precision, spends most of its time in the "
                  "angle's atan2 and stays short of 1.25 times it")


def geometry_rows(n, row):
    axis = ", w" if n == 3 else ""
    rows = [
        row("rotate (degrees)", "arith", f"v.get_rotated(30.0{axis})", f"v.rotate(30.0{axis})", None, None),
        row("rotate (radians)", "arith", f"v.get_rotated_rad(0.5{axis})", f"v.rotate_rad(0.5{axis})",
            f"glm.rotate(v, 0.5{axis})", None),
        row("rotate in place", "arith", f"v.to_rotated(30.0{axis})", f"v.rotate_ip(30.0{axis})", None, None),
        row("lerp", "arith", "v.get_lerp(w, 0.25)", "v.lerp(w, 0.25)", "glm.mix(v, w, 0.25)", None),
        row("slerp", "arith", "v.get_slerp(w, 0.25)", "v.slerp(w, 0.25)",
            "glm.slerp(v, w, 0.25)" if n == 3 else None, None, GLM_SLERP_NOTE if n == 3 else ""),
        row("reflect", "arith", "v.get_reflected(w)", "v.reflect(w)", "glm.reflect(v, w)", None, GLM_UNIT_NOTE),
        row("angle_to", "arith", "v.angle_to(w)", "v.angle_to(w)", None, None),
        row("move_towards", "arith", "v.get_moved_towards(w, 0.5)", "v.move_towards(w, 0.5)", None, None),
        row("clamp_magnitude", "arith", "v.get_clamped_magnitude(1.0)", "v.clamp_magnitude(1.0)", None, None),
        row("project", "arith", "v.get_projected(w)", "v.project(w)", None, None),
        row("length_squared", "arith", "v.length_squared()", "v.length_squared()", "glm.length2(v)", None),
    ]
    if n == 2:
        rows += [
            row("cross (scalar)", "arith", "v.cross(w)", "v.cross(w)", None, None),
            row("as_polar", "arith", "v.as_polar()", "v.as_polar()", None, None),
        ]
    return rows


def rect_rows():
    head = ("r = R(10.0, 20.0, 30.0, 40.0); s = R(25.0, 30.0, 5.0, 5.0); x, y, w, h = 1.0, 2.0, 3.0, 4.0; px, py = 15.0, 25.0; "
            "few = [R(100.0 + i, 0.0, 1.0, 1.0) for i in range(7)] + [R(12.0, 22.0, 1.0, 1.0), R(0.0, 0.0, 11.0, 21.0), s]")
    setups = {
        "tavoro": f"R = Rect; P = Vector2; {head}; p = P(px, py)",
        "pygame-ce": f"R = pygame.FRect; P = pygame.math.Vector2; {head}; p = P(px, py)",
    }

    def row(label, kind, tavoro, pygame_ce, note=""):
        cells = {"tavoro": (tavoro, setups["tavoro"]), "pygame-ce": (pygame_ce, setups["pygame-ce"])}
        return Row("Rect", label, kind, cells, note=note)

    return [
        row("Rect(x, y, w, h)", "other", "R(x, y, w, h)", "R(x, y, w, h)",
            "pygame-ce: FRect (floats, like tavoro's Rect), here and below"),
        row("r.collide_point((x, y))", "collision", "r.collide_point((px, py))", "r.collidepoint((px, py))",
            "the interpreter's own part (the method call, about 280 instructions, and making and "
            "freeing the tuple, about 200) is the same for both and bounds the ratio: tavoro's "
            "part is 64 instructions, pygame-ce's about 200 (bench/instructions.py)"),
        row("r.collide_point(v)", "collision", "r.collide_point(p)", "r.collidepoint(p)"),
        row("r.collide_rect(s)", "collision", "r.collide_rect(s)", "r.colliderect(s)",
            "the interpreter's own part of a method call (about 240 instructions, the same for "
            "both) bounds the ratio: tavoro's part is 56 instructions, pygame-ce's 109 "
            "(bench/instructions.py)"),
        row("r.center", "other", "r.center", "r.center", "pygame-ce returns a tuple, tavoro a Vector2"),
        row("r.right = 5.0", "other", "r.right = 5.0", "r.right = 5.0"),
        row("move", "arith", "r.get_moved(x, y)", "r.move(x, y)"),
        row("inflate", "arith", "r.get_inflated(x, y)", "r.inflate(x, y)"),
        row("clip", "arith", "r.get_clipped(s)", "r.clip(s)"),
        row("union", "arith", "r.get_union(s)", "r.union(s)"),
        row("collidelist, 10 rects, first hit 8th", "collision", "r.collide_list(few)", "r.collidelist(few)"),
        row("collidelistall, 10 rects, 3 hits", "collision", "r.collide_list_all(few)",
            "r.collidelistall(few)",
            "most of an operation is the interpreter's call and making and freeing the list of "
            "indices, the same for both (about 650 instructions); tavoro's own part is about 340 "
            "instructions, pygame-ce's about 720 (bench/instructions.py)"),
    ]


# The batch collision tests over 1,000 rectangles (or points) drawn from one seed, against
# pygame-ce's and, as the floor, a Python loop of tavoro's own single test.
BATCH = 1000

BATCH_SETUP = """
rng = random.Random(3)
r = R(100.0, 100.0, 200.0, 150.0)
rs = [R(rng.uniform(0.0, 800.0), rng.uniform(0.0, 600.0), rng.uniform(1.0, 60.0), rng.uniform(1.0, 60.0))
      for _ in range({n})]
pts = [P(rng.uniform(0.0, 800.0), rng.uniform(0.0, 600.0)) for _ in range({n})]
misses = [R(1000.0 + i, 0.0, 1.0, 1.0) for i in range({n})]
"""


def batch_rows():
    setup = BATCH_SETUP.format(n=BATCH)
    kinds = {
        "tavoro": "R = Rect; P = Vector2",
        "pygame-ce": "R = pygame.FRect; P = pygame.math.Vector2",
        "floor": "R = Rect; P = Vector2",
    }

    def row(label, statements, note=""):
        cells = {c: (s, kinds[c] + "\n" + setup) for c, s in statements.items() if s is not None}
        return Row("Rect batch", label, "collision", cells, note=note)

    note = ("floor: a Python loop of tavoro's own collide_rect or collide_point over the same "
            "list, so tavoro / floor is the gain of one native call over that loop")
    return [
        row("collide_list_all, 1,000 rects", {
            "tavoro": "r.collide_list_all(rs)", "pygame-ce": "r.collidelistall(rs)",
            "floor": "[i for i, s in enumerate(rs) if r.collide_rect(s)]"}, note),
        row("collide_list, 1,000 rects, no hit", {
            "tavoro": "r.collide_list(misses)", "pygame-ce": "r.collidelist(misses)",
            "floor": "next((i for i, s in enumerate(misses) if r.collide_rect(s)), -1)"}, note),
        row("collide_points, 1,000 points", {
            "tavoro": "r.collide_points(pts)", "pygame-ce": None,
            "floor": "[i for i, p in enumerate(pts) if r.collide_point(p)]"},
            note + "; pygame-ce has no batch point test"),
    ]


# The game loops: 10,000 particles (positions and velocities drawn from one seed for every
# library), and 10,000 points. Timed one pass per repeat, set up afresh before each.
PARTICLES = 10_000

PARTICLE_SETUP = """
rng = random.Random(7)
ps = [P(rng.uniform(0.0, 800.0), rng.uniform(0.0, 600.0)) for _ in range({n})]
vs = [P(rng.uniform(-3.0, 3.0), rng.uniform(-3.0, 3.0)) for _ in range({n})]
"""

BOUNDS_SETUP = """
bounds = R(0.0, 0.0, 800.0, 600.0)
left, top, right, bottom = 0.0, 0.0, 800.0, 600.0
"""

POINTS_SETUP = """
rng = random.Random(11)
points = [P(rng.uniform(-200.0, 1000.0), rng.uniform(-150.0, 750.0)) for _ in range({n})]
bounds = R(0.0, 0.0, 800.0, 600.0)
"""


def loop_rows():
    kinds = {
        "tavoro": "P = Vector2; R = Rect",
        "pygame-ce": "P = pygame.math.Vector2; R = pygame.FRect",
        "PyGLM": "P = glm.vec2",
    }
    collide = {"tavoro": "collide_point", "pygame-ce": "collidepoint"}

    def integrate(lib):
        return "for p, v in zip(ps, vs):\n    p += v"

    def integrate_clamp(lib):
        return textwrap.dedent(f"""\
            for p, v in zip(ps, vs):
                p += v
                if not bounds.{collide[lib]}(p):
                    p.x = min(max(p.x, left), right)
                    p.y = min(max(p.y, top), bottom)""")

    def point_tests(lib):
        return textwrap.dedent(f"""\
            n = 0
            for p in points:
                if bounds.{collide[lib]}(p):
                    n += 1""")

    particle_setup = PARTICLE_SETUP.format(n=PARTICLES)
    points_setup = POINTS_SETUP.format(n=PARTICLES)
    rows = [
        Row("loops", "10,000 particles: p += v", "arith",
            {lib: (integrate(lib), kinds[lib] + "\n" + particle_setup) for lib in LIBS}, number=1,
            note="the loop's skeleton (zip and unpacking, timed below) is most of an iteration and "
                 "the same for all; less it, tavoro's `p += v` is about 1.6 times pygame-ce's speed"),
        Row("loops", "10,000 particles: p += v, clamped to a Rect", "collision",
            {lib: (integrate_clamp(lib), kinds[lib] + "\n" + particle_setup + BOUNDS_SETUP)
             for lib in collide}, number=1,
            note="PyGLM has no rectangle type"),
        Row("loops", "10,000 point-in-rect tests", "collision",
            {lib: (point_tests(lib), kinds[lib] + "\n" + points_setup) for lib in collide}, number=1),
    ]
    return rows


# ---------------------------------------------------------------------------------------------
# Audio: AudioStream.update with a 4,096-frame buffer, against raylib's UpdateAudioStream called
# through ctypes with the stream's own record.

class StreamRecord(ctypes.Structure):
    _fields_ = [
        ("buffer", ctypes.c_void_p),
        ("processor", ctypes.c_void_p),
        ("sampleRate", ctypes.c_uint),
        ("sampleSize", ctypes.c_uint),
        ("channels", ctypes.c_uint),
    ]


# The record follows the object header and the native table pointer.
RECORD_OFFSET = 16 + 8
FRAMES = 4096


def raylib_library():
    """The raylib shared library that the audio module was loaded with."""
    with open("/proc/self/maps") as maps:
        for line in maps:
            path = line.split()[-1]
            if os.path.basename(path).startswith("libraylib"):
                return ctypes.CDLL(path)
    raise RuntimeError("raylib's shared library is not loaded")


def audio_rows():
    from tavoro import audio_device
    from tavoro.audio_stream.audio_stream import AudioStream

    audio_device.init()
    raylib = raylib_library()
    # Silence raylib's log: a busy stream warns on every update otherwise.
    raylib.SetTraceLogLevel(7)  # LOG_NONE
    update = raylib.UpdateAudioStream
    update.argtypes = [StreamRecord, ctypes.c_void_p, ctypes.c_int]
    update.restype = None
    samples = bytearray(FRAMES * 2 * 2)  # 16-bit stereo
    address = ctypes.addressof((ctypes.c_char * len(samples)).from_buffer(samples))
    NAMESPACE.update(AudioStream=AudioStream, StreamRecord=StreamRecord, update_c=update,
                     samples=samples, samples_address=address, FRAMES=FRAMES,
                     RECORD_OFFSET=RECORD_OFFSET)
    setup = ("s = AudioStream(44100, 16, 2); buf = samples; addr = samples_address; "
             "rec = StreamRecord.from_address(id(s) + RECORD_OFFSET); f = update_c; n = FRAMES")
    busy = setup + "; s.update(buf, n); s.update(buf, n)"  # both sub-buffers now wait for playback
    cells_free = {"tavoro": ("s.update(buf, n)", setup), "floor": ("f(rec, addr, n)", setup)}
    cells_busy = {"tavoro": ("s.update(buf, n)", busy), "floor": ("f(rec, addr, n)", busy)}
    note = "floor: raylib's UpdateAudioStream through ctypes with the stream's record"
    return [
        # A fresh stream has two free sub-buffers: each of the two timed calls copies 16 KiB.
        Row("AudioStream", "update(buf, 4096), sub-buffer free (copies)", "other", cells_free,
            number=2, note=note),
        Row("AudioStream", "update(buf, 4096), sub-buffers busy", "other", cells_busy, note=note),
    ]


# ---------------------------------------------------------------------------------------------
# Timing

def batch_size(timer, target):
    number = 1
    while True:
        elapsed = timer.timeit(number)
        if elapsed >= target or number >= 10_000_000:
            return max(1, int(number * target / max(elapsed, 1e-9)))
        number *= 4 if elapsed < target / 10 else 2


def measure(row, repeat, target):
    timers, numbers = {}, {}
    for column, (statement, setup) in row.cells.items():
        timers[column] = timeit.Timer(statement, setup, globals=NAMESPACE)
        numbers[column] = row.number or batch_size(timers[column], target)
    best = {column: float("inf") for column in timers}
    for _ in range(repeat):
        for column, timer in timers.items():
            best[column] = min(best[column], timer.timeit(numbers[column]) / numbers[column])
    row.results = {column: seconds * 1e9 for column, seconds in best.items()}


# ---------------------------------------------------------------------------------------------
# Memory: the size of one vector, and what a million of them take (resident memory grown while
# making them, in a fresh interpreter for each kind, the list of them excluded).

MEMORY_PROBE = """
import os, sys
os.environ["PYGAME_HIDE_SUPPORT_PROMPT"] = "1"
{imports}
def resident():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
N = 1_000_000
keep = [None] * N
make = {factory}
make(1.0, 2.0)
before = resident()
for i in range(N):
    keep[i] = make(1.0, 2.0)
after = resident()
print(sys.getsizeof(make(1.0, 2.0)), (after - before) / N)
"""

MEMORY_KINDS = [
    ("tavoro Vector2", "from tavoro.vector2.vector2 import Vector2", "Vector2"),
    ("pygame-ce Vector2", "import pygame", "pygame.math.Vector2"),
    ("PyGLM vec2", "import glm", "glm.vec2"),
    ("complex (floor)", "", "complex"),
]


def memory_rows():
    env = dict(os.environ, PYTHONPATH=MODULE_PATH)
    rows = []
    for name, imports, factory in MEMORY_KINDS:
        probe = MEMORY_PROBE.format(imports=imports, factory=factory)
        out = subprocess.run([sys.executable, "-c", probe], env=env, capture_output=True,
                             text=True, check=True).stdout.split()
        rows.append((name, int(out[0]), float(out[1])))
    return rows


# ---------------------------------------------------------------------------------------------
# The table

def fmt(ns):
    return "—" if ns is None else (f"{ns:.0f}" if ns >= 1000 else f"{ns:.1f}")


def verdict(row):
    """The ratio of the fastest peer to tavoro, tavoro over the floor, and what misses the goal."""
    tavoro = row.results.get("tavoro")
    peers = [row.results[c] for c in PEERS if c in row.results]
    ratio = min(peers) / tavoro if peers else None
    floor = row.results.get("floor")
    over_floor = tavoro / floor if floor else None
    misses = []
    if ratio is not None and ratio < GOAL[row.kind]:
        misses.append(f"peer<{GOAL[row.kind]:g}" if GOAL[row.kind] > 1 else "peer")
    if over_floor is not None and over_floor > FLOOR_LIMIT:
        misses.append(f"floor>{FLOOR_LIMIT:g}")
    return ratio, over_floor, misses


def table(rows, baseline, skeletons, memory):
    lines = [
        "| operation | tavoro | pygame-ce | PyGLM | floor | fastest peer / tavoro | tavoro / floor | goal |",
        "| --- | ---: | ---: | ---: | ---: | ---: | ---: | --- |",
    ]
    notes = []
    group = None
    for row in rows:
        if row.group != group:
            group = row.group
            lines.append(f"| **{group}** | | | | | | | |")
        ratio, over_floor, misses = verdict(row)
        label = row.label
        if row.note:
            if row.note not in notes:
                notes.append(row.note)
            label += f" [{notes.index(row.note) + 1}]"
        cells = [fmt(row.results.get(c)) for c in COLUMNS]
        lines.append(
            f"| {label} | " + " | ".join(cells)
            + f" | {'—' if ratio is None else f'{ratio:.2f}'}"
            + f" | {'—' if over_floor is None else f'{over_floor:.2f}'}"
            + f" | {'✗ ' + ', '.join(misses) if misses else 'ok'} |")
    lines.append("")
    lines.append("Statements timed, per row (tavoro / pygame-ce / PyGLM / floor):")
    lines.append("")
    for row in rows:
        statements = " / ".join(
            f"`{row.cells[c][0]}`" if c in row.cells and "\n" not in row.cells[c][0] else
            ("loop" if c in row.cells else "—") for c in COLUMNS)
        lines.append(f"- {row.group}, {row.label}: {statements}")
    lines.append("")
    for row in rows:
        if any("\n" in statement for statement, _ in row.cells.values()):
            lines.append(f"{row.label}, tavoro's loop (the peers' differ only in the method's name):")
            lines.append("")
            lines.append("```python")
            lines.append(row.cells["tavoro"][0])
            lines.append("```")
            lines.append("")
    for i, note in enumerate(notes, 1):
        lines.append(f"[{i}] {note}  ")
    lines.append("")
    lines.append("Memory (one vector; and per vector, resident memory grown by making a million):")
    lines.append("")
    lines.append("| kind | sys.getsizeof | bytes per vector, 1,000,000 made |")
    lines.append("| --- | ---: | ---: |")
    for name, size, per in memory:
        lines.append(f"| {name} | {size} | {per:.1f} |")
    lines.append("")
    lines.append(f"Empty loop (`pass`): {baseline:.1f} ns per iteration, included in every cell.")
    for name, micro in skeletons.items():
        lines.append(f"Loop skeleton `{name}`: {micro:.0f} µs per pass of 10,000, included in the loop rows.")
    return "\n".join(lines)


LOOP_SKELETONS = {
    "for p, v in zip(ps, vs): pass": ("for p, v in zip(ps, vs):\n    pass", "P = complex\n" + PARTICLE_SETUP.format(n=PARTICLES)),
    "for p in points: pass": ("for p in points:\n    pass", "P = complex; R = lambda *a: None\n" + POINTS_SETUP.format(n=PARTICLES)),
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=40, help="repeats per cell; the best counts")
    parser.add_argument("--target", type=float, default=0.01, help="seconds per timed batch")
    parser.add_argument("--only", help="time only the rows whose group or label contains this")
    parser.add_argument("--no-write", action="store_true", help="do not write bench/results.md")
    args = parser.parse_args()

    rows = vector_rows(2) + vector_rows(3) + rect_rows() + batch_rows() + loop_rows() + audio_rows()
    if args.only:
        rows = [r for r in rows if args.only in r.label or args.only in r.group]

    baseline_row = Row("", "pass", "other", {"tavoro": ("pass", "")})
    measure(baseline_row, args.repeat, args.target)
    baseline = baseline_row.results["tavoro"]
    print(f"empty loop: {baseline:.1f} ns", flush=True)
    skeletons = {}
    for name, (statement, setup) in LOOP_SKELETONS.items():
        skeleton = Row("", name, "other", {"tavoro": (statement, setup)}, number=1)
        measure(skeleton, args.repeat, args.target)
        skeletons[name] = skeleton.results["tavoro"] / 1000
        print(f"loop skeleton `{name}`: {skeletons[name]:.0f} µs", flush=True)
    for row in rows:
        measure(row, args.repeat, args.target)
        ratio, over_floor, misses = verdict(row)
        cells = "  ".join(f"{c}={fmt(row.results.get(c))}" for c in COLUMNS if c in row.results)
        print(f"{row.group:<12} {row.label:<44} {cells}"
              + (f"  ratio={ratio:.2f}" if ratio else "") + (f"  MISS {misses}" if misses else ""),
              flush=True)
    memory = memory_rows() if not args.only else []

    versions = (f"CPython {platform.python_version()}, pygame-ce {metadata.version('pygame-ce')}, "
                f"PyGLM {metadata.version('PyGLM')}")
    header = textwrap.dedent(f"""\
        # tavoro against its peers

        Nanoseconds per operation, the minimum of {args.repeat} repeats (lower is faster), all in one
        run on one interpreter: {versions}. Made by `make bench` (bench/peers.py).
        Goal: fastest peer / tavoro at least 1.0 on every row and 1.25 on the vector arithmetic and
        collision rows; tavoro within {FLOOR_LIMIT:g} times of the floor (CPython's complex, or a
        ctypes call for audio) where there is one. A ✗ marks a row that misses it. The machine is
        small and shared, so single cells can be noisy; the loops are per pass of 10,000.

        """)
    text = header + table(rows, baseline, skeletons, memory) + "\n"
    print()
    print(text)
    if not args.no_write and not args.only:
        path = HERE / "results.md"
        path.write_text(merge_results(path.read_text() if path.exists() else "", text))
        print("written: bench/results.md")


# The main table is the one of the interpreter `make bench` uses by default; a run on another
# interpreter replaces (or adds) that interpreter's section after it and leaves the rest.
MAIN_VERSION = "3.13"
SECTION = re.compile(r"^## On CPython (\d+\.\d+)$", re.MULTILINE)
# The sections other benchmarks write (bench/audio_latency.py) follow the tables and stay as they are.
OTHER = re.compile(r"^## (?!On CPython )", re.MULTILINE)


def merge_results(old, text):
    other = OTHER.search(old)
    old, others = (old[:other.start()], old[other.start():]) if other else (old, "")
    version = f"{sys.version_info.major}.{sys.version_info.minor}"
    starts = [m.start() for m in SECTION.finditer(old)]
    main = old[:starts[0]] if starts else old
    sections = {SECTION.match(old, start)[1]: old[start:end].rstrip("\n") + "\n"
                for start, end in zip(starts, starts[1:] + [len(old)])}
    if version == MAIN_VERSION:
        main = text
    else:
        # The section's own heading stands for the page title; the rest of the text is the same.
        sections[version] = f"## On CPython {version}\n" + text.split("\n", 1)[1]
    ordered = sorted(sections.items(), key=lambda item: tuple(map(int, item[0].split("."))))
    merged = "\n".join([main.rstrip("\n") + "\n", *(section for _, section in ordered)])
    return merged + ("\n" + others if others else "")


if __name__ == "__main__":
    main()
