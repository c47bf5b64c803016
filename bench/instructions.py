"""Counts the machine instructions one operation of a benchmark row costs, for tavoro and each
peer, with valgrind's callgrind: reproducible where times on a busy machine are not.

Each cell of the row runs twice under callgrind, set up the same way, once with no operation and
once with --number of them; the difference of the two, divided by --number, is the cost of one
operation (the loop's own few instructions included), in total and per function.

    PYTHONPATH=src .venv/bin/python bench/instructions.py "collide_rect" [--number N] [--top K]

The argument picks the rows of bench/peers.py whose label (or group) contains it; --exact
matches the label whole. Needs valgrind (Debian: apt-get install valgrind).
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile
from collections import defaultdict
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import peers  # noqa: E402

# The child: sets the cell up as peers.py does and runs it `number` times in timeit's loop.
CHILD = """
import sys, timeit
sys.path.insert(0, {bench!r})
import peers
group, label, column, number = {group!r}, {label!r}, {column!r}, {number}
rows = peers.vector_rows(2) + peers.vector_rows(3) + peers.rect_rows() + peers.loop_rows()
if group == "AudioStream":
    rows += peers.audio_rows()
row = next(r for r in rows if r.group == group and r.label == label)
statement, setup = row.cells[column]
timeit.Timer(statement, setup, globals=peers.NAMESPACE).timeit(number)
"""

LINE = re.compile(r"^\s*([\d,]+)\s+\([^)]*\)\s+(.*)$")


def function_costs(out_file):
    """Self instructions per function, from callgrind_annotate."""
    text = subprocess.run(["callgrind_annotate", "--inclusive=no", "--threshold=100", out_file],
                          capture_output=True, text=True, check=True).stdout
    costs = defaultdict(int)
    body = text.split("file:function", 1)[-1]
    for line in body.splitlines():
        m = LINE.match(line)
        if not m:
            continue
        count, where = int(m.group(1).replace(",", "")), m.group(2)
        # "path/file.c:function [object]" -> "function [object basename]"
        obj = ""
        if where.endswith("]") and " [" in where:
            where, obj = where.rsplit(" [", 1)
            obj = " [" + os.path.basename(obj[:-1]) + "]"
        function = where.rsplit(":", 1)[-1]
        costs[function + obj] += count
    return costs


def run(row, column, number, workdir):
    child = CHILD.format(bench=str(HERE), group=row.group, label=row.label, column=column,
                         number=number)
    out_file = os.path.join(workdir, f"callgrind.{column}.{number}")
    env = dict(os.environ, PYTHONHASHSEED="0", PYGAME_HIDE_SUPPORT_PROMPT="1",
               PYTHONPATH=str(HERE.parent / "src"))
    subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out_file}",
                    sys.executable, "-c", child], env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return function_costs(out_file)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("row", help="text in the row's label or group")
    parser.add_argument("--exact", action="store_true", help="match the label whole")
    parser.add_argument("--number", type=int, default=20_000, help="operations counted")
    parser.add_argument("--top", type=int, default=12, help="functions listed per cell")
    parser.add_argument("--group", help="only rows of this group (Vector2, Vector3, Rect, ...)")
    parser.add_argument("--columns", help="comma-separated columns (default: all of the row)")
    args = parser.parse_args()

    rows = peers.vector_rows(2) + peers.vector_rows(3) + peers.rect_rows() + peers.loop_rows()
    if "Audio" in args.row or "update" in args.row:
        rows += peers.audio_rows()
    chosen = [r for r in rows if (r.label == args.row if args.exact
                                  else args.row in r.label or args.row in r.group)]
    if args.group:
        chosen = [r for r in chosen if r.group == args.group]
    if not chosen:
        sys.exit(f"no row matches {args.row!r}")
    with tempfile.TemporaryDirectory() as workdir:
        for row in chosen:
            print(f"== {row.group}: {row.label}")
            columns = args.columns.split(",") if args.columns else list(row.cells)
            for column in columns:
                if column not in row.cells:
                    continue
                number = 1 if row.number == 1 else args.number
                empty = run(row, column, 0, workdir)
                full = run(row, column, number, workdir)
                per_op = {f: (full.get(f, 0) - empty.get(f, 0)) / number
                          for f in set(full) | set(empty)}
                total = sum(per_op.values())
                print(f"  {column:<10} {total:10.1f} instructions per operation   "
                      f"`{row.cells[column][0].splitlines()[0]}`")
                for function, cost in sorted(per_op.items(), key=lambda kv: -abs(kv[1]))[:args.top]:
                    if abs(cost) >= 0.5:
                        print(f"      {cost:9.1f}  {function}")
            print(flush=True)


if __name__ == "__main__":
    main()
