#!/usr/bin/env python3
"""Who may change what the next logon starts: the check in both include
files, run under Wine on cases of each kind.

    security.py ROOT

In a copy of the Windows that the end-to-end tests prepare in ROOT (see
tests/e2e/e2e.py), builds tests/include/security.nsi (ANSI and Unicode
32-bit, and amd64-unicode in a 64-bit Windows) and security.iss, and runs
each on the same cases: the directory above a path, the rule on security
descriptors written in SDDL, and files laid out in the prefix with Unix
modes and owners, which Wine turns into owners and DACLs. Exits 77 where
this machine cannot run the build's width under Wine; where it runs no
32-bit program, only the amd64 installer runs.
"""

import re
import shutil
import subprocess
import sys
from pathlib import Path

TOP = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(TOP / "tools"))
from winebox import ISCC, WineBox, handed_out, windows  # noqa: E402

TI = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
FA = "0x001F01FF"  # full access

PARENTS = [
    (r"C:\Program Files\Dorvanix 4\HANDBACK.EXE",
     r"C:\Program Files\Dorvanix 4"),
    (r"C:\Program Files", "C:\\"),
    ("C:\\", ""),
    ("C:\\X\\\\Setup", "C:\\X\\"),
    ("C:\\X\\", "C:\\"),
    (r"\\server\share\dir", r"\\server\share"),
    (r"\\server\share", ""),
    ("\\\\server\\share\\", ""),
    ("SETUP.EXE", ""),
]

# strict (1: a file or its own directory; 0: a directory above), the
# descriptor, and why it is open ("" where it is not).
SDDL = [
    # Adding to a directory above is harmless; to its own, not.
    ("1", "O:BAD:(A;;0x6;;;WD)", "S-1-1-0 may change it (rights 0x00000006)"),
    ("0", "O:BAD:(A;;0x6;;;WD)", ""),
    ("1", "O:BAD:(A;;GW;;;WD)", "S-1-1-0 may change it (rights 0x40000000)"),
    ("0", "O:BAD:(A;;GW;;;WD)", ""),
    # Replacing what the path names, or its security, counts everywhere.
    ("0", "O:BAD:(A;;0x40;;;AU)",
     "S-1-5-11 may change it (rights 0x00000040)"),
    ("0", "O:BAD:(A;;SD;;;BU)",
     "S-1-5-32-545 may change it (rights 0x00010000)"),
    ("0", "O:BAD:(A;;WD;;;BU)",
     "S-1-5-32-545 may change it (rights 0x00040000)"),
    ("0", "O:BAD:(A;;WO;;;BU)",
     "S-1-5-32-545 may change it (rights 0x00080000)"),
    ("0", "O:BAD:(A;;GA;;;WD)", "S-1-1-0 may change it (rights 0x10000000)"),
    ("0", "O:BAD:(A;;0x1301bf;;;AU)",
     "S-1-5-11 may change it (rights 0x001301BF)"),
    # Reading, running, attributes: no change to what runs.
    ("1", "O:BAD:(A;;0x1201a9;;;WD)", ""),
    # Only entries about the object itself count; deny entries never help.
    ("1", "O:BAD:(A;OICIIO;FA;;;WD)", ""),
    ("1", "O:BAD:(D;;FA;;;WD)(A;;FA;;;SY)", ""),
    ("1", "O:BAD:(D;;FA;;;WD)(A;;FA;;;WD)",
     f"S-1-1-0 may change it (rights {FA})"),
    # Trusted principals, as entries and as owners.
    ("1", "O:SYD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;PU)(A;;FA;;;CO)"
     f"(A;;FA;;;{TI})", ""),
    ("1", f"O:{TI}D:(A;;FA;;;SY)", ""),
    ("1", "O:PUD:(A;;FA;;;SY)", ""),
    ("0", "O:BUD:(A;;FA;;;SY)", "its owner is S-1-5-32-545"),
    ("1", "D:(A;;FA;;;SY)", "it has no owner"),
    ("0", "O:BA", "it has no DACL, so anyone may change it"),
]


