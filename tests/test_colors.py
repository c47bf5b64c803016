"""The named colour palette: every row's value, who owns which Color, replacing and clearing
entries, construction, subclasses, and collection."""

import ctypes
import gc
import sys
import traceback
import tracemalloc
import weakref

import pytest

from tavoro.color.color import Color
from tavoro.colors.colors import Colors, colors
from tavoro.vector4.vector4 import Vector4

FULL_NAME = "tavoro.colors.colors.Colors"
COLOR_NAME = "tavoro.color.color.Color"

# name, red, green, blue, alpha; in declaration order
PALETTE_TEXT = """
AliceBlue              240 248 255 255
AntiqueWhite           250 235 215 255
Aqua                     0 255 255 255
Aquamarine             127 255 212 255
Azure                  240 255 255 255
Beige                  245 245 220 255
Bisque                 255 228 196 255
Black                    0   0   0 255
Blank                    0   0   0   0
BlanchedAlmond         255 235 205 255
Blue                     0   0 255 255
BlueViolet             138  43 226 255
Brown                  165  42  42 255
BurlyWood              222 184 135 255
CadetBlue               95 158 160 255
Chartreuse             127 255   0 255
Chocolate              210 105  30 255
Coral                  255 127  80 255
CornflowerBlue         100 149 237 255
Cornsilk               255 248 220 255
Crimson                220  20  60 255
Cyan                     0 255 255 255
DarkBlue                 0   0 139 255
DarkCyan                 0 139 139 255
DarkGoldenrod          184 134  11 255
DarkGray               169 169 169 255
DarkGrey               169 169 169 255
DarkGreen                0 100   0 255
DarkKhaki              189 183 107 255
DarkMagenta            139   0 139 255
DarkOliveGreen          85 107  47 255
DarkOrange             255 140   0 255
DarkOrchid             153  50 204 255
DarkRed                139   0   0 255
DarkSalmon             233 150 122 255
DarkSeaGreen           143 188 143 255
DarkSlateBlue           72  61 139 255
DarkSlateGray           47  79  79 255
DarkSlateGrey           47  79  79 255
DarkTurquoise            0 206 209 255
DarkViolet             148   0 211 255
DeepPink               255  20 147 255
DeepSkyBlue              0 191 255 255
DimGray                105 105 105 255
DimGrey                105 105 105 255
DodgerBlue              30 144 255 255
FireBrick              178  34  34 255
FloralWhite            255 250 240 255
ForestGreen             34 139  34 255
Fuchsia                255   0 255 255
Gainsboro              220 220 220 255
GhostWhite             248 248 255 255
Gold                   255 215   0 255
Goldenrod              218 165  32 255
Gray                   128 128 128 255
Grey                   128 128 128 255
Green                    0 128   0 255
GreenYellow            173 255  47 255
Honeydew               240 255 240 255
HotPink                255 105 180 255
IndianRed              205  92  92 255
Indigo                  75   0 130 255
Ivory                  255 255 240 255
Khaki                  240 230 140 255
Lavender               230 230 250 255
LavenderBlush          255 240 245 255
LawnGreen              124 252   0 255
LemonChiffon           255 250 205 255
LightBlue              173 216 230 255
LightCoral             240 128 128 255
LightCyan              224 255 255 255
LightGoldenrodYellow   250 250 210 255
LightGray              211 211 211 255
LightGrey              211 211 211 255
LightGreen             144 238 144 255
LightPink              255 182 193 255
LightSalmon            255 160 122 255
LightSeaGreen           32 178 170 255
LightSkyBlue           135 206 250 255
LightSlateGray         119 136 153 255
LightSlateGrey         119 136 153 255
LightSteelBlue         176 196 222 255
LightYellow            255 255 224 255
Lime                     0 255   0 255
LimeGreen               50 205  50 255
Linen                  250 240 230 255
Magenta                255   0 255 255
Maroon                 176  48  96 255
MediumAquamarine       102 205 170 255
MediumBlue               0   0 205 255
MediumForestGreen       50 129  75 255
MediumOrchid           219 112 219 255
MediumPurple           147 112 219 255
MediumSeaGreen          66 170 113 255
MediumSlateBlue        127 255 212 255
MediumSpringGreen       60 179 113 255
MediumTurquoise        112 219 219 255
MediumVioletRed        199  21 133 255
MidnightBlue            25  25 112 255
MintCream              245 255 250 255
MistyRose              255 228 225 255
Moccasin               255 228 181 255
NavajoWhite            255 222 173 255
Navy                     0   0 128 255
NavyBlue                 0   0 128 255
OldLace                253 245 230 255
Olive                  128 128   0 255
OliveDrab              107 142  35 255
Orange                 255 165   0 255
OrangeRed              255  69   0 255
Orchid                 218 112 214 255
PaleGoldenrod          238 232 170 255
PaleGreen              152 251 152 255
PaleTurquoise          175 238 238 255
PaleVioletRed          219 112 147 255
PapayaWhip             255 239 213 255
PeachPuff              255 218 185 255
Peru                   205 133  63 255
Pink                   255 192 203 255
Plum                   221 160 221 255
PowderBlue             176 224 230 255
Purple                 160  32 240 255
RebeccaPurple          102  51 153 255
Red                    255   0   0 255
RosyBrown              188 143 143 255
RoyalBlue               65 105 225 255
SaddleBrown            139  69  19 255
Salmon                 250 128 114 255
SandyBrown             244 164  96 255
SeaGreen                46 139  87 255
Seashell               255 245 238 255
Sienna                 160  82  45 255
Silver                 192 192 192 255
SkyBlue                135 206 235 255
SlateBlue              106  90 205 255
SlateGray              112 128 144 255
SlateGrey              112 128 144 255
Snow                   255 250 250 255
SpringGreen              0 255 127 255
SteelBlue               70 130 180 255
Tan                    210 180 140 255
Teal                     0 128 128 255
Thistle                216 191 216 255
Tomato                 255  99  71 255
Turquoise               64 224 208 255
Violet                 238 130 238 255
VioletRed              208  32 144 255
Wheat                  245 222 179 255
White                  255 255 255 255
WhiteSmoke             245 245 245 255
Yellow                 255 255   0 255
YellowGreen            154 205  50 255
"""
PALETTE = [(name, tuple(map(int, rest))) for name, *rest in map(str.split, PALETTE_TEXT.strip().splitlines())]
NAMES = [name for name, _ in PALETTE]

