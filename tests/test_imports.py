"""Imports as users write them: the package's names and each subpackage's type load on first use,
are the very objects of the modules that define them, and load nothing they do not need; the
stubs say the same."""

import ast
import json
import os
import pathlib
import subprocess
import sys

import pytest

from conftest import MODULE_PATHS

ROOT = pathlib.Path(__file__).resolve().parent.parent
PACKAGE = ROOT / "src" / "tavoro"

# Each top-level name and the module that defines it; `colors` is the subpackage itself, which
# reads as its module's palette.
NAMES = {
    "Vector2": "tavoro.vector2.vector2",
    "Vector3": "tavoro.vector3.vector3",
    "Vector4": "tavoro.vector4.vector4",
    "Rect": "tavoro.rect.rect",
    "Color": "tavoro.color.color",
    "Colors": "tavoro.colors.colors",
    "colors": "tavoro.colors",
    "AudioStream": "tavoro.audio_stream.audio_stream",
    "Sound": "tavoro.sound.sound",
    "Music": "tavoro.music.music",
    "GlyphInfo": "tavoro.glyph_info.glyph_info",
}
DRAWING = ["Image", "Window", "Key", "MouseButton", "Camera2D", "draw", "Texture", "Font"]
SUBPACKAGE_TYPES = {
    "vector2": ["Vector2"], "vector3": ["Vector3"], "vector4": ["Vector4"], "rect": ["Rect"],
    "color": ["Color"], "colors": ["Colors"], "image": ["Image"],
    "glyph_info": ["GlyphInfo"], "audio_stream": ["AudioStream"], "sound": ["Sound"],
    "music": ["Music"], "window": ["Key", "MouseButton", "Window"], "texture": ["Texture"],
    "font": ["Font"],
}
AUDIO = {"tavoro.audio_device.audio_device", "tavoro.audio_stream.audio_stream",
         "tavoro.sound.sound", "tavoro.music.music"}

# Prints, after the statement given, the package's native modules that are loaded and whether
# raylib is mapped into the process.
REPORT = """
import json, sys
{statement}
loaded = sorted(name for name, module in sys.modules.items()
                if name.startswith("tavoro.") and str(getattr(module, "__file__", "")).endswith(".so"))
with open("/proc/self/maps") as maps:
    raylib = "libraylib" in maps.read()
print(json.dumps({{"loaded": loaded, "raylib": raylib}}))
"""


@pytest.mark.parametrize("statement, expected", [
    ("from tavoro import Vector2", {"tavoro.vector2.vector2"}),
    ("from tavoro.vector2 import Vector2", {"tavoro.vector2.vector2"}),
    ("import tavoro.vector3", set()),
    ("from tavoro import Rect", {"tavoro.rect.rect", "tavoro.vector2.vector2",
                                 "tavoro.vector4.vector4"}),
    ("from tavoro import colors", {"tavoro.colors.colors", "tavoro.color.color",
                                   "tavoro.vector4.vector4"}),
    ("import tavoro; dir(tavoro)", set()),
])
def test_names_load_only_what_they_need(run_python, statement, expected):
    report = json.loads(run_python(REPORT.format(statement=statement)).stdout)
    assert set(report["loaded"]) == expected
    assert not report["raylib"]


def test_an_audio_name_loads_raylib(run_python):
    report = json.loads(run_python(REPORT.format(statement="from tavoro import Sound")).stdout)
    assert {"tavoro.sound.sound", "tavoro.audio_stream.audio_stream"} <= set(report["loaded"])
    assert report["raylib"]


@pytest.mark.parametrize("name", NAMES)
def test_top_level_names_are_the_modules_own(name):
    import importlib

    import tavoro

    namespace = {}
    exec(f"from tavoro import {name}", namespace)
    module = importlib.import_module(NAMES[name])
    assert namespace[name] is (module if name == "colors" else getattr(module, name))
    assert getattr(tavoro, name) is namespace[name]


@pytest.mark.parametrize("subpackage, names", SUBPACKAGE_TYPES.items())
def test_subpackages_re_export_their_types(subpackage, names):
    import importlib

    package = importlib.import_module(f"tavoro.{subpackage}")
    module = importlib.import_module(f"tavoro.{subpackage}.{subpackage}")
    assert package.__all__ == names
    for name in names:
        assert getattr(package, name) is getattr(module, name)
        assert name in dir(package)


def test_audio_device_is_the_subpackage():
    import tavoro
    import tavoro.audio_device

    assert tavoro.audio_device is sys.modules["tavoro.audio_device"]
    assert tavoro.audio_device.ready() in (True, False)


@pytest.mark.parametrize("first", [
    "",
    "import tavoro.colors.colors",
    "import tavoro.colors.colors as m",
    "from tavoro import colors",
    "from tavoro import Colors",
    "from tavoro.colors import Colors",
])
def test_the_module_path_and_the_palette_both_hold_whatever_loaded_first(run_python, first):
    proc = run_python(f"""
        {first}
        import sys
        import tavoro
        import tavoro.colors.colors as m
        from tavoro import colors, Colors
        print(type(colors).__name__, m is sys.modules["tavoro.colors.colors"], m.Colors is Colors,
              colors is tavoro.colors is sys.modules["tavoro.colors"],
              colors.Tomato is m.colors.Tomato is colors["Tomato"] is colors.get("tomato"),
              len(colors), list(colors) == list(m.colors), isinstance(colors, Colors))
    """)
    assert proc.stdout.split() == ["Palette", "True", "True", "True", "True", "152", "True", "False"]


