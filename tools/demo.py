#!/usr/bin/env python3
"""Performs one real hand-back under Wine, armed by the example installer,
and tells what happened.

    demo.py BUILD_DIR DEMO_DIR [--nt] [--failure] [--uac]

BUILD_DIR is a Windows build (build/windows-x64); DEMO_DIR receives the
scratch environment. The example installer, built for that build with a
sample setup program, installs and arms the hand-back; then Windows
"restarts": the shell it has registered is started as Windows would start
it. With --nt, [boot] of SYSTEM.INI is mapped to the registry as on Windows
XP to 11. With --failure, the installed SETUP.EXE is gone by then, so the
program shows its notice and asks for a restart. With --uac, UAC is on (and
[boot] mapped): the installer arms nothing and has Windows start setup once
through RunOnce instead, and the restart runs it.
"""

import sys
from pathlib import Path

from winebox import WINEBOOT, WineBox, read
from wineregistry import (RUNONCE, SETUP_KEY, SYSTEM_INI, WINLOGON,
                          boot_registry, ini_entry)
from winerun import hand_back


def show_boot(box: WineBox, nt: bool):
    """The two entries, where this Windows keeps them."""
    if nt:
        print(f"    {WINLOGON}")
        print(f"        Shell = {box.values(WINLOGON).get('shell')}")
    profile = read(box.path(SYSTEM_INI), b"")
    for key in ([] if nt else ["shell"]) + [SETUP_KEY]:
        entry = ini_entry(profile, "boot", key)
        print(f"    {SYSTEM_INI} [boot] {key.strip()} = "
              f"{'(no entry)' if entry is None else entry}")


def show_run_once(box: WineBox):
    print(f"    {RUNONCE}")
    for command in box.values(RUNONCE).values() or ["(no value)"]:
        print(f"        {command}")


def main(argv):
    build, root = Path(argv[1]), Path(argv[2])
    nt, failure, uac = "--nt" in argv, "--failure" in argv, "--uac" in argv
    if uac and failure:
        print("--failure shows the hand-back's notice; with --uac the "
              "installer does not arm the hand-back.", file=sys.stderr)
        return 2
    nt = nt or uac  # UAC exists only on the NT family, Vista and later
    box = WineBox(root)
    print(f"Making a scratch Windows environment in {box.prefix} ...")
    box.create(build / "handback.exe", build / "tests/e2e/SetupStandIn.exe",
               build / "tests/e2e/Observer.exe",
               (build / "x86/handback-check.dll", build / "handback-check.dll"))
    try:
        if nt:
            print("Mapping [boot] of SYSTEM.INI to the registry, as Windows "
                  "XP to 11 do (Shell to Winlogon's value).")
        print(f"UAC is {'on' if uac else 'off'} (EnableLUA = {int(uac)}).")
        box.import_registry(boot_registry("nt" if nt else "9x",
                                          enable_lua=int(uac)))
        print("\nRunning the example installer silently "
              "(examples/nsis/dorvanix-setup.nsi, built for 64-bit Windows) "
              "...")
        status = box.install()
        print(f"It ended with exit status {status}.")
        if box.values(RUNONCE):
            print("It chose RunOnce: [boot] is as it was,")
            show_boot(box, nt)
            print("and Windows is to start setup once at its next start:")
            show_run_once(box)
            print("\nWindows restarts (wineboot -r) ...")
            seen = hand_back(box, command=(WINEBOOT, "-r"))
            print("Afterwards:")
            show_run_once(box)
            show_boot(box, nt)
        else:
            print("It chose the hand-back and armed it:")
            show_boot(box, nt)
            setup = box.boot_entry(SETUP_KEY) + r"\SETUP.EXE"
            if failure:
                box.path(setup).unlink()
                print(f"{setup}: removed, so the program will not find it")
            else:
                print(f"{setup}: the sample setup program")

            shell = box.boot_entry("shell")
            print(f"\nWindows restarts and starts its shell, {shell} ...")
            seen = hand_back(box, command=(shell,))
            print(f"It ended with exit status {seen.status}.")
            print("\nAfterwards:")
            show_boot(box, nt)

        if seen.launched:
            command_line, how = seen.launched.split("\r\n", 1)
            print(f"\nSetup started, with command line: {command_line}")
            print(f"The sample setup program says: {how}.")
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
        box.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
