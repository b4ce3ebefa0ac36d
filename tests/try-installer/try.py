#!/usr/bin/env python3
"""try-installer on installers an author builds around a release: the
examples, the minimal installers of docs/include.md, and one whose SETUP.EXE
never wakes HANDBACK.EXE.

    try.py list [amd64|x86]          the cases, or those of installers of
                                     that width
    try.py OUT prepare TOP X86 X64 CHECK_X86 CHECK_X64
           [amd64|x86 SETUP NO-WAKE]
                                     build each case's installer in OUT, or
                                     of one width, around these setups
    try.py OUT run CASE              run try-installer on it and check

TOP is an unpacked release archive, or a checkout: its include/, examples/,
docs/include.md and try-installer (tools/ in a checkout) are used, with the
builds X86 and X64 (a file that is not a program where a build is missing)
and the check's DLLs CHECK_X86 and CHECK_X64.
SETUP.EXE is the example of examples/setup/, built as docs/arming.md says,
and the other is that example with its wake-up taken out, unless they come
built. Every run copies its
scratch Windows from a fresh one kept in OUT/windows from run to run. A
case whose installer this machine cannot build or run (a 32-bit one, where
no 32-bit program runs) exits with 77, skipped.
"""

import re
import shutil
import subprocess
import sys
from dataclasses import dataclass
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))
from docblocks import SCRIPTS, copy_scripts  # noqa: E402
from wine32 import command  # noqa: E402
from winebox import (ISCC, LOADER32, Unavailable, runnable,  # noqa: E402
                     windows)

SKIPPED = 77
# The example SETUP.EXE as docs/arming.md builds it, for each width.
COMPILERS = {"amd64": "x86_64-w64-mingw32-g++", "x86": "i686-w64-mingw32-g++"}
BUILD_SETUP = ["-Os", "-s", "-static", "-mwindows"]
WAKE = "if (byHandBack) WakeHandBack(parent.th32ProcessID);"


# try-installer's layouts: the title of each row, and the way the include
# files take there.
LAYOUTS = {"9x": ("95, 98, Me ([boot] in the file)", "hand-back"),
           "nt": ("XP to 11, UAC off", "hand-back"),
           "uac": ("Vista to 11, UAC on", "RunOnce"),
           "nt-32": ("32-bit XP to 11, UAC off", "hand-back")}


@dataclass
class Case:
    name: str
    installer: str  # which: "example" or "minimal", "nsis" or "inno"
    width: str      # the installer's; an Inno Setup installer is x86
    layouts: tuple = tuple(LAYOUTS)
    uninstaller: str = "clean"
    setup: str = "SETUP"
    options: tuple = ()
    status: int = 0
    expect: tuple = ()  # lines of its output; by default, a passing row
                        # for each layout

    def lines(self) -> tuple:
        """Each layout's row: the way taken, the uninstaller's outcome,
        setup started, and no fault."""
        return self.expect or tuple(
            rf"^{re.escape(title)}\s+exit 0\s+{way}\s+{self.uninstaller}\s+"
            r"started \[\d\].*\sok$"
            for title, way in map(LAYOUTS.get, self.layouts))


# An example tries every layout; a minimal installer, the common one (and
# 32-bit Windows), which keeps the test command's time.
CASES = [
    Case("example-nsis-amd64", "example-nsis", "amd64", ("9x", "nt", "uac")),
    # It lists no uninstaller.
    Case("minimal-nsis-amd64", "minimal-nsis", "amd64", ("nt",),
         "none listed"),
    # HANDBACK.EXE waits for a message that never comes; installed under
    # C:\, where Windows would have answered none.
    Case("no-wake", "minimal-nsis", "amd64", ("nt",), setup="NO-WAKE",
         options=("--switches", r"/S /D=C:\Quillmark"), status=1,
         expect=(r"^XP to 11, UAC off .* still waiting .* FAIL$",
                 r"^FAIL nt: HANDBACK\.EXE still waiting, \d+ s after all it "
                 r"started had ended",
                 r"^warning nt: C:\\Quillmark lies outside Program Files")),
    Case("example-nsis-x86", "example-nsis", "x86"),
    Case("minimal-nsis-x86", "minimal-nsis", "x86", ("nt", "nt-32"),
         "none listed"),
    Case("example-inno", "example-inno", "x86"),
    Case("minimal-inno", "minimal-inno", "x86", ("nt", "nt-32")),
]


def run(command: list, cwd=None, env=None):
    """Runs a compiler; where it fails or warns, stops with what it said."""
    done = subprocess.run([str(part) for part in command], cwd=cwd, env=env,
                          capture_output=True, text=True, errors="replace")
    if done.returncode != 0 or "warning" in done.stdout.lower():
        sys.exit(f"{' '.join(map(str, command))}:\n{done.stdout}"
                 f"{done.stderr}")


