"""The module frame: initialisation, module state, sibling binding and exported symbols.

Module state is process-global, so most cases run in a fresh interpreter."""

import builtins
import contextlib
import json
import pathlib
import shutil
import subprocess
import traceback
import types

import pytest

import tavoro.vector2.vector2 as vector2_module

ROOT = pathlib.Path(__file__).resolve().parent.parent


# ---------------------------------------------------------------------------------------------
# Module attributes


def test_module_attributes():
    m = vector2_module
    assert m.__test__ == {}
    assert type(m.__test__) is dict
    assert m.__builtins__ is builtins
    assert m.__name__ == "tavoro.vector2.vector2"
    assert m.__doc__ is None
    assert m.__file__ == m.__spec__.origin
    assert pathlib.Path(m.__file__).name.startswith("vector2.")
    assert m.__loader__ is m.__spec__.loader
    assert m.__package__ == "tavoro.vector2"
    assert not hasattr(m, "__path__")
    assert isinstance(m.Vector2, type)
    assert m.Vector2.__module__ == m.__name__
    functions = [n for n, o in vars(m).items() if isinstance(o, types.BuiltinFunctionType)]
    assert functions == []


def test_create_copies_loader_origin_parent_and_path(run_python):
    # The create and execute steps driven directly, with a module description of our own.
    proc = run_python(
        """
        import _imp, json, sys, types
        import importlib.util
        real = importlib.util.find_spec("tavoro.vector2.vector2")
        loader = object()
        desc = types.SimpleNamespace(name=real.name, origin=real.origin, loader=loader,
                                     parent="given.parent", submodule_search_locations=["p"])
        m = _imp.create_dynamic(desc)
        assert "tavoro.vector2.vector2" not in sys.modules
        result = {
            "loader": m.__loader__ is loader,
            "file": m.__file__ == real.origin,
            "package": m.__package__,
            "path": m.__dict__.get("__path__"),
            "vector2_before_exec": hasattr(m, "Vector2"),
        }
        result["exec"] = _imp.exec_dynamic(m)
        result["registered"] = sys.modules.get("tavoro.vector2.vector2") is m
        result["test"] = m.__test__
        result["vector"] = repr(m.Vector2(1, 2))
        print(json.dumps(result))
        """
    )
    assert json.loads(proc.stdout) == {
        "loader": True,
        "file": True,
        "package": "given.parent",
        "path": ["p"],
        "vector2_before_exec": False,
        "exec": 0,
        "registered": True,
        "test": {},
        "vector": "Vector2(1.0, 2.0)",
    }


@pytest.mark.parametrize(
    "fields, expected",
    [
        ({"loader": None, "parent": None, "submodule_search_locations": None},
         {"loader": None, "package": None, "has_path": False}),
        ({}, {"loader": None, "package": None, "has_path": False}),
    ],
)
def test_create_skips_none_path_and_missing_attributes(run_python, fields, expected):
    proc = run_python(
        f"""
        import _imp, json, types
        import importlib.util
        real = importlib.util.find_spec("tavoro.vector2.vector2")
        desc = types.SimpleNamespace(name=real.name, origin=real.origin, **{fields!r})
        m = _imp.create_dynamic(desc)
        print(json.dumps({{"loader": m.__loader__, "package": m.__package__,
                          "has_path": "__path__" in m.__dict__}}))
        """
    )
    assert json.loads(proc.stdout) == expected


def test_create_fails_on_a_failing_attribute(run_python):
    proc = run_python(
        """
        import _imp, json
        import importlib.util
        real = importlib.util.find_spec("tavoro.vector2.vector2")
        class Description:
            name = real.name
            origin = real.origin
            @property
            def parent(self):
                raise LookupError("no parent here")
        try:
            _imp.create_dynamic(Description())
            result = None
        except Exception as e:
            result = [type(e).__name__, str(e)]
        print(json.dumps(result))
        """
    )
    assert json.loads(proc.stdout) == ["LookupError", "no parent here"]


