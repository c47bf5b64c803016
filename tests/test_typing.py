"""The type stubs: stubtest finds them true to the built modules, a typed use of every module
passes mypy --strict (and runs), and the palette section of the Colors stub is the one generated
from the module's own table."""

import importlib.util
import inspect
import os
import pathlib
import subprocess
import sys

import pytest

from conftest import MODULE_PATHS

ROOT = pathlib.Path(__file__).resolve().parent.parent
TESTS = ROOT / "tests"
MODULES = ["vector2", "vector3", "rect", "parser", "colors", "audio_stream", "sound", "music",
           "glyph_info", "color", "vector4", "image", "audio_device", "window", "draw", "texture", "font"]


def environment(imports_modules):
    """Stubs from src/, the built modules from wherever the suite takes them. A run that only
    type-checks loads none of them, and so none of what they may need preloaded."""
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(str(path) for path in MODULE_PATHS)
    env["MYPYPATH"] = str(ROOT / "src")
    env.pop("PYTHONWARNINGS", None)
    if not imports_modules:
        env.pop("LD_PRELOAD", None)
    return env


def run(*args, cwd=ROOT, imports_modules=False):
    return subprocess.run([sys.executable, *map(str, args)], cwd=cwd,
                          env=environment(imports_modules), capture_output=True, text=True,
                          timeout=600)


def test_stubtest_passes_on_every_module():
    proc = run("-m", "mypy.stubtest", "--allowlist", TESTS / "stubtest_allowlist.txt",
               *(f"tavoro.{m}.{m}" for m in MODULES), imports_modules=True)
    assert proc.returncode == 0, proc.stdout + proc.stderr


def test_every_module_has_a_stub():
    assert (ROOT / "src" / "tavoro" / "py.typed").is_file()
    built = {path.stem for path in (ROOT / "src" / "tavoro").glob("*/*.cpp")
             if path.stem == path.parent.name}
    assert built == set(MODULES)
    assert all((ROOT / "src" / "tavoro" / m / f"{m}.pyi").is_file() for m in MODULES)


def test_typed_usage_passes_strict_mypy():
    proc = run("-m", "mypy", "--strict", "--no-incremental", "--cache-dir", os.devnull,
               "typing_usage.py", cwd=TESTS)
    assert proc.returncode == 0, proc.stdout + proc.stderr


def test_typed_usage_runs():
    proc = run(TESTS / "typing_usage.py", imports_modules=True)
    assert proc.returncode == 0 and proc.stderr.strip().endswith("ok"), proc.stderr


@pytest.mark.parametrize(
    "code, error",
    [
        ("Vector2(pygame.math.Vector2(1, 2)).get_tuple()", None),
        ("Vector3(pygame.math.Vector3(1, 2, 3)).cross(Vector3())", None),
        ("Vector3(pygame.math.Vector2(1, 2))", "call-overload"),
    ],
)
def test_foreign_vectors_type_check(tmp_path, code, error):
    if importlib.util.find_spec("pygame") is None:
        pytest.skip("pygame-ce is not installed")
    source = tmp_path / "foreign.py"
    source.write_text("import pygame.math\n"
                      "from tavoro.vector2.vector2 import Vector2\n"
                      "from tavoro.vector3.vector3 import Vector3\n"
                      f"{code}\n")
    proc = run("-m", "mypy", "--strict", "--no-incremental", "--cache-dir", os.devnull, source,
               cwd=tmp_path)
    if error is None:
        assert proc.returncode == 0, proc.stdout
    else:
        assert proc.returncode == 1 and f"[{error}]" in proc.stdout, proc.stdout


def load_generator():
    spec = importlib.util.spec_from_file_location("gen_colors_stub",
                                                  ROOT / "scripts" / "gen_colors_stub.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_colors_stub_is_generated_from_the_palette_table():
    gen = load_generator()
    stub = gen.STUB.read_text()
    assert gen.generated_stub(stub, gen.TABLE.read_text()) == stub, (
        "colors.pyi is out of date: run scripts/gen_colors_stub.py")


def test_palette_table_reads_as_the_module_builds_it():
    from tavoro.colors.colors import Colors, colors

    gen = load_generator()
    rows = gen.palette(gen.TABLE.read_text())
    described = [name for name, value in vars(Colors).items()
                 if type(value).__name__ == "getset_descriptor"]
    assert [name for name, _ in rows] == described and len(rows) == 152
    assert [(c.r, c.g, c.b, c.a) for c in (getattr(colors, name) for name, _ in rows)] == [
        channels for _, channels in rows]




def documented_types():
    """The types whose members carry docstrings (Colors' palette entries carry none)."""
    import importlib

    for m, name in [("vector2", "Vector2"), ("vector3", "Vector3"), ("rect", "Rect"),
                    ("audio_stream", "AudioStream"), ("sound", "Sound"), ("music", "Music"),
                    ("glyph_info", "GlyphInfo"), ("color", "Color"), ("vector4", "Vector4"),
                    ("image", "Image")]:
        yield getattr(importlib.import_module(f"tavoro.{m}.{m}"), name)


def own_members():
    """Each type's public methods and properties, and the dunder methods it writes itself."""
    for cls in documented_types():
        for name, member in vars(cls).items():
            made_here = type(member).__name__ in ("method_descriptor", "getset_descriptor",
                                                  "staticmethod")
            if made_here and (not name.startswith("_") or member.__doc__ is not None
                              or name in ("__add__", "__copy__", "__deepcopy__")):
                yield pytest.param(cls, name, id=f"{cls.__name__}.{name}")


def test_types_are_documented():
    from tavoro.colors.colors import Colors

    undocumented = [t.__name__ for t in [*documented_types(), Colors] if not t.__doc__]
    assert undocumented == []


@pytest.mark.parametrize("cls, name", list(own_members()))
def test_members_are_documented(cls, name):
    member = getattr(cls, name) if isinstance(vars(cls)[name], staticmethod) else vars(cls)[name]
    assert inspect.getdoc(member), f"{cls.__name__}.{name} has no docstring"
    if callable(member):
        inspect.signature(member)  # from the text signature that starts the docstring


def test_palette_entries_carry_no_docstrings():
    from tavoro.colors.colors import Colors

    documented = [name for name, member in vars(Colors).items()
                  if type(member).__name__ == "getset_descriptor" and member.__doc__ is not None]
    assert documented == []