EQUAL_PAIRS = [
    ("Aqua", "Cyan"), ("Aquamarine", "MediumSlateBlue"), ("Fuchsia", "Magenta"),
    ("Navy", "NavyBlue"), ("Gray", "Grey"), ("DarkGray", "DarkGrey"),
    ("DarkSlateGray", "DarkSlateGrey"), ("DimGray", "DimGrey"), ("LightGray", "LightGrey"),
    ("LightSlateGray", "LightSlateGrey"), ("SlateGray", "SlateGrey"),
]


def raises(error, message, call, *args, **kwargs):
    with pytest.raises(error) as raised:
        call(*args, **kwargs)
    assert str(raised.value) == message


def channels(color):
    return (color.r, color.g, color.b, color.a)


def type_slot(cls, index):
    """Slot `index` (counted in pointers) of a type object as CPython 3.13 lays it out, after
    checking that layout through tp_basicsize (4) and tp_base (32)."""
    pointer = ctypes.sizeof(ctypes.c_void_p)
    address = id(cls)
    assert ctypes.c_ssize_t.from_address(address + 4 * pointer).value == cls.__basicsize__
    assert ctypes.c_void_p.from_address(address + 32 * pointer).value == id(cls.__base__)
    return ctypes.c_void_p.from_address(address + index * pointer).value


TP_CLEAR, TP_VECTORCALL = 24, 50


def colors_vectorcall(callable, *args, **kwargs):
    """Colors' vectorcall entry called for `callable`, as for a native subclass that inherits it."""
    values = (ctypes.py_object * (len(args) + len(kwargs) + 1))(*args, *kwargs.values(), None)
    # No keywords is a null kwnames, not None.
    names = tuple(kwargs)
    entry = ctypes.PYFUNCTYPE(ctypes.py_object, ctypes.py_object, ctypes.c_void_p, ctypes.c_size_t,
                              ctypes.c_void_p)(type_slot(Colors, TP_VECTORCALL))
    return entry(callable, ctypes.addressof(values), len(args), id(names) if names else None)


class Tinted(Color):
    """A Color subclass: weak references and attributes, unlike Color itself."""