def test_import_again_returns_the_same_module(run_python):
    proc = run_python(
        """
        import json, sys
        import tavoro.vector2.vector2 as first
        first.__test__["marker"] = 1
        vector_type = first.Vector2
        del sys.modules["tavoro.vector2.vector2"]
        import tavoro.vector2.vector2 as second
        import importlib
        third = importlib.import_module("tavoro.vector2.vector2")
        print(json.dumps({
            "same": second is first and third is first,
            "type": second.Vector2 is vector_type,
            "test": second.__test__,
        }))
        """
    )
    assert json.loads(proc.stdout) == {"same": True, "type": True, "test": {"marker": 1}}


def test_execute_again_is_a_no_op(run_python):
    proc = run_python(
        """
        import _imp, json
        import tavoro.vector2.vector2 as m
        test = m.__test__
        test["marker"] = 1
        vector_type = m.Vector2
        from_xy = vector_type.__dict__["from_xy"]
        results = [_imp.exec_dynamic(m), _imp.exec_dynamic(m)]
        print(json.dumps({
            "results": results,
            "test": m.__test__ is test and m.__test__ == {"marker": 1},
            "type": m.Vector2 is vector_type,
            "static": vector_type.__dict__["from_xy"] is from_xy,
            "works": repr(m.Vector2.from_xy(1, 2)),
        }))
        """
    )
    assert json.loads(proc.stdout) == {
        "results": [0, 0],
        "test": True,
        "type": True,
        "static": True,
        "works": "Vector2(1.0, 2.0)",
    }


def test_execute_on_another_module_object_fails(run_python):
    proc = run_python(
        """
        import ctypes, json, types
        import tavoro.vector2.vector2 as m
        get_def = ctypes.pythonapi.PyModule_GetDef
        get_def.restype = ctypes.c_void_p
        get_def.argtypes = [ctypes.py_object]
        exec_def = ctypes.pythonapi.PyModule_ExecDef
        exec_def.restype = ctypes.c_int
        exec_def.argtypes = [ctypes.py_object, ctypes.c_void_p]
        other = types.ModuleType("tavoro.vector2.vector2")
        try:
            exec_def(other, get_def(m))
            result = None
        except Exception as e:
            result = [type(e).__name__, str(e)]
        print(json.dumps({"result": result, "untouched": sorted(vars(other)),
                          "still": repr(m.Vector2(1, 2))}))
        """
    )
    out = json.loads(proc.stdout)
    assert out["result"] == [
        "RuntimeError",
        "Module 'vector2' has already been imported. Re-initialisation is not supported.",
    ]
    assert "Vector2" not in out["untouched"] and "__test__" not in out["untouched"]
    assert out["still"] == "Vector2(1.0, 2.0)"


def test_second_interpreter_is_refused(run_python, tmp_path):
    report = tmp_path / "subinterpreter.txt"
    # The second interpreter writes what its import raised to a file.
    code = (
        "try:\n"
        "    import tavoro.vector2.vector2\n"
        "    result = 'imported'\n"
        "except BaseException as e:\n"
        "    result = type(e).__name__ + ': ' + str(e)\n"
        f"with open({str(report)!r}, 'w') as f:\n"
        "    f.write(result)\n"
    )
    proc = run_python(
        f"""
        import _testcapi, json
        import tavoro.vector2.vector2 as m
        status = _testcapi.run_in_subinterp({code!r})
        import tavoro.vector2.vector2 as again
        print(json.dumps({{"status": status, "same": again is m,
                          "works": repr(m.Vector2(1, 2))}}))
        """
    )
    assert json.loads(proc.stdout) == {"status": 0, "same": True, "works": "Vector2(1.0, 2.0)"}
    assert report.read_text() == (
        "ImportError: Interpreter change detected - this module can only be loaded into one "
        "interpreter per process."
    )


def test_missing_builtin_fails_and_import_can_be_retried(run_python):
    proc = run_python(
        """
        import builtins, json, sys, traceback
        saved = builtins.staticmethod
        del builtins.staticmethod
        try:
            import tavoro.vector2.vector2
            failure = None
        except Exception as e:
            failure = [type(e).__name__, str(e),
                       [f.name for f in traceback.extract_tb(e.__traceback__)]]
        finally:
            builtins.staticmethod = saved
        registered = "tavoro.vector2.vector2" in sys.modules
        import tavoro.vector2.vector2 as m
        print(json.dumps({
            "failure": failure,
            "registered": registered,
            "test": m.__test__,
            "static": isinstance(m.Vector2.__dict__["from_xy"], staticmethod),
            "vector": repr(m.Vector2.from_xy(1, 2)),
        }))
        """
    )
    out = json.loads(proc.stdout)
    name, message, entries = out.pop("failure")
    assert (name, message) == ("NameError", "name 'staticmethod' is not defined")
    assert "init tavoro.vector2.vector2" in entries
    assert out == {
        "registered": False,
        "test": {},
        "static": True,
        "vector": "Vector2(1.0, 2.0)",
    }


