"""The raylib cache that scripts/build-raylib.sh keeps: an install is used only while it is whole
and of the current recipe; an interrupted build, a file missing, cut short or added, a marker of
another recipe or of no fingerprint all make the script build it again. `--check` asks without
building, here on a copy of the cache damaged in each of those ways."""

import os
import pathlib
import shutil
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
SCRIPT = ROOT / "scripts" / "build-raylib.sh"


def run_script(*args, cache):
    env = dict(os.environ, TAVORO_CACHE=str(cache))
    return subprocess.run([SCRIPT, *args], env=env, capture_output=True, text=True, timeout=900)


@pytest.fixture(scope="module")
def installed():
    """The prefix of the user's cached install (built on first use)."""
    proc = subprocess.run([SCRIPT], capture_output=True, text=True, timeout=3600)
    assert proc.returncode == 0, proc.stderr
    return pathlib.Path(proc.stdout.strip())


@pytest.fixture
def cache(installed, tmp_path):
    """A copy of the cache in a directory of its own."""
    shutil.copytree(installed, tmp_path / "raylib", symlinks=True)
    return tmp_path


def library(prefix):
    return (prefix / "lib" / "libraylib.so").resolve()


def rewrite_marker(prefix, change):
    marker = prefix / ".complete"
    marker.write_text("".join(change(line) for line in marker.read_text().splitlines(True)))


DAMAGE = {
    "library removed": lambda p: library(p).unlink(),
    "library cut short": lambda p: library(p).write_bytes(library(p).read_bytes()[:4096]),
    "library changed": lambda p: library(p).write_bytes(
        (lambda data: data[:-1] + bytes([data[-1] ^ 1]))(library(p).read_bytes())),
    "header removed": lambda p: (p / "include" / "raylib.h").unlink(),
    "link points elsewhere": lambda p: (
        (p / "lib" / "libraylib.so").unlink(),
        (p / "lib" / "libraylib.so").symlink_to("libraylib.so.missing")),
    "file left over": lambda p: (p / "lib" / "libraylib.so.6.0.0.part").write_bytes(b"\0"),
    "marker missing (interrupted build)": lambda p: (p / ".complete").unlink(),
    "marker of another recipe": lambda p: rewrite_marker(
        p, lambda line: "recipe=0\n" if line.startswith("recipe=") else line),
    "marker without fingerprint": lambda p: rewrite_marker(
        p, lambda line: "" if line.startswith("files=") else line),
}


def test_a_whole_copy_is_used(cache):
    assert run_script("--check", cache=cache).returncode == 0
    proc = run_script(cache=cache)
    assert proc.returncode == 0 and proc.stdout.strip() == str(cache.resolve() / "raylib")
    assert "already installed" in proc.stderr


@pytest.mark.parametrize("damage", DAMAGE.values(), ids=DAMAGE.keys())
def test_a_damaged_cache_is_not_used(cache, damage):
    damage(cache / "raylib")
    assert run_script("--check", cache=cache).returncode == 1