# ---------------------------------------------------------------------------------------------
# The palette


@pytest.mark.parametrize("name, value", PALETTE, ids=NAMES)
def test_row(name, value):
    for palette in (colors, Colors()):
        entry = getattr(palette, name)
        assert type(entry) is Color
        assert channels(entry) == value


def test_attributes_are_the_rows_in_order():
    assert len(PALETTE) == 152
    declared = [key for key, value in vars(Colors).items() if type(value).__name__ == "getset_descriptor"]
    assert declared == NAMES
    assert all(vars(Colors)[name].__doc__ is None for name in NAMES)


def test_record_is_the_header_then_one_reference_per_row():
    assert Colors.__basicsize__ == object.__basicsize__ + 152 * ctypes.sizeof(ctypes.c_void_p)
    assert "__pyx_vtable__" not in vars(Colors)
    assert not hasattr(colors, "__dict__")
    with pytest.raises(TypeError):
        weakref.ref(colors)


# ---------------------------------------------------------------------------------------------
# Ownership: each instance has its own 152 fresh colours


def test_every_entry_is_a_distinct_object():
    palette = Colors()
    entries = [getattr(palette, name) for name in NAMES]
    assert len({id(entry) for entry in entries}) == 152
    assert all(entry is not getattr(colors, name) for name, entry in zip(NAMES, entries))
    assert type(colors) is Colors and colors.Red is colors.Red


@pytest.mark.parametrize("first, second", EQUAL_PAIRS)
def test_equal_rows_hold_different_objects(first, second):
    a, b = getattr(colors, first), getattr(colors, second)
    assert channels(a) == channels(b) and a is not b


def test_entries_are_not_copied():
    palette = Colors()
    palette.Red.g = 7
    assert channels(palette.Red) == (255, 7, 0, 255)
    assert channels(colors.Red) == (255, 0, 0, 255)


def test_init_again_replaces_every_entry():
    palette = Colors()
    old = [getattr(palette, name) for name in NAMES]
    counts = [sys.getrefcount(entry) for entry in old]
    palette.__init__()
    assert [sys.getrefcount(entry) for entry in old] == [count - 1 for count in counts]
    fresh = [getattr(palette, name) for name in NAMES]
    assert all(type(entry) is Color for entry in fresh)
    assert not {id(entry) for entry in fresh} & {id(entry) for entry in old}
    assert [channels(entry) for entry in fresh] == [value for _, value in PALETTE]


def test_init_again_discards_assigned_values():
    palette = Colors()
    palette.Red = None
    palette.Blue = Tinted(1, 2, 3, 4)
    ref = weakref.ref(palette.Blue)
    palette.__init__()
    assert ref() is None
    assert channels(palette.Red) == (255, 0, 0, 255) and channels(palette.Blue) == (0, 0, 255, 255)


# ---------------------------------------------------------------------------------------------
# Replacing and clearing entries


@pytest.mark.parametrize("make", [lambda: None, lambda: Color(1, 2, 3, 4), lambda: Tinted(5, 6, 7, 8)],
                         ids=["None", "Color", "subclass"])
def test_assignment_stores_the_object(make):
    palette = Colors()
    old, value = palette.Coral, make()
    count = sys.getrefcount(old)
    palette.Coral = value
    assert palette.Coral is value
    assert sys.getrefcount(old) == count - 1
    assert channels(palette.Salmon) == (250, 128, 114, 255)


@pytest.mark.parametrize(
    "value, type_name",
    [((255, 0, 0, 255), "tuple"), (0xFF0000FF, "int"), ("red", "str"),
     (Vector4(1, 0, 0, 1), "tavoro.vector4.vector4.Vector4"), (colors, FULL_NAME), (Color, "type")],
)
def test_assignment_refuses_other_values(value, type_name):
    palette = Colors()
    before = palette.Red
    raises(TypeError, f"Cannot convert {type_name} to {COLOR_NAME}", setattr, palette, "Red", value)
    assert palette.Red is before


def test_delete_stores_none():
    palette = Colors()
    old = palette.Red
    count = sys.getrefcount(old)
    del palette.Red
    assert palette.Red is None
    assert sys.getrefcount(old) == count - 1
    del palette.Red
    assert palette.Red is None


