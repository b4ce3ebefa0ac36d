"""Running the real handback.exe in a WineBox, watched from beside it, and
reading the Win32 calls it made from Wine's relay trace."""

import os
import re
import subprocess
from dataclasses import dataclass
from pathlib import Path

from winebox import (OBSERVER, PROGRAM, RECORDS, RUN_TIMEOUT, SYSTEM_INI,
                     Hung, WineBox, image_size, read, wait_for)

# The Win32 calls the program makes; a relay trace shows only these. Not
# CloseHandle, which the C++ runtime also calls at exit, nor GetCurrentProcess,
# which Wine does not trace.
PROGRAM_CALLS = ("GetWindowsDirectoryA", "GetModuleFileNameA", "CharUpperBuffA",
                 "IsDBCSLeadByte", "GetPrivateProfileStringA",
                 "WritePrivateProfileStringA", "FindFirstFileA", "FindClose",
                 "FileTimeToLocalFileTime", "FileTimeToDosDateTime",
                 "ShellExecuteA", "WaitMessage", "MessageBoxA",
                 "OpenProcessToken", "LookupPrivilegeValueA",
                 "AdjustTokenPrivileges", "ExitWindowsEx")


@dataclass
class Observed:
    """What one run of the program did, as seen from outside it."""
    status: int
    system_ini: bytes | None  # None when there is no file
    launched: str | None      # the sample setup program's record: its
                              # command line, and whether it found the
                              # program waiting
    notices: bytes | None     # every "Setup Error" text, one after another
    restart: str | None       # the end-session messages the session got
    emulated: bool = False    # the observer ran under an emulator


def hand_back(box: WineBox, command=(PROGRAM,), hold_notice=False,
              on_notice=None, trace: Path | None = None) -> Observed:
    """Runs the program once with the observer beside it; or another command,
    such as a restart of Windows (wineboot -r) that runs RunOnce.

    The caller has armed the hand-back and laid out the setup directory. With
    hold_notice, a notice stays up until on_notice(box) has returned. With a
    trace file, the program runs under Wine's relay trace.
    """
    records = box.path(RECORDS)
    for name in ("ready", "stop", "hold", "holding", "release", "notice.txt",
                 "restart.txt", "setup-ran.txt"):
        (records / name).unlink(missing_ok=True)
    if hold_notice:
        (records / "hold").touch()

    observer = box.start(OBSERVER)
    if not wait_for((records / "ready").exists, 30):
        raise Hung("the observer did not start within 30 s")
    emulated = Path(os.readlink(f"/proc/{observer.pid}/exe")).name.startswith(
        "qemu-")
    process = box.start(*command, trace=trace, explorer_stand_in=True)
    if hold_notice:
        wait_for(lambda: (records / "holding").exists()
                 or process.poll() is not None, RUN_TIMEOUT)
        if process.poll() is None:
            on_notice(box)
        (records / "release").touch()
    try:
        status = process.wait(RUN_TIMEOUT)
    except subprocess.TimeoutExpired:
        process.kill()
        raise Hung(f"{' '.join(command)} did not end within {RUN_TIMEOUT} s")

    # Whatever it started has done its part, a restart request included, once
    # it is gone: then the records are complete.
    box.settle(but=OBSERVER)
    (records / "stop").touch()
    try:
        observer.wait(30)
    except subprocess.TimeoutExpired:
        observer.kill()

    launched = read(records / "setup-ran.txt")
    restart = read(records / "restart.txt")
    return Observed(
        status=status,
        system_ini=read(box.path(SYSTEM_INI)),
        launched=launched.decode("latin-1") if launched is not None else None,
        notices=read(records / "notice.txt"),
        restart=restart.decode() if restart is not None else None,
        emulated=emulated)


RELAY_CALL = re.compile(r"^([0-9a-f]+):Call [\w.]+?\.(\w+)\((.*)\) "
                        r"ret=([0-9a-f]+)$")
RELAY_ARG = re.compile(r'([0-9a-f]+)(?: "((?:[^"\\]|\\.)*)")?(?:,|$)')
LOADED = re.compile(r'Loaded L"(.*)" at ([0-9a-f]+): native')


def program_calls(trace: Path, image: Path) -> list[tuple]:
    """The calls that the program's own image made, from a relay trace: the
    name, then each argument as its text or its number."""
    lines = trace.read_text("latin-1").splitlines()
    base = next(int(m[2], 16) for m in map(LOADED.search, lines)
                if m and decode(m[1]).upper() == PROGRAM)
    end = base + image_size(image)
    calls, thread = [], None
    for m in filter(None, map(RELAY_CALL.match, lines)):
        if not base <= int(m[4], 16) < end:
            continue
        # Only the program's own thread: children load at the same address.
        thread = thread or m[1]
        if m[1] == thread:
            calls.append((m[2], *(
                decode(a[2]) if a[2] is not None else int(a[1], 16)
                for a in RELAY_ARG.finditer(m[3]) if m[3])))
    return calls


def decode(text: str) -> str:
    return text.encode("latin-1").decode("unicode_escape")
