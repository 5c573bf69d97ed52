#!/usr/bin/env python3
"""The figures of bench/compare.sh: rows from each run, the table at the end.

    compare_table.py rows SIDE ROUND < frame_bench's output
    compare_table.py submits SIDE ROUND < frame_bench's output
    compare_table.py profile SIDE ROUND FRAMES DIR
    compare_table.py table RESULTS STAT UNIT [FIRST SECOND]

A row is "SIDE ROUND SCENE MEAN MEDIAN P99", tab separated. `rows` takes them
from frame_bench's table (ms); `submits` from its split table, the median
submit time in all three places; `profile` from a callgrind run of
frame_bench (DIR/table holds its output, DIR/profile.N the dumps made after
each music position and each swap), in millions of instructions per frame.
`table` prints per scene the median over the rounds of each side's STAT
(mean, median or p99), the difference, the ratio of those medians (SECOND /
FIRST; the sides BASE and HEAD unless named) and the lowest and highest of
the rounds' own ratios.
"""
import glob
import os
import re
import statistics
import sys

NUMBER = re.compile(r"[0-9]+(\.[0-9]+)?")


def scene_rows(lines):
    """(scene, mean, median, p99) of frame_bench's table: a name of one or
    more words, then mean, median, p99, max and fps."""
    for line in lines:
        fields = line.split()
        if len(fields) >= 6 and all(NUMBER.fullmatch(f) for f in fields[-5:]):
            yield " ".join(fields[:-5]), fields[-5], fields[-4], fields[-3]


def submit_rows(lines):
    """(scene, submit ms) of frame_bench's split table."""
    for line in lines:
        found = re.fullmatch(r"\s*(.+?)\s+submit\s+([0-9.]+) ms\s+finish .*", line.rstrip("\n"))
        if found:
            yield found.group(1), found.group(2)


def quantile(values, q):
    """Nearest rank, as bench/bench_util.h has it."""
    values = sorted(values)
    rank = max(int(q * len(values) + 0.5) - 1, 0)
    return values[min(rank, len(values) - 1)]


def profile_rows(side, round_, frames, folder):
    with open(os.path.join(folder, "table")) as table:
        scenes = [row[0] for row in scene_rows(table) if row[0] != "all scenes"]
    counts = []
    dumps = glob.glob(os.path.join(folder, "profile.*"))
    for path in sorted(dumps, key=lambda p: int(p.rsplit(".", 1)[1])):
        with open(path) as dump:
            head = dump.read(4096)
        if "Trigger: --dump-after=platform::swapBuffers" in head:
            counts.append(int(re.search(r"^summary: (\d+)", head, re.M).group(1)) / 1e6)
    if not scenes or len(counts) != frames * len(scenes):
        sys.exit(f"compare: {len(counts)} frames in the profile of {folder}, "
                 f"{frames * len(scenes)} expected")
    parts = [(scene, counts[i * frames:(i + 1) * frames]) for i, scene in enumerate(scenes)]
    parts.append(("all scenes", counts))
    for scene, part in parts:
        print(f"{side}\t{round_}\t{scene}\t{statistics.mean(part):.3f}\t"
              f"{statistics.median(part):.3f}\t{quantile(part, 0.99):.3f}")


def table(path, stat, unit, first="BASE", second="HEAD"):
    column = {"mean": 0, "median": 1, "p99": 2}[stat]
    runs = {}  # (scene, side) -> {round: figure}
    order = []
    with open(path) as results:
        for line in results:
            side, round_, scene, *figures = line.rstrip("\n").split("\t")
            if scene not in order:
                order.append(scene)
            runs.setdefault((scene, side), {})[round_] = float(figures[column])
    print(f"  {'scene':12s} {first + ' ' + unit:>10s} {second + ' ' + unit:>10s} "
          f"{'difference':>10s} {'ratio':>6s}  round ratios (lowest .. highest)")
    for scene in order:
        base = runs.get((scene, first), {})
        head = runs.get((scene, second), {})
        rounds = sorted(set(base) & set(head))
        if not rounds:
            continue
        b = statistics.median(base[r] for r in rounds)
        h = statistics.median(head[r] for r in rounds)
        ratios = sorted(head[r] / base[r] for r in rounds if base[r] > 0)
        ratio = f"{h / b:6.3f}" if b > 0 else "     -"
        spread = f"{ratios[0]:.3f} .. {ratios[-1]:.3f}" if ratios else "-"
        print(f"  {scene:12s} {b:10.3f} {h:10.3f} {h - b:+10.3f} {ratio}  {spread}")


def main(argv):
    if len(argv) >= 4 and argv[1] == "rows":
        for row in scene_rows(sys.stdin):
            print("\t".join((argv[2], argv[3]) + row))
    elif len(argv) >= 4 and argv[1] == "submits":
        for scene, submit in submit_rows(sys.stdin):
            print("\t".join((argv[2], argv[3], scene, submit, submit, submit)))
    elif len(argv) == 6 and argv[1] == "profile":
        profile_rows(argv[2], argv[3], int(argv[4]), argv[5])
    elif len(argv) in (5, 7) and argv[1] == "table":
        table(*argv[2:])
    else:
        print("compare_table.py: expected rows, submits, profile or table and their arguments",
              file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
