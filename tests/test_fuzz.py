"""Property-based checks: arbitrary Python values handed to every constructor, setter, operator,
item access, collision test, parser routine and audio call never crash the interpreter, raise only
the documented refusals (or the interpreter's own conversion errors), leave an object that refused
in its documented state, and keep the stored values' invariants.

The default run tries few examples per property; TAVORO_FUZZ_EXAMPLES=<n> (`make fuzz`) runs many,
with fresh random data each time."""

import ctypes
import math
import operator
import os

import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

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

LONG_RUN = "TAVORO_FUZZ_EXAMPLES" in os.environ
FUZZ = settings(
    max_examples=int(os.environ.get("TAVORO_FUZZ_EXAMPLES", 60)),
    deadline=None,
    derandomize=not LONG_RUN,
    database=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.function_scoped_fixture],
)


# ---------------------------------------------------------------------------------------------
# Odd values


class Boom(Exception):
    """Raised by the odd values' own protocol methods: it must come out unchanged."""


class RaisingNumber:
    def __float__(self):
        raise Boom("__float__")

    def __index__(self):
        raise Boom("__index__")

    def __int__(self):
        raise Boom("__int__")


class WrongNumber:
    def __float__(self):
        return "not a float"

    def __index__(self):
        return 2.5

    def __int__(self):
        return None


class IndexOnly:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class FloatOnly:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class FloatSub(float):
    pass


class IntSub(int):
    pass


class ListSub(list):
    pass


class TupleSub(tuple):
    pass


class RaisingLength(list):
    def __len__(self):
        raise Boom("__len__")


class WrongLength(tuple):
    def __len__(self):
        return 2


class LongLength(list):
    def __len__(self):
        return 4


class RaisingItems(list):
    def __getitem__(self, index):
        raise Boom("__getitem__")


class WrongItems(tuple):
    def __getitem__(self, index):
        return object()


class Seq:
    """A sequence that is neither a tuple nor a list."""

    def __init__(self, items):
        self.items = list(items)

    def __len__(self):
        return len(self.items)

    def __getitem__(self, index):
        return self.items[index]


class Foreign:
    """Another library's vector: recognised by clamp_magnitude_ip, read through x, y, z."""

    def __init__(self, x, y, z):
        self.x, self.y, self.z = x, y, z

    def clamp_magnitude_ip(self):
        pass


numbers = st.one_of(
    st.integers(),
    st.integers(min_value=-(2**70), max_value=2**70),
    st.just(2**1100),
    st.floats(),
    st.floats(allow_subnormal=True, min_value=-1e-38, max_value=1e-38),
    st.floats(width=32),
    st.sampled_from([math.inf, -math.inf, math.nan, 0.0, -0.0, 3.4028235e38, 3.5e38, 5e-324, 1e-45]),
    st.booleans(),
    st.complex_numbers(max_magnitude=10),
    st.fractions(max_denominator=100),
    st.decimals(allow_nan=False, places=3),
)

odd_scalars = st.one_of(
    st.none(),
    st.text(max_size=5),
    st.binary(max_size=5),
    st.builds(RaisingNumber),
    st.builds(WrongNumber),
    st.builds(IndexOnly, st.integers()),
    st.builds(IndexOnly, st.just("x")),
    st.builds(FloatOnly, st.floats()),
    st.builds(FloatOnly, st.integers()),
    st.builds(FloatSub, st.floats()),
    st.builds(IntSub, st.integers(min_value=-(2**64), max_value=2**64)),
    st.just(object()),
)

scalars = st.one_of(numbers, odd_scalars)


def containers(children):
    items = st.lists(children, max_size=5)
    return st.one_of(
        items,
        items.map(tuple),
        items.map(ListSub),
        items.map(TupleSub),
        items.map(RaisingLength),
        items.map(WrongLength),
        items.map(LongLength),
        items.map(RaisingItems),
        items.map(WrongItems),
        items.map(Seq),
        st.dictionaries(st.sampled_from(["x", "y", "z", 0, 1]), children, max_size=3),
        st.builds(Foreign, children, children, children),
    )


values = st.recursive(scalars, containers, max_leaves=8)

