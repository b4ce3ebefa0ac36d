#!/usr/bin/env python3
"""End-to-end hand-backs of the real handback.exe under Wine.

    e2e.py list ARCH                       the rows for a Windows of that
                                           width (win32, win64)
    e2e.py ROOT prepare HANDBACK SETUP OBSERVER SIGNED RESUMED
           [EXAMPLES OTHER]                make the Windows every row starts
                                           from, with the example installers
                                           of EXAMPLES (the Inno Setup one
                                           also bundling OTHER, the other
                                           width's build); kept while these
                                           inputs are unchanged. SIGNED (a
                                           signed copy of HANDBACK) and
                                           RESUMED (the example SETUP.EXE)
                                           are put in place by the rows that
                                           run them.
    e2e.py ROOT run NAME                   run one row and check it
    e2e.py ROOT finish                     stop the copies of that Windows

ROOT is a directory under build/ that holds the prepared Windows
(ROOT/pristine) and a copy of it for each "wine" resource of workers.json
(ROOT/0, ROOT/1, ...), so that CTest, given that file, runs as many rows at
once, each in the copy it hands out (CTEST_RESOURCE_GROUP_0_WINE); run by
hand, a row runs in ROOT/0. Every row starts from the prepared Windows:
its copy is restored first. Where this machine cannot run the build under
Wine, prepare and run exit with 77, which CTest counts as skipped.
"""

import difflib
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
from dataclasses import dataclass
from enum import Enum
from pathlib import Path

TOP = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(TOP / "tools"))
from winebox import (EXPLORER, INNO_LOG, LOCALE, PROGRAM,  # noqa: E402
                     REG, WINEBOOT, Hung, Unavailable, WineBox, handed_out,
                     read)
from wineregistry import (RUNONCE, SETUP_KEY, SYSTEM_INI,  # noqa: E402
                          WINLOGON, WOW_BOOT, boot_registry, entries)
from winerun import PROGRAM_CALLS, hand_back, program_calls  # noqa: E402

SETUP_DIR = r"C:\PRODUCT\INSTALL"
SPACED_DIR = r"C:\Program Files\Dorvanix 4\Setup Disk"
OTHER_DIR = r"C:\PRODUCT\OTHER"
# Where the example installer puts the product's setup, and a signed copy of
# the program.
INSTALLED_ROOT = r"C:\Program Files\Dorvanix 4"
INSTALLED_DIR = INSTALLED_ROOT + r"\Setup"
# Install directories an ANSI program reads back changed (日本 under code page
# 1252), or too long (under 260 characters, but 306 bytes for HANDBACK.EXE's
# path under 932, and at most 85 of these characters fit a Linux name).
NON_ANSI_ROOT = r"C:\Dorvanix日本"
# Install directories a user who is not trusted may change: one in a
# directory every user may change, one made beforehand by another user.
SHARED_PARENT = r"C:\Apps"
SQUATTED_ROOT = r"C:\Dorvanix"
OTHER_UID = 12345
DBCS_LONG_ROOT = "C:\\Dorvanix\\" + "日本" * 35 + "\\" + "日本" * 35
SIGNED = r"C:\SIGNED\HANDBACK.EXE"
SKIPPED = 77
# The ANSI code page of Wine's processes under each locale.
CODE_PAGES = {LOCALE: "cp1252", "ja_JP.UTF-8": "cp932", "zh_CN.UTF-8": "gbk"}


def notice(path: str) -> bytes:
    """The text of the "Setup Error" box for a setup path."""
    return (f'"{path}"\r\r'
            "Unable to locate the Dorvanix 4 Windows Setup program.\r"
            "After Windows restarts, try running Dorvanix's SETUP.EXE\r"
            "program again.\r\r"
            "Press ENTER to restart Windows.").encode("latin-1")


def armed(shell, setup_dir, code_page="latin-1") -> bytes:
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


class Any:
    """In a call, a buffer or handle, whose address differs from run to
    run."""

    def __repr__(self):
        return "ANY"


# The program's Win32 calls as a relay trace shows them.
ANY = Any()
INI = r"C:\windows\SYSTEM.INI"


