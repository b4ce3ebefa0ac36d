#!/usr/bin/env python3
"""End-to-end hand-backs of the real handback.exe under Wine: runs the rows
of rows.py and checks them.

    e2e.py list ARCH                       the rows for a Windows of that
                                           width (win32, win64)
    e2e.py ROOT prepare HANDBACK SETUP OBSERVER SIGNED RESUMED
           CHECK_X86 CHECK_X64
           [EXAMPLES OTHER]                make the Windows every row starts
                                           from, with the example installers
                                           of EXAMPLES around the check's
                                           DLLs (the Inno Setup one also
                                           bundling OTHER, the other width's
                                           build); kept while these inputs
                                           are unchanged. SIGNED (a
                                           signed copy of HANDBACK) and
                                           RESUMED (the example SETUP.EXE)
                                           are put in place by the rows that
                                           run them.
    e2e.py ROOT run NAME                   run one row and check it
    e2e.py ROOT wine PROGRAM [ARG...]      run a Windows program in the copy
                                           a row ran in, as it left it
    e2e.py ROOT finish                     stop the copies of that Windows

ROOT is a directory under build/ that holds the prepared Windows
(ROOT/pristine) and a copy of it for each "wine" resource of workers.json
(ROOT/0, ROOT/1, ...), so that CTest, given that file, runs as many rows at
once, each in the copy it hands out (CTEST_RESOURCE_GROUP_0_WINE); run by
hand, a row runs in ROOT/0. Every row starts from the prepared Windows:
its copy is restored first. Where this machine cannot run the build under
Wine, prepare and run exit with 77, which CTest counts as skipped.
"""

import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

TOP = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(TOP / "tools"))
from calls import (RESTART_CALLS, as_expected, difference,  # noqa: E402
                   notice, same_calls)
from given import path_of  # noqa: E402
from rows import (FILE, INNO, INSTALLED_ROOT, NSIS32, NT,  # noqa: E402
                  NT_WOW, ROWS, Row, Uninstall)
from winebox import (CODE_PAGES, EXPLORER, INNO_LOG, PROGRAM,  # noqa: E402
                     REG, WINEBOOT, Hung, Unavailable, WineBox, handed_out,
                     read)
from wineregistry import (RUNONCE, SETUP_KEY, SYSTEM_INI,  # noqa: E402
                          WINLOGON, WOW_BOOT, boot_registry, entries,
                          in_32bit_view)
from winerun import PROGRAM_CALLS, hand_back, program_calls  # noqa: E402
from wine32 import cached_route  # noqa: E402

# A second setup directory, never recorded: its SETUP.EXE must never run.
OTHER_DIR = r"C:\PRODUCT\OTHER"
SKIPPED = 77


# --- arming ----------------------------------------------------------------

def boot_section(shell, setup_dir, code_page="latin-1") -> bytes:
    """A [boot] section of the file as an installer leaves it, before Wine's
    own sections, in the bytes of a code page; an entry that is None is left
    out."""
    if shell is None and setup_dir is None:
        return b""
    lines = ["[boot]", "system.drv=system.drv"]
    if shell is not None:
        lines.append(f"shell={shell}")
    if setup_dir is not None:
        lines.append(f"DorvanixSetupDir={setup_dir}")
    lines.append("drivers=mmsystem.dll")
    return ("\r\n".join(lines) + "\r\n").encode(code_page)


def arm_registry(box: WineBox, row: Row):
    by_hand = (None, None) if row.installer else (row.shell, row.setup_dir)
    box.import_registry(boot_registry(row.layout.value, *by_hand,
                                      row.enable_lua, row.windows))


def arm_by_hand(box: WineBox, row: Row):
    """Writes system.ini with what of [boot] the layout keeps in the file,
    and lays out the setup directories."""
    code_page = CODE_PAGES[row.locale]
    boot = {FILE: boot_section(row.shell, row.setup_dir, code_page),
            NT: boot_section(None, row.setup_dir, code_page),
            NT_WOW: b""}[row.layout]
    box.path(SYSTEM_INI).write_bytes(boot + box.stock_system_ini)
    row.setup.lay_out(box)
    box.put(path_of(OTHER_DIR), box.sample_setup)


