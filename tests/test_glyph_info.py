"""GlyphInfo: empty glyphs from Python, refused pickling, and glyphs made through the native table,
whose Image shares the caller's pixels and never frees them."""

import copy
import ctypes
import gc
import pickle
import sys
import weakref

import pytest

from tavoro.glyph_info.glyph_info import GlyphInfo
from tavoro.image.image import Image

REFUSED = "self._raw cannot be converted to a Python object for pickling"
POINTER = ctypes.sizeof(ctypes.c_void_p)
RAW_OFFSET = object.__basicsize__ + POINTER  # after the header and the table pointer


class RawImage(ctypes.Structure):
    _fields_ = [("data", ctypes.c_void_p), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("mipmaps", ctypes.c_int), ("format", ctypes.c_int)]


class RawGlyph(ctypes.Structure):
    _fields_ = [("value", ctypes.c_int), ("offsetX", ctypes.c_int), ("offsetY", ctypes.c_int),
                ("advanceX", ctypes.c_int), ("image", RawImage)]


def fields(record):
    return tuple(getattr(record, name) for name, _ in record._fields_)


def raw_of(glyph):
    return RawGlyph.from_address(id(glyph) + RAW_OFFSET)


def table_of(cls):
    get_pointer = ctypes.PYFUNCTYPE(ctypes.c_void_p, ctypes.py_object, ctypes.c_char_p)(
        ("PyCapsule_GetPointer", ctypes.pythonapi))
    return get_pointer(vars(cls)["__pyx_vtable__"], None)


def new_glyph():
    """The table's one slot, `new`, called as another module would call it."""
    address = ctypes.c_void_p.from_address(table_of(GlyphInfo)).value
    return ctypes.PYFUNCTYPE(ctypes.py_object, RawGlyph)(address)


def raises(error, message, call, *args, **kwargs):
    with pytest.raises(error) as raised:
        call(*args, **kwargs)
    assert str(raised.value) == message


class Glyph(GlyphInfo):
    pass


# ---------------------------------------------------------------------------------------------
# Construction from Python


@pytest.mark.parametrize("cls", [GlyphInfo, Glyph])
@pytest.mark.parametrize("args, kwargs", [((), {}), ((1, 2), {"key": 3}), ((None,), {})])
def test_construction_ignores_its_arguments(cls, args, kwargs):
    glyph = cls(*args, **kwargs)
    assert type(glyph) is cls
    assert fields(raw_of(glyph))[:4] == (0, 0, 0, 0)
    assert fields(raw_of(glyph).image) == (None, 0, 0, 0, 0)
    assert ctypes.c_void_p.from_address(id(glyph) + object.__basicsize__).value == table_of(GlyphInfo)
    assert None in gc.get_referents(glyph)  # _image
    assert gc.is_tracked(glyph)


def test_no_python_members_of_its_own():
    own = {name for name in vars(GlyphInfo) if not name.startswith("__")}
    assert own == set()
    assert not hasattr(GlyphInfo(), "__dict__")


def test_subclass_cycle_is_collected():
    glyph = Glyph()
    glyph.me = glyph
    ref = weakref.ref(glyph)
    del glyph
    gc.collect()
    assert ref() is None


# ---------------------------------------------------------------------------------------------
# Pickling


@pytest.mark.parametrize(
    "call",
    [lambda g: pickle.dumps(g, protocol) for protocol in range(pickle.HIGHEST_PROTOCOL + 1)]
    + [copy.copy, copy.deepcopy, lambda g: g.__reduce__(), lambda g: g.__reduce_ex__(2),
       lambda g: g.__setstate__({}), lambda g: g.__setstate__(state=None)],
)
@pytest.mark.parametrize("cls", [GlyphInfo, Glyph])
def test_pickling_refused(cls, call):
    raises(TypeError, REFUSED, call, cls())


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda g: g.__reduce__(1), "__reduce__() takes exactly 0 positional arguments (1 given)"),
        (lambda g: g.__reduce__(x=1), "__reduce__() got an unexpected keyword argument 'x'"),
        (lambda g: g.__setstate__(), "__setstate__() takes exactly 1 positional argument (0 given)"),
        (lambda g: g.__setstate__(1, 2), "__setstate__() takes exactly 1 positional argument (2 given)"),
        (lambda g: g.__setstate__(x=1), "__setstate__() got an unexpected keyword argument 'x'"),
    ],
)
def test_pickling_entries_check_their_arguments(call, message):
    raises(TypeError, message, call, GlyphInfo())


# ---------------------------------------------------------------------------------------------
# Glyphs made natively


def test_native_glyph_copies_the_record_and_wraps_its_image():
    record = RawGlyph(65, -1, 2, 9, RawImage(None, 4, 5, 1, 7))
    glyph = new_glyph()(record)
    assert type(glyph) is GlyphInfo
    assert fields(raw_of(glyph))[:4] == (65, -1, 2, 9)
    assert fields(raw_of(glyph).image) == fields(record.image)
    (image,) = gc.get_referents(glyph)
    assert type(image) is Image and image.is_owner is False
    assert (image.width, image.height, image.mipmaps, image.format) == (4, 5, 1, 7)
    count = sys.getrefcount(image)
    del glyph
    assert sys.getrefcount(image) == count - 1


def test_native_glyph_never_frees_the_pixels(run_python):
    # Pixels from the C allocator: freeing them twice aborts the process, so the interpreter's
    # exit status tells whether anything but the test freed them.
    assert run_python(
        """
        import ctypes, gc, sys
        sys.path.insert(0, "tests")
        from test_glyph_info import RAW_OFFSET, RawGlyph, RawImage, new_glyph

        libc = ctypes.CDLL(None)
        libc.malloc.restype = ctypes.c_void_p
        libc.malloc.argtypes = [ctypes.c_size_t]
        libc.free.argtypes = [ctypes.c_void_p]
        size = 4 * 4 * 4
        pixels = libc.malloc(size)
        ctypes.memset(pixels, 0xAB, size)

        glyph = new_glyph()(RawGlyph(65, 0, 0, 4, RawImage(pixels, 4, 4, 1, 7)))
        (image,) = gc.get_referents(glyph)
        assert RawImage.from_address(id(image) + RAW_OFFSET).data == pixels
        del glyph
        image.unload()
        del image
        gc.collect()
        for _ in range(3):  # let other allocations reuse a wrongly freed block
            libc.free(libc.malloc(size))
        assert ctypes.string_at(pixels, size) == b"\\xab" * size
        libc.free(pixels)
        print("intact")
        """
    ).stdout == "intact\n"
