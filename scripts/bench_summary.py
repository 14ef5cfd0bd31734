#!/usr/bin/env python3
"""One line per benchmark figure, every declared figure included.

A figure is the ratio of a routine's time to a peer's time measured in the same
run ("<peer>_ratio", with "<peer>_ms" the peer's time, "ms" or
"<peer>_routine_ms" the routine's time and "<peer>_ratio_goal" its goal; see
bench/support/peer_measure.h). Each benchmark family declares its figures
(bench/support/figures.h), so a figure that a run did not produce, whose
benchmark ended with an error (a failed peer, a wrong result) or that has no
goal is listed as "NO FIGURE" or "NO GOAL" and counts as missed like a ratio
above its goal; so does a run whose result was not checked (no "checked"
counter, bench/support/result_check.h). With several repetitions a line gives
the medians and the ratio's spread.

Usage: bench_summary.py [--runs N] DIR
DIR holds, for each program NAME that ran: NAME.figures (its "--figures"
output), NAME.list (its "--benchmark_list_tests" output for the filter) and
NAME.json (Google Benchmark's JSON output; missing or cut short when the
program failed); NAME.error instead for a program that could not list its
benchmarks (it counts as one missed figure). The exit status is 1 when any
figure was missed or there was none at all.
"""
import argparse
import json
import re
import statistics
import sys
from pathlib import Path


def short_name(run_name):
    # Drops the run settings that every run of a benchmark shares.
    return re.sub(r"/(min_time:[^/]*|iterations:\d+|manual_time|real_time)", "", run_name)


def load_runs(path):
    """The iteration entries of a JSON file, tolerating a file cut short."""
    if not path.exists():
        return []
    text = path.read_text(errors="replace")
    try:
        data = json.loads(text)
    except json.JSONDecodeError:
        # A program that died mid-run leaves the entries finished so far.
        cut = text.rfind("\n    }")
        try:
            data = json.loads(text[: cut + 6] + "\n  ]\n}") if cut > 0 else {}
        except json.JSONDecodeError:
            data = {}
    return [e for e in data.get("benchmarks", []) if e.get("run_type", "iteration") == "iteration"]


def declared_figures(path):
    figures = {}
    if path.exists():
        for line in path.read_text().splitlines():
            parts = line.split()
            if parts:
                figures[parts[0]] = parts[1:]
    return figures


def family(run_name):
    return run_name.split("/", 1)[0]


def fmt_ms(values):
    if not values:
        return f"{'-':>9}"
    v = statistics.median(values)
    digits = 3 if v < 1 else 2 if v < 10 else 1 if v < 100 else 0
    return f"{v:9.{digits}f}"


def summarise(directory, runs):
    rows, missed, total = [], 0, 0
    for error in sorted(directory.glob("*.error")):
        why = " ".join(error.read_text(errors="replace").split())[:160] or "listing its benchmarks failed"
        rows.append(f"{error.stem:<24} {'(all)':<44} {'-':<18} CANNOT START (missed): {why}")
        missed += 1
        total += 1
    for listing in sorted(directory.glob("*.list")):
        program = listing.stem
        figures = declared_figures(directory / f"{program}.figures")
        entries = {}
        output = directory / f"{program}.json"
        for e in load_runs(output):
            entries.setdefault(e["run_name"], []).append(e)
        instances = [line.strip() for line in listing.read_text().splitlines() if line.strip()]
        for instance in instances:
            runs_here = entries.get(instance, [])
            good = [e for e in runs_here if not e.get("error_occurred")]
            errors = sorted({e.get("error_message", "error") for e in runs_here if e.get("error_occurred")})
            names = list(figures.get(family(instance), []))
            # Figures a run produced that its family does not declare count too.
            for e in good:
                for k in e:
                    if k.endswith("_ratio") and k[: -len("_ratio")] not in names:
                        names.append(k[: -len("_ratio")])
            if not names:
                names = [None]
            for name in names:
                total += 1
                label = f"{program:<24} {short_name(instance):<44} {name or '(none)':<18}"
                if name is None:
                    rows.append(f"{label} NO FIGURE: the family declares none")
                    missed += 1
                    continue
                ratio = [e[f"{name}_ratio"] for e in good if f"{name}_ratio" in e]
                peer = [e[f"{name}_ms"] for e in good if f"{name}_ms" in e]
                routine = [e.get(f"{name}_routine_ms", e.get("ms")) for e in good]
                routine = [v for v in routine if v is not None]
                goals = {e[f"{name}_ratio_goal"] for e in good if f"{name}_ratio_goal" in e}
                want = max(runs, len(runs_here))
                text = f"{label} {fmt_ms(routine)} {fmt_ms(peer)}"
                if len(ratio) < want or not ratio:
                    if errors:
                        why = "; ".join(errors)
                    elif not output.exists():
                        why = "the program left no output"
                    elif len(runs_here) < want:
                        why = f"{len(runs_here)} runs of the benchmark in the output"
                    else:
                        why = "the runs set no such counter"
                    rows.append(f"{text}  NO FIGURE ({len(ratio)} of {want} runs): {why}")
                    missed += 1
                    continue
                median = statistics.median(ratio)
                text += f" {median:8.3f}"
                text += f"  ({min(ratio):.3f}..{max(ratio):.3f})" if len(ratio) > 1 else " " * 16
                unchecked = sum(1 for e in good if e.get("checked") != 1)
                if unchecked:
                    rows.append(f"{text}  NOT CHECKED ({unchecked} of {len(good)} runs; missed)")
                    missed += 1
                elif name not in figures.get(family(instance), []):
                    rows.append(f"{text}  NOT DECLARED (missed)")
                    missed += 1
                elif not goals:
                    rows.append(f"{text}  NO GOAL (missed)")
                    missed += 1
                else:
                    goal = min(goals)
                    met = sum(v <= goal for v in ratio)
                    verdict = "met" if median <= goal else "MISSED"
                    missed += verdict != "met"
                    rows.append(f"{text}  <= {goal:<6g} {verdict} ({met}/{len(ratio)} runs)")
    return rows, missed, total


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--runs", type=int, default=1, help="repetitions each figure must have")
    parser.add_argument("directory", type=Path)
    args = parser.parse_args()
    rows, missed, total = summarise(args.directory, args.runs)
    if not rows:
        print("== summary: no benchmark figures (did the filter match anything?)")
        return 1
    print("== summary: program, benchmark, figure (peer), routine ms, peer ms (medians), ratio (spread), goal")
    print("\n".join(rows))
    print(f"== {total} figures: {total - missed} met, {missed} missed")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
