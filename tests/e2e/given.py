"""What a row lays out in its Windows before anything runs there: the
recorded directory's SETUP.EXE (a row's `setup`), and anything else (its
`given`). Each kind is one class here, and a row names it with its
arguments; the runner calls `lay_out` on each, in the row's copy of the
prepared Windows, after [boot] is armed and before the installer or the
program runs, and `undo` once the row has run (what Linux alone can undo,
such as an immutable file; the copy's next restore throws away the rest).

A new kind: a class with `lay_out(self, box)`, a frozen dataclass when it
takes arguments. `box` is the row's WineBox: `box.path(r"C:\\...")` is the
Linux path of a Windows one, `box.put(path, data)` writes a file, and
`box.wine(program, *args)` runs a Windows program there, Wine's `reg.exe`
(winebox.REG) among them, and `box.boot()` starts that Windows afresh, for
what it reads only as it starts.
"""

import os
import subprocess
from dataclasses import dataclass
from datetime import datetime

from winebox import WINEBOOT, WineBox
from wineregistry import SYSTEM_INI

# A user of this machine who is not the one Wine runs as.
OTHER_UID = 12345


def path_of(directory: str) -> str:
    return directory.rstrip("\\") + r"\SETUP.EXE"


class Given:
    def lay_out(self, box: WineBox):
        raise NotImplementedError

    def undo(self, box: WineBox):
        pass


# --- the recorded directory's SETUP.EXE -----------------------------------

@dataclass(frozen=True)
class SetupExe(Given):
    """The stand-in SETUP.EXE in directory `at`, which records the command
    line it was started with and wakes the program that started it."""
    at: str

    def lay_out(self, box: WineBox):
        setup = box.path(path_of(self.at))
        setup.parent.mkdir(parents=True, exist_ok=True)
        self.make(box, setup)

    def make(self, box: WineBox, setup):
        setup.write_bytes(box.sample_setup)


class NoSetupExe(SetupExe):
    """The directory, without SETUP.EXE."""
    def make(self, box, setup):
        pass


class SetupIsADirectory(SetupExe):
    def make(self, box, setup):
        setup.mkdir()


class SetupDated1975(SetupExe):
    """The stand-in, dated before DOS dates begin (1980)."""
    def make(self, box, setup):
        super().make(box, setup)
        when = datetime(1975, 1, 1).timestamp()
        os.utime(setup, (when, when))


class SetupNotAProgram(SetupExe):
    def make(self, box, setup):
        setup.write_bytes(b"This is not a program.\r\n")


class ExampleSetup(SetupExe):
    """The example of what a product's SETUP.EXE does (examples/setup/), in
    place of the stand-in."""
    def make(self, box, setup):
        setup.write_bytes((box.made / "resumed-setup.exe").read_bytes())


# --- anything else ---------------------------------------------------------

@dataclass(frozen=True)
class CheckCannotLoad(Given):
    """Windows loads no handback-check.dll: Wine is told it is disabled, as
    a DLL an installer carries may fail to load (blocked, damaged)."""
    def lay_out(self, box):
        box.env["WINEDLLOVERRIDES"] += ";handback-check="


@dataclass(frozen=True)
class OpenToAll(Given):
    """A directory made beforehand that every user may change (0777)."""
    path: str

    def lay_out(self, box):
        box.path(self.path).mkdir()
        box.path(self.path).chmod(0o777)


@dataclass(frozen=True)
class MadeByAnother(Given):
    """A directory made beforehand by another user."""
    path: str

    def lay_out(self, box):
        box.path(self.path).mkdir()
        os.chown(box.path(self.path), OTHER_UID, -1)


@dataclass(frozen=True)
class LinkByAnother(Given):
    """A symbolic link at `path`, which Windows sees as a reparse point,
    owned by another user, to the directory `to` (made if need be)."""
    path: str
    to: str

    def lay_out(self, box):
        box.path(self.to).mkdir(parents=True, exist_ok=True)
        link = box.path(self.path)
        link.symlink_to(os.path.relpath(box.path(self.to), link.parent))
        os.chown(link, OTHER_UID, -1, follow_symlinks=False)


@dataclass(frozen=True)
class FileByAnother(Given):
    """A file made beforehand by another user, which every user may change
    (0666)."""
    path: str

    def lay_out(self, box):
        box.put(self.path, b"MZ")
        box.path(self.path).chmod(0o666)
        os.chown(box.path(self.path), OTHER_UID, -1)


@dataclass(frozen=True)
class BlankTwin(Given):
    """A file at `path` that only this user may change, and beside it its
    twin whose name ends in a blank, which a Win32 path cannot name (it
    drops the blank): made by another user, and every user may change it
    (0666)."""
    path: str

    def lay_out(self, box):
        box.put(self.path, b"MZ")
        FileByAnother(self.path + " ").lay_out(box)


@dataclass(frozen=True)
class SignedCopy(Given):
    """The signed copy of the program (tests/footprint/signing.sh) at
    `path`."""
    path: str

    def lay_out(self, box):
        box.put(self.path, (box.made / "signed.exe").read_bytes())


@dataclass(frozen=True)
class NoSystemIni(Given):
    def lay_out(self, box):
        box.path(SYSTEM_INI).unlink()


@dataclass(frozen=True)
class SystemIniImmutable(Given):
    """system.ini cannot be written, even by root (chattr +i)."""
    def lay_out(self, box):
        chattr("+i", box.path(SYSTEM_INI))

    def undo(self, box):
        chattr("-i", box.path(SYSTEM_INI))


@dataclass(frozen=True)
class RestartRefused(Given):
    """Windows refuses a restart: Wine's ExitWindowsEx fails where it cannot
    start wineboot.exe, so a file that is not a program takes its place."""
    def lay_out(self, box):
        wineboot = box.path(WINEBOOT)
        wineboot.rename(wineboot.with_name("wineboot.keep"))
        wineboot.write_text("Not a program.")

    def undo(self, box):
        wineboot = box.path(WINEBOOT)
        wineboot.with_name("wineboot.keep").replace(wineboot)


def chattr(change: str, path):
    subprocess.run(["chattr", change, str(path)], check=True)
