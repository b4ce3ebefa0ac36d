#!/usr/bin/env python3
"""Performs one real hand-back under Wine and tells what happened.

    demo.py BUILD_DIR DEMO_DIR [--failure]

BUILD_DIR is a Windows build (build/windows-x64); DEMO_DIR receives the
scratch environment. With --failure, SETUP.EXE is missing from the recorded
directory, so the program shows its notice and asks for a restart.
"""

import sys
from pathlib import Path

from e2e import SETUP_DIR, Scenario, armed, prepare_files
from winebox import PROGRAM, SYSTEM_INI, WineBox, hand_back


def boot_section(profile: bytes | None) -> str:
    if profile is None:
        return "    (no file)"
    lines, inside = [], False
    for line in profile.decode("latin-1").splitlines():
        if line.startswith("["):
            inside = line.lower() == "[boot]"
        elif inside and line.strip():
            lines.append("    " + line)
    return "\n".join(lines)


def main(argv):
    build, root = Path(argv[1]), Path(argv[2])
    failure = "--failure" in argv
    box = WineBox(root)
    print(f"Making a scratch Windows environment in {box.prefix} ...")
    box.create(build / "handback.exe", build / "tests/e2e/SetupStandIn.exe",
               build / "tests/e2e/Observer.exe")
    try:
        scenario = Scenario("demo", armed(),
                            setup="missing" if failure else "program")
        before = prepare_files(box, scenario)
        print(f"\n{SYSTEM_INI}, [boot] as the installer left it:")
        print(boot_section(before))
        where = "nothing there" if failure else "a sample setup program"
        print(f"{SETUP_DIR}\\SETUP.EXE: {where}")

        print(f"\nWindows starts {PROGRAM} as its shell ...")
        seen = hand_back(box, restart_expected=failure)
        print(f"It ended with exit status {seen.status}.")

        print("\n[boot] afterwards:")
        print(boot_section(seen.system_ini))
        if seen.launched:
            command_line, waiting = seen.launched.split("\r\n")
            print(f"\nSetup started, with command line: {command_line}")
            print(f"The sample setup program {waiting}.")
        else:
            print("\nSetup started: no")
        if seen.notices:
            print('Notice shown, captioned "Setup Error":')
            for line in seen.notices.decode("latin-1").split("\r"):
                print("    " + line)
        else:
            print("Notice shown: none")
        asked = "yes (the session was asked to end)" if seen.restart else "no"
        print(f"Restart asked: {asked}")
    finally:
        box.destroy()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
