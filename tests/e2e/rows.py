"""The end-to-end table: one row for each case, each run by e2e.py in a copy
of the same freshly booted Windows under Wine, and checked.

A row says how the Windows is before the program runs (where [boot] lives,
UAC, the version and locale Wine reports, what is laid out in it: given.py)
and how the hand-back is armed: by hand (`shell`, `setup_dir`) or by an
example installer (`installer`, `install_dir`); then what must happen. Its
`name` is its CTest name (e2e.NAME); CTest reads this table each time it
runs. docs/development.md, "Adding a row", has a worked example.
"""

from dataclasses import dataclass
from enum import Enum

from calls import (EXPLORER_CALLS, RESTART_CALLS, RESTORE_CALLS, check_calls,
                   launch_calls, notice_calls)
from given import (BlankTwin, CheckCannotLoad, ExampleSetup, FileByAnother,
                   Given, LinkByAnother, MadeByAnother, NoSetupExe,
                   NoSystemIni, OpenToAll, RestartRefused, SetupDated1975,
                   SetupExe, SetupIsADirectory, SetupNotAProgram, SignedCopy,
                   SystemIniImmutable, path_of)
from winebox import LOCALE, PROGRAM

SETUP_DIR = r"C:\PRODUCT\INSTALL"
SPACED_DIR = r"C:\Program Files\Dorvanix 4\Setup Disk"
# Where the example installer puts the product's setup.
INSTALLED_ROOT = r"C:\Program Files\Dorvanix 4"
INSTALLED_DIR = INSTALLED_ROOT + r"\Setup"
# Install directories an ANSI program reads back changed (日本 under code page
# 1252), or too long (under 260 characters, but 306 bytes for HANDBACK.EXE's
# path under 932, and at most 85 of these characters fit a Linux name).
NON_ANSI_ROOT = r"C:\Dorvanix日本"
DBCS_LONG_ROOT = "C:\\Dorvanix\\" + "日本" * 35 + "\\" + "日本" * 35
# A directory a double-byte code page holds (932), which the program reads
# back: 表's second byte is 0x5C, a backslash in ASCII.
DBCS_ROOT = r"C:\Dorvanix表"
# Install directories a user who is not trusted may change: one in a
# directory every user may change, one made beforehand by another user.
SHARED_PARENT = r"C:\Apps"
SQUATTED_ROOT = r"C:\Dorvanix"
# Links another user owns: an install directory, to a safe directory under
# Program Files, and a directory above one, to Program Files.
LINKED_ROOT, LINK_TARGET = r"C:\Dorvanix", r"C:\Program Files\Dorvanix Target"
LINKED_ANCESTOR = r"C:\Lnk"
# A DLL beside SETUP.EXE, which it would load first, that others may change.
BESIDE_SETUP = INSTALLED_DIR + r"\VERSION.dll"
# A network drive of the prepared Windows (winebox.py).
NETWORK_ROOT = r"N:\Dorvanix"
# Why the installers arm nothing there, as they say it (the start of it).
SHARED_OPEN = (SHARED_PARENT + " is open to others: S-1-1-0 may change it "
               "(rights 0x001301FF)")
SQUATTED_OPEN = SQUATTED_ROOT + " is open to others: its owner is S-1-"
BESIDE_OPEN = BESIDE_SETUP + " is open to others: its owner is S-1-"
# The reason names a path that ends in a blank in quotes.
BLANK_TWIN_OPEN = f'"{BESIDE_SETUP} " is open to others: its owner is S-1-'
NETWORK_NOT_LOCAL = "N: is not a local fixed drive (type 4)"
SIGNED = r"C:\SIGNED\HANDBACK.EXE"
ANOTHER_SHELL = r"C:\Program Files\Other\SHELL.EXE"


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


class Uninstall(Enum):
    """When the product is removed."""
    BEFORE = "before the restart"
    AFTER = "after the hand-back"