# The package's own objects as arguments too.
package_objects = st.one_of(
    st.builds(Vector2, st.floats(width=32), st.floats(width=32)),
    st.builds(Vector3, st.floats(width=32), st.floats(width=32), st.floats(width=32)),
    st.builds(Vector4, *[st.floats(width=32)] * 4),
    st.builds(Rect, *[st.floats(width=32)] * 4),
)

anything = st.one_of(values, package_objects)

# Conversion and protocol errors the interpreter raises itself, and the odd values' own.
ALLOWED = (TypeError, ValueError, IndexError, OverflowError, KeyError, Boom)


def f32(x):
    """A double narrowed to a 32-bit float (round to nearest; out of range gives an infinity)."""
    return ctypes.c_float(x).value


_as_double = ctypes.pythonapi.PyFloat_AsDouble
_as_double.restype = ctypes.c_double
_as_double.argtypes = [ctypes.py_object]


def as_double(x):
    """The interpreter's own float conversion (raises what it raises)."""
    return _as_double(x)


def same(a, b):
    return a == b or (math.isnan(a) and math.isnan(b))


def components(v):
    return v.get_tuple()


def same_components(a, b):
    return all(same(x, y) for x, y in zip(a, b))


def attempt(function, *args, allowed=ALLOWED):
    """(True, result) or (False, exception) for one of the allowed refusals."""
    try:
        return True, function(*args)
    except allowed as error:
        return False, error


# ---------------------------------------------------------------------------------------------
# Vectors

VECTORS = [(Vector2, 2), (Vector3, 3)]


def check_vector_invariants(v, size):
    values = components(v)
    assert len(values) == size
    for value in values:
        assert same(f32(value), value)  # every stored value is a 32-bit float
    if not any(map(math.isnan, values)):  # a NaN hashes by identity, in a tuple as in a vector
        assert hash(v) == hash(values)
    if all(math.isfinite(c) for c in values) and any(values):
        squares = sum(c * c for c in values)
        if 1e-30 < squares < 1e30:
            assert math.isclose(v.get_normalized().length, 1.0, rel_tol=1e-5)


@pytest.mark.parametrize("V, size", VECTORS, ids=["Vector2", "Vector3"])
@FUZZ
@given(args=st.lists(anything, max_size=4))
def test_vector_constructor(V, size, args):
    ok, v = attempt(V, *args)
    if not ok:
        return
    check_vector_invariants(v, size)
    if len(args) == size:
        assert same_components(components(v), [f32(as_double(a)) for a in args])


@pytest.mark.parametrize("V, size", VECTORS, ids=["Vector2", "Vector3"])
@FUZZ
@given(args=st.lists(anything, max_size=4))
def test_vector_reinitialisation_keeps_what_it_did_not_reach(V, size, args):
    v = V(*range(1, size + 1))
    before = components(v)
    ok, _ = attempt(v.__init__, *args)
    after = components(v)
    check_vector_invariants(v, size)
    if ok or len(args) != size:
        return
    # Components are stored as they convert: the first that failed and those after keep theirs.
    for i, arg in enumerate(args):
        converted, value = attempt(as_double, arg)
        if not converted:
            assert same_components(after[i:], before[i:])
            break
        assert same(after[i], f32(value))


STATIC = ["from_tuple", "from_list", "from_ints", "from_floats", "from_components", "from_self"]


@pytest.mark.parametrize("V, size", VECTORS, ids=["Vector2", "Vector3"])
@pytest.mark.parametrize("name", STATIC)
@FUZZ
@given(args=st.lists(anything, max_size=4))
def test_vector_static_constructors(V, size, name, args):
    name = {"from_components": "from_" + "xyz"[:size], "from_self": f"from_vector{size}"}.get(name, name)
    ok, v = attempt(getattr(V, name), *args)
    if ok:
        check_vector_invariants(v, size)
        if name in ("from_floats", "from_xy", "from_xyz"):
            assert same_components(components(v), [f32(as_double(a)) for a in args])


@pytest.mark.parametrize("V, size", VECTORS, ids=["Vector2", "Vector3"])
@FUZZ
@given(key=st.one_of(st.sampled_from(["x", "y", "z", "data", "length", "xy"]), st.just(None)),
       index=anything, value=anything)
