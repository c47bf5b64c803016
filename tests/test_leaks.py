"""Reference leaks: every public operation, its error paths included, repeated many times must
leave the interpreter's allocations, the live package objects and the reference counts of its
arguments where they were (up to a small constant that does not grow with the repeat count)."""

import copy
import gc
import sys
import tracemalloc

import numpy
import pytest

from native_access import parser_routine
from tavoro.audio_stream.audio_stream import AudioStream
from tavoro.color.color import Color
from tavoro.colors.colors import Colors
from tavoro.glyph_info.glyph_info import GlyphInfo
from tavoro.music.music import Music
from tavoro.rect.rect import Rect
from tavoro.sound.sound import Sound
from tavoro.vector2.vector2 import Vector2
from tavoro.vector3.vector3 import Vector3
from tavoro.vector4.vector4 import Vector4

REPEAT = 500

# The interpreter's count of its blocks; when it allocates through the C allocator instead
# (PYTHONMALLOC=malloc, as under the sanitizers) it has none, and the bytes that tracemalloc sees
# allocated through the interpreter stand in. Either leaves out what raylib allocates itself.
if sys.getallocatedblocks():
    # A leak of one object per call would grow by a block a call.
    TOLERANCE = REPEAT // 10

    def allocated():
        return sys.getallocatedblocks()
else:
    # A leak of one object per call would grow by at least 32 bytes a call.
    TOLERANCE = REPEAT * 32 // 4

    def allocated():
        return tracemalloc.get_traced_memory()[0]


PACKAGE_TYPES = (AudioStream, Color, Music, Rect, Sound, Vector2, Vector3, Vector4)


@pytest.fixture(scope="module", autouse=True)
def tracing():
    # Traced from the start, so that no untraced block's release offsets a traced one.
    started = not sys.getallocatedblocks() and not tracemalloc.is_tracing()
    if started:
        tracemalloc.start()
    yield
    if started:
        tracemalloc.stop()


@pytest.fixture(autouse=True)
def quiet_raylib_log():
    # raylib's lines (a file it cannot open) reach logging, whose capture by pytest keeps every
    # record: that growth is the capture's, not a leak. Above CRITICAL no record is made.
    import logging

    logger = logging.getLogger("tavoro.raylib")
    level = logger.level
    logger.setLevel(logging.CRITICAL + 1)
    yield
    logger.setLevel(level)


def live_package_objects():
    """The package's objects that the collector tracks (those of its types that can be in a
    cycle, and instances of Python subclasses)."""
    return sum(1 for o in gc.get_objects() if isinstance(o, PACKAGE_TYPES))


class Boom(Exception):
    pass


class BadFloat:
    def __float__(self):
        raise Boom

    __index__ = __float__
    __int__ = __float__


class WrongFloat:
    def __float__(self):
        return "one"

    def __index__(self):
        return 1.5


class BadLength(list):
    def __len__(self):
        raise Boom


class BadItems(list):
    def __getitem__(self, index):
        raise Boom


class TupleSub(tuple):
    pass


class LyingLength(tuple):
    def __len__(self):
        return 4