def check_calls(shell_name: str) -> list[tuple]:
    return [("GetWindowsDirectoryA", ANY, 255),
            ("GetPrivateProfileStringA", "Boot", "Shell", "", ANY, 1024, INI),
            ("CharUpperBuffA", shell_name, len(shell_name)),
            ("GetModuleFileNameA", 0, ANY, 261),
            ("CharUpperBuffA", "HANDBACK.EXE", 12)]


RESTORE_CALLS = [
    ("WritePrivateProfileStringA", "Boot", "Shell", "EXPLORER.EXE", INI),
    ("GetPrivateProfileStringA", "Boot", "DorvanixSetupDir ", "", ANY, 1024,
     INI)]


def launch_calls(setup: str) -> list[tuple]:
    return [("FindFirstFileA", setup, ANY), ("FindClose", ANY),
            ("FileTimeToLocalFileTime", ANY, ANY),
            ("FileTimeToDosDateTime", ANY, ANY, ANY),
            ("ShellExecuteA", 0, "open", setup, "", "", 1), ("WaitMessage",)]


# The shutdown privilege enabled (of the process' own token, the pseudo
# handle -1), then the restart asked for.
RESTART_CALLS = [("OpenProcessToken", 0xFFFFFFFF, 0x28, ANY),
                 ("LookupPrivilegeValueA", 0, "SeShutdownPrivilege", ANY),
                 ("AdjustTokenPrivileges", ANY, 0, ANY, 0, 0, 0),
                 ("ExitWindowsEx", 2, 0)]
EXPLORER_CALLS = [("GetWindowsDirectoryA", ANY, 255),
                  ("ShellExecuteA", 0, "open", EXPLORER, "", "", 1)]


def notice_calls(setup: str) -> list[tuple]:
    return [("FindFirstFileA", setup, ANY),
            ("MessageBoxA", 0, notice(setup).decode("latin-1"), "Setup Error",
             16)] + RESTART_CALLS


def same_call(actual: tuple, expected: tuple) -> bool:
    def same(a, e):
        if isinstance(e, int):  # a 32-bit argument in a 64-bit register
            return isinstance(a, int) and a & 0xFFFFFFFF == e
        return e is ANY or a == e
    return len(actual) == len(expected) and all(map(same, actual, expected))


def same_calls(actual: list, expected: list) -> bool:
    return len(actual) == len(expected) and all(map(same_call, actual,
                                                    expected))


class Layout(Enum):
    """Where [boot] lives."""
    FILE = "9x"        # in the file, as on Windows 95, 98 and Me
    NT = "nt"          # the NT mapping: shell in Winlogon's value, the rest
                       # in the file
    NT_WOW = "nt-wow"  # the mapping with a default, which sends the rest
                       # to WOW\boot


class Installer(Enum):
    """The example installers, as e2e.prepare builds them."""
    NSIS = "nsis"      # of the Windows' own width
    NSIS32 = "nsis32"  # 32-bit, as it ships, in a 64-bit Windows
    INNO = "inno"


class Setup(Enum):
    """What the recorded directory's SETUP.EXE is."""
    PROGRAM = "program"
    MISSING = "missing"
    DIRECTORY = "directory"
    DATED_1975 = "dated-1975"  # a program, dated before DOS dates begin
    TEXT = "text"              # not a program
    EXAMPLE = "example"        # the example of what a product's SETUP.EXE
                               # does, in place of the stand-in


class Uninstall(Enum):
    """When the product is removed."""
    BEFORE = "before the restart"
    AFTER = "after the hand-back"


FILE, NT, NT_WOW = Layout
NSIS, NSIS32, INNO = Installer
PROGRAM_SETUP, MISSING, DIRECTORY, DATED_1975, TEXT, EXAMPLE = Setup
BEFORE, AFTER = Uninstall