def armed_by_installer(row: Row) -> tuple:
    """[boot] after the installer, as Windows reads it: armed, or left as it
    was where setup resumes through RunOnce."""
    if row.rebooted:
        return ("explorer.exe", None)
    return (row.install_dir + r"\HANDBACK.EXE", row.install_dir + r"\Setup")


def boot(box: WineBox) -> tuple:
    """The two entries of [boot] as Windows reads them."""
    return box.boot_entries("shell", SETUP_KEY)


# --- running ---------------------------------------------------------------

def run_once(box: WineBox) -> list[str]:
    return list(box.values(RUNONCE).values())


def armed_in_32bit_view(box: WineBox) -> list[str]:
    """What of either way a 64-bit Windows' 32-bit registry view holds, in
    which the include files never arm anything."""
    found = [f"RunOnce: {command}"
             for command in box.values(in_32bit_view(RUNONCE)).values()]
    shell = box.values(in_32bit_view(WINLOGON)).get("shell", "explorer.exe")
    if shell.lower() != "explorer.exe":
        found.append(f"Winlogon's Shell: {shell}")
    setup_dir = box.values(in_32bit_view(WOW_BOOT)).get(SETUP_KEY.lower())
    if setup_dir is not None:
        found.append(f"WOW\\boot's {SETUP_KEY}: {setup_dir}")
    return found


def install(box: WineBox, row: Row, installed: dict):
    """Runs the row's installer silently, as a product's would run; notes
    in `installed` what it did."""
    where = ([("/DIR=" if row.installer == INNO else "/D=") + row.install_dir]
             if row.install_dir != INSTALLED_ROOT else [])  # NSIS: /D= last
    installed["installer's exit status"] = box.install(row.installer.value,
                                                       *where)
    installed["RunOnce after the installer"] = run_once(box)
    if not row.armed and box.env["WINEARCH"] == "win64":
        installed["armed in the 32-bit view"] = armed_in_32bit_view(box)
    if row.why and row.installer == INNO:
        log = read(box.path(INNO_LOG), b"").decode("utf-8", "replace")
        installed["why"] = next(iter(re.findall(
            r"HandBackWay: (.*?)\r?$", log, re.M)), None)
    elif row.why:  # the NSIS example keeps both with its listing
        listed = box.listing(row.installer.value)
        installed["why"] = (f"{listed.get('handbackway')}: "
                            f"{listed.get('handbackwhy')}")


def uninstall(box: WineBox, row: Row, installed: dict):
    listed = box.listing(row.installer.value)
    installed["installed at"] = listed.get("installlocation")
    installed["uninstaller's exit status"] = box.uninstall(listed)
    installed["RunOnce after the uninstaller"] = run_once(box)