# ---------------------------------------------------------------------------------------------
# Sibling binding, through the test module frame_probe and a stand-in probe_sibling

PROBE_PRELUDE = """
import ctypes, json, sys, traceback, types, warnings
new_capsule = ctypes.pythonapi.PyCapsule_New
new_capsule.restype = ctypes.py_object
new_capsule.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
table = ctypes.create_string_buffer(64)
capsule = new_capsule(ctypes.addressof(table), None, None)
sibling_module = types.ModuleType("probe_sibling")
sys.modules["probe_sibling"] = sibling_module

def sibling(slots, vtable=True, base=object):
    namespace = {"__slots__": tuple("abcdefgh"[:slots])}
    if vtable:
        namespace["__pyx_vtable__"] = capsule
    return type("Sibling", (base,), namespace)

def attempt():
    try:
        import frame_probe
    except BaseException as e:
        return {"error": [type(e).__name__, str(e)],
                "entries": [f.name for f in traceback.extract_tb(e.__traceback__)],
                "files": [f.filename for f in traceback.extract_tb(e.__traceback__)],
                "registered": "frame_probe" in sys.modules}
    return {"table": frame_probe.Probe().sibling_table() == ctypes.addressof(table),
            "test": frame_probe.__test__}
"""

SIZE_MESSAGE = (
    "probe_sibling.Sibling size changed, may indicate binary incompatibility. "
    "Expected 32 from C header, got {} from PyObject"
)
IMPORTED = {"table": True, "test": {}}


def run_probe(run_python, body):
    proc = run_python(PROBE_PRELUDE + body)
    return json.loads(proc.stdout)


def test_sibling_of_expected_size_binds_silently(run_python):
    out = run_probe(
        run_python,
        """
sibling_module.Sibling = sibling(2)
with warnings.catch_warnings():
    warnings.simplefilter("error")
    result = attempt()
print(json.dumps(result))
""",
    )
    assert out == IMPORTED


@pytest.mark.parametrize("slots, size", [(1, 24), (0, 16)])
def test_smaller_sibling_fails_and_import_can_be_retried(run_python, slots, size):
    out = run_probe(
        run_python,
        f"""
sibling_module.Sibling = sibling({slots})
first = attempt()
sibling_module.Sibling = sibling(2)
second = attempt()
print(json.dumps([first, second]))
""",
    )
    first, second = out
    assert first["error"] == ["ValueError", SIZE_MESSAGE.format(size)]
    assert "init frame_probe" in first["entries"]
    entry = first["entries"].index("init frame_probe")
    assert first["files"][entry].endswith("tests/native/frame_probe.cpp")
    assert first["registered"] is False
    assert second == IMPORTED


def test_larger_sibling_warns(run_python):
    out = run_probe(
        run_python,
        """
sibling_module.Sibling = sibling(3)
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always")
    result = attempt()
result["warnings"] = [[w.category.__name__, str(w.message)] for w in caught]
print(json.dumps(result))
""",
    )
    assert out.pop("warnings") == [["RuntimeWarning", SIZE_MESSAGE.format(40)]]
    assert out == IMPORTED


def test_larger_sibling_fails_when_warnings_are_errors(run_python):
    out = run_probe(
        run_python,
        """
sibling_module.Sibling = sibling(3)
with warnings.catch_warnings():
    warnings.simplefilter("error")
    first = attempt()
with warnings.catch_warnings():
    warnings.simplefilter("ignore")
    second = attempt()
print(json.dumps([first, second]))
""",
    )
    first, second = out
    assert first["error"] == ["RuntimeWarning", SIZE_MESSAGE.format(40)]
    assert "init frame_probe" in first["entries"]
    assert second == IMPORTED


