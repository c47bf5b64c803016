"""Color, Vector4 and Image: their Python members and the native entries other modules call."""

import ctypes
import pickle

import pytest

from native_access import native_slot
from tavoro.color.color import Color
from tavoro.image.image import Image
from tavoro.vector4.vector4 import Vector4


def record_size(cls):
    return cls.__basicsize__


def test_record_sizes_match_the_declared_layouts():
    header = object.__basicsize__ + ctypes.sizeof(ctypes.c_void_p)
    assert record_size(Color) == header + 8  # 4 channels, padded
    assert record_size(Vector4) == header + 32
    # the raylib record, is_owner and the count of buffer views, then the keeper of a view's pixels
    assert record_size(Image) == header + 24 + 8 + 8


# ---------------------------------------------------------------------------------------------
# Color


def test_color_channels():
    c = Color(1, 2, 3, 4)
    assert (c.r, c.g, c.b, c.a) == (1, 2, 3, 4)
    c.r, c.a = 255, 0
    assert repr(c) == "Color(255, 2, 3, 0)"
    assert c == Color(255, 2, 3, 0) and c != Color(255, 2, 3, 1) and c != (255, 2, 3, 0)


@pytest.mark.parametrize(
    "args, error, message",
    [
        ((1, 2, 3, 256), ValueError, "Color channel a must be in 0..255, got 256"),
        ((-1, 2, 3, 4), ValueError, "Color channel r must be in 0..255, got -1"),
        ((1, 2, 3), TypeError, "__init__() takes exactly 4 positional arguments (3 given)"),
        ((1, "2", 3, 4), TypeError, "an integer is required"),
    ],
)
def test_color_refusals(args, error, message):
    with pytest.raises(error) as raised:
        Color(*args)
    assert str(raised.value) == message


def test_color_assignment_is_checked_and_atomic():
    c = Color(1, 2, 3, 4)
    with pytest.raises(ValueError, match="channel g must be in 0..255, got 300"):
        c.g = 300
    with pytest.raises(NotImplementedError, match="^__del__$"):
        del c.b
    with pytest.raises(ValueError):
        c.__init__(9, 9, 9, 999)
    assert (c.r, c.g, c.b, c.a) == (1, 2, 3, 4)


def test_color_subclasses_and_fresh_instances():
    class Named(Color):
        pass

    n = Named(1, 2, 3, 4)
    assert isinstance(n, Color) and n == Color(1, 2, 3, 4)
    assert Color(1, 2, 3, 4) is not Color(1, 2, 3, 4)
    with pytest.raises(TypeError):
        hash(n)
    with pytest.raises(TypeError, match="Pickling of struct members such as self._raw"):
        pickle.dumps(Color(1, 2, 3, 4))


def test_color_methods_and_slots():
    c = Color(0x12, 0x34, 0x56, 0x78)
    assert c.to_int() == 0x12345678
    assert Color(255, 0, 0, 255).to_int() == -16776961  # 0xFF0000FF as a signed int
    assert c.fade(0.5) == Color(0x12, 0x34, 0x56, 127) and c.fade(2) == Color(0x12, 0x34, 0x56, 255)
    new = native_slot(Color, 0, ctypes.py_object, *[ctypes.c_int] * 4)
    assert new(1, 2, 3, 4) == Color(1, 2, 3, 4)
    with pytest.raises(ValueError):
        new(1, 2, 3, 400)
    equal = native_slot(Color, 1, ctypes.c_int, ctypes.py_object, ctypes.py_object)
    assert equal(c, Color(0x12, 0x34, 0x56, 0x78)) == 1 and equal(c, Color(0, 0, 0, 0)) == 0
    normalize = native_slot(Color, 2, ctypes.py_object, ctypes.py_object)
    assert normalize(Color(255, 0, 51, 255)) == Vector4(1, 0, 0.2, 1)
    tint = native_slot(Color, 3, ctypes.py_object, ctypes.py_object, ctypes.py_object)
    assert tint(Color(255, 100, 10, 255), Color(255, 128, 0, 51)) == Color(255, 50, 0, 51)


def test_color_to_int_slot_reaches_an_override_with_flag_0():
    class Coded(Color):
        def to_int(self):
            return 42

    to_int = native_slot(Color, 5, ctypes.c_int, ctypes.py_object, ctypes.c_int)
    assert to_int(Coded(0, 0, 0, 1), 0) == 42
    assert to_int(Coded(0, 0, 0, 1), 1) == 1


# ---------------------------------------------------------------------------------------------
# Vector4


def test_vector4_components():
    v = Vector4(1, 2.5, -3, 0.1)
    assert (v.x, v.y, v.z, v.w) == (1, 2.5, -3, 0.1)  # doubles: 0.1 stays 0.1
    v.z = 7
    assert repr(v) == "Vector4(1.0, 2.5, 7.0, 0.1)"
    assert v == Vector4(1, 2.5, 7, 0.1) and v != Vector4(1, 2.5, 7, 0.2) and v != (1, 2.5, 7, 0.1)
    assert Vector4() == Vector4(0, 0, 0, 0)
    with pytest.raises(TypeError):
        Vector4(1, 2)
    with pytest.raises(TypeError):
        v.x = "a"
    with pytest.raises(TypeError):
        hash(v)