def acl(*entries: tuple) -> str:
    """A DACL's bytes in hex: each entry (type, flags, mask, its body
    after the mask), Everyone's SID (S-1-1-0) after the body."""
    everyone = bytes([1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0])
    aces = b"".join(
        bytes([kind, flags]) + (8 + len(body) + 12).to_bytes(2, "little")
        + mask.to_bytes(4, "little") + body + everyone
        for kind, flags, mask, body in entries)
    return (bytes([2, 0]) + (8 + len(aces)).to_bytes(2, "little")
            + len(entries).to_bytes(2, "little") + bytes(2) + aces).hex()


# Entries Wine's SDDL does not make: an allowing entry not understood counts
# (an object entry, with no GUIDs; a callback entry); the denying forms and
# anything inherit-only do not.
ACLS = [
    ("0", acl((5, 0, 0x1F01FF, bytes(4))),
     "it has an entry of type 0x05 that is not understood"),
    ("0", acl((9, 0, 0x1F01FF, b"")),
     "it has an entry of type 0x09 that is not understood"),
    ("1", acl((6, 0, 0x1F01FF, bytes(4)), (10, 0, 0x1F01FF, b""),
              (12, 0, 0x1F01FF, bytes(4)), (5, 0x0B, 0x1F01FF, bytes(4))), ""),
    ("1", acl((0, 0, 0x1200A9, b""), (0, 0x10, 0x2, b"")),
     "S-1-1-0 may change it (rights 0x00000002)"),
]

# Files laid out from Linux (as root): HANDBACK.EXE's and SETUP.EXE's paths
# and why the pair is open, a regular expression. The default directory, a
# directory in a shared one (chmod 0777), one made beforehand by another
# user, a file anyone may write, and a file that is not there.
FILES = [
    (r"C:\Program Files\Dorvanix 4\HANDBACK.EXE",
     r"C:\Program Files\Dorvanix 4\Setup\SETUP.EXE", ""),
    (r"C:\Apps\Dorvanix\HANDBACK.EXE", r"C:\Apps\Dorvanix\Setup\SETUP.EXE",
     re.escape(r"C:\Apps is open to others: S-1-1-0 may change it "
               "(rights 0x001301FF)")),
    (r"C:\Squatted\HANDBACK.EXE", r"C:\Squatted\Setup\SETUP.EXE",
     re.escape(r"C:\Squatted is open to others: its owner is ")
     + r"S-1-[-0-9]+"),
    (r"C:\Writable\HANDBACK.EXE", r"C:\Writable\Setup\SETUP.EXE",
     re.escape(r"C:\Writable\Setup\SETUP.EXE is open to others: S-1-1-0 may "
               "change it (rights ") + r"0x[0-9A-F]{8}\)"),
    (r"C:\NoSetup\HANDBACK.EXE", r"C:\NoSetup\Setup\SETUP.EXE",
     re.escape(r"C:\NoSetup\Setup\SETUP.EXE is open to others: its security "
               "cannot be read (error 2)")),
]

# The whole NSIS call where others may change the files: nothing armed, the
# error flag clear, registers and stack as they were.
ARM = (r"C:\Apps\Dorvanix\HANDBACK.EXE", r"C:\Apps\Dorvanix\Setup",
       "none, errors clear, stack sentinel, registers r0 r1 r4 r9 R0")


def lay_out(drive: Path):
    for exe, setup, _ in FILES:
        for name in (exe, setup):
            path = drive.joinpath(*name[3:].split("\\"))
            path.parent.mkdir(parents=True, exist_ok=True)
            if "NoSetup" not in name or name.endswith("HANDBACK.EXE"):
                path.write_bytes(b"MZ")
    (drive / "Apps").chmod(0o777)
    shutil.chown(drive / "Squatted", 12345)
    (drive / "Writable/Setup/SETUP.EXE").chmod(0o666)