@dataclass
class Scenario:
    name: str
    shell: str | None = r"c:\windows\handback.exe"  # the armed entries;
    setup_dir: str | None = SETUP_DIR            # None leaves one out
    layout: Layout = FILE
    installer: Installer | None = None  # armed by an example installer
                                        # instead, and started as the shell
                                        # Windows would start
    install_dir: str = INSTALLED_ROOT  # where the installer is told to install
    only: str | None = None  # run in this Windows only (win64)
    enable_lua: int | None = 0   # UAC's policy value; None: missing
    windows: str | None = None   # the version Wine reports; None: 7
    installer_status: int = 0
    armed: bool = True       # the installer arms the hand-back or RunOnce;
                             # otherwise nothing (its answer: none)
    why: str | None = None   # why, as Inno Setup's log says it
    shared: str | None = None    # a directory made beforehand, which every
                                 # user may change (mode 0777)
    squatted: str | None = None  # one made beforehand by another user
    rebooted: bool = False   # the installer arms no shell: Windows restarts
                             # (wineboot -r, which runs RunOnce)
    uninstall: Uninstall | None = None
    other_shell: str | None = None  # another product's, armed meanwhile
    program: str = PROGRAM   # otherwise, the program started
    setup: Setup = PROGRAM_SETUP
    setup_at: str = SETUP_DIR
    restored: bool = True    # Shell names Explorer afterwards; otherwise
                             # [boot] is left as it was
    launched: str | None = None  # the path setup was started from
    notice: str | None = None    # the path the notice names
    restart: bool = False
    refuse_restart: bool = False  # Windows refuses the restart request
    explorer: bool = False       # Explorer is started for the session
    locale: str = LOCALE         # Wine's, which sets its code page
    no_ini: bool = False         # there is no system.ini at all
    immutable: bool = False      # the file cannot be written
    calls: list | None = None    # every Win32 call the program makes


def path_of(directory):
    return directory.rstrip("\\") + r"\SETUP.EXE"


def ansi(text: str, locale: str) -> str:
    """Text as an ANSI program reads it under the locale, a character for
    each byte: ? for each character its code page cannot hold."""
    return text.encode(CODE_PAGES[locale], "replace").decode("latin-1")