def test_the_package_reads_and_writes_as_the_palette():
    import collections.abc

    import tavoro
    import tavoro.colors.colors as m
    from tavoro.color.color import Color

    colors, palette, tint = tavoro.colors, m.colors, Color(1, 2, 3, 4)
    red = palette.Red
    try:
        colors.Red = tint  # through the package, then through the palette itself
        assert palette.Red is tint is colors.Red
        palette.Red = red
        assert colors.Red is red
        del colors.Red
        assert palette.Red is None is colors.Red
        with pytest.raises(TypeError, match="^Cannot convert tuple to tavoro.color.color.Color$"):
            colors.Red = (1, 2, 3, 4)
        palette.__init__()
        assert colors.Red is palette.Red and colors.Red == red
    finally:
        palette.Red = red
    assert isinstance(colors, collections.abc.Mapping) and dict(colors) == dict(palette)
    assert "Tomato" in dir(colors) and colors.colors is m


@pytest.mark.parametrize("package", ["tavoro", "tavoro.vector2"])
def test_unknown_names_raise_attribute_error(package):
    import importlib

    module = importlib.import_module(package)
    with pytest.raises(AttributeError, match=f"module '{package}' has no attribute 'Vector9'"):
        module.Vector9
    with pytest.raises(ImportError):
        exec(f"from {package} import Vector9", {})


@pytest.mark.parametrize("package, failure", [("lazy_a", "raise AttributeError('no table')"),
                                              ("lazy_b", "pass")])
def test_a_lazy_name_whose_module_fails_keeps_the_cause(tmp_path, monkeypatch, package, failure):
    # An AttributeError while the module initialises (a sibling without its table), or no name.
    (tmp_path / package).mkdir()
    (tmp_path / package / "__init__.py").write_text(
        "from tavoro._lazy import exports\n"
        "__getattr__, __dir__ = exports(globals(), {'Thing': ('.broken', 'Thing')})\n")
    (tmp_path / package / "broken.py").write_text(failure + "\n")
    monkeypatch.syspath_prepend(str(tmp_path))
    try:
        with pytest.raises(ImportError, match=f"^cannot import name 'Thing' from '{package}': ") as info:
            exec(f"from {package} import Thing", {})
        assert isinstance(info.value.__cause__, AttributeError)
    finally:
        for name in (package, f"{package}.broken"):
            sys.modules.pop(name, None)


def stub_all(package):
    """The __all__ that type checkers read: the package's stub, or its source where it has none."""
    path = PACKAGE / package / "__init__.pyi"
    if not path.exists():
        path = path.with_suffix(".py")
    for node in ast.parse(path.read_text()).body:
        if isinstance(node, ast.Assign) and node.targets[0].id == "__all__":
            return ast.literal_eval(node.value)
    return None


@pytest.mark.parametrize("package", ["", *SUBPACKAGE_TYPES])
def test_all_dir_and_stubs_agree(package):
    import importlib

    module = importlib.import_module(f"tavoro.{package}".rstrip("."))
    assert stub_all(package) == module.__all__
    assert set(module.__all__) <= set(dir(module))
    if not package:
        assert module.__all__ == [*NAMES, "audio_device", *DRAWING]


def test_the_stubs_type_the_new_imports(tmp_path):
    source = tmp_path / "use.py"
    source.write_text(
        "from typing import assert_type\n"
        "import tavoro\n"
        "from tavoro import Color, Colors, Rect, Vector2, audio_device, colors\n"
        "from tavoro.glyph_info import GlyphInfo\n"
        "import tavoro.colors.colors as m\n"
        "from tavoro.colors import Palette\n"
        "assert_type(colors, Palette)\n"
        "assert_type(colors['Tomato'], Color)\n"
        "assert_type(tavoro.colors.CornflowerBlue, Color)\n"
        "assert_type(m.colors, Colors)\n"
        "assert_type(Rect(1, 2, 3, 4).center, Vector2)\n"
        "assert_type(tavoro.Sound.load('x.wav').valid, bool)\n"
        "assert_type(audio_device.ready(), bool)\n"
        "assert_type(GlyphInfo, type[tavoro.GlyphInfo])\n"
        "tavoro.Vector9  # type: ignore[attr-defined]\n")
    env = dict(os.environ, MYPYPATH=str(ROOT / "src"))
    proc = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental",
                           "--cache-dir", os.devnull, source], cwd=tmp_path, env=env,
                          capture_output=True, text=True, timeout=600)
    assert proc.returncode == 0, proc.stdout + proc.stderr


@pytest.mark.skipif(bool(os.environ.get("TAVORO_MODULE_TREE")),
                    reason="a separately built tree holds the modules only, not the whole package")
def test_stubtest_passes_on_the_packages():
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(str(path) for path in MODULE_PATHS))
    proc = subprocess.run([sys.executable, "-m", "mypy.stubtest", "--ignore-unused-allowlist",
                           "--allowlist", ROOT / "tests" / "stubtest_allowlist.txt",
                           "--allowlist", ROOT / "tests" / "stubtest_package_allowlist.txt", "tavoro"],
                          cwd=ROOT, env=env, capture_output=True, text=True, timeout=600)
    assert proc.returncode == 0, proc.stdout + proc.stderr