@dataclass(frozen=True)
class Row:
    name: str
    only: str | None = None  # run in this Windows only (win32, win64)

    # The Windows.
    layout: Layout = Layout.FILE
    enable_lua: int | None = 0   # UAC's policy value; None: missing
    windows: str | None = None   # the version Wine reports; None: 7
    locale: str = LOCALE         # Wine's, which sets its code page
    given: tuple[Given, ...] = ()  # laid out in it beforehand

    # Armed by hand: the entries of [boot] (None leaves one out), the
    # recorded directory's SETUP.EXE, and the program started as the shell.
    shell: str | None = r"c:\windows\handback.exe"
    setup_dir: str | None = SETUP_DIR
    setup: SetupExe = SetupExe(SETUP_DIR)
    program: str = PROGRAM

    # Or armed by an example installer, and the shell Windows would start
    # started.
    installer: Installer | None = None
    install_dir: str = INSTALLED_ROOT  # where it is told to install
    installer_status: int = 0
    armed: bool = True       # it arms the hand-back or RunOnce; otherwise
                             # nothing (its answer: none)
    why: str | None = None   # why, as the installer keeps it (the start)
    rebooted: bool = False   # it arms no shell: Windows restarts (wineboot
                             # -r, which runs RunOnce)
    other_shell: str | None = None  # another product's, armed meanwhile
    uninstall: Uninstall | None = None

    # What must happen.
    restored: bool = True    # Shell names Explorer afterwards; otherwise
                             # [boot] is left as it was
    launched: str | None = None  # the path setup was started from
    notice: str | None = None    # the path the notice names
    restart: bool = False
    explorer: bool = False       # Explorer is started for the session
    calls: list | None = None    # every Win32 call the program makes


FILE, NT, NT_WOW = Layout.FILE, Layout.NT, Layout.NT_WOW
NSIS, NSIS32, INNO = Installer.NSIS, Installer.NSIS32, Installer.INNO