SCENARIOS = [
    Scenario("launched", launched=path_of(SETUP_DIR),
             calls=check_calls("handback.exe") + RESTORE_CALLS
             + launch_calls(path_of(SETUP_DIR))),
    Scenario("drive-relative-shell", shell="C:HANDBACK.EXE",
             launched=path_of(SETUP_DIR)),
    Scenario("trailing-backslash", setup_dir=SETUP_DIR + "\\",
             launched=path_of(SETUP_DIR)),
    Scenario("directory-with-spaces", setup_dir=SPACED_DIR,
             setup_at=SPACED_DIR, launched=path_of(SPACED_DIR)),
    Scenario("setup-missing", setup=MISSING,
             notice=path_of(SETUP_DIR), restart=True,
             calls=check_calls("handback.exe") + RESTORE_CALLS
             + notice_calls(path_of(SETUP_DIR))),
    Scenario("setup-is-a-directory", setup=DIRECTORY,
             notice=path_of(SETUP_DIR), restart=True),
    Scenario("setup-dated-1975", setup=DATED_1975,
             notice=path_of(SETUP_DIR), restart=True),
    Scenario("setup-not-a-program", setup=TEXT,
             notice=path_of(SETUP_DIR), restart=True),
    Scenario("setup-dir-empty", setup_dir="", restart=True,
             calls=check_calls("handback.exe") + RESTORE_CALLS
             + RESTART_CALLS),
    # Without Explorer the session would have no shell.
    Scenario("restart-refused", setup=MISSING, notice=path_of(SETUP_DIR),
             refuse_restart=True, explorer=True,
             calls=check_calls("handback.exe") + RESTORE_CALLS
             + notice_calls(path_of(SETUP_DIR)) + EXPLORER_CALLS),
    Scenario("setup-dir-missing", setup_dir=None, restart=True),
    Scenario("shell-names-another", shell=r"C:\PRODUCT\INSTALL.EXE",
             restored=False, calls=check_calls("INSTALL.EXE")),
    Scenario("shell-with-arguments", shell=r"C:\TOOLS\HANDBACK.EXE /x",
             restored=False),
    Scenario("no-boot-section", shell=None, setup_dir=None, restored=False),
    Scenario("no-system-ini", restored=False, no_ini=True),
    Scenario("write-refused", restored=False, immutable=True, explorer=True,
             calls=check_calls("handback.exe") + RESTORE_CALLS[:1]
             + EXPLORER_CALLS),
    # In a double-byte code page, a directory ending in a character whose
    # second byte is 0x5C (a backslash in ASCII): 表 in 932, 乗 in 936.
    Scenario("double-byte-932", locale="ja_JP.UTF-8",
             setup_dir=SETUP_DIR + "表", setup_at=SETUP_DIR + "表",
             launched=path_of(SETUP_DIR + "表")),
    Scenario("double-byte-936", locale="zh_CN.UTF-8",
             setup_dir=SETUP_DIR + "乗", setup_at=SETUP_DIR + "乗",
             launched=path_of(SETUP_DIR + "乗")),
    Scenario("signed-launched", shell=SIGNED, program=SIGNED,
             launched=path_of(SETUP_DIR)),
    # The example SETUP.EXE wakes the program, which ends, and at its own end
    # starts Explorer, as the session would otherwise have none. The program
    # makes every call of a launch, its WaitMessage last.
    Scenario("example-setup", setup=EXAMPLE, explorer=True,
             calls=check_calls("handback.exe") + RESTORE_CALLS
             + launch_calls(path_of(SETUP_DIR))),
    # Armed by the example installer, on each family's layout of [boot].
    Scenario("installer-9x", installer=NSIS,
             launched=path_of(INSTALLED_DIR)),
    Scenario("installer-nt", installer=NSIS, layout=NT,
             launched=path_of(INSTALLED_DIR)),
    Scenario("installer-nt-wow", installer=NSIS, layout=NT_WOW,
             launched=path_of(INSTALLED_DIR)),
    # With UAC on, setup resumes through RunOnce and [boot] is left alone.
    Scenario("installer-uac", installer=NSIS, layout=NT_WOW, enable_lua=1,
             rebooted=True, restored=False, launched=path_of(INSTALLED_DIR)),
    Scenario("installer-uac-default", installer=NSIS, layout=NT,
             enable_lua=None, rebooted=True, restored=False,
             launched=path_of(INSTALLED_DIR)),
    # Before Vista there is no UAC, whatever the policy value says.
    Scenario("installer-xp", installer=NSIS, layout=NT, enable_lua=1,
             windows="winxp", launched=path_of(INSTALLED_DIR)),
    # The directory cannot be recorded in the file, so the shell, which the
    # registry would take, is not armed either.
    Scenario("installer-write-refused", installer=NSIS, layout=NT,
             immutable=True, installer_status=2, rebooted=True,
             restored=False),
    # The Inno Setup example: a 32-bit installer on every Windows.
    Scenario("inno-nt", installer=INNO, layout=NT, only="win64",
             launched=path_of(INSTALLED_DIR)),
    Scenario("inno-nt-wow", installer=INNO, layout=NT_WOW,
             launched=path_of(INSTALLED_DIR)),
    Scenario("inno-uac", installer=INNO, layout=NT_WOW, enable_lua=1,
             only="win64", rebooted=True, restored=False,
             launched=path_of(INSTALLED_DIR)),
    # The 32-bit NSIS installer arms the native view, for the x64 build.
    Scenario("installer32-on-x64", installer=NSIS32, layout=NT_WOW,
             only="win64", launched=path_of(INSTALLED_DIR)),
    # Paths the program could not read back: setup resumes through RunOnce.
    Scenario("installer-non-ansi-dir", installer=NSIS, layout=NT,
             only="win64", install_dir=NON_ANSI_ROOT,
             rebooted=True, restored=False,
             launched=path_of(NON_ANSI_ROOT + r"\Setup")),
    Scenario("inno-non-ansi-dir", installer=INNO, layout=NT,
             only="win64", install_dir=NON_ANSI_ROOT,
             rebooted=True, restored=False,
             launched=path_of(NON_ANSI_ROOT + r"\Setup")),
    Scenario("installer-dbcs-long-dir", installer=NSIS, layout=NT,
             only="win64", install_dir=DBCS_LONG_ROOT, locale="ja_JP.UTF-8",
             rebooted=True, restored=False,
             launched=path_of(DBCS_LONG_ROOT + r"\Setup")),
    # Uninstalled: what is still armed is undone, and nothing else.
    Scenario("installer-uninstalled", installer=NSIS, layout=NT_WOW,
             uninstall=BEFORE),
    # In the file, [boot] stays, with shell=EXPLORER.EXE, where the installer
    # added it.
    Scenario("installer-9x-uninstalled", installer=NSIS, uninstall=BEFORE),
    Scenario("installer-uac-uninstalled", installer=NSIS, layout=NT,
             enable_lua=1, rebooted=True, restored=False, uninstall=BEFORE),
    Scenario("installer-uninstalled-after-hand-back", installer=NSIS,
             layout=NT_WOW, uninstall=AFTER,
             launched=path_of(INSTALLED_DIR)),
    Scenario("installer-uninstalled-other-shell", installer=NSIS,
             layout=NT_WOW, uninstall=BEFORE,
             other_shell=r"C:\Program Files\Other\SHELL.EXE"),
    Scenario("inno-uninstalled", installer=INNO, layout=NT_WOW,
             only="win64", uninstall=BEFORE),
    Scenario("inno-uninstalled-other-shell", installer=INNO,
             layout=NT_WOW, only="win64", uninstall=BEFORE,
             other_shell=r"C:\Program Files\Other\SHELL.EXE"),
    # Where a user who is not trusted may change what the next logon starts,
    # the installers arm neither way; on Windows 9x, which keeps no accounts
    # apart, they arm as ever.
    Scenario("installer-shared-parent", installer=NSIS, layout=NT,
             shared=SHARED_PARENT, install_dir=SHARED_PARENT + r"\Dorvanix",
             armed=False, rebooted=True, restored=False),
    Scenario("installer-squatted-dir", installer=NSIS, layout=NT,
             squatted=SQUATTED_ROOT, install_dir=SQUATTED_ROOT, armed=False,
             rebooted=True, restored=False),
    Scenario("installer-uac-shared-parent", installer=NSIS, layout=NT,
             enable_lua=1, shared=SHARED_PARENT,
             install_dir=SHARED_PARENT + r"\Dorvanix", armed=False,
             rebooted=True, restored=False),
    Scenario("inno-shared-parent", installer=INNO, layout=NT_WOW,
             shared=SHARED_PARENT, install_dir=SHARED_PARENT + r"\Dorvanix",
             armed=False, rebooted=True, restored=False,
             why=r"C:\Apps is open to others: S-1-1-0 may change it "
             "(rights 0x001301FF)"),
    Scenario("inno-squatted-dir", installer=INNO, layout=NT_WOW,
             only="win64", squatted=SQUATTED_ROOT, install_dir=SQUATTED_ROOT,
             armed=False, rebooted=True, restored=False,
             why=r"C:\Dorvanix is open to others: its owner is S-1-"),
    Scenario("installer-9x-shared-parent", installer=NSIS, only="win32",
             windows="win98", shared=SHARED_PARENT,
             install_dir=SHARED_PARENT + r"\Dorvanix",
             launched=path_of(SHARED_PARENT + r"\Dorvanix\Setup")),
    # [boot] mapped to the registry, armed there as the installer arms it.
    Scenario("nt-launched", layout=NT, launched=path_of(SETUP_DIR)),
    Scenario("nt-wow-launched", layout=NT_WOW, launched=path_of(SETUP_DIR)),
    Scenario("nt-setup-missing", layout=NT, setup=MISSING,
             notice=path_of(SETUP_DIR), restart=True),
    Scenario("nt-wow-setup-missing", layout=NT_WOW, setup=MISSING,
             notice=path_of(SETUP_DIR), restart=True),
    Scenario("nt-no-match", layout=NT_WOW, shell=r"C:\PRODUCT\INSTALL.EXE",
             restored=False),
]