def test_vector_setters_and_items(V, size, key, index, value):
    v = V(*range(1, size + 1))
    before = components(v)
    if key is None:
        ok, _ = attempt(v.__setitem__, index, value)
        attempt(v.__getitem__, index)
    else:
        ok, _ = attempt(setattr, v, key, value, allowed=ALLOWED + (AttributeError,))
    if not ok:
        assert components(v) == before or same_components(components(v), before)
    check_vector_invariants(v, size)


BINARY = [operator.add, operator.sub, operator.mul, operator.truediv, operator.floordiv,
          operator.iadd, operator.isub, operator.imul, operator.itruediv, operator.eq, operator.ne]
METHODS = ["dot", "distance_to", "distance_squared_to", "sadd", "__add__", "__mul__",
           "__floordiv__", "__deepcopy__", "cross"]


@pytest.mark.parametrize("V, size", VECTORS, ids=["Vector2", "Vector3"])
@FUZZ
@given(a=st.lists(st.floats(width=32), min_size=3, max_size=3), other=anything,
       which=st.integers(0, len(BINARY) + len(METHODS) - 1), reflected=st.booleans())
def test_vector_operators_and_methods(V, size, a, other, which, reflected):
    v = V(*a[:size])
    if which < len(BINARY):
        op = BINARY[which]
        ok, result = attempt(op, *((other, v) if reflected else (v, other)))
    else:
        method = getattr(v, METHODS[which - len(BINARY)], None)
        if method is None:
            return
        ok, result = attempt(method, *((other, other) if METHODS[which - len(BINARY)] == "sadd" else (other,)))
    if ok and isinstance(result, V):
        check_vector_invariants(result, size)
    check_vector_invariants(v, size)


# ---------------------------------------------------------------------------------------------
# Rect

RECT_PROPERTIES = ["x", "left", "y", "top", "w", "width", "h", "height", "right", "bottom",
                   "centerx", "centery", "center"]
COLLISIONS = ["collide_point", "collide_point_vector2", "collide_point_tuple", "collide_point_list",
              "collide_rect", "collide_rect_vector4", "collide_rect_rect", "collide_rect_tuple",
              "collide_rect_list"]


def check_rect_invariants(r):
    values = r.get_tuple()
    for value in values:
        assert same(f32(value), value)
    assert same(r.right, f32(r.x + r.w)) and same(r.bottom, f32(r.y + r.h))
    assert same_components(list(r), values)


@FUZZ
@given(args=st.lists(anything, max_size=5))
def test_rect_constructor_and_reinitialisation(args):
    ok, r = attempt(Rect, *args)
    if ok:
        check_rect_invariants(r)
        if len(args) == 4:
            assert same_components(r.get_tuple(), [f32(as_double(a)) for a in args])
    kept = Rect(1, 2, 3, 4)
    ok, _ = attempt(kept.__init__, *args)
    if not ok:  # every value is read before any is written
        assert kept.get_tuple() == (1.0, 2.0, 3.0, 4.0)
    check_rect_invariants(kept)


@FUZZ
@given(name=st.sampled_from(RECT_PROPERTIES + [None]), index=anything, value=anything)
def test_rect_setters_and_items(name, index, value):
    r = Rect(1, 2, 3, 4)
    if name is None:
        ok, _ = attempt(r.__setitem__, index, value)
        attempt(r.__getitem__, index)
    else:
        ok, _ = attempt(setattr, r, name, value)
    if not ok:
        assert r.get_tuple() == (1.0, 2.0, 3.0, 4.0)
    check_rect_invariants(r)


@FUZZ
@given(rect=st.lists(st.floats(width=32), min_size=4, max_size=4), name=st.sampled_from(COLLISIONS),
       argument=anything)
def test_rect_collisions(rect, name, argument):
    r = Rect(*rect)
    ok, result = attempt(getattr(r, name), argument)
    if ok:
        assert result is True or result is False
    assert same_components(r.get_tuple(), [f32(c) for c in rect])


# ---------------------------------------------------------------------------------------------
# Parsers


parse_vector2 = parser_routine("parse_vector2_like")
parse_rect = parser_routine("parse_rect_like")
parse_color = parser_routine("parse_color_like")