ROWS = [
    Row("launched", launched=path_of(SETUP_DIR),
        calls=check_calls("handback.exe") + RESTORE_CALLS
        + launch_calls(path_of(SETUP_DIR))),
    Row("drive-relative-shell", shell="C:HANDBACK.EXE",
        launched=path_of(SETUP_DIR)),
    Row("trailing-backslash", setup_dir=SETUP_DIR + "\\",
        launched=path_of(SETUP_DIR)),
    Row("directory-with-spaces", setup_dir=SPACED_DIR,
        setup=SetupExe(SPACED_DIR), launched=path_of(SPACED_DIR)),
    Row("setup-missing", setup=NoSetupExe(SETUP_DIR),
        notice=path_of(SETUP_DIR), restart=True,
        calls=check_calls("handback.exe") + RESTORE_CALLS
        + notice_calls(path_of(SETUP_DIR))),
    Row("setup-is-a-directory", setup=SetupIsADirectory(SETUP_DIR),
        notice=path_of(SETUP_DIR), restart=True),
    Row("setup-dated-1975", setup=SetupDated1975(SETUP_DIR),
        notice=path_of(SETUP_DIR), restart=True),
    Row("setup-not-a-program", setup=SetupNotAProgram(SETUP_DIR),
        notice=path_of(SETUP_DIR), restart=True),
    Row("setup-dir-empty", setup_dir="", restart=True,
        calls=check_calls("handback.exe") + RESTORE_CALLS + RESTART_CALLS),
    # Without Explorer the session would have no shell.
    Row("restart-refused", setup=NoSetupExe(SETUP_DIR),
        given=(RestartRefused(),), notice=path_of(SETUP_DIR), explorer=True,
        calls=check_calls("handback.exe") + RESTORE_CALLS
        + notice_calls(path_of(SETUP_DIR)) + EXPLORER_CALLS),
    Row("setup-dir-missing", setup_dir=None, restart=True),
    Row("shell-names-another", shell=r"C:\PRODUCT\INSTALL.EXE",
        restored=False, calls=check_calls("INSTALL.EXE")),
    Row("shell-with-arguments", shell=r"C:\TOOLS\HANDBACK.EXE /x",
        restored=False),
    Row("no-boot-section", shell=None, setup_dir=None, restored=False),
    Row("no-system-ini", given=(NoSystemIni(),), restored=False),
    Row("write-refused", given=(SystemIniImmutable(),), restored=False,
        explorer=True, calls=check_calls("handback.exe") + RESTORE_CALLS[:1]
        + EXPLORER_CALLS),
    # In a double-byte code page, a directory ending in a character whose
    # second byte is 0x5C (a backslash in ASCII): 表 in 932, 乗 in 936.
    Row("double-byte-932", locale="ja_JP.UTF-8", setup_dir=SETUP_DIR + "表",
        setup=SetupExe(SETUP_DIR + "表"), launched=path_of(SETUP_DIR + "表")),
    Row("double-byte-936", locale="zh_CN.UTF-8", setup_dir=SETUP_DIR + "乗",
        setup=SetupExe(SETUP_DIR + "乗"), launched=path_of(SETUP_DIR + "乗")),
    Row("signed-launched", given=(SignedCopy(SIGNED),), shell=SIGNED,
        program=SIGNED, launched=path_of(SETUP_DIR)),
    # The example SETUP.EXE wakes the program, which ends, and at its own end
    # starts Explorer, as the session would otherwise have none. The program
    # makes every call of a launch, its WaitMessage last.
    Row("example-setup", setup=ExampleSetup(SETUP_DIR), explorer=True,
        calls=check_calls("handback.exe") + RESTORE_CALLS
        + launch_calls(path_of(SETUP_DIR))),
    # Armed by the example installer, on each family's layout of [boot].
    Row("installer-9x", installer=NSIS, launched=path_of(INSTALLED_DIR)),
    Row("installer-nt", installer=NSIS, layout=NT,
        launched=path_of(INSTALLED_DIR)),
    Row("installer-nt-wow", installer=NSIS, layout=NT_WOW,
        launched=path_of(INSTALLED_DIR)),
    # With UAC on, setup resumes through RunOnce and [boot] is left alone.
    Row("installer-uac", installer=NSIS, layout=NT_WOW, enable_lua=1,
        rebooted=True, restored=False, launched=path_of(INSTALLED_DIR)),
    Row("installer-uac-default", installer=NSIS, layout=NT, enable_lua=None,
        rebooted=True, restored=False, launched=path_of(INSTALLED_DIR)),
    # Before Vista there is no UAC, whatever the policy value says.
    Row("installer-xp", installer=NSIS, layout=NT, enable_lua=1,
        windows="winxp", launched=path_of(INSTALLED_DIR)),
    # The directory cannot be recorded in the file, so the shell, which the
    # registry would take, is not armed either.
    Row("installer-write-refused", installer=NSIS, layout=NT,
        given=(SystemIniImmutable(),), installer_status=2, rebooted=True,
        restored=False),
    # The Inno Setup example: a 32-bit installer on every Windows.
    Row("inno-nt", installer=INNO, layout=NT, only="win64",
        launched=path_of(INSTALLED_DIR)),
    Row("inno-nt-wow", installer=INNO, layout=NT_WOW,
        launched=path_of(INSTALLED_DIR)),
    Row("inno-uac", installer=INNO, layout=NT_WOW, enable_lua=1,
        only="win64", rebooted=True, restored=False,
        launched=path_of(INSTALLED_DIR)),
    # The 32-bit NSIS installer arms the native view, for the x64 build.
    Row("installer32-on-x64", installer=NSIS32, layout=NT_WOW, only="win64",
        launched=path_of(INSTALLED_DIR)),
    # Paths the program could not read back: setup resumes through RunOnce.
    Row("installer-non-ansi-dir", installer=NSIS, layout=NT, only="win64",
        install_dir=NON_ANSI_ROOT, rebooted=True, restored=False,
        launched=path_of(NON_ANSI_ROOT + r"\Setup")),
    Row("inno-non-ansi-dir", installer=INNO, layout=NT, only="win64",
        install_dir=NON_ANSI_ROOT, rebooted=True, restored=False,
        launched=path_of(NON_ANSI_ROOT + r"\Setup")),
    # Armed with the paths exactly as the check made them full, with
    # nothing after a double-byte character.
    Row("inno-dbcs-dir", installer=INNO, layout=NT_WOW,
        locale="ja_JP.UTF-8", install_dir=DBCS_ROOT,
        launched=path_of(DBCS_ROOT + r"\Setup")),
    Row("inno-dbcs-dir-uac", installer=INNO, layout=NT_WOW, enable_lua=1,
        only="win64", locale="ja_JP.UTF-8", install_dir=DBCS_ROOT,
        rebooted=True, restored=False,
        launched=path_of(DBCS_ROOT + r"\Setup")),
    Row("installer-dbcs-dir", installer=NSIS, layout=NT,
        locale="ja_JP.UTF-8", install_dir=DBCS_ROOT,
        launched=path_of(DBCS_ROOT + r"\Setup")),
    Row("installer-dbcs-dir-uac", installer=NSIS, layout=NT, enable_lua=1,
        only="win64", locale="ja_JP.UTF-8", install_dir=DBCS_ROOT,
        rebooted=True, restored=False,
        launched=path_of(DBCS_ROOT + r"\Setup")),
    Row("installer-dbcs-long-dir", installer=NSIS, layout=NT, only="win64",
        install_dir=DBCS_LONG_ROOT, locale="ja_JP.UTF-8", rebooted=True,
        restored=False, launched=path_of(DBCS_LONG_ROOT + r"\Setup")),
    # Uninstalled: what is still armed is undone, and nothing else.
    Row("installer-uninstalled", installer=NSIS, layout=NT_WOW,
        uninstall=Uninstall.BEFORE),
    # In the file, [boot] stays, with shell=EXPLORER.EXE, where the installer
    # added it.
    Row("installer-9x-uninstalled", installer=NSIS,
        uninstall=Uninstall.BEFORE),
    Row("installer-uac-uninstalled", installer=NSIS, layout=NT,
        enable_lua=1, rebooted=True, restored=False,
        uninstall=Uninstall.BEFORE),
    Row("installer-uninstalled-after-hand-back", installer=NSIS,
        layout=NT_WOW, uninstall=Uninstall.AFTER,
        launched=path_of(INSTALLED_DIR)),
    Row("installer-uninstalled-other-shell", installer=NSIS, layout=NT_WOW,
        uninstall=Uninstall.BEFORE, other_shell=ANOTHER_SHELL),
    Row("inno-uninstalled", installer=INNO, layout=NT_WOW, only="win64",
        uninstall=Uninstall.BEFORE),
    Row("inno-uninstalled-other-shell", installer=INNO, layout=NT_WOW,
        only="win64", uninstall=Uninstall.BEFORE, other_shell=ANOTHER_SHELL),
    # Where a user who is not trusted may change what the next logon starts,
    # the installers arm neither way; on Windows 9x, which keeps no accounts
    # apart, they arm as ever.
    Row("installer-shared-parent", installer=NSIS, layout=NT,
        given=(OpenToAll(SHARED_PARENT),),
        install_dir=SHARED_PARENT + r"\Dorvanix", armed=False,
        rebooted=True, restored=False, why=SHARED_OPEN),
    Row("installer-squatted-dir", installer=NSIS, layout=NT,
        given=(MadeByAnother(SQUATTED_ROOT),), install_dir=SQUATTED_ROOT,
        armed=False, rebooted=True, restored=False, why=SQUATTED_OPEN),
    Row("installer-uac-shared-parent", installer=NSIS, layout=NT,
        enable_lua=1, given=(OpenToAll(SHARED_PARENT),),
        install_dir=SHARED_PARENT + r"\Dorvanix", armed=False,
        rebooted=True, restored=False, why=SHARED_OPEN),
    Row("inno-shared-parent", installer=INNO, layout=NT_WOW,
        given=(OpenToAll(SHARED_PARENT),),
        install_dir=SHARED_PARENT + r"\Dorvanix", armed=False,
        rebooted=True, restored=False, why=SHARED_OPEN),
    Row("inno-squatted-dir", installer=INNO, layout=NT_WOW, only="win64",
        given=(MadeByAnother(SQUATTED_ROOT),), install_dir=SQUATTED_ROOT,
        armed=False, rebooted=True, restored=False, why=SQUATTED_OPEN),
    # What Windows would really start: a link on the paths, which its owner
    # may point elsewhere after the install; a file beside SETUP.EXE that
    # another user may change; a drive that is not local and fixed.
    Row("installer-linked-dir", installer=NSIS, layout=NT,
        given=(LinkByAnother(LINKED_ROOT, LINK_TARGET),),
        install_dir=LINKED_ROOT, armed=False, rebooted=True, restored=False,
        why=LINKED_ROOT + " is a link"),
    Row("installer-linked-ancestor", installer=NSIS, layout=NT,
        given=(LinkByAnother(LINKED_ANCESTOR, r"C:\Program Files"),),
        install_dir=LINKED_ANCESTOR + r"\Dorvanix", armed=False,
        rebooted=True, restored=False, why=LINKED_ANCESTOR + " is a link"),
    Row("installer-file-beside-setup", installer=NSIS, layout=NT,
        given=(FileByAnother(BESIDE_SETUP),), armed=False, rebooted=True,
        restored=False, why=BESIDE_OPEN),
    # Beside the safe VERSION.dll, a twin whose name ends in a blank, which
    # SETUP.EXE's directory holds as a name of its own: judged by it.
    Row("installer-blank-twin-beside-setup", installer=NSIS, layout=NT,
        given=(BlankTwin(BESIDE_SETUP),), armed=False, rebooted=True,
        restored=False, why=BLANK_TWIN_OPEN),
    Row("installer-network-drive", installer=NSIS, layout=NT,
        install_dir=NETWORK_ROOT, armed=False, rebooted=True,
        restored=False, why=NETWORK_NOT_LOCAL),
    # A check that cannot run counts as a doubt: nothing armed.
    Row("installer-check-cannot-load", installer=NSIS, layout=NT,
        given=(CheckCannotLoad(),), armed=False, rebooted=True,
        restored=False, why="handback-check.dll could not run"),
    Row("inno-linked-dir", installer=INNO, layout=NT, only="win64",
        given=(LinkByAnother(LINKED_ROOT, LINK_TARGET),),
        install_dir=LINKED_ROOT, armed=False, rebooted=True, restored=False,
        why=LINKED_ROOT + " is a link"),
    Row("inno-linked-ancestor", installer=INNO, layout=NT, only="win64",
        given=(LinkByAnother(LINKED_ANCESTOR, r"C:\Program Files"),),
        install_dir=LINKED_ANCESTOR + r"\Dorvanix", armed=False,
        rebooted=True, restored=False, why=LINKED_ANCESTOR + " is a link"),
    Row("inno-file-beside-setup", installer=INNO, layout=NT, only="win64",
        given=(FileByAnother(BESIDE_SETUP),), armed=False, rebooted=True,
        restored=False, why=BESIDE_OPEN),
    Row("inno-blank-twin-beside-setup", installer=INNO, layout=NT,
        only="win64", given=(BlankTwin(BESIDE_SETUP),), armed=False,
        rebooted=True, restored=False, why=BLANK_TWIN_OPEN),
    Row("inno-network-drive", installer=INNO, layout=NT, only="win64",
        install_dir=NETWORK_ROOT, armed=False, rebooted=True,
        restored=False, why=NETWORK_NOT_LOCAL),
    Row("inno-check-cannot-load", installer=INNO, layout=NT, only="win64",
        given=(CheckCannotLoad(),), armed=False, rebooted=True,
        restored=False, why="handback-check.dll could not run"),
    Row("installer-9x-shared-parent", installer=NSIS, only="win32",
        windows="win98", given=(OpenToAll(SHARED_PARENT),),
        install_dir=SHARED_PARENT + r"\Dorvanix",
        launched=path_of(SHARED_PARENT + r"\Dorvanix\Setup")),
    # [boot] mapped to the registry, armed there as the installer arms it.
    Row("nt-launched", layout=NT, launched=path_of(SETUP_DIR)),
    Row("nt-wow-launched", layout=NT_WOW, launched=path_of(SETUP_DIR)),
    Row("nt-setup-missing", layout=NT, setup=NoSetupExe(SETUP_DIR),
        notice=path_of(SETUP_DIR), restart=True),
    Row("nt-wow-setup-missing", layout=NT_WOW, setup=NoSetupExe(SETUP_DIR),
        notice=path_of(SETUP_DIR), restart=True),
    Row("nt-no-match", layout=NT_WOW, shell=r"C:\PRODUCT\INSTALL.EXE",
        restored=False),
]

# A row's name is its test's.
if len({row.name for row in ROWS}) != len(ROWS):
    raise ValueError("rows named alike: " + ", ".join(sorted(
        {row.name for row in ROWS if [r.name for r in ROWS].count(row.name)
         > 1})))
