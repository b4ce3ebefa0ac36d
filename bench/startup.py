#!/usr/bin/env python3
"""Times two Windows programs under Wine in alternating pairs and reports
both medians and the median of the pairwise ratios (program / floor), by the
clock and, less disturbed by other work on the machine, by the CPU time of the
program's own process.

usage: startup.py --pairs N --label L --loader WINE [--name NAME]
                  PROGRAM FLOOR
PROGRAM (named NAME in the report) and FLOOR are Windows paths in the
prefix named by WINEPREFIX, whose Wine server should already be running.
WINE is the Wine loader of the programs' architecture, which runs them in
its own process.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

WARM_UP_RUNS = 3


def run(loader, path):
    """Wall-clock and CPU seconds of one run."""
    start = time.perf_counter()
    process = subprocess.Popen([loader, path], stdin=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    elapsed = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        sys.exit("%s exited with status %d" % (path, process.returncode))
    return elapsed, usage.ru_utime + usage.ru_stime


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pairs", type=int, default=40)
    parser.add_argument("--label", required=True)
    parser.add_argument("--loader", required=True)
    parser.add_argument("--name", default="handback.exe")
    parser.add_argument("program")
    parser.add_argument("floor")
    arguments = parser.parse_args()

    def program():
        return run(arguments.loader, arguments.program)

    def floor():
        return run(arguments.loader, arguments.floor)

    for _ in range(WARM_UP_RUNS):
        program()
        floor()

    program_runs, floor_runs = [], []
    for pair in range(arguments.pairs):
        # Which one goes first alternates, so neither always follows the other.
        if pair % 2 == 0:
            program_runs.append(program())
            floor_runs.append(floor())
        else:
            floor_runs.append(floor())
            program_runs.append(program())

    for measure, index in (("clock", 0), ("CPU", 1)):
        program_times = [run[index] for run in program_runs]
        floor_times = [run[index] for run in floor_runs]
        ratios = [p / f for p, f in zip(program_times, floor_times)]
        quartiles = statistics.quantiles(ratios, n=4)
        print(
            "%s %s, %d pairs: median %s %.1f ms, median floor %.1f ms, "
            "median of pairwise ratios %.3f (quartiles %.3f to %.3f)"
            % (
                arguments.label,
                measure,
                arguments.pairs,
                arguments.name,
                statistics.median(program_times) * 1000,
                statistics.median(floor_times) * 1000,
                statistics.median(ratios),
                quartiles[0],
                quartiles[2],
            )
        )


if __name__ == "__main__":
    main()