def run(box: WineBox, row: Row, installed: dict) -> list[str]:
    """Runs a row in a Windows as it was prepared; fills `installed` with
    what the installer and the uninstaller did."""
    arm_registry(box, row)
    if not row.installer:
        arm_by_hand(box, row)
    ini = box.path(SYSTEM_INI)
    box.env["LC_ALL"] = row.locale
    traced = row.calls is not None or row.restart
    trace = box.root / f"{row.name}.relay" if traced else None
    laid_out = []
    try:
        for given in row.given:
            given.lay_out(box)
            laid_out.append(given)
        before = read(ini)
        if row.installer:
            install(box, row, installed)
            if not row.rebooted:  # what it armed, the program must give back
                before = read(ini)
        # Where [boot] may live elsewhere than the file, it is read as Windows
        # reads it, and the program started is the shell Windows would start.
        watch = row.installer or row.layout != FILE
        boot_before = boot(box) if watch else None
        # Armed as it should be, or left as it was; anything else is not
        # started, as it may not end.
        if row.installer and boot_before != armed_by_installer(row):
            return [f"[boot] after the installer: expected "
                    f"{armed_by_installer(row)!r}, got {boot_before!r}"]
        if row.other_shell:
            box.wine(REG, "add", WINLOGON, "/v", "Shell", "/d",
                     row.other_shell, "/f")
        if row.uninstall == Uninstall.BEFORE:
            uninstall(box, row, installed)
        command = ((WINEBOOT, "-r")
                   if row.rebooted or row.uninstall == Uninstall.BEFORE
                   else (boot_before[0] if row.installer else row.program,))
        seen = hand_back(box, command=command, trace=trace)
        if row.uninstall == Uninstall.AFTER:
            uninstall(box, row, installed)
            seen.system_ini = read(ini)
    except Hung as hung:
        return [str(hung)]
    finally:
        for given in reversed(laid_out):
            given.undo(box)
    print(f"{row.name}: exit {seen.status}; setup's record {seen.launched!r};"
          f" notice {'shown' if seen.notices else 'none'}; "
          f"restart {'asked' if seen.restart else 'not asked'}")
    calls = program_calls(trace, box.path(PROGRAM)) if trace else None
    if row.installer:
        installed["RunOnce afterwards"] = run_once(box)
        installed["HANDBACK.EXE afterwards"] = box.path(
            row.install_dir + r"\HANDBACK.EXE").exists()
    faults = check(row, before, seen, calls, boot_before,
                   boot(box) if watch else None, installed)
    # In a 32-bit Windows the observer is a 32-bit program: it runs the way
    # this machine runs them.
    if box.env["WINEARCH"] == "win32" and seen.emulated != (
            cached_route() == "emulated"):
        faults.append(f"32-bit programs run {cached_route()} here, but the "
                      f"observer ran {'' if seen.emulated else 'not '}"
                      "emulated")
    return faults


# --- checking --------------------------------------------------------------

def ansi(text: str, locale: str) -> str:
    """Text as an ANSI program reads it under the locale, a character for
    each byte: ? for each character its code page cannot hold."""
    return text.encode(CODE_PAGES[locale], "replace").decode("latin-1")


def listed(value) -> list:
    """A profile's lines, or a list as it is, to compare line by line."""
    if isinstance(value, bytes):
        return value.decode("latin-1").splitlines(keepends=True)
    return value if value is not None else [None]