def prepare_files(box: WineBox, s: Scenario) -> bytes | None:
    """Lays out system.ini and the setup directory, or leaves that to the
    example installer; gives the profile."""
    ini = box.path(SYSTEM_INI)
    if s.shared:
        box.path(s.shared).mkdir()
        box.path(s.shared).chmod(0o777)
    if s.squatted:
        box.path(s.squatted).mkdir()
        os.chown(box.path(s.squatted), OTHER_UID, -1)
    if s.installer:
        return read(ini)
    ini.unlink()
    if not s.no_ini:
        code_page = CODE_PAGES[s.locale]
        boot = {FILE: armed(s.shell, s.setup_dir, code_page),
                NT: armed(None, s.setup_dir, code_page),
                NT_WOW: b""}[s.layout]
        ini.write_bytes(boot + box.stock_system_ini)

    setup = box.path(path_of(s.setup_at))
    setup.parent.mkdir(parents=True, exist_ok=True)
    if s.setup in (PROGRAM_SETUP, DATED_1975):
        setup.write_bytes(box.sample_setup)
    if s.setup == DATED_1975:
        subprocess.run(["touch", "-d", "1975-01-01", str(setup)], check=True)
    if s.setup == DIRECTORY:
        setup.mkdir()
    if s.setup == TEXT:
        setup.write_bytes(b"This is not a program.\r\n")
    if s.setup == EXAMPLE:
        setup.write_bytes((box.made / "resumed-setup.exe").read_bytes())
    if s.program == SIGNED:
        box.put(SIGNED, (box.made / "signed.exe").read_bytes())
    # A second, unrecorded setup must never be the one that runs.
    box.put(path_of(OTHER_DIR), box.sample_setup)
    return read(ini)


