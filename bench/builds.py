"""Times the development build (GCC, the modules `make test` and `make bench` use) against the
release wheel (zig for glibc 2.17, as users install it) on the vector, rect and audio rows of
bench/peers.py, side by side in one run: each round times every row once in a fresh interpreter
per build, the builds taking turns, and each cell is the best over the rounds.

Run with `make bench-builds`, which builds both, or:

    .venv/bin/python bench/builds.py WHEEL [--rounds R] [--no-write]

The table goes to stdout and, unless --no-write is given, to bench/builds.md.
"""

import argparse
import json
import os
import platform
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
GROUPS = ("Vector2", "Vector3", "Rect", "AudioStream")
# Within this ratio of each other the two builds are taken to be level: the spread of one cell
# between rounds on this shared machine.
NOISE = 1.10

CHILD = """
import json, sys
sys.argv = ["peers.py"]
sys.path.insert(0, {bench!r})
import peers
rows = peers.vector_rows(2) + peers.vector_rows(3) + peers.rect_rows() + peers.audio_rows()
results = {{}}
for row in rows:
    if row.group in {groups!r} and "tavoro" in row.cells:
        row.cells = {{"tavoro": row.cells["tavoro"]}}
        peers.measure(row, {repeat}, 0.005)
        results[f"{{row.group}}: {{row.label}}"] = row.results["tavoro"]
print(json.dumps(results))
"""


def time_build(tree, repeat):
    """The rows timed once on the modules of one tree, in a fresh interpreter."""
    env = dict(os.environ, TAVORO_MODULE_TREE=str(tree), PYGAME_HIDE_SUPPORT_PROMPT="1")
    env.pop("PYTHONPATH", None)
    code = CHILD.format(bench=str(HERE), groups=GROUPS, repeat=repeat)
    proc = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True,
                          check=True, timeout=1800)
    return json.loads(proc.stdout.splitlines()[-1])


def table(best, rounds):
    lines = [
        "# The release wheel against the development build",
        "",
        f"Nanoseconds per operation, the best of {rounds} rounds in which the two builds took "
        f"turns (CPython {platform.python_version()}). `GCC`: the development build "
        "(`make build`, which `make test` and `make bench` use); `wheel`: the release wheel "
        "(`make wheel`: zig for glibc 2.17). Made by `make bench-builds` (bench/builds.py). "
        f"A ratio within {NOISE:g} either way is taken as level.",
        "",
        "| row | GCC | wheel | wheel / GCC |",
        "|---|---:|---:|---:|",
    ]
    for row in best["GCC"]:
        gcc, wheel = best["GCC"][row], best["wheel"][row]
        ratio = wheel / gcc
        mark = "" if 1 / NOISE <= ratio <= NOISE else (" ✗" if ratio > NOISE else " ✓")
        lines.append(f"| {row} | {gcc:.1f} | {wheel:.1f} | {ratio:.2f}{mark} |")
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("wheel", type=Path, help="the release wheel for this interpreter")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--repeat", type=int, default=8, help="repeats per cell in each round")
    parser.add_argument("--no-write", action="store_true", help="do not write bench/builds.md")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as scratch:
        installed = Path(scratch) / "wheel"
        subprocess.run([sys.executable, "-m", "pip", "install", "--quiet", "--no-deps",
                        "--disable-pip-version-check", "--target", installed, args.wheel],
                       check=True)
        trees = {"GCC": Path(os.environ.get("TAVORO_MODULE_TREE") or ROOT / "src"),
                 "wheel": installed}
        best = {name: {} for name in trees}
        for round_ in range(args.rounds):
            for name, tree in trees.items():
                for row, ns in time_build(tree, args.repeat).items():
                    best[name][row] = min(best[name].get(row, float("inf")), ns)
            print(f"round {round_ + 1} of {args.rounds}", file=sys.stderr, flush=True)
    text = table(best, args.rounds)
    print(text)
    if not args.no_write:
        (HERE / "builds.md").write_text(text)
        print("written: bench/builds.md")


if __name__ == "__main__":
    main()