def check(row: Row, before: bytes | None, seen, calls,
          boot_before=None, boot_after=None, installed=None) -> list[str]:
    faults = []

    def expect(what, actual, expected):
        if actual == expected:
            return
        if isinstance(expected, (bytes, list)):
            faults.append(f"{what} (- expected, + got):\n"
                          + difference(listed(expected), listed(actual)))
        else:
            faults.append(f"{what}: expected {expected!r}, got {actual!r}")

    if row.installer:
        command = '"' + path_of(row.install_dir + r"\Setup") + '"'
        wanted = {"installer's exit status": row.installer_status,
                  "RunOnce after the installer": [command] if row.rebooted
                  and row.armed and not row.installer_status else [],
                  "RunOnce afterwards": []}
        if row.uninstall:
            wanted |= {"uninstaller's exit status": 0,
                       "RunOnce after the uninstaller": [],
                       "HANDBACK.EXE afterwards": False}
        if not row.armed and "armed in the 32-bit view" in installed:
            wanted["armed in the 32-bit view"] = []
        for what, value in wanted.items():
            expect(what, installed.get(what), value)
        if row.why and not (installed.get("why") or "").startswith(
                "none: " + row.why):
            faults.append(f"the installer's reason: expected 'none: {row.why}"
                          f"...', got {installed.get('why')!r}")
    expect("exit status", seen.status, 0)
    if boot_before is not None:
        shell, setup_dir = boot_before
        expect("[boot] afterwards", boot_after,
               (row.other_shell or ("EXPLORER.EXE" if row.restored
                                    else shell),
                None if row.uninstall else setup_dir))
    if row.restored and row.layout == FILE:
        after = seen.system_ini or b""
        # Uninstalled, the directory's entry is gone too.
        want = [(sec, key, "EXPLORER.EXE" if (sec, key) == ("[boot]", "shell")
                 else value) for sec, key, value in entries(before)
                if not (row.uninstall and key == SETUP_KEY.strip().lower())]
        expect("system.ini entries", entries(after), want)
        expect("line ends", after.count(b"\n"), after.count(b"\r\n"))
    else:
        expect("system.ini bytes", seen.system_ini, before)
    # Started once, with the path alone, quoted, and no parameters; the
    # program then waits for the message setup sends it. Explorer's record is
    # its command line alone. Both are in the code page's bytes.
    started = ("started by wineboot.exe" if row.rebooted
               else "woke the program that started it")
    record = (f'"{row.launched}"\r\n{started}' if row.launched else "") + (
        f'"{EXPLORER}"' if row.explorer else "")
    # An ANSI program records it: under code page 1252, 日本 comes out as ??.
    expect("record of what started", seen.launched,
           ansi(record, row.locale) or None)
    expect("notice text", seen.notices,
           notice(row.notice) if row.notice else None)
    expect("restart asked", seen.restart,
           "QUERYENDSESSION\nENDSESSION TRUE\n" if row.restart else None)
    # Asked for last, with the privilege enabled just before.
    if row.restart and not same_calls(calls[-4:], RESTART_CALLS):
        faults.append("no restart asked with the privilege enabled; the "
                      "last calls (- expected, + got):\n"
                      + difference(RESTART_CALLS, calls[-4:], as_expected))
    if row.calls is not None and not same_calls(calls, row.calls):
        faults.append("Win32 calls (- expected, + got):\n"
                      + difference(row.calls, calls, as_expected))
    return faults


def what_happened(installed: dict) -> str:
    """For a failing installer row: how its installer and uninstaller ended
    and where the product went."""
    return "; ".join(f"{what} {installed[what]!r}" for what in (
        "installer's exit status", "installed at",
        "uninstaller's exit status") if what in installed)


def run_row(root: Path, name: str) -> int:
    """Runs a row in the copy CTest handed out, restored first."""
    pristine = root / "pristine"
    box = handed_out(root)
    row = next(row for row in ROWS if row.name == name)
    # This machine may run neither the build nor a 32-bit installer.
    for reason in [root / "unavailable.txt", {
            INNO: box.inno_unavailable,
            NSIS32: box.nsis32_unavailable}.get(row.installer)]:
        if reason and reason.exists():
            print(f"skipped: {reason.read_text()}")
            return SKIPPED
    if not (pristine / "made-from.txt").exists():
        print(f"FAULT {row.name}: {pristine} is not prepared (e2e.py "
              "ROOT prepare, the test e2e.prepare)")
        return 1
    # Whatever ran in this copy before, the row starts from the prepared
    # Windows.
    changes = box.restore()
    faults = [f"starts from a Windows other than the prepared one, in "
              f"{len(changes)} paths: " + "; ".join(changes[:8])
              ] if changes else []
    installed = {}
    try:
        faults = faults or run(box, row, installed)
    except subprocess.TimeoutExpired as hung:  # an installer, reg, wineboot
        faults = [str(hung)]
    except RuntimeError as failed:  # a step of the harness: it says why
        faults = [str(failed)]
    if faults and installed and "installed at" not in installed:
        installed["installed at"] = box.listing(
            row.installer.value).get("installlocation")
    context = f" ({what_happened(installed)})" if installed else ""
    for fault in faults:
        print(f"FAULT {row.name}{context}: {fault}")
    return 1 if faults else 0


# --- the prepared Windows and its copies -----------------------------------