@pytest.mark.parametrize(
    "base, error",
    [
        # int: basic size 24 and item size 4, which counts as 8: 32 in all, no larger basic size.
        ("int", None),
        # tuple: 24 + 8.
        ("tuple", None),
        # bytes: basic size 33 is larger than expected, so it warns with the basic size.
        ("bytes", ["RuntimeWarning", SIZE_MESSAGE.format(33)]),
    ],
)
def test_item_size_counts_towards_the_size(run_python, base, error):
    out = run_probe(
        run_python,
        f"""
sibling_module.Sibling = sibling(0, base={base})
with warnings.catch_warnings():
    warnings.simplefilter("error")
    result = attempt()
print(json.dumps(result))
""",
    )
    if error is None:
        assert out == IMPORTED
    else:
        assert out["error"] == error


@pytest.mark.parametrize(
    "setup, error",
    [
        ("sibling_module.Sibling = sibling(2, vtable=False)", ["KeyError", "'__pyx_vtable__'"]),
        ("sibling_module.Sibling = 5", ["TypeError", "probe_sibling.Sibling is not a type object"]),
        ("sibling_module.Sibling = sibling(2)()",
         ["TypeError", "probe_sibling.Sibling is not a type object"]),
        ("pass", ["AttributeError", "module 'probe_sibling' has no attribute 'Sibling'"]),
        ("sys.modules['probe_sibling'] = None", None),
    ],
)
def test_sibling_binding_failures_and_retry(run_python, setup, error):
    out = run_probe(
        run_python,
        f"""
{setup}
first = attempt()
sys.modules["probe_sibling"] = sibling_module
sibling_module.Sibling = sibling(2)
second = attempt()
print(json.dumps([first, second]))
""",
    )
    first, second = out
    if error is None:
        assert first["error"][0] in ("ImportError", "ModuleNotFoundError")
    else:
        assert first["error"] == error
    assert "init frame_probe" in first["entries"]
    assert first["registered"] is False
    assert second == IMPORTED


def test_vtable_from_an_inherited_dictionary_is_not_used(run_python):
    # The table is looked up in the type's own dictionary only.
    out = run_probe(
        run_python,
        """
base = sibling(2)
sibling_module.Sibling = type("Sibling", (base,), {"__slots__": ()})
print(json.dumps(attempt()))
""",
    )
    assert out["error"] == ["KeyError", "'__pyx_vtable__'"]


def test_probe_argument_conversion(run_python):
    out = run_probe(
        run_python,
        """
sibling_module.Sibling = sibling(2)
assert attempt() == {"table": True, "test": {}}
import frame_probe
describe = frame_probe.Probe.describe
results = [list(describe(1, 2.9, None)), list(describe(anything="a", integer=-3, number=0.5))]
for args, kwargs in [((1, 2), {}), (("a", 1, 2), {}), ((1, 2**31, 2), {}), ((1, 1), {"number": 2}),
                     ((1.0, "x", 3), {}), ((), {"number": 1, "integer": 2})]:
    try:
        describe(*args, **kwargs)
        results.append(None)
    except Exception as e:
        results.append([type(e).__name__, str(e)])
print(json.dumps(results))
""",
    )
    assert out == [
        [1.0, 2, None],
        [0.5, -3, "a"],
        ["TypeError", "describe() takes exactly 3 positional arguments (2 given)"],
        ["TypeError", "must be real number, not str"],
        ["OverflowError", "value too large to convert to int"],
        ["TypeError", "describe() got multiple values for keyword argument 'number'"],
        ["TypeError", "an integer is required"],
        ["TypeError", "describe() takes exactly 3 positional arguments (2 given)"],
    ]


# ---------------------------------------------------------------------------------------------
# Built objects


def built_modules():
    # Extension modules only: the test-only interposer libraries export what they interpose.
    return sorted(ROOT.glob("src/tavoro/**/*.cpython-*.so")) + sorted(
        ROOT.glob("tests/native/*.cpython-*.so")
    )


@pytest.mark.skipif(shutil.which("nm") is None, reason="nm is not installed")
@pytest.mark.parametrize("path", built_modules(), ids=lambda p: p.name)
def test_only_the_init_function_is_exported(path):
    proc = subprocess.run(
        ["nm", "-D", "--defined-only", str(path)], capture_output=True, text=True, check=True
    )
    symbols = [line.split()[-1] for line in proc.stdout.splitlines() if line.strip()]
    module = path.name.split(".")[0]
    assert symbols == [f"PyInit_{module}"]


