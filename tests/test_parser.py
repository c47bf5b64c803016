"""The argument parsers, called natively through the capsules in __pyx_capi__."""

import pytest

from native_access import PARSERS, capsule_pointer, parser_routine
from tavoro.color.color import Color
from tavoro.parser import parser
from tavoro.rect.rect import Rect
from tavoro.vector2.vector2 import Vector2
from tavoro.vector4.vector4 import Vector4


parse_vector2 = parser_routine("parse_vector2_like")
parse_rect = parser_routine("parse_rect_like")
parse_color = parser_routine("parse_color_like")


def test_the_module_exports_only_the_three_capsules():
    assert sorted(parser.__pyx_capi__) == sorted(PARSERS)
    public = [name for name in vars(parser) if not name.startswith("_")]
    assert public == []
    # a capsule asked for under another signature refuses
    with pytest.raises(ValueError):
        capsule_pointer(parser.__pyx_capi__["parse_rect_like"], b"struct Vector2 (PyObject *)")


class Seq:
    """A sequence that is neither a tuple nor a list."""

    def __init__(self, *items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


class NotIterable(Seq):
    __iter__ = None


class IntLike:
    def __init__(self, value):
        self.value = value

    def __int__(self):
        return self.value


class SubRect(Rect):
    pass


class SubColor(Color):
    pass


@pytest.mark.parametrize(
    "obj, expected",
    [
        (Vector2(1, 2), (1.0, 2.0)),
        (Vector2(0.1, 0), (0.10000000149011612, 0.0)),
        ((1, 2), (1.0, 2.0)),
        ([1.5, -2], (1.5, -2.0)),
        (range(2), (0.0, 1.0)),
        (Seq(3, 4), (3.0, 4.0)),
        (b"\x01\x02", (1.0, 2.0)),
    ],
)
def test_vector2_like(obj, expected):
    assert parse_vector2(obj) == expected


@pytest.mark.parametrize(
    "obj, expected",
    [
        (Rect(1, 2, 3, 4), (1.0, 2.0, 3.0, 4.0)),
        ((1, 2, 3, 4), (1.0, 2.0, 3.0, 4.0)),
        ([1, 2.5, 3, 4], (1.0, 2.5, 3.0, 4.0)),
        (SubRect(5, 6, 7, 8), (5.0, 6.0, 7.0, 8.0)),  # a subclass is read as a sequence
        (range(4), (0.0, 1.0, 2.0, 3.0)),
    ],
)
def test_rect_like(obj, expected):
    assert parse_rect(obj) == expected


@pytest.mark.parametrize(
    "obj, expected",
    [
        (Color(1, 2, 3, 4), (1, 2, 3, 4)),
        ((255, 0, 0), (255, 0, 0, 255)),
        ([300, -5, 10.7, 128], (255, 0, 10, 128)),
        ((2.9, -0.5, True, IntLike(7)), (2, 0, 1, 7)),
        (Seq(1, 2, 3), (1, 2, 3, 255)),
        (b"\x01\x02\x03\x04", (1, 2, 3, 4)),
    ],
)
def test_color_like(obj, expected):
    assert parse_color(obj) == expected


@pytest.mark.parametrize(
    "parse, obj, error, message",
    [
        (parse_vector2, (1, 2, 3), ValueError, "tuple for vector2-like argument must have only 2 elements."),
        (parse_vector2, (1, "a", 3), ValueError, "tuple for vector2-like argument must have only 2 elements."),
        (parse_vector2, [1], ValueError, "list for vector2-like argument must have only 2 elements."),
        (parse_vector2, range(3), ValueError, "sequence for vector2-like argument must have only 2 elements."),
        (parse_vector2, None, TypeError, "vector2-like argument must be Vector2, or any sequence, got NoneType."),
        (parse_vector2, {0: 1, 1: 2}, TypeError, "vector2-like argument must be Vector2, or any sequence, got dict."),
        (parse_vector2, "12", TypeError, "must be real number, not str"),
        (parse_vector2, ("1", 2), TypeError, "must be real number, not str"),
        (parse_vector2, NotIterable(1, 2), TypeError, "expected sequence"),
        (parse_rect, (1, 2, 3), ValueError, "tuple for rect-like argument must have only 4 elements."),
        (parse_rect, [1, 2, 3, 4, 5], ValueError, "list for rect-like argument must have only 4 elements."),
        (parse_rect, Seq(1, 2), ValueError, "sequence for rect-like argument must have only 4 elements."),
        (parse_rect, 5, TypeError, "rect_like argument must be Rect, tuple, or list, got int"),
        (parse_rect, Vector4(1, 2, 3, 4), TypeError,
         "rect_like argument must be Rect, tuple, or list, got tavoro.vector4.vector4.Vector4"),
        (parse_rect, [1, 2, None, 4], TypeError, "must be real number, not NoneType"),
        (parse_color, (1, 2), ValueError, "tuple for color-like argument must have only 3-4 elements."),
        (parse_color, [1, 2, 3, 4, 5], ValueError, "list for color-like argument must have only 3-4 elements."),
        (parse_color, range(5), ValueError, "sequence for color-like argument must have only 3-4 elements."),
        (parse_color, 5, TypeError, "color-like argument must be Color, or any sequence, got int."),
        (parse_color, SubColor(1, 2, 3, 4), TypeError, "color-like argument must be Color, or any sequence, got SubColor."),
        (parse_color, (1, "2", 3), TypeError, "an integer is required"),
        (parse_color, (1, 2, IntLike("3")), TypeError, "__int__ returned non-int (type str)"),
        (parse_color, (1, 2, 2**31), OverflowError, "value too large to convert to int"),
        (parse_color, "abc", TypeError, "an integer is required"),
    ],
)
def test_refusals(parse, obj, error, message):
    with pytest.raises(error) as raised:
        parse(obj)
    assert str(raised.value) == message


def test_other_sequences_are_converted_from_item_1_first():
    with pytest.raises(TypeError, match="not NoneType"):
        parse_vector2(Seq("a", None))
    with pytest.raises(TypeError, match="not str"):
        parse_vector2(Seq("a", 1))


def test_items_that_change_the_list_never_crash():
    items = []

    class Clears:
        def __float__(self):
            items.clear()
            return 1.0

        def __int__(self):
            items.clear()
            return 1

    items[:] = [Clears(), 2, 3, 4]
    assert parse_rect(items) == (1.0, 2.0, 3.0, 4.0)
    items[:] = [Clears(), 2, 3]
    assert parse_color(items) == (1, 2, 3, 255)
    items[:] = [Clears(), 2]
    assert parse_vector2(items) == (1.0, 2.0)


def test_a_failed_call_leaves_no_exception_behind_for_the_next():
    with pytest.raises(ValueError):
        parse_vector2((1,))
    assert parse_vector2((3, 4)) == (3.0, 4.0)