def arm_registry(box: WineBox, s: Scenario):
    armed_here = (None, None) if s.installer else (s.shell, s.setup_dir)
    box.import_registry(boot_registry(s.layout.value, *armed_here,
                                      s.enable_lua, s.windows))


def boot(box: WineBox) -> tuple:
    """The two entries of [boot] as Windows reads them."""
    return box.boot_entries("shell", SETUP_KEY)


def difference(expected, actual) -> str:
    """The lines in which two profiles, or two lists, differ."""
    def lines(value):
        if isinstance(value, bytes):
            value = value.decode("latin-1").splitlines(keepends=True)
        return list(map(repr, value if value is not None else [None]))
    return "\n".join(difflib.unified_diff(lines(expected), lines(actual),
                                          "expected", "got", lineterm=""))


def check(s: Scenario, before: bytes | None, seen, calls,
          boot_before=None, boot_after=None, installed=None) -> list[str]:
    faults = []

    def expect(what, actual, expected):
        if actual == expected:
            return
        if isinstance(expected, (bytes, list)):
            faults.append(f"{what}:\n{difference(expected, actual)}")
        else:
            faults.append(f"{what}: expected {expected!r}, got {actual!r}")

    if s.installer:
        command = '"' + path_of(s.install_dir + r"\Setup") + '"'
        wanted = {"installer's exit status": s.installer_status,
                  "RunOnce after the installer": [command] if s.rebooted
                  and s.armed and not s.installer_status else [],
                  "RunOnce afterwards": []}
        if s.uninstall:
            wanted |= {"uninstaller's exit status": 0,
                       "RunOnce after the uninstaller": [],
                       "HANDBACK.EXE afterwards": False}
        if not s.armed and "armed in the 32-bit view" in installed:
            wanted["armed in the 32-bit view"] = []
        for what, value in wanted.items():
            expect(what, installed.get(what), value)
        if s.why and not (installed.get("why") or "").startswith(
                "none: " + s.why):
            faults.append(f"the installer's log: expected 'none: {s.why}"
                          f"...', got {installed.get('why')!r}")
    expect("exit status", seen.status, 0)
    if boot_before is not None:
        shell, setup_dir = boot_before
        expect("[boot] afterwards", boot_after,
               (s.other_shell or ("EXPLORER.EXE" if s.restored else shell),
                None if s.uninstall else setup_dir))
    if s.restored and s.layout == FILE:
        after = seen.system_ini or b""
        # Uninstalled, the directory's entry is gone too.
        want = [(sec, key, "EXPLORER.EXE" if (sec, key) == ("[boot]", "shell")
                 else value) for sec, key, value in entries(before)
                if not (s.uninstall and key == SETUP_KEY.strip().lower())]
        expect("system.ini entries", entries(after), want)
        expect("line ends", after.count(b"\n"), after.count(b"\r\n"))
    else:
        expect("system.ini bytes", seen.system_ini, before)
    # Started once, with the path alone, quoted, and no parameters; the
    # program then waits for the message setup sends it. Explorer's record is
    # its command line alone. Both are in the code page's bytes.
    started = ("started by wineboot.exe" if s.rebooted
               else "woke the program that started it")
    record = (f'"{s.launched}"\r\n{started}' if s.launched else "") + (
        f'"{EXPLORER}"' if s.explorer else "")
    # An ANSI program records it: under code page 1252, 日本 comes out as ??.
    expect("record of what started", seen.launched,
           ansi(record, s.locale) or None)
    expect("notice text", seen.notices,
           notice(s.notice) if s.notice else None)
    expect("restart asked", seen.restart,
           "QUERYENDSESSION\nENDSESSION TRUE\n" if s.restart else None)
    # Asked for last, with the privilege enabled just before.
    if s.restart and not same_calls(calls[-4:], RESTART_CALLS):
        faults.append("no restart asked with the privilege enabled; the "
                      f"last calls: {calls[-4:]}")
    if s.calls is not None and not same_calls(calls, s.calls):
        faults.append("Win32 calls: expected\n  "
                      + "\n  ".join(map(repr, s.calls)) + "\ngot\n  "
                      + "\n  ".join(map(repr, calls)))
    return faults