def test_failing_method_traceback_entry():
    with pytest.raises(TypeError) as info:
        vector2_module.Vector2(1, 2).dot(1)
    entries = traceback.extract_tb(info.value.__traceback__)
    names = [(e.name, e.filename.replace("\\", "/")) for e in entries]
    assert any(
        name == "tavoro.vector2.vector2.Vector2.dot"
        and filename.endswith("src/tavoro/vector2/vector2.cpp")
        for name, filename in names
    ), names


@pytest.mark.skipif(shutil.which("objdump") is None, reason="objdump is not installed")
@pytest.mark.parametrize("path", built_modules(), ids=lambda p: p.name)
def test_no_256_bit_vector_code(path):
    # Code that leaves the upper halves of the vector registers dirty makes every later SSE
    # instruction of the interpreter pay a transition penalty; the modules keep to 128 bits.
    proc = subprocess.run(["objdump", "-d", str(path)], capture_output=True, text=True, check=True)
    assert "%ymm" not in proc.stdout


# ---------------------------------------------------------------------------------------------
# Assignment to properties, which goes straight to the setter for the types' own instances

from tavoro.color.color import Color  # noqa: E402
from tavoro.rect.rect import Rect  # noqa: E402
from tavoro.vector3.vector3 import Vector3  # noqa: E402
from tavoro.vector4.vector4 import Vector4  # noqa: E402

ASSIGNABLE = [
    (lambda: vector2_module.Vector2(1, 2), "y", 7, 7.0),
    (lambda: Vector3(1, 2, 3), "z", 0.1, 0.10000000149011612),
    (lambda: Vector4(1, 2, 3, 4), "w", 2, 2.0),
    (lambda: Rect(1, 2, 3, 4), "right", 10, 10.0),
    (lambda: Rect(1, 2, 3, 4), "center", vector2_module.Vector2(5, 6), vector2_module.Vector2(5, 6)),
    (lambda: Color(1, 2, 3, 4), "a", 200, 200),
]


@pytest.mark.parametrize("make, name, value, expected", ASSIGNABLE)
def test_assignment_by_any_spelling_of_the_name(make, name, value, expected):
    # A name built at run time is not the interned one: the generic path must agree.
    for spelling in (name, "".join(list(name))):
        obj = make()
        setattr(obj, spelling, value)
        assert getattr(obj, name) == expected


@pytest.mark.parametrize("make", [lambda: vector2_module.Vector2(1, 2), lambda: Vector3(1, 2, 3),
                                  lambda: Vector4(1, 2, 3, 4), lambda: Rect(1, 2, 3, 4), lambda: Color(1, 2, 3, 4)])
def test_every_property_assigns_as_its_descriptor_does(make):
    # Each settable property, wherever it lies in the type's table, reaches its own setter.
    source = make()
    setattr(source, "r" if hasattr(source, "r") else "x", 7)
    for name, descriptor in vars(type(source)).items():
        if type(descriptor).__name__ == "getset_descriptor":
            direct, generic, value = make(), make(), getattr(source, name)
            with contextlib.suppress(AttributeError):  # read-only
                descriptor.__set__(generic, value)
                setattr(direct, name, value)
            assert repr(direct) == repr(generic), name


@pytest.mark.parametrize("make, name, value, expected", ASSIGNABLE)
def test_assignment_errors_are_the_generic_ones(make, name, value, expected):
    obj = make()
    before = repr(obj)
    with pytest.raises(NotImplementedError, match="__del__"):
        delattr(obj, name)
    with pytest.raises(TypeError):
        setattr(obj, name, "text")
    with pytest.raises(AttributeError, match="has no attribute 'nonexistent'"):
        obj.nonexistent = 1
    assert repr(obj) == before


@pytest.mark.parametrize("base", [Rect, Color, Vector4])
def test_subclass_property_overrides_the_setter(base):
    class Sub(base):
        __slots__ = ()
        seen = []

        @property
        def x(self):
            return "own"

        @x.setter
        def x(self, value):
            self.seen.append(value)

    obj = Sub(*[1] * 4)
    obj.x = 3
    assert Sub.seen == [3] and obj.x == "own"
