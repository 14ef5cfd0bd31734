#!/usr/bin/env python3
"""One line per benchmark figure from Google Benchmark JSON files.

A figure is a counter whose name ends in "ratio"; a counter of the same name
with "_goal" appended is its goal (the ratio must not exceed it). With several
repetitions the line gives the median and the spread (lowest to highest).
Usage: bench_summary.py FILE.json...  (the program's name is the file's stem)
"""
import json
import re
import statistics
import sys
from pathlib import Path


def short_name(run_name):
    # Drops the run settings that every run of a benchmark shares.
    return re.sub(r"/(min_time:[^/]*|iterations:\d+|manual_time|real_time)", "", run_name)


def summarise(path):
    data = json.loads(Path(path).read_text())
    runs = {}
    for entry in data.get("benchmarks", []):
        if entry.get("run_type", "iteration") != "iteration" or entry.get("error_occurred"):
            continue
        runs.setdefault(entry["run_name"], []).append(entry)
    lines = []
    for run_name, entries in runs.items():
        figures = sorted(k for k in entries[0] if k.endswith("ratio") and isinstance(entries[0][k], (int, float)))
        for figure in figures:
            values = [e[figure] for e in entries if figure in e]
            median = statistics.median(values)
            text = f"{Path(path).stem:<18} {short_name(run_name):<38} {figure:<18} {median:7.3f}"
            if len(values) > 1:
                text += f"  ({min(values):.3f}..{max(values):.3f}, {len(values)} runs)"
            goal = entries[0].get(figure + "_goal")
            if goal:
                met = sum(v <= goal for v in values)
                verdict = "met" if median <= goal else "MISSED"
                text += f"  goal <= {goal:g}: {verdict} ({met}/{len(values)} runs)"
            lines.append(text)
    return lines


def main(paths):
    lines = [line for p in paths for line in summarise(p)]
    if not lines:
        print("== summary: no benchmark figures (did the filter match anything?)")
        return
    print("== summary: figure, median ratio (spread), goal")
    print("\n".join(lines))


if __name__ == "__main__":
    main(sys.argv[1:])