def prepare(out: Path, top: Path, builds: list[Path], width=None,
            built=()):
    # The fresh Windows in OUT/windows stays while Wine is the same.
    out.mkdir(parents=True, exist_ok=True)
    for made in out.iterdir():
        if made.name != "windows":
            shutil.rmtree(made) if made.is_dir() and not made.is_symlink() \
                else made.unlink()
    # The archive's layout, which the minimal installers name; include/ a
    # copy, as the include files find the check's DLLs beside it.
    archive = out / "handback"
    shutil.copytree(top / "include", archive / "include")
    x86, x64, check_x86, check_x64 = builds
    for folder, build, check in (("x86", x86, check_x86),
                                 ("x64", x64, check_x64)):
        (archive / folder).mkdir()
        (archive / folder / "handback.exe").symlink_to(build)
        (archive / folder / "handback-check.dll").symlink_to(check)
    source = (top / "examples/setup/resumed-setup.cpp").read_text()
    if WAKE not in source:
        sys.exit(f"resumed-setup.cpp no longer reads {WAKE!r}")
    (out / "no-wake.cpp").write_text(source.replace(WAKE, ""))
    cases = [case for case in CASES if width in (None, case.width)]
    sources = {"SETUP": top / "examples/setup/resumed-setup.cpp",
               "NO-WAKE": out / "no-wake.cpp"}
    for name, setup_width in {(c.setup, c.width) for c in cases}:
        setup = out / f"{name}-{setup_width}.EXE"
        if built:
            setup.symlink_to(built[list(sources).index(name)])
        else:
            run([COMPILERS[setup_width], *BUILD_SETUP, "-o", setup,
                 sources[name]])
    copy_scripts(top, out)
    try:
        runnable(LOADER32, "Inno Setup's compiler is a 32-bit program")
        why_not = None
    except Unavailable as why:
        why_not = str(why)
    for case in cases:
        target = ["-XTarget amd64-unicode"] if case.width == "amd64" else []
        setup = out / f"{case.setup}-{case.width}.EXE"
        built = out / f"{case.name}.exe"
        if case.installer == "example-nsis":
            run(["makensis", "-V2", "-WX", *target, f"-DHANDBACK_X86={x86}",
                 f"-DHANDBACK_X64={x64}", f"-DSETUP={setup}",
                 f"-DHANDBACK_CHECK_X86={check_x86}",
                 f"-DHANDBACK_CHECK_X64={check_x64}",
                 f"-DOUTFILE={built}",
                 top / "examples/nsis/dorvanix-setup.nsi"])
        elif case.installer == "minimal-nsis":
            run(["makensis", "-V2", "-WX", *target,
                 f"-DHANDBACK={archive}", f"-DSETUP={setup}",
                 SCRIPTS["nsis"]], cwd=out)
            (out / f"my-setup-{case.width}.exe").rename(built)
        elif why_not:
            (out / f"{case.name}.unavailable").write_text(why_not)
        else:
            iscc(out, top, archive, case, setup)
    (out / "tool").write_text(str(next(
        path for path in (top / "try-installer", top / "tools/try-installer")
        if path.exists()).resolve()))


def iscc(out: Path, top: Path, archive: Path, case: Case, setup: Path):
    """An Inno Setup case, compiled by ISCC.exe in a Windows of its own."""
    prefix = out / "iscc"
    env = {"WINEPREFIX": str(prefix), "WINEDEBUG": "-all", "PATH": "/usr/bin",
           "WINEDLLOVERRIDES": "mscoree,mshtml,winemenubuilder.exe="}
    if not prefix.exists():
        run(command([LOADER32, "wineboot", "-i"]), env=env)
    if case.installer == "example-inno":
        script = top / "examples/inno/dorvanix-setup.iss"
        defines = [f"/I{windows(top / 'include')}",
                   f"/DHANDBACK_X86={windows(archive / 'x86/handback.exe')}",
                   f"/DHANDBACK_X64={windows(archive / 'x64/handback.exe')}",
                   "/DHandBackCheckX86="
                   + windows(archive / "x86/handback-check.dll")]
    else:
        script = out / SCRIPTS["iss"]
        defines = [f"/I{windows(archive / 'include')}",
                   f"/DHANDBACK={windows(archive)}"]
    run([*command([LOADER32, ISCC]), "/Q", *defines, f"/DSETUP={windows(setup)}",
         f"/O{windows(out)}", f"/F{case.name}", windows(script)], env=env)


def check(out: Path, name: str) -> int:
    case = next(case for case in CASES if case.name == name)
    unavailable = out / f"{name}.unavailable"
    if unavailable.exists():
        print(f"skipped: {unavailable.read_text()}")
        return SKIPPED
    layouts = [option for layout in case.layouts
               for option in ("--layout", layout)]
    done = subprocess.run(
        [(out / "tool").read_text(), "--windows", out / "windows", *layouts,
         *case.options, out / f"{name}.exe"],
        capture_output=True, text=True)
    print(done.stdout + done.stderr, end="")
    if done.returncode == SKIPPED:
        print("skipped: " + re.findall(r"not tried: (.*)", done.stdout)[-1])
        return SKIPPED
    faults = [f"try-installer exited with {done.returncode}, not "
              f"{case.status}"] if done.returncode != case.status else []
    faults += [f"no line matches {pattern!r}" for pattern in case.lines()
               if not re.search(pattern, done.stdout, re.M)]
    for fault in faults:
        print(f"FAULT {name}: {fault}")
    return 1 if faults else 0


def main(argv) -> int:
    if argv[1] == "list":
        print(";".join(case.name for case in CASES
                       if argv[2:] in ([], [case.width])))
        return 0
    out, command = Path(argv[1]).resolve(), argv[2]
    if command == "prepare":
        top, *builds = (Path(path).resolve() for path in argv[3:8])
        width, *built = argv[8:] or [None]
        prepare(out, top, builds, width,
                [Path(path).resolve() for path in built])
        return 0
    return check(out, argv[3])


if __name__ == "__main__":
    sys.exit(main(sys.argv))
