"""What users of other Python game and numeric libraries expect to work with the package's types:
pygame-ce vectors accepted by the vector constructors (and ours by pygame-ce), NumPy arrays fed to
the audio objects, and vectors and rectangles used wherever a sequence of numbers is."""

import math
import os
import struct

import numpy
import pytest

from tavoro.audio_stream.audio_stream import AudioStream
from tavoro.rect.rect import Rect
from tavoro.sound.sound import Sound
from tavoro.vector2.vector2 import Vector2
from tavoro.vector3.vector3 import Vector3

os.environ.setdefault("PYGAME_HIDE_SUPPORT_PROMPT", "1")
try:
    import pygame
    import pygame.math
except ImportError:  # only the pygame-ce cases are skipped
    pygame = None

needs_pygame = pytest.mark.skipif(pygame is None, reason="pygame-ce cannot be imported")


def components(v):
    return v.get_tuple()


# ---------------------------------------------------------------------------------------------
# pygame-ce's vectors


@needs_pygame
@pytest.mark.parametrize(
    "make, expected",
    [
        (lambda: Vector2(pygame.math.Vector2(1.5, -2)), (1.5, -2.0)),
        # a three-component vector gives its x and y
        (lambda: Vector2(pygame.math.Vector3(1, 2, 3)), (1.0, 2.0)),
        (lambda: Vector3(pygame.math.Vector3(1.5, -2, 4)), (1.5, -2.0, 4.0)),
        # stored as 32-bit floats like every other input
        (lambda: Vector2(pygame.math.Vector2(0.1, 1e39)), (0.10000000149011612, math.inf)),
        (lambda: Vector3(pygame.math.Vector3(0.1, 0, -1e39)), (0.10000000149011612, 0.0, -math.inf)),
    ],
)
def test_pygame_vectors_construct_ours(make, expected):
    assert components(make()) == expected


@needs_pygame
def test_pygame_vector_reinitialises_ours():
    v = Vector2(7, 8)
    v.__init__(pygame.math.Vector2(1, 2))
    assert components(v) == (1.0, 2.0)


@needs_pygame
def test_pygame_two_component_vector_is_no_vector3():
    with pytest.raises(AttributeError, match="'z'"):
        Vector3(pygame.math.Vector2(1, 2))


@needs_pygame
@pytest.mark.parametrize(
    "make, expected",
    [
        (lambda: pygame.math.Vector2(Vector2(1.5, -2)), (1.5, -2.0)),
        (lambda: pygame.math.Vector3(Vector3(1, 2, 3)), (1.0, 2.0, 3.0)),
        (lambda: pygame.Rect(Rect(1, 2, 3, 4)), (1, 2, 3, 4)),
        (lambda: pygame.FRect(Rect(1.5, 2, 3, 4.5)), (1.5, 2.0, 3.0, 4.5)),
        (lambda: pygame.Rect(Rect(0, 0, 10, 10)).collidepoint(Vector2(3, 4)), True),
    ],
)
def test_pygame_takes_ours_as_sequences(make, expected):
    made = make()
    assert (made if isinstance(made, bool) else tuple(made)) == expected


# ---------------------------------------------------------------------------------------------
# Vectors and rectangles as sequences of numbers

SEQUENCES = [
    pytest.param(Vector2(1.5, -2), (1.5, -2.0), id="Vector2"),
    pytest.param(Vector3(1.5, -2, 0.25), (1.5, -2.0, 0.25), id="Vector3"),
    pytest.param(Rect(1.5, -2, 3, 4.25), (1.5, -2.0, 3.0, 4.25), id="Rect"),
]


@pytest.mark.parametrize("thing, items", SEQUENCES)
def test_iterates_as_its_components(thing, items):
    assert tuple(thing) == items and list(thing) == list(items)
    assert [*thing] == list(items)
    first, *rest = thing
    assert (first, *rest) == items
    assert list(reversed(thing)) == list(reversed(items))
    assert list(enumerate(thing)) == list(enumerate(items))
    assert sum(thing) == sum(items) and max(thing) == max(items) and sorted(thing) == sorted(items)
    assert items[-1] in thing and 1e9 not in thing


@pytest.mark.parametrize("thing, items", SEQUENCES)
def test_packs_and_converts_like_its_components(thing, items):
    fmt = f"{len(items)}f"
    assert struct.unpack(fmt, struct.pack(fmt, *thing)) == items
    assert numpy.array(thing).tolist() == list(items)
    assert numpy.asarray(thing, numpy.float32).dtype == numpy.float32
    assert "{}|{}".format(*thing) == f"{items[0]}|{items[1]}"


@pytest.mark.parametrize(
    "a, b",
    [
        (Vector2(0, 0), Vector2(3, 4)),
        (Vector3(1, 2, 3), Vector3(4, 6, 15)),
        (Vector2(0, 0), (3, 4)),
    ],
)
def test_math_dist_and_zip(a, b):
    expected = math.sqrt(sum((p - q) ** 2 for p, q in zip(tuple(a), tuple(b))))
    assert math.dist(a, b) == expected
    assert [p - q for p, q in zip(a, b)] == [p - q for p, q in zip(a.get_tuple(), tuple(b))]
    assert dict(zip("xyz", a)) == dict(zip("xyz", a.get_tuple()))


def test_unpacking_into_names():
    x, y = Vector2(1, 2)
    a, b, c = Vector3(3, 4, 5)
    left, top, width, height = Rect((1, 2), (3, 4))
    assert (x, y, a, b, c, left, top, width, height) == (1, 2, 3, 4, 5, 1, 2, 3, 4)
    with pytest.raises(ValueError, match="too many values"):
        x, y = Vector3(1, 2, 3)


# ---------------------------------------------------------------------------------------------
# NumPy arrays and the audio objects (plain C-contiguous arrays are covered with the types' own
# tests): only the layout that the buffer protocol hands over as plain bytes is taken.


@pytest.fixture(params=["stream", "sound"])
def fed(request, audio, write_wav):
    """A stereo AudioStream or Sound and the sample type it holds."""
    if request.param == "stream":
        return AudioStream(22050, 16, 2), numpy.int16
    return Sound.load(write_wav(0.5, channels=2)), numpy.float32  # sounds hold 32-bit floats


@pytest.mark.parametrize(
    "layout",
    [
        pytest.param(lambda dtype: numpy.zeros((200, 2), dtype)[::2], id="strided"),
        pytest.param(lambda dtype: numpy.zeros((2, 100), dtype).T, id="transposed"),
        pytest.param(lambda dtype: numpy.zeros((100, 2), dtype, order="F"), id="fortran"),
    ],
)
def test_update_refuses_arrays_that_are_not_contiguous(fed, layout):
    target, dtype = fed
    with pytest.raises(ValueError, match="not C-contiguous"):
        target.update(layout(dtype), 100)


def test_update_takes_read_only_arrays(fed):
    target, dtype = fed
    samples = numpy.frombuffer(bytes(100 * 2 * numpy.dtype(dtype).itemsize), dtype)
    assert not samples.flags.writeable
    assert target.update(samples, 100) is None
