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

import json
import re
import shutil
import subprocess
import sys
from dataclasses import dataclass
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))
from docblocks import SCRIPTS, copy_scripts  # noqa: E402
from winebox import LOADER32, Unavailable, runnable  # noqa: E402

SKIPPED = 77
# The example SETUP.EXE as docs/arming.md builds it, for each width.
COMPILERS = {"amd64": "x86_64-w64-mingw32-g++", "x86": "i686-w64-mingw32-g++"}
BUILD_SETUP = ["-Os", "-s", "-static", "-mwindows"]
WAKE = "if (byHandBack) WakeHandBack(parent.th32ProcessID);"


# try-installer's layouts: the title of each row, and the way the include
# files take there, and why.
LAYOUTS = {"9x": ("95, 98, Me ([boot] in the file)", "hand-back",
                  "UAC is off"),
           "nt": ("XP to 11, UAC off", "hand-back", "UAC is off"),
           "uac": ("Vista to 11, UAC on", "RunOnce", "UAC is on"),
           "nt-32": ("32-bit XP to 11, UAC off", "hand-back", "UAC is off")}
# A directory made beforehand that every user may change, as one made at a
# drive's root is on Windows: the include files answer none there. Made
# before each install, the one after the uninstall too.
OPEN_DIR = ("--before", 'mkdir -p "$WINEPREFIX/drive_c/Quillmark" && chmod '
            '777 "$WINEPREFIX/drive_c/Quillmark"', "--add-switches",
            r"/D=C:\Quillmark")


@dataclass
class Case:
    name: str
    installer: str  # which: "example" or "minimal", "nsis" or "inno"
    width: str      # the installer's; an Inno Setup installer is x86
    layouts: tuple = tuple(LAYOUTS)
    uninstaller: str = "clean"
    setup: str = "SETUP"
    setup_width: str | None = None  # SETUP.EXE's, where not the installer's
    options: tuple = ()
    status: int = 0
    expect: tuple = ()  # lines of its output; by default, a passing row
                        # for each layout

    def lines(self) -> tuple:
        """Each layout's rows: the way taken and why, the uninstaller's
        outcome, then, installed again, setup started, and no fault."""
        if self.expect:
            return self.expect
        again = "first" if self.uninstaller == "none listed" else "again"
        return tuple(line for name in self.layouts for line in (
            rf"^{re.escape(LAYOUTS[name][0])}\s+first\s+exit 0\s+"
            rf"{LAYOUTS[name][1]}\b.*\s{self.uninstaller}\s.*\sok$",
            rf"^{re.escape(LAYOUTS[name][0])}\s+{again}\s+exit 0\s+"
            rf"{LAYOUTS[name][1]}\b.*\sstarted\b.*\sok$",
            rf"^why {name}, first: {LAYOUTS[name][1]}: "
            rf"{LAYOUTS[name][2]}$"))


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
                 r"started had ended: SETUP\.EXE did not wake it\. .* must "
                 r"post a message to the program that started it.*"
                 r"arming\.md#a-setupexe-that-never-wakes-it\)$",
                 r"^warning nt: C:\\Quillmark lies outside Program Files")),
    # Laid out as Windows has it: C:\Quillmark open to every user. Nothing
    # is armed, installed again either, and the rows say why and what it
    # means for the user.
    Case("open-dir", "example-nsis", "amd64", ("nt",), options=OPEN_DIR,
         expect=(r"^XP to 11, UAC off\s+first\s+exit 0\s+none \[1\]\s+clean"
                 r"\s.*\sok$",
                 r"^XP to 11, UAC off\s+again\s+exit 0\s+none \[1\]\s.*"
                 r"\snot started\s.*\sok$",
                 r"^\[1\] nothing is armed: setup will not resume by itself "
                 r".*arming\.md#who-may-change-what-the-next-logon-starts\)$",
                 *(rf"^why nt, {install}: none: C:\\Quillmark is open to "
                   r"others: S-1-1-0 may change it \(rights 0x001301FF\)$"
                   for install in ("first", "again")))),
    Case("example-nsis-x86", "example-nsis", "x86"),
    Case("minimal-nsis-x86", "minimal-nsis", "x86", ("nt", "nt-32"),
         "none listed"),
    # A 32-bit installer for both widths around a 64-bit SETUP.EXE, which
    # 32-bit Windows cannot start: HANDBACK.EXE shows its notice.
    Case("setup-64-on-32", "minimal-nsis", "x86", ("nt-32",), "none listed",
         setup_width="amd64", status=1,
         expect=(r"^32-bit XP to 11, UAC off .* not started\s+still running"
                 r"\s.*\snone: the notice\s+FAIL$",
                 r"^FAIL nt-32: armed \(hand-back\), but no SETUP\.EXE started "
                 r"after the restart: .*SETUP\.EXE is a 64-bit program, which "
                 r"32-bit Windows cannot start",
                 r"^FAIL nt-32: HANDBACK\.EXE still running, with no SETUP\.EXE "
                 r"started: it shows the user its notice")),
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
    for name, setup_width in {(c.setup, c.setup_width or c.width)
                              for c in cases}:
        setup = out / f"{name}-{setup_width}.EXE"
        if built:
            setup.symlink_to(built[list(sources).index(name)])
        else:
            run([COMPILERS[setup_width], *BUILD_SETUP, "-o", setup,
                 sources[name]])
    copy_scripts(top, out)
    (out / "tool").write_text(str(next(
        path for path in (top / "try-installer", top / "tools/try-installer")
        if path.exists()).resolve()))
    try:
        runnable(LOADER32, "Inno Setup's compiler is a 32-bit program")
        why_not = None
    except Unavailable as why:
        why_not = str(why)
    for case in cases:
        target = ["-XTarget amd64-unicode"] if case.width == "amd64" else []
        setup = out / f"{case.setup}-{case.setup_width or case.width}.EXE"
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


