"""What must hold the same way on every interpreter version the package builds for (3.13, 3.14,
3.15): the modules' declaration that they need the interpreter lock, and the numeric hash, which
the package computes itself rather than through the interpreter's private function."""

import ctypes
import importlib
import math
import sys
import sysconfig

import pytest

from tavoro.vector2.vector2 import Vector2
from tavoro.vector3.vector3 import Vector3

MODULES = ["vector2", "vector3", "vector4", "rect", "parser", "colors", "color", "audio_stream",
           "sound", "music", "glyph_info", "image", "audio_device", "window", "draw", "texture", "font"]

# The module slot's number: 3.15 renumbered the slots (the old numbers stay valid for the limited
# API), and the headers the package builds with give the new one there.
PY_MOD_GIL = 87 if sys.version_info >= (3, 15) else 4


class ModuleSlot(ctypes.Structure):
    _fields_ = [("slot", ctypes.c_int), ("value", ctypes.c_void_p)]


def module_slots(module):
    """The (slot, value) pairs of the module's definition, up to the terminating zero slot."""
    get_def = ctypes.pythonapi.PyModule_GetDef
    get_def.restype = ctypes.c_void_p
    get_def.argtypes = [ctypes.py_object]
    definition = get_def(module)
    # PyModuleDef: the base (object header, m_init, m_index, m_copy), then m_name, m_doc,
    # m_size, m_methods, m_slots.
    pointer = ctypes.sizeof(ctypes.c_void_p)
    slots = ctypes.c_void_p.from_address(definition + 9 * pointer).value
    found = []
    while (entry := ModuleSlot.from_address(slots + len(found) * ctypes.sizeof(ModuleSlot))).slot:
        found.append((entry.slot, entry.value))
    return found


@pytest.mark.parametrize("name", MODULES)
def test_every_module_declares_that_it_needs_the_interpreter_lock(name):
    module = importlib.import_module(f"tavoro.{name}.{name}")
    assert (PY_MOD_GIL, None) in module_slots(module)


@pytest.mark.skipif(not sysconfig.get_config_var("Py_GIL_DISABLED"),
                    reason="the interpreter is not a free-threaded build")
def test_a_free_threaded_interpreter_turns_the_lock_on_for_the_modules(run_python):
    proc = run_python(
        """
        import sys
        import tavoro.vector2.vector2
        print(sys._is_gil_enabled())
        """
    )
    assert proc.stdout.split() == ["True"]


@pytest.mark.parametrize("cls, rest", [(Vector2, (1.5,)), (Vector3, (1.5, -2.0))])
@pytest.mark.parametrize("special", [math.nan, math.inf, -math.inf])
def test_hash_of_a_non_finite_component_is_the_interpreters(cls, rest, special):
    v = cls(special, *rest)
    if math.isnan(special):
        # A NaN hashes by the identity of the object that holds it: here, the vector.
        class StandIn:
            def __hash__(self):
                return object.__hash__(v)

        expected = hash((StandIn(), *rest))
    else:
        expected = hash((special, *rest))
    assert hash(v) == expected