def run_once(box: WineBox) -> list[str]:
    return list(box.values(RUNONCE).values())


def in_32bit_view(key: str) -> str:
    return key.replace(r"\Software", r"\Software\Wow6432Node", 1)


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


def uninstall(box: WineBox, s: Scenario, installed: dict):
    listed = box.listing(s.installer.value)
    installed["installed at"] = listed.get("installlocation")
    installed["uninstaller's exit status"] = box.uninstall(listed)
    installed["RunOnce after the uninstaller"] = run_once(box)


def run(box: WineBox, s: Scenario, installed: dict) -> list[str]:
    """Runs a row in a Windows as it was prepared; fills `installed` with
    what the installer and the uninstaller did."""
    arm_registry(box, s)
    before = prepare_files(box, s)
    ini = box.path(SYSTEM_INI)
    if s.immutable:
        subprocess.run(["chattr", "+i", str(ini)], check=True)
    box.env["LC_ALL"] = s.locale
    traced = s.calls is not None or s.restart
    trace = box.root / f"{s.name}.relay" if traced else None
    wineboot = box.path(WINEBOOT)
    try:
        if s.refuse_restart:  # Windows cannot start what ends the session
            wineboot.rename(wineboot.with_name("wineboot.keep"))
            wineboot.write_text("Not a program.")
        if s.installer:
            where = ([("/DIR=" if s.installer == INNO else "/D=")
                      + s.install_dir] if s.install_dir != INSTALLED_ROOT
                     else [])  # NSIS takes /D= last
            installed["installer's exit status"] = box.install(
                s.installer.value, *where)
            installed["RunOnce after the installer"] = run_once(box)
            if not s.armed and box.env["WINEARCH"] == "win64":
                installed["armed in the 32-bit view"] = armed_in_32bit_view(
                    box)
            if s.why:
                log = read(box.path(INNO_LOG), b"").decode("utf-8", "replace")
                installed["why"] = next(iter(re.findall(
                    r"HandBackWay: (.*?)\r?$", log, re.M)), None)
            if not s.rebooted:  # what it armed, the program must give back
                before = read(ini)
        # Where [boot] may live elsewhere than the file, it is read as Windows
        # reads it, and the program started is the shell Windows would start.
        watch = s.installer or s.layout != FILE
        boot_before = boot(box) if watch else None
        if s.installer:
            # Armed as it should be, or left as it was; anything else is not
            # started, as it may not end.
            armed = ((s.install_dir + r"\HANDBACK.EXE",
                      s.install_dir + r"\Setup") if not s.rebooted
                     else ("explorer.exe", None))
            if boot_before != armed:
                return [f"[boot] after the installer: expected {armed!r}, "
                        f"got {boot_before!r}"]
        if s.other_shell:
            box.wine(REG, "add", WINLOGON, "/v", "Shell", "/d",
                     s.other_shell, "/f")
        if s.uninstall == BEFORE:
            uninstall(box, s, installed)
        command = ((WINEBOOT, "-r") if s.rebooted or s.uninstall == BEFORE
                   else (boot_before[0] if s.installer else s.program,))
        seen = hand_back(box, command=command, trace=trace)
        if s.uninstall == AFTER:
            uninstall(box, s, installed)
            seen.system_ini = read(ini)
    except Hung as hung:
        return [str(hung)]
    finally:
        if s.immutable:
            subprocess.run(["chattr", "-i", str(ini)], check=True)
        if s.refuse_restart:
            wineboot.with_name("wineboot.keep").replace(wineboot)
    print(f"{s.name}: exit {seen.status}; setup's record {seen.launched!r}; "
          f"notice {'shown' if seen.notices else 'none'}; "
          f"restart {'asked' if seen.restart else 'not asked'}")
    calls = program_calls(trace, box.path(PROGRAM)) if trace else None
    if s.installer:
        installed["RunOnce afterwards"] = run_once(box)
        installed["HANDBACK.EXE afterwards"] = box.path(
            s.install_dir + r"\HANDBACK.EXE").exists()
    return check(s, before, seen, calls, boot_before,
                 boot(box) if watch else None, installed)


