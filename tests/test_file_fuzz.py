"""Mutational fuzzing of audio files: small valid files in every format the build decodes, and
the files that once crashed or hung raylib, are mutated, and each mutant is loaded as a sound and
as music, played, seeked and updated for a few frames. Nothing may crash or hang the interpreter.

The mutants run in child processes, many to a child: the child notes each mutant before it
starts, so a crash (the child dies) or a hang (no progress within the time limit, then the child
is killed) is pinned on one mutant, and a new child goes on with the next. The default run is
short; TAVORO_FILE_FUZZ_MUTANTS sets the number of mutants (`make fuzz` runs many), and
TAVORO_FILE_FUZZ_SEED the random seed. Failing mutants are kept under the test's temporary
directory and named in the failure."""

import os
import pathlib
import random
import struct
import subprocess
import sys
import time

from conftest import MODULE_PATHS, ROOT

DATA = ROOT / "tests" / "data"
SEEDS = sorted((DATA / "seeds").iterdir()) + sorted((DATA / "crashers").iterdir())
MUTANTS = int(os.environ.get("TAVORO_FILE_FUZZ_MUTANTS", "40"))
SEED = int(os.environ.get("TAVORO_FILE_FUZZ_SEED", "20261208"))
HANG_SECONDS = 15.0  # with no progress: a mutant takes well under a second
UNDER_SANITIZER = "libasan" in os.environ.get("LD_PRELOAD", "")

# Values that sit at the edges of header fields.
EDGES = [0, 1, 2, 0x7F, 0x80, 0xFF, 0x7FFF, 0x8000, 0xFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF]


def mutate(data, rng):
    """One to four random edits of the bytes: bit flips, edge values written over header-like
    fields, bytes overwritten, chunks removed, repeated or cut off."""
    data = bytearray(data)
    for _ in range(rng.randint(1, 4)):
        if not data:
            data += rng.randbytes(rng.randint(1, 64))
            continue
        at = rng.randrange(len(data))
        # Headers sit at the start: bias edits there.
        if rng.random() < 0.5:
            at = rng.randrange(min(len(data), 128))
        kind = rng.randrange(6)
        if kind == 0:
            data[at] ^= 1 << rng.randrange(8)
        elif kind == 1:
            value = rng.choice(EDGES)
            width = rng.choice([1, 2, 4])
            data[at:at + width] = (value & ((1 << 8 * width) - 1)).to_bytes(width, rng.choice(["little", "big"]))
        elif kind == 2:
            data[at:at + 8] = rng.randbytes(rng.randint(1, 8))
        elif kind == 3:
            del data[at:at + rng.randint(1, 256)]
        elif kind == 4:
            chunk = data[at:at + rng.randint(1, 256)]
            data[at:at] = chunk * rng.randint(1, 4)
        else:
            del data[rng.randrange(len(data)):]
    return bytes(data)


def make_mutants(directory, count, seed, seeds=None):
    rng = random.Random(seed)
    seeds = seeds or SEEDS
    paths = []
    for i in range(count):
        source = seeds[i % len(seeds)]
        path = directory / f"m{i:05d}-{source.stem}{source.suffix}"
        path.write_bytes(mutate(source.read_bytes(), rng))
        paths.append(path)
    return paths


CHILD = r"""
import os, resource, sys, time
if not {sanitizer}:
    resource.setrlimit(resource.RLIMIT_AS, (3 << 30, 3 << 30))
from tavoro import audio_device
from tavoro.music.music import Music
from tavoro.sound.sound import Sound
paths = open(sys.argv[1]).read().splitlines()
progress = open(sys.argv[2], "a", buffering=1)
audio_device.init()
for index in range(int(sys.argv[3]), len(paths)):
    progress.write(f"{{index}}\n")
    sound, music = Sound.load(paths[index]), Music.load(paths[index])
    sound.play()
    music.play()
    for frame in range(4):
        music.update()
        if frame == 1 and not paths[index].lower().endswith(".mod"):  # modules cannot seek
            music.seek(0.05)
        time.sleep(0.005)
    sound.unload()
    music.unload()
progress.write("end\n")
audio_device.close()
"""