# What the prepared Windows is made from, but the files named on the command
# line: it is made again when any of them changes.
MADE_FROM = [TOP / "include", TOP / "tools/winebox.py",
             TOP / "tools/winerun.py",
             TOP / "tools/innosetup/package-lock.json"]
WORKERS = [resource["id"] for resource in json.loads(
    (Path(__file__).parent / "workers.json").read_text())["local"][0]["wine"]]


def made_from(files: list[Path], examples: Path) -> str:
    """A digest of everything the prepared Windows is made from, Wine
    included."""
    digest = hashlib.sha256(subprocess.run(
        ["wine", "--version"], capture_output=True).stdout
        + cached_route().encode())
    for top in [*files, examples / "nsis", examples / "inno", *MADE_FROM]:
        for path in sorted([top] if top.is_file() else top.rglob("*")):
            if path.is_file():
                digest.update(path.name.encode() + b"\0" + path.read_bytes())
    return digest.hexdigest()


def finish(root: Path):
    """Stops every copy under root, of workers.json's or left by a run that
    was killed: their processes and displays end, and they are unmounted."""
    copies = {root / worker for worker in WORKERS} | {
        path for path in root.glob("*") if path.name != "pristine"
        and path.is_dir()}
    for copy in sorted(copies):
        WineBox(copy, over=root / "pristine").stop()


def prepare(root: Path, files: list[Path], examples: Path | None) -> int:
    """Makes the Windows every row starts from, unless the one made last is
    made from the same files and unchanged."""
    finish(root)
    pristine = WineBox(root / "pristine")
    stamp = pristine.root / "made-from.txt"
    handback, setup, observer, signed, resumed, *checks = files[:7]
    other = files[7:]
    wanted = made_from([handback, setup, observer,
                        observer.with_name("RegValues.exe"), *checks, *other],
                       examples or TOP / "examples")
    if read(stamp) == wanted.encode() and not pristine.changes():
        print(f"{pristine.root}: as made from these files")
    else:
        shutil.rmtree(root, ignore_errors=True)
        try:
            pristine.create(handback, setup, observer, tuple(checks),
                            *([examples] + other if examples else []))
        except Unavailable as why:
            (root / "unavailable.txt").write_text(str(why))
            print(f"skipped: {why}")
            return SKIPPED
        # The relay trace shows the program's own calls only.
        pristine.wine(REG, "add", r"HKCU\Software\Wine\Debug", "/v",
                      "RelayInclude", "/d", ";".join(PROGRAM_CALLS), "/f")
        pristine.freeze()
        stamp.write_text(wanted)
    # Built or signed anew by a test run; the row that runs each puts it in
    # place.
    shutil.copyfile(signed, pristine.root / "signed.exe")
    shutil.copyfile(resumed, pristine.root / "resumed-setup.exe")
    return 0


def wine(root: Path, command: list[str]) -> int:
    """Runs a Windows program in the copy a row ran in, as the row left it,
    with the row's environment (Wine's messages as WINEDEBUG asks)."""
    box = handed_out(root)
    if not box.prefix.is_mount():
        print(f"{box.root} is not running: run a row in it first "
              "(e2e.py ROOT run NAME)")
        return 1
    env = dict(box.env, WINEDEBUG=os.environ.get("WINEDEBUG", "-all"))
    return subprocess.run(box.command(*command), env=env).returncode


def main(argv):
    if argv[1] == "list":
        print(";".join(row.name for row in ROWS
                       if row.only in (None, argv[2])))
        return 0
    root, command = Path(argv[1]).resolve(), argv[2]
    if command == "finish":
        finish(root)
        return 0
    if command == "prepare":
        files = [Path(p) for p in argv[3:10] + argv[11:12]]
        return prepare(root, files, Path(argv[10]) if argv[10:] else None)
    if command == "wine":
        return wine(root, argv[3:])
    return run_row(root, argv[3])


if __name__ == "__main__":
    sys.exit(main(sys.argv))