def what_happened(installed: dict) -> str:
    """For a failing installer row: how its installer and uninstaller ended
    and where the product went."""
    return "; ".join(f"{what} {installed[what]!r}" for what in (
        "installer's exit status", "installed at",
        "uninstaller's exit status") if what in installed)


WORKERS = [resource["id"] for resource in json.loads(
    (Path(__file__).parent / "workers.json").read_text())["local"][0]["wine"]]
# What the prepared Windows is made from, but the files named on the command
# line: it is made again when any of them changes.
MADE_FROM = [TOP / "include", TOP / "tools/winebox.py",
             TOP / "tools/winerun.py",
             TOP / "tools/innosetup/package-lock.json"]


def made_from(files: list[Path], examples: Path) -> str:
    """A digest of everything the prepared Windows is made from, Wine
    included."""
    digest = hashlib.sha256(subprocess.run(
        ["wine", "--version"], capture_output=True).stdout)
    for top in [*files, examples / "nsis", examples / "inno", *MADE_FROM]:
        for path in sorted([top] if top.is_file() else top.rglob("*")):
            if path.is_file():
                digest.update(path.name.encode() + b"\0" + path.read_bytes())
    return digest.hexdigest()


def prepare(root: Path, files: list[Path], examples: Path | None) -> int:
    """Makes the Windows every row starts from, unless the one made last is
    made from the same files and unchanged."""
    pristine = WineBox(root / "pristine")
    for worker in WORKERS:
        WineBox(root / worker, over=pristine.root).stop()
    stamp = pristine.root / "made-from.txt"
    handback, setup, observer, signed, resumed, *other = files
    wanted = made_from([handback, setup, observer, *other],
                       examples or TOP / "examples")
    if read(stamp) == wanted.encode() and not pristine.changes():
        print(f"{pristine.root}: as made from these files")
    else:
        shutil.rmtree(root, ignore_errors=True)
        try:
            pristine.create(handback, setup, observer,
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


def main(argv):
    if argv[1] == "list":
        print(";".join(s.name for s in SCENARIOS if s.only in (None, argv[2])))
        return 0
    root, command = Path(argv[1]).resolve(), argv[2]
    pristine = root / "pristine"
    if command == "finish":
        for worker in WORKERS:
            WineBox(root / worker, over=pristine).stop()
        return 0
    if command == "prepare":
        files = [Path(p) for p in argv[3:8] + argv[9:10]]
        return prepare(root, files, Path(argv[8]) if argv[8:] else None)
    box = handed_out(root)
    scenario = next(s for s in SCENARIOS if s.name == argv[3])
    # This machine may run neither the build nor a 32-bit installer.
    for reason in [root / "unavailable.txt", {
            INNO: box.inno_unavailable,
            NSIS32: box.nsis32_unavailable}.get(scenario.installer)]:
        if reason and reason.exists():
            print(f"skipped: {reason.read_text()}")
            return SKIPPED
    if not (pristine / "made-from.txt").exists():
        print(f"FAULT {scenario.name}: {pristine} is not prepared (e2e.py "
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
        faults = faults or run(box, scenario, installed)
    except subprocess.TimeoutExpired as hung:  # an installer, reg, wineboot
        faults = [str(hung)]
    if faults and installed and "installed at" not in installed:
        installed["installed at"] = box.listing(
            scenario.installer.value).get("installlocation")
    context = f" ({what_happened(installed)})" if installed else ""
    for fault in faults:
        print(f"FAULT {scenario.name}{context}: {fault}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
