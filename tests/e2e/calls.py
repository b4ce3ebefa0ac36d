"""The program's Win32 calls as Wine's relay trace shows them: the lists a
row expects, built from the steps of a hand-back, and how two lists compare
and where they part."""

import difflib

from winebox import EXPLORER


class Any:
    """In a call, a buffer or handle, whose address differs from run to
    run."""

    def __repr__(self):
        return "ANY"


ANY = Any()
INI = r"C:\windows\SYSTEM.INI"


def notice(path: str) -> bytes:
    """The text of the "Setup Error" box for a setup path."""
    return (f'"{path}"\r\r'
            "Unable to locate the Dorvanix 4 Windows Setup program.\r"
            "After Windows restarts, try running Dorvanix's SETUP.EXE\r"
            "program again.\r\r"
            "Press ENTER to restart Windows.").encode("latin-1")


def check_calls(shell_name: str) -> list[tuple]:
    """Whether `shell` names the program."""
    return [("GetWindowsDirectoryA", ANY, 255),
            ("GetPrivateProfileStringA", "Boot", "Shell", "", ANY, 1024, INI),
            ("CharUpperBuffA", shell_name, len(shell_name)),
            ("GetModuleFileNameA", 0, ANY, 261),
            ("CharUpperBuffA", "HANDBACK.EXE", 12)]


# The shell given back, and the setup directory read.
RESTORE_CALLS = [
    ("WritePrivateProfileStringA", "Boot", "Shell", "EXPLORER.EXE", INI),
    ("GetPrivateProfileStringA", "Boot", "DorvanixSetupDir ", "", ANY, 1024,
     INI)]


def launch_calls(setup: str) -> list[tuple]:
    """Setup found, started, and waited for."""
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
    """Setup not found: the notice, then the restart."""
    return [("FindFirstFileA", setup, ANY),
            ("MessageBoxA", 0, notice(setup).decode("latin-1"), "Setup Error",
             16)] + RESTART_CALLS


def same_argument(actual, expected) -> bool:
    if isinstance(expected, int):  # a 32-bit argument in a 64-bit register
        return isinstance(actual, int) and actual & 0xFFFFFFFF == expected
    return expected is ANY or actual == expected


def same_call(actual: tuple, expected: tuple) -> bool:
    return len(actual) == len(expected) and all(
        map(same_argument, actual, expected))


def same_calls(actual: list, expected: list) -> bool:
    return len(actual) == len(expected) and all(map(same_call, actual,
                                                    expected))


def as_expected(call: tuple, expected: list) -> tuple:
    """A call shown in the terms of the expected call most like it (the one
    it matches, or else the first of its name and number of arguments):
    each argument that matches as the expected one, ANY and all."""
    like = next((e for e in expected if same_call(call, e)), None) or next(
        (e for e in expected if e[:1] == call[:1] and len(e) == len(call)),
        call)
    return tuple(e if same_argument(a, e) else a for a, e in zip(call, like))


def difference(expected: list, actual: list, shown=None) -> str:
    r"""Where two lists part, as a diff (- expected, + got) with a line each
    around. With `shown` (such as as_expected), each item got is shown as
    shown(item, expected), so that only what differs is marked:

    >>> print(difference(
    ...     [("GetWindowsDirectoryA", ANY, 255),
    ...      ("FindFirstFileA", "C:\\S.EXE", ANY), ("FindClose", ANY),
    ...      ("WaitMessage",), ("ExitWindowsEx", 2, 0)],
    ...     [("GetWindowsDirectoryA", 0x21F350, 255),
    ...      ("FindFirstFileA", "C:\\T.EXE", 0x21F240), ("FindClose", 0x5A),
    ...      ("ExitWindowsEx", 0xDEAD00000002, 0)], as_expected))
    --- expected
    +++ got
    @@ -1,5 +1,4 @@
     ('GetWindowsDirectoryA', ANY, 255)
    -('FindFirstFileA', 'C:\\S.EXE', ANY)
    +('FindFirstFileA', 'C:\\T.EXE', ANY)
     ('FindClose', ANY)
    -('WaitMessage',)
     ('ExitWindowsEx', 2, 0)
    """
    if shown:
        actual = [shown(item, expected) for item in actual]
    return "\n".join(difflib.unified_diff(
        list(map(repr, expected)), list(map(repr, actual)), "expected", "got",
        n=1, lineterm=""))