# ---------------------------------------------------------------------------------------------
# Construction


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: Colors(1), "__init__() takes exactly 0 positional arguments (1 given)"),
        (lambda: Colors(1, 2), "__init__() takes exactly 0 positional arguments (2 given)"),
        (lambda: Colors(red=1), "__init__() got an unexpected keyword argument 'red'"),
        (lambda: Colors().__init__(None), "__init__() takes exactly 0 positional arguments (1 given)"),
        (lambda: Colors().__init__(red=1), "__init__() got an unexpected keyword argument 'red'"),
        (lambda: Colors.__init__(Colors.__new__(Colors), 1), "__init__() takes exactly 0 positional arguments (1 given)"),
    ],
)
def test_arguments_are_refused(call, message):
    raises(TypeError, message, call)


def test_refused_init_changes_nothing():
    palette = Colors()
    palette.Red = None
    with pytest.raises(TypeError):
        palette.__init__(1)
    assert palette.Red is None


def test_new_gives_an_empty_palette():
    palette = Colors.__new__(Colors)
    assert all(getattr(palette, name) is None for name in NAMES)
    assert gc.is_tracked(palette) and gc.is_tracked(Colors())


@pytest.mark.parametrize(
    "call, member",
    [(lambda: setattr(colors, "Red", 1), "Red"), (lambda: Colors(1), "__init__"),
     (lambda: colors.__init__(x=1), "__init__")],
)
def test_traceback_names_the_member(call, member):
    with pytest.raises(TypeError) as info:
        call()
    last = traceback.extract_tb(info.value.__traceback__)[-1]
    assert last.name == f"{FULL_NAME}.{member}"
    assert last.filename.endswith("src/tavoro/colors/colors.cpp")


def test_type_is_immutable():
    with pytest.raises(TypeError):
        Colors.Red = None
    assert type(vars(Colors)["Red"]).__name__ == "getset_descriptor"


# ---------------------------------------------------------------------------------------------
# Subclasses


def test_subclass_gets_the_same_entries():
    class Palette(Colors):
        pass

    palette = Palette()
    assert [channels(getattr(palette, name)) for name in NAMES] == [value for _, value in PALETTE]
    assert palette.Red is not colors.Red
    raises(TypeError, "__init__() takes exactly 0 positional arguments (1 given)", Palette, 1)


class Tinting(Colors):
    """A palette whose construction is its own: it records what __new__ saw."""

    def __new__(cls, *args, **kwargs):
        self = super().__new__(cls)
        self.made = args, kwargs
        return self

    def __init__(self, tint, *, alpha):
        self.Red = Color(tint, tint, tint, alpha)


@pytest.mark.parametrize("call", [Tinting, lambda *a, **k: colors_vectorcall(Tinting, *a, **k)],
                         ids=["called", "vectorcall"])
def test_subclass_construction_runs_its_own_new_and_init(call):
    palette = call(9, alpha=3)
    assert type(palette) is Tinting and palette.made == ((9,), {"alpha": 3})
    assert channels(palette.Red) == (9, 9, 9, 3) and palette.Blue is None


def test_vectorcall_for_the_exact_type():
    palette = colors_vectorcall(Colors)
    assert type(palette) is Colors and channels(palette.Blue) == (0, 0, 255, 255)
    raises(TypeError, "__init__() got an unexpected keyword argument 'red'", colors_vectorcall, Colors, red=1)


def test_vectorcall_for_a_type_that_cannot_be_created():
    uncreatable = type(iter([]))
    raises(TypeError, f"cannot create {uncreatable.__name__} instances", colors_vectorcall, uncreatable)


# ---------------------------------------------------------------------------------------------
# Collection and release


def test_cycle_through_an_entry_is_collected():
    palette = Colors()
    tinted = Tinted(1, 2, 3, 4)
    tinted.palette = palette
    palette.Teal = tinted
    ref = weakref.ref(tinted)
    del palette, tinted
    gc.collect()
    assert ref() is None


def test_clearing_sets_every_entry_to_none():
    clear = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.py_object)(type_slot(Colors, TP_CLEAR))
    palette = Colors()
    palette.Red = Tinted(1, 1, 1, 1)
    ref = weakref.ref(palette.Red)
    assert clear(palette) == 0
    assert ref() is None
    assert all(getattr(palette, name) is None for name in NAMES)