def iscc(out: Path, top: Path, archive: Path, case: Case, setup: Path):
    """An Inno Setup case, compiled as docs/arming.md says: by try-installer
    build, which runs Inno Setup's compiler in a Windows of its own."""
    script = (top / "examples/inno/dorvanix-setup.iss"
              if case.installer == "example-inno" else out / SCRIPTS["iss"])
    run([(out / "tool").read_text(), "build", script, "/Q",
         f"/DHANDBACK={archive}", f"/DHANDBACK_X86={archive}/x86/handback.exe",
         f"/DHANDBACK_X64={archive}/x64/handback.exe",
         f"/DHandBackCheckX86={archive}/x86/handback-check.dll",
         f"/DSETUP={setup}", f"/O{out}", f"/F{case.name}"])


def check(out: Path, name: str) -> int:
    case = next(case for case in CASES if case.name == name)
    unavailable = out / f"{name}.unavailable"
    if unavailable.exists():
        print(f"skipped: {unavailable.read_text()}")
        return SKIPPED
    layouts = [option for layout in case.layouts
               for option in ("--layout", layout)]
    verdict = out / f"{name}.json"
    verdict.unlink(missing_ok=True)
    done = subprocess.run(
        [(out / "tool").read_text(), "--windows", out / "windows", *layouts,
         "--json", verdict, *case.options, out / f"{name}.exe"],
        capture_output=True, text=True)
    print(done.stdout + done.stderr, end="")
    if done.returncode == SKIPPED:
        print("skipped: " + re.findall(r"not tried: (.*)", done.stdout)[-1])
        return SKIPPED
    faults = [f"try-installer exited with {done.returncode}, not "
              f"{case.status}"] if done.returncode != case.status else []
    faults += [f"no line matches {pattern!r}" for pattern in case.lines()
               if not re.search(pattern, done.stdout, re.M)]
    # The same verdict for a script: a row for each of the table's.
    try:
        parsed = json.loads(verdict.read_text())
        table = re.findall(r"^(?:\S.*?)\s+(?:first|again)\s", done.stdout,
                           re.M)
        if parsed["result"] != ("ok" if case.status == 0 else "FAIL") or \
                len(parsed["rows"]) != len(table):
            faults.append(f"--json: result {parsed['result']}, "
                          f"{len(parsed['rows'])} rows for {len(table)}")
    except (OSError, ValueError, KeyError) as error:
        faults.append(f"--json wrote no verdict: {error}")
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
