#!/usr/bin/env python3
"""Takes a picture of the real "Setup Error" notice under Wine and Xvfb.

    picture.py BUILD_DIR WORK_DIR OUT.png
"""

import subprocess
import sys
from pathlib import Path

from winebox import REG, WineBox
from wineregistry import SETUP_KEY
from winerun import hand_back


def main(argv):
    build, root, out = Path(argv[1]), Path(argv[2]), Path(argv[3]).resolve()
    box = WineBox(root)
    box.create(build / "handback.exe", build / "tests/e2e/SetupStandIn.exe",
               build / "tests/e2e/Observer.exe",
               (build / "x86/handback-check.dll", build / "handback-check.dll"))
    try:
        # Armed by the example installer, and its setup gone since.
        box.install()
        box.path(box.boot_entry(SETUP_KEY) + r"\SETUP.EXE").unlink()
        # With no window manager on the display, Wine draws the frame and
        # caption itself only when its windows are not managed.
        box.wine(REG, "add", r"HKCU\Software\Wine\X11 Driver", "/v",
                 "Managed", "/d", "N", "/f")

        def snap(box):
            subprocess.run(["import", "-display", box.display, "-window",
                            "Setup Error", str(out)], env=box.env, check=True)

        seen = hand_back(box, hold_notice=True,
                         on_notice=snap, command=(box.boot_entry("shell"),))
    finally:
        box.stop()
    if not seen.notices or not out.exists():
        print("no notice was shown", file=sys.stderr)
        return 1
    print(f"wrote {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