def test_release_drops_every_entry():
    palette = Colors()
    palette.Gold = Tinted(1, 2, 3, 4)
    ref = weakref.ref(palette.Gold)
    entries = [getattr(palette, name) for name in NAMES]
    counts = [sys.getrefcount(entry) for entry in entries]
    del palette
    assert [sys.getrefcount(entry) for entry in entries] == [count - 1 for count in counts]
    del entries
    assert ref() is None


def test_subclass_instance_is_freed_with_its_last_reference():
    class Palette(Colors):
        pass

    palette = Palette()
    palette.Red = Tinted(1, 2, 3, 4)
    refs = [weakref.ref(palette), weakref.ref(palette.Red)]
    del palette
    assert [ref() for ref in refs] == [None, None]


@pytest.mark.parametrize("call", [Colors, lambda: Colors(1), lambda: Colors(red=1)],
                         ids=["made", "refused", "keyword"])
def test_no_leak(call):
    def run(times):
        for _ in range(times):
            try:
                call()
            except TypeError:
                pass

    run(10)
    # A leak grows the heap in every round; anything else the process allocates meanwhile (the
    # interpreter's own caches, a thread left by an earlier test) in one round at most.
    growth = []
    tracemalloc.start()
    try:
        for _ in range(3):
            before = tracemalloc.get_traced_memory()[0]
            run(300)
            growth.append(tracemalloc.get_traced_memory()[0] - before)
    finally:
        tracemalloc.stop()
    assert min(growth) < 300 * 500, growth


# ---------------------------------------------------------------------------------------------
# Look-up by name, iteration and length


def test_names_iterate_in_palette_order_and_count_152():
    for palette in (colors, Colors()):
        assert list(palette) == NAMES
        assert len(palette) == 152


@pytest.mark.parametrize("name", ["Tomato", "Blank", "LightGoldenrodYellow", "Grey", "AliceBlue", "YellowGreen"])
def test_subscript_and_get_return_the_entry_itself(name):
    palette = Colors()
    entry = getattr(palette, name)
    assert palette[name] is entry
    for spelled in (name, name.lower(), name.upper(), name.swapcase()):
        assert palette.get(spelled) is entry
        assert palette.get(spelled, 0) is entry


def test_lookups_follow_replaced_and_cleared_entries():
    palette = Colors()
    tint = Color(1, 2, 3, 4)
    palette.Red = tint
    del palette.Blue
    assert palette["Red"] is tint and palette.get("red") is tint
    assert palette["Blue"] is None and palette.get("BLUE", 7) is None


@pytest.mark.parametrize("key", ["tomato", "TOMATO", "Tomato ", "Tomato\0", "", "Zzz", "\ud800", "Tomatö",
                                 1, None, (1, 2), b"Tomato", 1.5])
def test_subscript_takes_only_exact_names(key):
    with pytest.raises(KeyError) as info:
        colors[key]
    assert info.value.args == (key,)


@pytest.mark.parametrize("key", ["Tomato ", "Zzz", "", "\ud800", 1, None, b"tomato", "Gray\0"])
def test_get_gives_the_default_for_other_keys(key):
    sentinel = object()
    assert colors.get(key) is None
    assert colors.get(key, sentinel) is sentinel


@pytest.mark.parametrize("args, kwargs", [((), {}), (("Red", 1, 2), {}), (("Red",), {"default": 1})])
def test_get_refuses_other_arguments(args, kwargs):
    with pytest.raises(TypeError):
        colors.get(*args, **kwargs)


def test_palette_is_a_mapping_whose_views_follow_the_entries():
    import collections.abc

    palette = Colors()
    assert isinstance(palette, collections.abc.Mapping)
    for made in (dict(palette), {**palette}, dict(palette.items())):
        assert list(made) == NAMES and all(made[name] is getattr(palette, name) for name in NAMES)
    values = palette.values()
    palette.Red = None
    assert list(palette.keys()) == NAMES and None in values and len(values) == 152
    assert "Red" in palette and "red" not in palette and 1 not in palette


def test_names_differ_in_more_than_case():
    assert len({name.lower() for name in colors}) == 152


def test_subclass_looks_up_by_name():
    class Mine(Colors):
        pass

    mine = Mine()
    assert mine["Red"] is mine.Red and mine.get("red") is mine.Red and len(mine) == 152