def test_vector4_slots():
    new = native_slot(Vector4, 0, ctypes.py_object, *[ctypes.c_double] * 4)
    v = new(1, 2, 3, 0.1)
    assert type(v) is Vector4 and (v.x, v.y, v.z, v.w) == (1, 2, 3, 0.1)
    from_tuple = native_slot(Vector4, 4, ctypes.py_object, ctypes.py_object)
    assert from_tuple((1, 2, 3, 4)) == Vector4(1, 2, 3, 4)
    with pytest.raises(IndexError):
        from_tuple((1, 2))
    get_tuple = native_slot(Vector4, 15, ctypes.py_object, ctypes.py_object)
    assert get_tuple(v) == (1, 2, 3, 0.1)
    dot = native_slot(Vector4, 29, ctypes.c_double, ctypes.py_object, ctypes.py_object, ctypes.c_int)
    assert dot(Vector4(1, 2, 3, 4), Vector4(4, 3, 2, 1), 1) == 20


# ---------------------------------------------------------------------------------------------
# Image


class ImageRecord(ctypes.Structure):
    _fields_ = [("data", ctypes.c_void_p)] + [(n, ctypes.c_int) for n in ("width", "height", "mipmaps", "format")]


class ImageOptional(ctypes.Structure):
    _fields_ = [("n", ctypes.c_int), ("is_owner", ctypes.c_int)]


class MallInfo2(ctypes.Structure):
    _fields_ = [(n, ctypes.c_size_t) for n in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks", "keepcost")]


libc = ctypes.CDLL(None)
libc.malloc.restype = ctypes.c_void_p
libc.malloc.argtypes = [ctypes.c_size_t]
libc.free.argtypes = [ctypes.c_void_p]
# mallinfo2 came with glibc 2.33; before it, mallinfo gives the same counts as ints.
if hasattr(libc, "mallinfo2"):
    libc.mallinfo2.restype = MallInfo2
else:
    libc.mallinfo2 = libc.mallinfo
    libc.mallinfo2.restype = type("MallInfo", (ctypes.Structure,),
                                  {"_fields_": [(n, ctypes.c_int) for n, _ in MallInfo2._fields_]})

BIG = 8 << 20  # far more than anything else the test allocates meanwhile


def in_use():
    """Bytes the C allocator has handed out, from its heap and its own mappings (or, when
    AddressSanitizer has replaced the allocator, from the sanitizer's own count)."""
    sanitizer_count = getattr(libc, "__sanitizer_get_current_allocated_bytes", None)
    if sanitizer_count is not None:
        sanitizer_count.restype = ctypes.c_size_t
        return sanitizer_count()
    info = libc.mallinfo2()
    return info.uordblks + info.hblkhd


new_image = native_slot(Image, 0, ctypes.py_object, ImageRecord, ctypes.POINTER(ImageOptional))


def test_image_fields_are_read_only():
    image = new_image(ImageRecord(None, 3, 4, 1, 7), ImageOptional(1, 0))
    assert (image.width, image.height, image.mipmaps, image.format) == (3, 4, 1, 7)
    assert image.is_owner is False
    with pytest.raises(AttributeError):
        image.width = 5
    assert Image().width == 0 and Image().is_owner is False


@pytest.mark.parametrize("optional, owner", [(ImageOptional(1, 0), False), (ImageOptional(1, 1), True),
                                             (ImageOptional(0, 0), True), (None, True)])
def test_an_image_frees_its_pixels_only_when_it_owns_them(optional, owner):
    pixels = libc.malloc(BIG)
    image = new_image(ImageRecord(pixels, 1, 1, 1, 1), optional)
    assert image.is_owner is owner
    before = in_use()
    del image
    if owner:
        assert in_use() < before - BIG // 2
    else:
        assert in_use() > before - BIG // 2
        libc.free(pixels)


def test_unload_releases_once_and_other_entries_refuse():
    image = new_image(ImageRecord(libc.malloc(BIG), 1, 1, 1, 1), None)
    before = in_use()
    image.unload()
    assert in_use() < before - BIG // 2
    image.unload()
    del image  # a second release would abort the process
    c_load_anim = native_slot(Image, 3, ctypes.py_object, ctypes.py_object, ctypes.c_void_p)
    assert not c_load_anim("sprite.gif", None).valid  # no file; a null frame count is not written


def test_load_from_screen_reads_the_frame_as_screenshot_does():
    from tavoro import Window, draw

    c_load_from_screen = native_slot(Image, 4, ctypes.py_object)
    with pytest.raises(RuntimeError, match="no window is open"):
        c_load_from_screen()  # the first call binds the window module's state
    with Window(6, 4) as window, window.frame():
        draw.clear((10, 20, 30))
        draw.pixel((5, 0), (200, 100, 50))
        screen, shot = bytes(memoryview(c_load_from_screen())), bytes(memoryview(window.screenshot()))
    assert screen == shot and len(screen) == 6 * 4 * 4
    assert screen[5 * 4:6 * 4] == bytes([200, 100, 50, 255])  # row 0 is the top
    assert screen[-4:] == bytes([10, 20, 30, 255])