class Seq:
    def __init__(self, *items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


class Foreign:
    """A vector type of another library: recognised by its clamp_magnitude_ip."""

    x, y, z = 1.0, 2.0, 3.0

    def clamp_magnitude_ip(self):
        pass


EXPECTED = (TypeError, ValueError, IndexError, OverflowError, KeyError, NotImplementedError,
            AttributeError, RuntimeError, Boom)

# Arguments the operations take: their reference counts must not move.
ARGS = {
    "v2": Vector2(3, 4),
    "v2b": Vector2(-1, 0.5),
    "v3": Vector3(1, 2, 3),
    "v3b": Vector3(0, -1, 0.25),
    "v4": Vector4(1, 2, 3, 4),
    "r": Rect(0, 0, 10, 10),
    "r2": Rect(5, 5, 10, 10),
    "color": Color(1, 2, 3, 4),
    "pair": (1.5, 2),
    "pair_list": [1, 2.5],
    "triple": (1, 2, 3),
    "quad": (1, 2, 3, 4),
    "quad_list": [1.0, 2, 3, 4],
    "bad": BadFloat(),
    "wrong": WrongFloat(),
    "text": "text",
    "huge": 2**80,
    "nan": float("nan"),
    "bad_length": BadLength([1, 2]),
    "bad_items": BadItems([1, 2, 3, 4]),
    "lying": LyingLength((1, 2)),
    "seq2": Seq(1, 2),
    "seq4": Seq(1, 2, 3, 4),
    "foreign": Foreign(),
    "mapping": {"x": 1, "y": 2},
    "half_mapping": {"x": 1},
    "bad_mapping": {"x": BadFloat(), "y": 1},
    "samples": bytes(4000),
    "array": numpy.zeros(1000, numpy.float32),
}
A = type("A", (), ARGS)  # A.v2 reads better than ARGS["v2"] in the lambdas below


def call(function, *args, **kwargs):
    """Runs one operation, expecting either a result or one of the refusals."""
    try:
        function(*args, **kwargs)
    except EXPECTED:
        pass


def setter(obj, name, value):
    return lambda: call(setattr, obj, name, value)


parse_vector2 = parser_routine("parse_vector2_like")
parse_rect = parser_routine("parse_rect_like")
parse_color = parser_routine("parse_color_like")


def vector_operations(V, a, b, size):
    # The size's own static constructors, looked up by a name made once: the interpreter's
    # attribute cache keeps every name it has seen, so a name made afresh on each call would
    # fill it and look like growth.
    names = "xyz"[:size]
    from_self = getattr(V, "from_vector%d" % size)
    from_components = getattr(V, "from_" + names)
    comps = tuple(range(1, size + 1))
    ops = {
        "construct": lambda: V(*comps),
        "construct_empty": lambda: V(),
        "construct_copy": lambda: V(a),
        "construct_tuple": lambda: V(comps),
        "construct_list": lambda: V(list(comps)),
        "construct_foreign": lambda: V(A.foreign),
        "construct_subclass_sequence": lambda: (V(TupleSub(comps)), call(V, LyingLength(comps))),
        "construct_seq_error": lambda: call(V, A.seq2),
        "construct_bad_value": lambda: call(V, *comps[:-1], A.bad),
        "construct_wrong_value": lambda: call(V, *comps[:-1], A.wrong),
        "construct_text": lambda: call(V, A.text, *comps[1:]),
        "construct_bad_length": lambda: call(V, A.bad_length),
        "construct_bad_items": lambda: call(V, BadItems(comps)),
        "construct_wrong_length": lambda: call(V, A.quad_list if size < 4 else []),
        "construct_arity": lambda: call(V, 1, 2, 3, 4),
        "construct_keyword": lambda: call(V, x=1),
        "reinit_error": lambda: call(a.__init__, A.bad),
        "reinit": lambda: a.__init__(*a.get_tuple()),
        "from_tuple": lambda: getattr(V, "from_tuple")(comps),
        "from_list": lambda: getattr(V, "from_list")(list(comps)),
        "from_tuple_error": lambda: call(V.from_tuple, [1]),
        "from_tuple_short": lambda: call(V.from_tuple, (1,)),
        "from_tuple_bad": lambda: call(V.from_tuple, (A.bad,) * size),
        "from_ints": lambda: V.from_ints(*comps),
        "from_ints_overflow": lambda: call(V.from_ints, A.huge, *comps[1:]),
        "from_ints_bad": lambda: call(V.from_ints, A.bad, *comps[1:]),
        "from_floats": lambda: V.from_floats(*comps),
        "from_floats_text": lambda: call(V.from_floats, A.text, *comps[1:]),
        "from_self": lambda: from_self(a),
        "from_self_error": lambda: call(from_self, A.pair),
        "from_components": lambda: from_components(*comps),
        "from_components_keyword": lambda: call(from_components, *comps, w=1),
        "add": lambda: a + b,
        "sub": lambda: a - b,
        "mul_vector": lambda: a * b,
        "mul_scalar": lambda: a * 2.5,
        "mul_int": lambda: a * 3,
        "mul_huge": lambda: call(lambda: a * A.huge),
        "mul_refused": lambda: call(lambda: a * A.text),
        "rmul_refused": lambda: call(lambda: 2 * a),
        "truediv": lambda: a / 2,
        "truediv_vector": lambda: a / b,
        "floordiv": lambda: a // 2,
        "floordiv_vector": lambda: a // b,
        "neg": lambda: -a,
        "add_refused": lambda: call(lambda: a + A.pair),
        "iadd": lambda: a.__iadd__(b) and a.__isub__(b),
        "imul": lambda: a.__imul__(V(*[1] * size)),
        "iadd_refused": lambda: call(a.__iadd__, 1),
        "dunder_methods": lambda: (a.__add__(b), a.__sub__(b), a.__mul__(2), a.__truediv__(2),
                                   a.__floordiv__(b), a.__mul__(A.text)),
        "dunder_refused": lambda: call(a.__add__, 1),
        "eq": lambda: (a == b, a != b, a == 1),
        "hash": lambda: hash(a),
        "repr": lambda: repr(a),
        "len_iter": lambda: (len(a), list(a)),
        "getitem": lambda: a[0],
        "getitem_errors": lambda: (call(a.__getitem__, size), call(a.__getitem__, -1),
                                   call(a.__getitem__, A.text), call(a.__getitem__, A.huge)),
        "setitem": lambda: a.__setitem__(0, a[0]),
        "setitem_errors": lambda: (call(a.__setitem__, size, 1), call(a.__setitem__, 0, A.bad),
                                   call(a.__delitem__, 0)),
        "components": lambda: [setattr(a, n, getattr(a, n)) for n in names],
        "component_errors": lambda: [call(setattr, a, n, A.wrong) or call(delattr, a, n) for n in names],
        "methods": lambda: (a.get_tuple(), a.get_int_tuple(), a.get_rounded_tuple(), a.get_round(),
                            a.get_abs(), a.get_neg(), a.copy(), a.__copy__(), a.__deepcopy__({}),
                            a.get_normalized(), a.distance_to(b), a.distance_squared_to(b),
                            a.dot(b), a.length, copy.copy(a), copy.deepcopy(a)),
        "in_place_methods": lambda: (a.to_round(), a.to_abs(), a.to_neg(), a.to_neg(),
                                     a.__init__(*comps), a.to_normalized(), a.__init__(*comps)),
        "sadd": lambda: b.sadd(a, a) or b.__init__(*[0.5] * size),
        "sadd_refused": lambda: call(a.sadd, a, 1),
        "method_errors": lambda: (call(a.dot, 1), call(a.distance_to, A.pair), call(a.get_tuple, 1),
                                  call(a.copy, x=1), call(a.dot), call(a.dot, other=b, x=1)),
        "int_tuple_errors": lambda: call(V(A.nan, *comps[1:]).get_int_tuple),
        "pickle_refused": lambda: (call(a.__reduce__), call(a.__setstate__, None)),
        "swizzles": lambda: [getattr(a, n) for n in ("xy", "yx", "xx", "yy") if size == 2]
        + [getattr(a, n) for n in ("xyz", "zyx", "xxy", "zzz") if size == 3],
    }
    if size == 2:
        ops["data"] = lambda: setattr(a, "data", a.data)
        ops["data_mapping"] = lambda: setattr(a, "data", A.mapping) or a.__init__(*comps)
        ops["data_errors"] = lambda: (call(setattr, a, "data", A.half_mapping),
                                      call(setattr, a, "data", A.bad_mapping),
                                      call(setattr, a, "data", 5), call(delattr, a, "data"))
    else:
        ops["cross"] = lambda: (a.cross(b), call(a.cross, 1))
    return ops


def rect_operations():
    r, o = A.r, A.r2
    methods = ["collide_point", "collide_point_vector2", "collide_point_tuple", "collide_point_list",
               "collide_rect", "collide_rect_vector4", "collide_rect_rect", "collide_rect_tuple",
               "collide_rect_list"]
    arguments = [A.v2, A.pair, A.pair_list, A.v4, o, A.quad, A.quad_list, None, A.bad, A.text,
                 (A.bad, 1), [1, A.bad], (1, A.text, 3, 4), A.lying, A.bad_items, A.bad_length,
                 (1, 2, 3), Seq(1, 2), (A.huge, 1), (A.nan, A.nan, 1, 1)]

    def collide_all():
        for name in methods:
            method = getattr(r, name)
            for argument in arguments:
                call(method, argument)
            call(method)
            call(method, argument, x=1)

    ops = {
        "construct_forms": lambda: (Rect(), Rect(o), Rect(A.v2), Rect(A.v4), Rect(A.quad),
                                    Rect(A.quad_list), Rect(A.pair, A.v2), Rect(A.v2, A.pair_list),
                                    Rect(1, 2, 3, 4), call(Rect, A.lying, A.pair)),
        "construct_errors": lambda: [call(Rect, *args) for args in [
            (A.bad,), (A.text,), (A.triple,), (A.bad_items,), (A.bad_length,), (A.pair, A.bad),
            (A.pair, (1, A.bad)), (1, 2, 3), (1, 2, 3, A.bad), (1, 2, A.wrong, 4), (1,) * 5,
            ((A.bad,) * 4,), (A.quad, A.quad)]],
        "construct_keyword": lambda: call(Rect, x=1),
        "reinit": lambda: (r.__init__(0, 0, 10, 10), call(r.__init__, 1, 2, 3, A.bad)),
        "subclass": lambda: type("R", (Rect,), {})(1, 2, 3, 4),
        "properties": lambda: [setattr(r, n, getattr(r, n)) for n in (
            "x", "left", "y", "top", "w", "width", "h", "height", "right", "bottom", "centerx",
            "centery", "center")],
        "property_errors": lambda: [call(setattr, r, n, v) for n in (
            "x", "right", "centerx", "center") for v in (A.bad, A.wrong, A.text, None, A.half_mapping,
                                                           (1,), [A.bad, 1])]
        + [call(delattr, r, n) for n in ("x", "center", "right")],
        "center_forms": lambda: (setattr(r, "center", A.v2), setattr(r, "center", A.pair),
                                 setattr(r, "center", {0: 5, 1: 5}), r.__init__(0, 0, 10, 10)),
        "items": lambda: (r[0], list(r), len(r), r.__setitem__(1, r[1]), call(r.__getitem__, 4),
                          call(r.__getitem__, A.text), call(r.__setitem__, 9, 1),
                          call(r.__setitem__, 0, A.bad), call(r.__delitem__, 0)),
        "getters": lambda: (r.get_width(), r.get_height(), r.get_vector4(), r.get_tuple(), r.center,
                            call(r.get_tuple, 1)),
        "compare_repr": lambda: (r == o, r != 1, repr(r), call(hash, r), call(lambda: r < o)),
        "pickle_refused": lambda: (call(r.__reduce__), call(copy.copy, r)),
        "collisions": collide_all,
    }
    return ops


# Rect: named points, moving and resizing, clip_line and the batch collision tests, with good
# and refused arguments alike.
def rect_geometry_operations():
    r, o = A.r, A.r2
    points = ["topleft", "topright", "bottomleft", "bottomright", "midtop", "midbottom", "midleft",
              "midright", "size"]
    pairs = ["moved", "inflated", "scaled", "clamped", "union", "clipped", "fitted"]
    arguments = [(A.v2,), (A.pair,), (A.pair_list,), (1, 2), (o,), (A.quad,), (A.quad_list,),
                 (A.v4,), (), (None,), (A.bad,), (1, A.bad), (A.text,), (A.lying,), (A.bad_items,),
                 (A.bad_length,), ((A.bad, 1),), (A.huge, 1), (A.nan, A.nan), (1, 2, 3)]
    lines = [(1, 2, 3, 4), (A.pair, A.v2), (A.quad,), ([A.pair, A.pair_list],), ((A.bad, 1), A.pair),
             (1, 2, 3, A.bad), (A.lying,), (A.bad_items,), (A.nan, 0, 1, 1), (-20, 5, 20, 5), (None,),
             (1, 2, 3), ()]

    def named_points():
        for name in points:
            setattr(r, name, getattr(r, name))
            for value in (A.bad, None, (1,), [A.bad, 1], A.half_mapping):
                call(setattr, r, name, value)
            call(delattr, r, name)
        r.__init__(0, 0, 10, 10)

    def moves():
        for name in pairs:
            for args in arguments:
                call(getattr(r, "get_" + name), *args)
                call(getattr(r, "to_" + name), *args)
            call(getattr(r, "get_" + name), o, other=o)
            r.__init__(0, 0, 10, 10)
        for args in arguments:
            call(r.contains, *args)

    def clip_lines():
        for args in lines:
            call(r.clip_line, *args)
        call(r.clip_line, 1, 2, 3, 4, x=1)

    emptying = []

    class Emptying:
        def __float__(self):
            emptying.clear()
            return 1.0

    def batches():
        rects = [o, A.quad, A.quad_list, A.v4, (1.0, 2.0, 3.0, 4.0), (50, 50, 1, 1)]
        pts = [A.v2, A.pair, A.pair_list, (1.0, 2.0), (50, 50)]
        for items in (rects, tuple(rects), rects * 50, [], [o, None], [A.bad_items], [(1, A.bad, 1, 1)],
                      [A.lying], None, A.text, iter(rects)):
            call(r.collide_list, items)
            call(r.collide_list_all, items)
        for items in (pts, tuple(pts), pts * 50, [], [A.pair, None], [(A.bad, 1)], [A.bad_length], None):
            call(r.collide_points, items)
        emptying[:] = [(Emptying(), 1, 1, 1), o, o]
        call(r.collide_list_all, emptying)
        emptying[:] = [(Emptying(), 1), A.pair]
        call(r.collide_points, emptying)

    return {"named_points": named_points, "moves": moves, "clip_line": clip_lines,
            "batches": batches}


# The palette's look-up by name.
def palette_lookup_operations():
    palette = Colors()
    keys = ["Tomato", "tomato", "Zzz", "", "\ud800", 1, None, (1, 2), A.text]

    def lookups():
        for key in keys:
            call(palette.__getitem__, key)
            palette.get(key)
            palette.get(key, A.pair)
        call(palette.get)
        call(palette.get, "Red", 1, 2)
        call(palette.get, "Red", default=1)
        list(palette), len(palette)

    return {"lookup": lookups}


def parser_operations():
    inputs = [A.v2, A.pair, A.pair_list, A.quad, A.quad_list, A.r, A.color, A.triple, A.seq2, A.seq4,
              A.lying, A.bad_items, A.bad_length, (A.bad, 1), [1, A.bad], (1, 2, A.bad), A.text, None,
              1, (A.huge, 1, 2), [300, -5, 2], (A.wrong, 1), Seq(1, A.bad), range(4), b"ab"]

    def parse_all():
        for routine in (parse_vector2, parse_rect, parse_color):
            for obj in inputs:
                call(routine, obj)

    return {"parse": parse_all}


def palette_operations():
    palette = Colors()

    class Tinted(Color):
        pass

    return {
        "construct": Colors,
        "construct_refused": lambda: call(Colors, 1),
        "construct_keyword": lambda: call(Colors, red=1),
        "reinitialise": palette.__init__,
        "set": setter(palette, "Red", A.color),
        "set_subclass": setter(palette, "Red", Tinted(1, 2, 3, 4)),
        "set_none": setter(palette, "Red", None),
        "set_refused": setter(palette, "Red", A.pair),
        "delete": lambda: call(delattr, palette, "Blue"),
        "cycle": lambda: setattr(palette, "Green", Tinted(0, 0, 0, 0)) or setattr(
            palette.Green, "palette", palette),
    }


def glyph_operations():
    return {
        "construct": GlyphInfo,
        "construct_with_arguments": lambda: GlyphInfo(1, 2, key=3),
        "pickling_refused": lambda: call(copy.copy, GlyphInfo()),
    }


class Holder(AudioStream):
    pass


def audio_operations(wav):
    def stream_ops():
        s = AudioStream(22050, 16, 1)
        s.volume, s.pitch, s.pan = 0.5, 1.5, 0.25
        s.play(), s.pause(), s.resume(), s.stop()
        s.update(A.samples, 100)
        call(s.update, A.array, 1000)  # float32 items for 16-bit samples: refused
        s.update(A.array.view(numpy.int16), 1000)
        call(s.update, A.samples, 10000)
        call(s.update, 1, 1)
        call(s.update, A.samples, -1)
        call(s.update, A.samples, A.huge)
        call(setattr, s, "volume", A.bad)
        call(delattr, s, "pitch")
        call(AudioStream, 1, 2)
        call(AudioStream, 1, 2, A.text)
        call(AudioStream, 1, 2, 3, x=1)
        call(s.__reduce__)
        (s.valid, s.playing, s.processed)
        s.__init__(8000, 8, 2)
        s.unload()
        s.unload()

    def sound_ops():
        source = Sound.load(wav)
        alias = Sound.load_alias(source)
        again = Sound.load_alias(alias)
        view = source.stream
        (view.valid, alias.stream.playing, source.frame_count, source.is_alias)
        source.volume, source.pitch, source.pan = 0.5, 1.5, 0.25
        source.play(), alias.play(), source.pause(), source.resume(), source.stop()
        source.update(A.array, 500)
        call(source.update, A.array, 1000)
        call(source.update, A.samples, 10**6)
        call(alias.update, "text", 1)
        call(setattr, source, "pan", A.wrong)
        call(setattr, source, "stream", None)
        call(Sound.load, 1)
        call(Sound.load, "bad\0name")
        call(Sound.load, None)
        call(Sound.load_alias, A.v2)
        call(Sound.load_alias, Sound())
        Sound.load("/nonexistent/file.wav")
        call(source.__reduce__)
        again.unload()
        source.unload()
        del view, alias, again, source

    def music_ops():
        music = Music.load(wav)
        (music.valid, music.length, music.time_played, len(music), music.looping)
        music.looping = True
        music.volume, music.pitch, music.pan = 0.5, 1.5, 0.25
        music.play(), music.update(), music.pause(), music.resume(), music.seek(0.1), music.stop()
        call(music.seek, A.text)
        call(setattr, music, "looping", 1)
        call(setattr, music, "stream", 1)
        call(setattr, music, "pitch", A.bad)
        own = music.stream
        music.stream = None
        music.stream = own
        del music.stream
        call(Music.load, 1)
        call(Music.load, None)
        Music.load("/nonexistent/file.wav")
        call(music.__reduce__)
        music.unload()
        (len(Music()), Music().valid)

    def cycle_ops():
        source = Sound.load(wav)
        box = [Sound.load_alias(source), source, source.stream]
        box.append(box)
        music = Music.load(wav)
        holder = Holder.__new__(Holder)
        holder.music = music
        music.stream = holder
        del source, box, music, holder
        gc.collect()

    return {"stream": stream_ops, "sound": sound_ops, "music": music_ops, "cycles": cycle_ops}


def operations():
    ops = {}
    for prefix, table in [
        ("vector2", vector_operations(Vector2, A.v2, A.v2b, 2)),
        ("vector3", vector_operations(Vector3, A.v3, A.v3b, 3)),
        ("rect", rect_operations()),
        ("parser", parser_operations()),
        ("colors", palette_operations()),
        ("rect_geometry", rect_geometry_operations()),
        ("colors_lookup", palette_lookup_operations()),
        ("glyph_info", glyph_operations()),
    ]:
        ops.update({f"{prefix}.{name}": op for name, op in table.items()})
    return ops


OPERATIONS = operations()
AUDIO = ["audio.stream", "audio.sound", "audio.music", "audio.cycles"]


def refcounts():
    return {name: sys.getrefcount(value) for name, value in ARGS.items()}


def measure(operation, repeat):
    gc.collect()
    start = (allocated(), live_package_objects(), refcounts())
    for _ in range(repeat):
        operation()
    gc.collect()
    return start, (allocated(), live_package_objects(), refcounts())


def check_no_leak(operation, repeat=REPEAT):
    saved = [(v, v.get_tuple()) for v in (A.v2, A.v2b, A.v3, A.v3b)] + [(A.r, A.r.get_tuple())]
    try:
        for _ in range(50):  # caches, interned names and free lists settle first
            operation()
        # A one-off growth (a cache or table of the interpreter's filling up) shows in the first
        # rounds only (more of them under the sanitizers, where the interpreter settles slower);
        # a leak shows in every round.
        growth = []
        for _ in range(5):
            (blocks, objects, counts), (blocks_after, objects_after, counts_after) = measure(operation, repeat)
            assert counts_after == counts, {k: counts_after[k] - counts[k] for k in counts
                                            if counts_after[k] != counts[k]}
            assert objects_after == objects
            growth.append(blocks_after - blocks)
            if growth[-1] < TOLERANCE:
                break
    finally:
        for obj, values in saved:
            obj.__init__(*values)
    assert growth[-1] < TOLERANCE, growth


@pytest.mark.parametrize("name", sorted(OPERATIONS))
def test_operation_does_not_leak(name):
    check_no_leak(OPERATIONS[name])


@pytest.mark.parametrize("name", AUDIO)
def test_audio_operation_does_not_leak(audio, write_wav, name):
    ops = audio_operations(write_wav(0.05, rate=8000))
    check_no_leak(ops[name.split(".")[1]], repeat=REPEAT // 10)


def test_audio_calls_with_the_device_closed_do_not_leak(audio, write_wav):
    wav = write_wav(0.05, rate=8000)
    stream, sound, music = AudioStream(8000, 16, 1), Sound.load(wav), Music.load(wav)
    alias, view = Sound.load_alias(sound), music.stream
    audio.close()

    def closed_ops():
        for obj in (stream, sound, alias, music, view):
            obj.play(), obj.stop(), obj.unload()
            obj.volume = 0.5
            call(setattr, obj, "pitch", A.bad)
        stream.update(A.samples, 10)
        view.update(A.samples, 10)
        call(sound.update, A.samples, 10)
        music.seek(1), music.update()
        call(AudioStream, 8000, 16, 1)
        call(Sound.load, wav)
        call(Sound.load_alias, sound)
        call(Music.load, wav)

    try:
        check_no_leak(closed_ops, repeat=REPEAT // 5)
    finally:
        audio.init()


def test_a_leak_is_noticed():
    # The check itself: keeping one new object per call must fail it.
    kept = []
    with pytest.raises(AssertionError):
        check_no_leak(lambda: kept.append(Vector2(1, 2).get_tuple()))
    kept.clear()
    with pytest.raises(AssertionError):
        check_no_leak(lambda: kept.append(A.v2))
    kept.clear()


# ---------------------------------------------------------------------------------------------
# Vector geometry: each to_/get_ pair on the shared argument vectors (the to_ form returns the
# receiver, whose count must come out even), its refusals, and the plain geometric methods.

def geometry_operations(V, a, b, size):
    comps = tuple(range(1, size + 1))
    zero = V()
    if size == 3:
        zero.__init__(0, 0, 0)
    rotations = [("rotated", (30, b) if size == 3 else (30,)), ("rotated_rad", (0.5, b) if size == 3 else (0.5,))]
    if size == 3:
        rotations += [(f"rotated_{axis}", (30,)) for axis in "xyz"]
    pairs = rotations + [("lerp", (b, 0.25)), ("slerp", (b, 0.25)), ("reflected", (b,)), ("projected", (b,)),
                         ("moved_towards", (b, 0.5)), ("clamped_magnitude", (1.0,)), ("scaled_to_length", (2.0,))]

    def pair(name, args):
        # The methods looked up once (a name made afresh on each call would fill the
        # interpreter's caches), then called with the receiver.
        get, to = getattr(V, "get_" + name), getattr(V, "to_" + name)

        def run():
            get(a, *args)
            assert to(a, *args) is a
            a.__init__(*comps)
        return run

    refusals = lambda: (call(a.get_lerp, b, A.nan), call(a.to_slerp, zero, 0.5), call(a.to_reflected, zero),
                        call(a.get_projected, zero), call(a.to_moved_towards, b, A.nan),
                        call(a.to_clamped_magnitude, -1), call(a.get_scaled_to_length, A.bad),
                        call(a.angle_to, zero), call(a.get_lerp, A.pair, 0.5), call(a.to_reflected, None),
                        call(a.get_lerp, b, A.huge), call(a.get_lerp, b, t=0.5, x=1), call(a.to_rotated, A.text))
    ops = {f"geometry_{name}": pair(name, args) for name, args in pairs}
    ops["geometry_refusals"] = refusals
    ops["geometry_plain"] = lambda: (a.angle_to(b), a.length_squared())
    if size == 2:
        ops["geometry_polar"] = lambda: (a.cross(b), a.as_polar(), V.from_polar(2, 30),
                                         call(V.from_polar, A.nan, 0), call(V(A.nan, 0).as_polar))
    else:
        ops["geometry_axis_refused"] = lambda: call(a.get_rotated, 30, zero)
    return ops


GEOMETRY_OPERATIONS = {
    **{f"vector2.{k}": v for k, v in geometry_operations(Vector2, A.v2, A.v2b, 2).items()},
    **{f"vector3.{k}": v for k, v in geometry_operations(Vector3, A.v3, A.v3b, 3).items()},
}


@pytest.mark.parametrize("name", sorted(GEOMETRY_OPERATIONS))
def test_geometry_operation_does_not_leak(name):
    check_no_leak(GEOMETRY_OPERATIONS[name])


# The audio device's backend, log, capture and sub-buffers; typed buffers; path-like loads


class StrPath:
    def __fspath__(self):
        return "/nonexistent/file.wav"


class BytesPath:
    def __fspath__(self):
        return b"/nonexistent/file.wav"


class RaisingPath:
    def __fspath__(self):
        raise ValueError("no path")


def device_operations(audio, wav):
    import pathlib

    doubles = numpy.zeros(100, numpy.float64)

    def capture_ops():
        audio.start_capture(0.01)
        audio.stop_capture()
        audio.stop_capture()
        call(audio.start_capture, -1)
        call(audio.start_capture, A.text)
        call(audio.start_capture, A.bad)
        (audio.backend(), audio.sample_rate(), audio.channels(), audio.stream_buffer_frames())

    def buffer_ops():
        call(audio.set_stream_buffer_frames, -1)
        call(audio.set_stream_buffer_frames, A.text)
        audio.set_stream_buffer_frames(1024)
        s = AudioStream(8000, 32, 1)
        audio.set_stream_buffer_frames(0)
        s.buffer_frames
        call(s.update, doubles, 10)
        call(s.update, bytes(4 * 2000), 2000)
        s.update(memoryview(bytes(40)).cast("f"), 10)
        s.unload()

    path = pathlib.Path(wav)  # made once: a new Path fills the interpreter's caches a while

    def path_ops():
        Sound.load(path).unload()
        Music.load(path).unload()
        Sound.load(StrPath())  # logged: raylib cannot open it
        for bad in (BytesPath(), RaisingPath()):
            call(Sound.load, bad)
            call(Music.load, bad)

    return {"capture": capture_ops, "buffers": buffer_ops, "paths": path_ops}


@pytest.mark.parametrize("name", ["capture", "buffers", "paths"])
def test_device_operation_does_not_leak(audio, write_wav, name):
    ops = device_operations(audio, write_wav(0.05, rate=8000))
    check_no_leak(ops[name], repeat=REPEAT // 10)


# ---------------------------------------------------------------------------------------------
# Drawing: every primitive, batch and refusal inside a frame, the window's input and recordings,
# screenshots and their buffer views.

def drawing_operations(window, recording):
    from tavoro import draw
    from tavoro.draw import Camera2D
    from tavoro.window import Key

    rects = [A.r, (1.0, 2.0, 3.0, 4.0)] * 10
    rows = numpy.ones((20, 4), numpy.float32)
    camera = Camera2D(offset=A.v2)

    def shape_ops():
        draw.clear(A.color)
        draw.rect(A.r, A.color), draw.rect((1, 2, 3, 4), (1, 2, 3))
        draw.line(A.v2, A.v2b, A.color, 3), draw.circle(A.v2, 4, A.color)
        draw.triangle(A.v2, A.v2b, (0, 0), A.color), draw.poly(A.v2, 5, 4, 0, A.color)
        draw.text("leak", A.v2, 10, A.color), draw.measure_text("leak", 10)
        call(draw.rect, (float("nan"), 0, 1, 1), A.color)
        call(draw.text, "a\0b", A.v2, 10, A.color)
        call(draw.circle, A.v2, A.bad, A.color)
        with camera:
            camera.world_to_screen(A.v2)

    def batch_ops():
        draw.rects(rects, A.color), draw.rects(rows, [A.color] * 20)
        draw.circles([A.v2] * 5, [1, 2, 3, 4, 5], A.color), draw.points([A.v2] * 5, A.color)
        draw.lines([(A.v2, A.v2b)] * 5, A.color)
        call(draw.rects, rows, [A.color] * 3)
        call(draw.rects, numpy.ones((2, 3)), A.color)
        call(draw.lines, [A.v2], A.color)

    def window_ops():
        window.press_key(Key.A), window.type_text("ab"), window.move_mouse(A.v2)
        window.is_key_down(Key.A), window.get_char_pressed(), window.mouse_position
        call(window.press_key, 0)
        numpy.asarray(window.screenshot()).sum()
        for refused in (lambda: window.screenshot().export("/nonexistent/x.png"),
                        lambda: window.replay("/nonexistent/recording")):
            try:
                refused()
            except OSError:
                pass
        window.replay(recording)

    return {"shapes": shape_ops, "batches": batch_ops, "window": window_ops}


@pytest.mark.parametrize("name", ["shapes", "batches", "window"])
def test_drawing_operation_does_not_leak(tmp_path, name):
    from tavoro.window import Window

    recording = tmp_path / "input.txt"
    recording.write_text("tavoro-input 1\n0 key_down 65 0\n")
    with Window(32, 24) as window, window.frame():
        check_no_leak(drawing_operations(window, recording)[name], repeat=REPEAT // 10)



def picture_operations(png, ttf):
    import numpy

    from tavoro.font import Font
    from tavoro.image.image import Image
    from tavoro.texture import Texture

    font = Font.load(ttf, 12)

    def image_ops():
        image, made = Image.load(png), Image.from_buffer(numpy.zeros((8, 8, 4), numpy.uint8))
        image.copy().crop((1, 1, 4, 4)), image.rotate(30), image.get_color((1, 1)), Image.from_bytes(b"no")
        made.draw_image(image, (0, 0, 4, 4), (0, 0, 8, 8)), numpy.asarray(made).sum()
        call(made.resize, 10**6, 10**6), call(made.crop, (50, 50, 1, 1)), call(Image.from_buffer, b"x")
        font.draw_text("leak?", (0, 0), 12, A.color, image=made)

    def texture_ops():
        texture, target = Texture.from_image(Image.load(png)), Texture.render_target(8, 8)
        texture.draw(A.r, source=(0, 0, 2, 2), origin=A.v2, rotation=5, tint=A.color), texture.to_image()
        with target:
            font.draw_text("leak", A.v2, 12, A.color)
        call(texture.draw, (0, 0, -1, 1)), call(texture.__enter__), Texture.load("/nonexistent.png")

    def font_ops():
        loaded = Font.load(ttf, 10, "ab?")
        loaded.glyphs, loaded.glyph_image(ord("a")), loaded.glyph_metrics(ord("z")), loaded.measure_text("ab", 10)
        call(loaded.measure_text, b"ab", 10), Font.load("/nonexistent.ttf"), Font.default().glyphs

    return {"images": image_ops, "textures": texture_ops, "fonts": font_ops}


@pytest.mark.parametrize("name", ["images", "textures", "fonts", "C memory"])
def test_picture_operation_does_not_leak(tmp_path, name):
    import numpy

    from test_font import TTF
    from test_siblings import in_use
    from tavoro.image.image import Image
    from tavoro.window import Window

    png = tmp_path / "p.png"
    Image.from_buffer(numpy.random.default_rng(1).integers(0, 256, (256, 256, 4), numpy.uint8)).export(png)
    operations = picture_operations(png, TTF)
    with Window(32, 24) as window, window.frame():
        if name != "C memory":
            return check_no_leak(operations[name], repeat=REPEAT // 10)
        cycle = lambda: [operations[kind]() for kind in ("images", "textures", "fonts")]  # noqa: E731
        for _ in range(3):
            cycle()
        before = in_use()
        for _ in range(20):
            cycle()
        assert in_use() - before < 1 << 20  # a cycle holds far more than this
