#!/usr/bin/python3
"""skipped.py JUNIT...: how many tests the runs of CTest that wrote these
JUnit files (ctest --output-junit) skipped, and why, each reason once with
the number of tests it skipped in each build; and the tests that ran but
skipped some of their cases. A test says why in a line of its output that
begins "skipped: "; the build is the JUnit file's directory."""

import sys
import xml.etree.ElementTree as ElementTree
from collections import defaultdict
from pathlib import Path

SHOWN = 4  # names of tests shown for a reason; the rest are counted


def reasons(case) -> list[str]:
    out = case.findtext("system-out") or ""
    return [line.removeprefix("skipped: ") for line in out.splitlines()
            if line.startswith("skipped: ")]


def main(files: list[str]) -> int:
    skipped = defaultdict(list)  # (reason, build): names
    in_part = []
    for file in map(Path, files):
        if not file.exists():  # that build stopped before its tests
            continue
        build = file.parent.name
        for case in ElementTree.parse(file).getroot().iter("testcase"):
            why = reasons(case)
            if case.get("status") == "notrun":
                message = case.find("skipped")
                why = why or [message.get("message") if message is not None
                              else "not run"]
                skipped[why[0], build].append(case.get("name"))
            else:
                in_part += [f"{case.get('name')} ({build}), in part: {reason}"
                            for reason in why]
    total = sum(map(len, skipped.values()))
    print(f"Skipped: {total} test{'s' * (total != 1)}"
          + (", and some cases of others:" if in_part
             else ":" if total else "."))
    for (reason, build), names in sorted(skipped.items(),
                                         key=lambda item: item[0][::-1]):
        shown = ", ".join(names[:SHOWN]) + (
            f" and {len(names) - SHOWN} more" if len(names) > SHOWN else "")
        print(f"  {len(names)} of {build} ({shown}): {reason}")
    for line in in_part:
        print(f"  {line}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
