"""Values that would reach raylib or the module frame in a state they cannot handle: each case
here crashed, hung or corrupted memory once, so most run in a fresh interpreter with a time
limit, where a crash fails the case instead of the suite."""

import json
import os
import signal
import subprocess
import sys
import textwrap

import pytest

from conftest import MODULE_PATHS, ROOT


def run_child(code, timeout=60):
    """Runs code in a fresh interpreter; returns (returncode, stdout, stderr). A hang counts as
    a failure of the case, reported as the signal that ended it."""
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(str(path) for path in MODULE_PATHS)
    env.pop("PYTHONWARNINGS", None)
    try:
        proc = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], cwd=ROOT, env=env,
                              capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        pytest.fail(f"no answer within {timeout} s")
    return proc.returncode, proc.stdout, proc.stderr


def child_result(code, timeout=60):
    """The last line a child printed, read as JSON; the child must exit cleanly."""
    returncode, out, err = run_child(code, timeout)
    assert returncode == 0, f"exit {returncode} ({signal.Signals(-returncode).name if returncode < 0 else ''}): {err}"
    return json.loads(out.splitlines()[-1])


# ---------------------------------------------------------------------------------------------
# The module frame


def test_a_failed_import_in_another_interpreter_leaves_the_main_one_free():
    out = child_result(
        """
        import _interpreters, json
        import tavoro.vector2.vector2
        sub = _interpreters.create("legacy")
        _interpreters.exec(sub, "try:\\n import tavoro.rect.rect\\nexcept ImportError:\\n pass")
        _interpreters.destroy(sub)
        import tavoro.rect.rect as r
        print(json.dumps(repr(r.Rect(1, 2, 3, 4).center)))
        """
    )
    assert out == "Vector2(2.5, 4.0)"


FAKE_SIBLING = """
import json, sys, types, warnings
from tavoro.sound.sound import Sound
fake = types.ModuleType("tavoro.vector4.vector4")
{body}
sys.modules["tavoro.vector4.vector4"] = fake
warnings.simplefilter("ignore")
try:
    import tavoro.rect.rect
    print(json.dumps("imported"))
except Exception as e:
    print(json.dumps([type(e).__name__, str(e)]))
"""


@pytest.mark.parametrize(
    "body",
    [
        # A subclass of another package type, carrying that type's native table.
        'fake.Vector4 = type("Vector4", (Sound,), {"__pyx_vtable__": Sound.__dict__["__pyx_vtable__"]})',
        # Another package type itself, under the expected name.
        "fake.Vector4 = Sound",
    ],
    ids=["subclass-with-table", "other-native-type"],
)
def test_a_sibling_must_be_the_native_type_its_module_defines(body):
    out = child_result(FAKE_SIBLING.format(body=body))
    assert out[0] == "ImportError"
    assert out[1].startswith("tavoro.vector4.vector4.Vector4 is not the native type "
                             "tavoro.vector4.vector4 defines, got ")


# ---------------------------------------------------------------------------------------------
# Lengths


@pytest.mark.parametrize("length", [-3.0, -0.6, -1])
def test_a_negative_subclass_length_raises_the_usual_error(length):
    from tavoro.music.music import Music

    class M(Music):
        pass

    M.length = length
    with pytest.raises(ValueError, match="^__len__\\(\\) should return >= 0$"):
        len(M())
    with pytest.raises(ValueError, match="^__len__\\(\\) should return >= 0$"):
        bool(M())