def run_mutants(paths, workdir, child=None):
    """Runs every mutant through the child's code (CHILD unless given, with the sanitizer flag
    formatted in); returns (crashes, hangs) as lists of (path, detail)."""
    listing = workdir / "mutants.txt"
    listing.write_text("\n".join(str(p) for p in paths))
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(str(path) for path in MODULE_PATHS)
    code = (child or CHILD).format(sanitizer=UNDER_SANITIZER)
    crashes, hangs = [], []
    start = 0
    while start < len(paths):
        progress = workdir / f"progress-{start}.txt"
        progress.write_text("")
        # A file, not a pipe: a child that logs more than a pipe holds would stop, waiting for a
        # reader, and pass for a hang.
        errors = open(workdir / f"stderr-{start}.txt", "w+b")
        child = subprocess.Popen([sys.executable, "-c", code, str(listing), str(progress), str(start)],
                                 cwd=ROOT, env=env, stdout=subprocess.DEVNULL, stderr=errors)
        seen, last_change = "", time.monotonic()
        while child.poll() is None:
            time.sleep(0.05)
            now = progress.read_text()
            if now != seen:
                seen, last_change = now, time.monotonic()
            elif time.monotonic() - last_change > HANG_SECONDS:
                child.kill()
                child.wait()
                break
        errors.seek(0)
        err = errors.read().decode(errors="replace")
        errors.close()
        lines = progress.read_text().split()
        if lines and lines[-1] == "end" and child.returncode == 0:
            break
        current = int(lines[-1]) if lines and lines[-1] != "end" else start
        if child.returncode == -9 and time.monotonic() - last_change > HANG_SECONDS:
            hangs.append((paths[current], "no progress"))
        else:
            crashes.append((paths[current], f"exit {child.returncode}: {err[-2000:]}"))
        start = current + 1
    return crashes, hangs


def test_mutated_audio_files_neither_crash_nor_hang(tmp_path):
    mutants = tmp_path / "mutants"
    mutants.mkdir()
    paths = make_mutants(mutants, MUTANTS, SEED)
    crashes, hangs = run_mutants(paths, tmp_path)
    assert not crashes and not hangs, (
        f"{len(crashes)} crashes, {len(hangs)} hangs in {len(paths)} mutants:\n"
        + "\n".join(f"{path}: {detail}" for path, detail in crashes + hangs))


def test_mutation_changes_the_files_and_repeats_with_its_seed(tmp_path):
    first, second = tmp_path / "a", tmp_path / "b"
    first.mkdir()
    second.mkdir()
    a = make_mutants(first, 2 * len(SEEDS), 7)
    b = make_mutants(second, 2 * len(SEEDS), 7)
    assert [p.read_bytes() for p in a] == [p.read_bytes() for p in b]
    originals = [SEEDS[i % len(SEEDS)].read_bytes() for i in range(len(a))]
    assert sum(p.read_bytes() != o for p, o in zip(a, originals)) >= len(a) - 2


def test_a_crash_and_a_hang_are_caught(tmp_path, monkeypatch):
    # Stand-in files that make the child die and stop, through a child that fakes both.
    paths = [tmp_path / name for name in ("fine", "dies", "stops", "fine-too")]
    for p in paths:
        p.write_text("")
    fake = r'''
import os, sys, time
paths = open(sys.argv[1]).read().splitlines()
progress = open(sys.argv[2], "a", buffering=1)
for index in range(int(sys.argv[3]), len(paths)):
    progress.write(f"{{index}}\n")
    if paths[index].endswith("dies"):
        os.abort()
    if paths[index].endswith("stops"):
        time.sleep(3600)
progress.write("end\n")
'''
    monkeypatch.setattr(sys.modules[__name__], "CHILD", fake)
    monkeypatch.setattr(sys.modules[__name__], "HANG_SECONDS", 1.0)
    crashes, hangs = run_mutants(paths, tmp_path)
    assert [p.name for p, _ in crashes] == ["dies"]
    assert [p.name for p, _ in hangs] == ["stops"]
