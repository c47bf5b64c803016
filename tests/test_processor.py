"""Every module is compiled for AVX2 and FMA except its PyInit_ function, which checks the
processor first: on one without them the import raises ImportError naming what is missing, and
no instruction of the rest runs (an illegal instruction would kill the interpreter). The
interpreter runs on emulated processors of older or trimmed models under qemu's user-mode
emulator (Debian's qemu-user; `make test` installs it where it is missing)."""

import os
import platform
import re
import shutil
import subprocess
import sys

import pytest

from conftest import MODULE_PATHS

MODULES = ["vector2", "vector3", "vector4", "rect", "parser", "color", "colors", "image",
           "glyph_info", "audio_device", "audio_stream", "sound", "music", "window", "draw", "texture", "font"]

pytestmark = [
    pytest.mark.skipif(platform.machine() != "x86_64", reason="the modules are built for x86-64"),
    pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                       reason="sanitizer builds add initialisers of their own, and their runtime "
                              "cannot be loaded under the emulator"),
]

# Imports each module in turn and prints what happened to it.
IMPORT_EACH = f"""
import importlib
for m in {MODULES!r}:
    try:
        importlib.import_module(f"tavoro.{{m}}.{{m}}")
        print(m, "imported")
    except ImportError as error:
        print(m, "refused:", error)
"""


def emulated(model, code):
    qemu = shutil.which("qemu-x86_64")
    if qemu is None:
        pytest.skip("qemu-x86_64 is not installed (Debian: apt-get install qemu-user)")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(str(path) for path in MODULE_PATHS))
    return subprocess.run([qemu, "-cpu", model, sys.executable, "-c", code], env=env,
                          capture_output=True, text=True, timeout=600)


@pytest.mark.parametrize("model, lacking", [
    ("Nehalem", "AVX2 and FMA"),       # before AVX
    ("SandyBridge", "AVX2 and FMA"),   # AVX without AVX2 and FMA
    ("Haswell,-fma", "FMA"),
    ("Haswell,-avx2", "AVX2"),
    ("Haswell", None),
])
def test_import_on_an_emulated_processor(model, lacking):
    proc = emulated(model, IMPORT_EACH)
    assert proc.returncode == 0, f"killed by signal {-proc.returncode}\n{proc.stderr}"
    lines = proc.stdout.splitlines()
    assert [line.split()[0] for line in lines] == MODULES
    for m, line in zip(MODULES, lines):
        if lacking is None:
            assert line == f"{m} imported"
        else:
            assert line == (f"{m} refused: tavoro.{m}.{m} needs an x86-64 processor with AVX2 "
                            f"and FMA; this one lacks {lacking}")


def initialisers(path):
    """The functions in each of the shared object's lists of initialisers, by section name: the
    targets of the relocations that fill the lists, named through the symbol table."""
    def tool(*command):
        return subprocess.run(command, capture_output=True, text=True, check=True).stdout

    listing = tool("readelf", "-SW", path)
    pattern = r"\]\s+(\.init_array|\.tavoro_deferred_init)\s+\S+\s+([0-9a-f]+)\s+\S+\s+([0-9a-f]+)"
    sections = {match[1]: (int(match[2], 16), int(match[3], 16))
                for match in re.finditer(pattern, listing)}
    symbols = {int(address, 16): name for address, kind, name in
               (line.split()[:3] for line in tool("nm", path).splitlines() if line[:1] != " ")
               if kind in "tT"}
    lists = {name: [] for name in sections}
    for line in tool("readelf", "-rW", path).splitlines():
        fields = line.split()
        if len(fields) == 4 and fields[2] == "R_X86_64_RELATIVE":
            offset, target = int(fields[0], 16), int(fields[3], 16)
            for name, (start, size) in sections.items():
                if start <= offset < start + size:
                    lists[name].append(symbols.get(target, hex(target)))
    return lists


@pytest.mark.skipif(not (shutil.which("readelf") and shutil.which("nm")),
                    reason="binutils is not installed")
@pytest.mark.parametrize("m", MODULES)
def test_no_initialiser_of_the_module_runs_at_load(m):
    import importlib.util

    lists = initialisers(importlib.util.find_spec(f"tavoro.{m}.{m}").origin)
    # What runs when the object is loaded: the start files' entry alone, compiled for any x86-64
    # (the check asks the processor itself, so the toolchain's processor probe is not linked in).
    assert set(lists[".init_array"]) <= {"frame_dummy"}
    # The initialisers of the frame and of the module's own source wait for the check.
    deferred = lists[".tavoro_deferred_init"]
    assert "_GLOBAL__sub_I_frame.cpp" in deferred and len(deferred) >= 2
    assert all(name.startswith("_GLOBAL__sub_I_") for name in deferred)
