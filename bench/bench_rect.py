"""Times the per-frame Rect operations: construction, the collision tests and the edge and
centre properties. Prints nanoseconds per operation (the best of several repeats).

Run after `make build`:  .venv/bin/python bench/bench_rect.py [--number N] [--repeat R]
"""

import argparse
import sys
import timeit
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "src"))

from tavoro.rect.rect import Rect  # noqa: E402
from tavoro.vector2.vector2 import Vector2  # noqa: E402

SETUP = "r = Rect(10.0, 20.0, 30.0, 40.0); s = Rect(25.0, 30.0, 5.0, 5.0); v = Vector2(15.0, 25.0); x, y, w, h = 1.0, 2.0, 3.0, 4.0"
STATEMENTS = [
    "Rect(x, y, w, h)",
    "r.collide_point((x, y))",
    "r.collide_point(v)",
    "r.collide_rect(s)",
    "r.center",
    "r.right = 5.0",
]


def ns_per_op(statement, number, repeat):
    timer = timeit.Timer(statement, SETUP, globals={"Rect": Rect, "Vector2": Vector2})
    return min(timer.repeat(repeat=repeat, number=number)) / number * 1e9


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--number", type=int, default=200_000, help="operations per repeat")
    parser.add_argument("--repeat", type=int, default=5, help="repeats; the best one counts")
    args = parser.parse_args()

    baseline = ns_per_op("pass", args.number, args.repeat)
    print(f"{'operation':<24} {'ns/op':>8}   (empty loop: {baseline:.1f} ns)")
    for statement in STATEMENTS:
        print(f"{statement:<24} {ns_per_op(statement, args.number, args.repeat):8.1f}")


if __name__ == "__main__":
    main()
