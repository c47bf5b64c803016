"""Set-up: on a machine without a suitable CPython, `make demo` stops with the one message of
scripts/find-python.sh, which says where to get one, and no shell error follows it; with one, the
environment it makes imports the package from any folder, as the build leaves it in place."""

import os
import pathlib
import shutil
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
SYSTEM_PATH = "/usr/bin:/bin"


@pytest.mark.skipif(shutil.which("python3.13", path=SYSTEM_PATH) is not None,
                    reason="this machine's own python3.13 would be found")
@pytest.mark.parametrize("target", ["demo", "test"])
def test_set_up_without_python_says_where_to_get_one(tmp_path, target):
    for name in ("Makefile", "requirements.txt", "scripts"):
        source = ROOT / name
        (shutil.copytree if source.is_dir() else shutil.copy)(source, tmp_path / name)
    env = {"HOME": str(tmp_path), "PATH": SYSTEM_PATH, "LANG": "C.UTF-8"}
    proc = subprocess.run(["make", target], cwd=tmp_path, env=env, capture_output=True, text=True,
                          timeout=120)
    assert proc.returncode != 0
    *message, last = proc.stderr.splitlines()
    assert message[0].startswith("find-python: no CPython 3.13 with its development headers")
    assert "pyenv install 3.13" in proc.stderr and "python3.13-dev" in proc.stderr
    # After the message, only make's own line naming the target that stopped.
    assert last.startswith("make: *** [Makefile") and last.endswith("Error 1")
    assert "not found" not in proc.stderr
    assert not (tmp_path / ".venv").exists()


def test_the_environment_imports_the_in_place_build_from_any_folder(tmp_path):
    import sys

    if sys.prefix == sys.base_prefix:
        pytest.skip("the suite does not run in the project's virtual environment")
    env = {key: value for key, value in os.environ.items() if key != "PYTHONPATH"}
    proc = subprocess.run([sys.executable, "-c", "import tavoro.vector2.vector2 as m; "
                           "from tavoro import Vector2; print(m.__file__)"],
                          cwd=tmp_path, env=env, capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stderr
    # The environment's path file names the interpreter's module tree: src/ on 3.13, the build
    # tree of its own on another version.
    import sysconfig

    tree = pathlib.Path(pathlib.Path(sysconfig.get_path("purelib"), "tavoro.pth").read_text().strip())
    assert tree == ROOT / "src" or tree.is_relative_to(ROOT / "build")
    assert pathlib.Path(proc.stdout.strip()).parent == tree / "tavoro" / "vector2"