@FUZZ
@given(obj=anything)
def test_parsers_agree_with_the_constructors(obj):
    ok, parsed = attempt(parse_vector2, obj)
    if ok and (type(obj) in (tuple, list, Vector2)):
        built = attempt(Vector2, obj)
        if built[0]:
            assert same_components(parsed, built[1].get_tuple())
    ok, parsed = attempt(parse_rect, obj)
    if ok and type(obj) in (tuple, list, Rect):
        built = attempt(Rect, obj)
        if built[0]:
            assert same_components(parsed, built[1].get_tuple())
    ok, parsed = attempt(parse_color, obj)
    if ok:
        assert all(0 <= channel <= 255 for channel in parsed)


# ---------------------------------------------------------------------------------------------
# Audio


@pytest.fixture(scope="module")
def tone(tmp_path_factory):
    import struct
    import wave

    path = tmp_path_factory.mktemp("fuzz") / "tone.wav"
    with wave.open(str(path), "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(8000)
        out.writeframes(b"".join(struct.pack("<h", (i * 37) % 2000) for i in range(800)))
    return str(path)


buffers = st.one_of(anything, st.binary(max_size=64), st.builds(bytearray, st.binary(max_size=64)),
                    st.builds(memoryview, st.binary(max_size=64)))
AUDIO_SETTINGS = ["volume", "pitch", "pan"]


@FUZZ
@given(kind=st.sampled_from(["stream", "sound", "alias", "music", "view"]),
       name=st.sampled_from(AUDIO_SETTINGS), value=anything, data=buffers, frames=anything,
       position=anything, device_open=st.booleans())
def test_audio_calls(audio, tone, kind, name, value, data, frames, position, device_open):
    source = Sound.load(tone)
    obj = {
        "stream": lambda: AudioStream(8000, 16, 1),
        "sound": lambda: source,
        "alias": lambda: Sound.load_alias(source),
        "music": lambda: Music.load(tone),
        "view": lambda: source.stream,
    }[kind]()
    if not device_open:
        audio.close()
    try:
        before = getattr(obj, name)
        ok, _ = attempt(setattr, obj, name, value)
        after = getattr(obj, name)
        if ok and name == "pitch" and as_double(value) <= 0:  # leaves the pitch as it is
            assert same(after, before)
        elif ok:
            assert same(after, f32(as_double(value)))
        else:
            assert same(after, before)
        if hasattr(obj, "update") and kind != "music":
            attempt(obj.update, data, frames)
        if kind == "music":
            attempt(obj.seek, position)
            obj.update()
        obj.play()
        obj.stop()
        if kind == "music":
            len(obj)
    finally:
        audio.init()


@FUZZ
@given(path=anything | st.text(max_size=12))
def test_audio_loading_any_value(audio, tmp_path, path):
    if isinstance(path, str):
        path = str(tmp_path / ("missing-" + path.replace("/", "_")))
    for load in (Sound.load, Music.load):
        ok, loaded = attempt(load, path)
        if ok:
            assert not loaded.valid
    ok, _ = attempt(Sound.load_alias, path)
    assert not ok
    if not isinstance(path, int):  # raylib's own limits are not the subject here
        assert not attempt(AudioStream, path, 16, 1)[0]


# ---------------------------------------------------------------------------------------------
# Palette and glyphs


class Tint(Color):
    pass


@FUZZ
@given(name=st.sampled_from(["Red", "Blank", "MediumSlateBlue", "Zzz"]),
       value=st.one_of(anything, st.builds(Color, *[st.integers(0, 255)] * 4),
                       st.builds(Tint, *[st.integers(0, 255)] * 4)))
def test_palette_entries(name, value):
    palette = Colors()
    before = getattr(palette, name, None)
    ok, _ = attempt(setattr, palette, name, value, allowed=(TypeError, AttributeError))
    if name == "Zzz":
        assert not ok
    elif ok:
        assert getattr(palette, name) is value
    else:
        assert getattr(palette, name) is before


@FUZZ
@given(args=st.lists(anything, max_size=3))
def test_palette_and_glyph_construction(args):
    ok, _ = attempt(Colors, *args, allowed=(TypeError,))
    assert ok == (not args)
    assert isinstance(GlyphInfo(*args), GlyphInfo)


# ---------------------------------------------------------------------------------------------
# Vector geometry: every to_/get_ pair and plain geometric method, with vectors of any 32-bit
# components and arguments of any kind. A refusal leaves the receiver as it was; the pair agree.

GEOMETRY = {
    2: ["rotated", "rotated_rad"],
    3: ["rotated", "rotated_rad"] + [f"rotated_{a}{r}" for a in "xyz" for r in ("", "_rad")],
}
GEOMETRY_SHARED = ["lerp", "slerp", "reflected", "projected", "moved_towards", "clamped_magnitude",
                   "scaled_to_length"]
GEOMETRY_PLAIN = {2: ["angle_to", "length_squared", "cross", "as_polar"], 3: ["angle_to", "length_squared"]}
wild_floats = st.one_of(st.floats(), st.sampled_from([0.0, -0.0, 1e-45, 3.4e38, 1e300, -1e300]))


def geometry_arguments(V, size):
    vectors = st.builds(V, *[st.floats(width=32)] * size)
    return st.lists(st.one_of(vectors, wild_floats, anything), max_size=3)


@pytest.mark.parametrize("V, size", VECTORS, ids=["Vector2", "Vector3"])
@FUZZ
@given(data=st.data(), a=st.lists(st.floats(width=32), min_size=3, max_size=3))
def test_vector_geometry_pairs(V, size, data, a):
    name = data.draw(st.sampled_from(GEOMETRY[size] + GEOMETRY_SHARED))
    args = data.draw(geometry_arguments(V, size))
    v = V(*a[:size])
    before = components(v)
    got_ok, got = attempt(getattr(v, "get_" + name), *args)
    assert same_components(components(v), before)
    to_ok, to = attempt(getattr(v, "to_" + name), *args)
    assert got_ok == to_ok
    if not to_ok:
        assert type(to) is type(got)  # the messages may name the method
        assert same_components(components(v), before)
        return
    assert to is v and type(got) is V
    assert same_components(components(got), components(v))
    check_vector_invariants(v, size)


@pytest.mark.parametrize("V, size", VECTORS, ids=["Vector2", "Vector3"])
@FUZZ
@given(data=st.data(), a=st.lists(st.floats(width=32), min_size=3, max_size=3))
def test_vector_geometry_plain_methods(V, size, data, a):
    name = data.draw(st.sampled_from(GEOMETRY_PLAIN[size]))
    args = data.draw(geometry_arguments(V, size))
    v = V(*a[:size])
    ok, result = attempt(getattr(v, name), *args)
    if ok and name == "angle_to":
        assert -180.0 < result <= 180.0 if size == 2 else 0.0 <= result <= 180.0
    if ok and name == "as_polar":
        length, angle = result
        assert length >= 0.0 and -180.0 < angle <= 180.0
        ok, back = attempt(Vector2.from_polar, length, angle)
        assert ok and back.get_tuple() == pytest.approx(v.get_tuple(), rel=1e-5, abs=1e-30 + length * 1e-6)


# Rect: named points, moving and resizing, clip_line and the batch collision tests

NAMED_POINTS = ["topleft", "topright", "bottomleft", "bottomright", "midtop", "midbottom",
                "midleft", "midright", "size"]
RECT_PAIRS = ["moved", "inflated", "scaled", "clamped", "union", "clipped", "fitted"]
BATCHES = ["collide_list", "collide_list_all", "collide_points"]


@FUZZ
@given(name=st.sampled_from(NAMED_POINTS), value=anything)
def test_rect_named_point_setters(name, value):
    r = Rect(1, 2, 3, 4)
    ok, _ = attempt(setattr, r, name, value)
    if not ok:
        assert r.get_tuple() == (1.0, 2.0, 3.0, 4.0)
    check_rect_invariants(r)
    assert isinstance(getattr(r, name), Vector2)


@FUZZ
@given(rect=st.lists(st.floats(width=32), min_size=4, max_size=4), name=st.sampled_from(RECT_PAIRS),
       args=st.lists(anything, max_size=5))
def test_rect_pairs(rect, name, args):
    r = Rect(*rect)
    before = r.get_tuple()
    ok, made = attempt(getattr(r, "get_" + name), *args)
    assert same_components(r.get_tuple(), before)  # a get_ never changes the receiver
    if ok:
        assert type(made) is Rect
        check_rect_invariants(made)
    ok_in_place, result = attempt(getattr(r, "to_" + name), *args)
    assert ok_in_place == ok
    if ok:
        assert result is r and same_components(r.get_tuple(), made.get_tuple())
    else:
        assert same_components(r.get_tuple(), before)
    check_rect_invariants(r)


@FUZZ
@given(rect=st.lists(st.floats(width=32), min_size=4, max_size=4), args=st.lists(anything, max_size=5))
def test_rect_contains_and_clip_line(rect, args):
    r = Rect(*rect)
    ok, result = attempt(r.clip_line, *args)
    if ok:
        assert result == () or (len(result) == 2 and all(type(p) is Vector2 for p in result))
        for p in result:  # what is left of a segment lies in the rectangle
            assert r.collide_point(p)
    if args:
        ok, result = attempt(r.contains, args[0])
        if ok:
            assert result is True or result is False
    assert same_components(r.get_tuple(), [f32(c) for c in rect])


class Shrinking(float):
    """A float subclass whose conversion empties the list it sits in."""

    victim: list = []

    def __float__(self):
        self.victim.clear()
        return 1.0


@FUZZ
@given(rect=st.lists(st.floats(width=32), min_size=4, max_size=4), name=st.sampled_from(BATCHES),
       items=st.lists(anything, max_size=6), container=st.sampled_from([list, tuple, ListSub, TupleSub]),
       shrink=st.booleans())
def test_rect_batches(rect, name, items, container, shrink):
    r = Rect(*rect)
    items = list(items)
    if shrink:  # an element that empties the list while it is read
        items.insert(0, (Shrinking(), 1, 1, 1) if name != "collide_points" else (Shrinking(), 1))
        Shrinking.victim = items
    argument = container(items) if container is not list else items
    ok, result = attempt(getattr(r, name), argument)
    if ok:
        if name == "collide_list":
            assert type(result) is int and -1 <= result < max(len(argument), 1)
        else:
            assert type(result) is list and result == sorted(set(result))
            assert all(0 <= i < 7 for i in result)
    attempt(getattr(r, name), items[0] if items else None)  # a lone element is not a list
    assert same_components(r.get_tuple(), [f32(c) for c in rect])


@FUZZ
@given(key=st.one_of(anything, st.text(max_size=24), st.sampled_from(["Red", "red", "TOMATO", "Blank"])),
       default=anything)
def test_palette_lookup_by_name(key, default):
    palette = Colors()
    ok, entry = attempt(palette.__getitem__, key, allowed=(KeyError,))
    if ok:
        assert isinstance(key, str) and entry is getattr(palette, key)
    found = palette.get(key, default)
    if isinstance(key, str) and key.lower() in {n.lower() for n in palette}:
        assert found is palette.get(key.lower())
    else:
        assert found is default
    assert len(palette) == 152


@FUZZ
@given(rect=st.lists(st.floats(-1e6, 1e6, width=32), min_size=4, max_size=4),
       line=st.lists(st.floats(-2e6, 2e6, width=32), min_size=4, max_size=4))
def test_rect_clip_line_keeps_the_part_inside(rect, line):
    r = Rect(*rect)
    result = r.clip_line(*line)
    if result:
        a, b = result
        assert r.collide_point(a) and r.collide_point(b)
    else:  # nothing of it inside: neither end is
        assert not r.collide_point(line[:2]) and not r.collide_point(line[2:])


@FUZZ
@given(rect=st.lists(st.floats(width=32, allow_nan=False), min_size=4, max_size=4),
       line=st.lists(st.floats(allow_nan=False, allow_infinity=False), min_size=4, max_size=4))
def test_rect_clip_line_cuts_on_an_edge_at_any_scale(rect, line):
    r = Rect(*rect)
    for point, end in zip(r.clip_line(*line), (line[:2], line[2:])):
        assert r.collide_point(point) or math.inf in map(abs, point)
        x, y = point
        assert (x, y) == (f32(end[0]), f32(end[1])) or x in (r.x, r.right) or y in (r.y, r.bottom)


# Typed sample buffers, sub-buffers, the mix capture and path-likes


class FuzzPath:
    def __init__(self, value):
        self.value = value

    def __fspath__(self):
        return self.value


@FUZZ
@given(size=st.sampled_from([8, 16, 32]), channels=st.integers(1, 2),
       dtype=st.sampled_from(["u1", "i1", "i2", "<u2", ">i2", "f4", "f8", "c8", "S3", "?"]),
       shape=st.one_of(st.integers(0, 40), st.tuples(st.integers(0, 20), st.integers(1, 3))),
       frames=st.integers(-2, 20_000),
       buffer_frames=st.sampled_from([0, 1, 64, 100_000, 2**29, 2**30, 2**31 - 1]))
def test_typed_buffers_and_sub_buffers(audio, size, channels, dtype, shape, frames, buffer_frames):
    import numpy

    audio.set_stream_buffer_frames(buffer_frames)
    try:
        made, stream = attempt(AudioStream, 8000, size, channels)
    finally:
        audio.set_stream_buffer_frames(0)
    # Refused exactly when the two sub-buffers' bytes do not fit 32 bits.
    assert made == (2 * buffer_frames * channels * size // 8 < 2**32)
    assume(made)
    stream.play()
    data = numpy.zeros(shape, dtype)
    ok, error = attempt(stream.update, data, frames)
    if ok:
        assert frames >= 0 and data.nbytes >= frames * channels * (size // 8 if size in (8, 16) else 4)
        assert stream.buffer_frames == 0 or frames <= stream.buffer_frames
    stream.unload()


# Handlers that unload, close, reopen or load while lines are handed over leave no alias or view
# loaded over released data.
@FUZZ
@given(actions=st.lists(st.sampled_from(["unload", "close", "init", "stream", "alias", "pass"]),
                        min_size=1, max_size=6),
       calls=st.lists(st.sampled_from(["alias", "play", "update", "music", "stream"]), max_size=8))
def test_handlers_that_act_during_audio_calls(audio, tone, actions, calls):
    import logging

    raylib = next(ctypes.CDLL(line.split()[-1]) for line in open("/proc/self/maps") if "libraylib" in line)
    source, music, aliases = Sound.load(tone), Music.load(tone), []
    act = {"unload": lambda: (source.unload(), music.unload()), "close": audio.close,
           "init": audio.init, "pass": lambda: None,
           "stream": lambda: attempt(AudioStream, 8000, 16, 1, allowed=(RuntimeError,)),
           "alias": lambda: attempt(Sound.load_alias, source, allowed=(ValueError, RuntimeError))}
    handler = type("Act", (logging.Handler,), {"emit": lambda self, r: act[actions.pop(0) if actions else "pass"]()})()
    logging.getLogger("tavoro.raylib").addHandler(handler)
    try:
        for call in calls:
            raylib.TraceLog(4, b"TEST: act")
            if call == "alias":
                ok, alias = act["alias"]()
                aliases += [alias] if ok else []
            elif call in ("play", "update"):
                for alias in aliases:
                    alias.play() if call == "play" else attempt(alias.update, bytes(8), 1)
            elif call == "music":
                music.play(), music.update(), music.seek(0.01)
            else:
                act["stream"]()
            Sound().play()  # hands over what is left, so that no handler acts between the reads
            for alias in aliases:
                assert not alias.valid or source.valid
            assert (not source.stream.valid or source.valid) and (not music.stream.valid or music.valid)
    finally:
        logging.getLogger("tavoro.raylib").removeHandler(handler)
        audio.init()


@FUZZ
@given(seconds=anything | st.floats(-1, 2) | st.sampled_from([600.5, 1e300, math.inf]),
       path=anything | st.text(max_size=8) | st.binary(max_size=8))
def test_capture_and_path_likes(audio, tmp_path, seconds, path):
    # Long captures are refused or take memory for all of it: only short ones are tried.
    number = attempt(float, seconds)
    assume(not (number[0] and 2 < number[1] <= 600))
    ok, _ = attempt(audio.start_capture, seconds)
    taken = audio.stop_capture()
    assert len(taken) % (4 * audio.channels()) == 0
    if isinstance(path, str):
        path = str(tmp_path / ("missing-" + path.replace("/", "_")))
    for load in (Sound.load, Music.load):
        ok, loaded = attempt(load, FuzzPath(path), allowed=ALLOWED + (AttributeError,))
        if ok:
            assert not loaded.valid
