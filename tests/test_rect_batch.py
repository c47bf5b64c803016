"""Rect's collision tests over lists: collide_list, collide_list_all and collide_points agree with
collide_rect and collide_point element by element, take every form those take, and survive lists
that change while they are read."""

import random

import pytest

from tavoro.rect.rect import Rect
from tavoro.vector2.vector2 import Vector2
from tavoro.vector4.vector4 import Vector4

NAN = float("nan")
RECT = Rect(0, 0, 10, 10)


class Tup(tuple):
    pass


class Lst(list):
    pass


# Every form collide_rect takes, each once overlapping and once only touching.
RECT_FORMS = [
    Rect(5, 5, 10, 10), Rect(10, 0, 5, 5),
    (5.0, 5.0, 1.0, 1.0), (10.0, 0.0, 1.0, 1.0),
    (5, 5, 1, 1), [5, 5, 1, 1], [-1, 0, 1, 1],
    Vector4(9, 9, 2, 2), Vector4(0, 10, 2, 2),
    Tup((1, 1, 1, 1)), Lst([0, -1, 1, 1]),
    type("SubRect", (Rect,), {})(1, 1, 1, 1),
    (NAN, 0.0, 1.0, 1.0), (5, 0, 0, 10),
]
# Every form collide_point takes, inside, on the border and outside.
POINT_FORMS = [
    Vector2(5, 5), Vector2(10, 10), Vector2(10.5, 0),
    (5.0, 5.0), (0.0, 10.0), (-0.5, 5.0), (5, 5), [10, 0], [11, 0], Tup((1, 1)), Lst([0, 0]),
    (NAN, 0.0),
]


@pytest.mark.parametrize("container", [list, tuple, Lst, Tup])
def test_batch_agrees_with_the_single_tests(container):
    rects = container(RECT_FORMS)
    points = container(POINT_FORMS)
    hits = [i for i, r in enumerate(RECT_FORMS) if RECT.collide_rect(r)]
    assert hits == [0, 2, 4, 5, 7, 9, 11, 13]
    assert RECT.collide_list_all(rects) == hits
    assert RECT.collide_list(rects) == hits[0]
    assert RECT.collide_points(points) == [i for i, p in enumerate(POINT_FORMS) if RECT.collide_point(p)]


def test_random_rectangles_and_points_agree_with_the_single_tests():
    rng = random.Random(5)
    rects = [Rect(rng.uniform(-20, 20), rng.uniform(-20, 20), rng.uniform(-5, 15), rng.uniform(-5, 15))
             for _ in range(300)]
    points = [(float(rng.randint(-2, 12)), float(rng.randint(-2, 12))) for _ in range(300)]
    r = Rect(0.5, 0, 10, 9.5)
    assert r.collide_list_all(rects) == [i for i, o in enumerate(rects) if r.collide_rect(o)]
    assert r.collide_points(points) == [i for i, p in enumerate(points) if r.collide_point(p)]


@pytest.mark.parametrize("empty", [[], ()])
def test_empty_and_missing(empty):
    assert RECT.collide_list(empty) == -1
    assert RECT.collide_list_all(empty) == []
    assert RECT.collide_points(empty) == []
    assert RECT.collide_list([(20, 20, 1, 1), Rect(10, 10, 1, 1)]) == -1


@pytest.mark.parametrize(
    "method, argument, error, message",
    [
        ("collide_list", None, TypeError, "Expected a list or tuple of rectangles, got NoneType"),
        ("collide_list_all", iter([RECT]), TypeError, "Expected a list or tuple of rectangles, got list_iterator"),
        ("collide_points", {(1, 1)}, TypeError, "Expected a list or tuple of points, got set"),
        ("collide_list", [(20, 20, 1, 1), None], ValueError,
         "rect for collision must be a Rect, Vector4, tuple, or list of length 4"),
        ("collide_list_all", [RECT, (1, 2, 3)], ValueError,
         "rect for collision must be a Rect, Vector4, tuple, or list of length 4"),
        ("collide_list_all", [Vector2(1, 1)], ValueError, None),
        ("collide_points", [(1, 1), RECT], ValueError, "Point must be a Vector2, tuple, or list of length 2"),
        ("collide_points", [(1, "a")], TypeError, None),
        ("collide_list", [(1, 2, 3, 2**2000)], OverflowError, None),
    ],
)
def test_refusals(method, argument, error, message):
    with pytest.raises(error) as info:
        getattr(RECT, method)(argument)
    if message:
        assert str(info.value) == message


def test_the_first_hit_stops_the_scan():
    # The refused element after the first hit is never read.
    assert RECT.collide_list([(1, 1, 1, 1), None]) == 0
    with pytest.raises(ValueError):
        RECT.collide_list_all([(1, 1, 1, 1), None])


class Mutating:
    """A coordinate whose conversion runs `action` first."""

    def __init__(self, value, action):
        self.value, self.action = value, action

    def __float__(self):
        self.action()
        return self.value


@pytest.mark.parametrize("method, make", [
    ("collide_list_all", lambda v: (v, 1, 1, 1)),
    ("collide_points", lambda v: [v, 1]),
])
def test_a_list_emptied_while_it_is_read(method, make):
    items = []
    items.extend([make(Mutating(1.0, items.clear)), make(1.0), make(2.0)])
    assert getattr(RECT, method)(items) == [0]
    assert items == []


def test_a_list_grown_while_it_is_read_is_read_to_its_new_end():
    items = []
    items.extend([(Mutating(1.0, lambda: items.append((2.0, 2.0, 1.0, 1.0))), 1, 1, 1), (50.0, 0.0, 1.0, 1.0)])
    assert RECT.collide_list_all(items) == [0, 2]


def test_the_receiver_moved_while_the_list_is_read():
    r = Rect(0, 0, 10, 10)

    def move_away():
        r.x = 100

    rects = [(Mutating(1.0, move_away), 1, 1, 1), Rect(1, 1, 1, 1), Rect(101, 1, 1, 1)]
    assert r.collide_list_all(rects) == [2]


def test_an_element_whose_conversion_raises():
    class Boom(Exception):
        pass

    def boom():
        raise Boom

    with pytest.raises(Boom):
        RECT.collide_points([(1, 1), (Mutating(1.0, boom), 1)])


def test_results_are_new_lists_of_ints():
    first, second = RECT.collide_list_all([RECT]), RECT.collide_list_all([RECT])
    assert first == second == [0] and first is not second
    many = RECT.collide_points([(1.0, 1.0), (1, 1), (20.0, 1.0)] * 300)  # hits beyond one block
    assert many == [i for i in range(900) if i % 3 != 2]
    assert all(type(i) is int for i in many)