class Pattern(str):
    """An expected answer given as a regular expression."""


def cases(nsis: bool) -> list[tuple]:
    """(kind, first, second, expected answer) of each case."""
    found = [("parent", path, "", parent) for path, parent in PARENTS]
    found += [("sddl", strict, sddl, why) for strict, sddl, why in SDDL]
    found += [("acl", strict, hexed, why) for strict, hexed, why in ACLS]
    found += [("files", exe, setup, Pattern(why)) for exe, setup, why in FILES]
    if nsis:
        found.append(("arm", *ARM))
    return found


def expected(answer: str | None, want: str) -> bool:
    if answer is None:
        return False
    return bool(re.fullmatch(want, answer)) if isinstance(want, Pattern) \
        else answer == want


def run(box: WineBox, program: Path, nsis: bool) -> list[str]:
    """Runs one build on the cases; gives what went wrong."""
    todo = cases(nsis)
    drive = box.prefix / "drive_c"
    (drive / "cases.txt").write_text(
        "".join(f"{kind}\r\n{first}\r\n{second}\r\n"
                for kind, first, second, _ in todo), "latin-1")
    answers = drive / "answers.txt"
    answers.unlink(missing_ok=True)
    box.put(r"C:\TEST.EXE", program.read_bytes())
    subprocess.run([box.loader, r"C:\TEST.EXE"], env=box.env, timeout=120,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    got = answers.read_text("latin-1").splitlines() if answers.exists() else []
    got += [None] * (len(todo) - len(got))
    return [f"{kind} {first!r} {second!r}: expected {why!r}, got {answer!r}"
            for (kind, first, second, why), answer in zip(todo, got)
            if not expected(answer, why)]


def main(root: Path) -> int:
    """Runs the cases in the copy of the Windows prepared in `root` (the
    end-to-end tests' ROOT) that CTest hands this test."""
    if (root / "unavailable.txt").exists():
        print(f"skipped: {(root / 'unavailable.txt').read_text()}")
        return 77
    box = handed_out(root)
    changes = box.restore()
    if changes:
        print("FAULT: starts from a Windows other than the prepared one: "
              + "; ".join(changes[:8]))
        return 1
    here = Path(__file__).parent
    flavours = {"nsis-ansi32": ["-DANSI"], "nsis-unicode32": []}
    if box.env["WINEARCH"] == "win64":
        flavours["nsis-amd64"] = ["-XTarget amd64-unicode"]
        if box.nsis32_unavailable.exists():  # 32-bit installers cannot run
            print(f"skipped: nsis-ansi32, nsis-unicode32: "
                  f"{box.nsis32_unavailable.read_text()}")
            flavours = {"nsis-amd64": flavours["nsis-amd64"]}
    builds = {}
    for name, args in flavours.items():
        builds[name] = box.root / f"{name}.exe"
        box.compile(["makensis", "-V2", *args, f"-DOUTFILE={builds[name]}",
                     str(here / "security.nsi")])
    if box.inno_unavailable.exists():
        print(f"skipped: inno: {box.inno_unavailable.read_text()}")
    else:
        box.compile([box.loader, ISCC, "/Q", f"/I{windows(TOP / 'include')}",
                     f"/O{windows(box.root)}",
                     "/Fsecurity-inno", windows(here / "security.iss")])
        builds["inno"] = box.root / "security-inno.exe"
    lay_out(box.prefix / "drive_c")
    passed, failed = 0, 0
    for name, program in builds.items():
        faults = run(box, program, name.startswith("nsis"))
        for fault in faults:
            print(f"FAULT {name}: {fault}")
        total = len(cases(name.startswith("nsis")))
        passed += total - len(faults)
        failed += len(faults)
        print(f"{name}: {total - len(faults)} of {total} cases as expected")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(Path(sys.argv[1]).resolve()))
