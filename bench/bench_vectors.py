"""Times the hot vector operations of a game loop: construction, arithmetic, attribute access
and the scalar geometry. Prints nanoseconds per operation (the best of several repeats).

Run after `make build`:  .venv/bin/python bench/bench_vectors.py [--number N] [--repeat R]
"""

import argparse
import sys
import timeit
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "src"))

from tavoro.vector2.vector2 import Vector2  # noqa: E402
from tavoro.vector3.vector3 import Vector3  # noqa: E402

SETUP = {
    Vector2: "v = V(1.5, 2.5); w = V(3.0, -4.0); x, y = 1.5, 2.5",
    Vector3: "v = V(1.5, 2.5, 3.5); w = V(3.0, -4.0, 0.5); x, y, z = 1.5, 2.5, 3.5",
}
STATEMENTS = {
    Vector2: ["V(x, y)", "v + w", "v * 2.0", "v.x", "v.length", "v.dot(w)"],
    Vector3: ["V(x, y, z)", "v + w", "v * 2.0", "v.x", "v.length", "v.dot(w)", "v.cross(w)"],
}


def ns_per_op(V, statement, number, repeat):
    timer = timeit.Timer(statement, SETUP[V], globals={"V": V})
    return min(timer.repeat(repeat=repeat, number=number)) / number * 1e9


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--number", type=int, default=200_000, help="operations per repeat")
    parser.add_argument("--repeat", type=int, default=5, help="repeats; the best one counts")
    args = parser.parse_args()

    baseline = ns_per_op(Vector2, "pass", args.number, args.repeat)
    print(f"{'type':<8} {'operation':<12} {'ns/op':>8}   (empty loop: {baseline:.1f} ns)")
    for V, statements in STATEMENTS.items():
        for statement in statements:
            print(f"{V.__name__:<8} {statement:<12} {ns_per_op(V, statement, args.number, args.repeat):8.1f}")


if __name__ == "__main__":
    main()
