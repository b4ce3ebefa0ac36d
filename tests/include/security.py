#!/usr/bin/env python3
"""What the next logon would start, judged from inside each installer: both
include files call handback-check.dll under Wine, on files laid out as an
attacker would lay them out; and handback-check.exe must take the same way,
for the same reason, on the same paths.

    security.py ROOT CHECK_X86 CHECK_X64 EXE_X86 EXE_X64

In a copy of the Windows that the end-to-end tests prepare in ROOT (see
tests/e2e/e2e.py), builds tests/include/security.nsi (ANSI and Unicode
32-bit, and amd64-unicode in a 64-bit Windows) and security.iss around the
DLLs CHECK_X86 and CHECK_X64, and runs each on the same cases, in code page
932 (so that a double-byte path passes through an ANSI installer): the DLL's
answer for paths laid out with Unix modes, owners and links (which Wine
turns into owners, DACLs and reparse points) and a network drive; and whole
${HandBackArm} calls, after which nothing may be armed but the form the
check made full. After each build, handback-check.exe of its width
(EXE_X86, EXE_X64) runs on each of its cases, in the Windows as the build
left it: it must print the way and why that the include file took, and exit
with that way's status. Which rule judges which descriptor is the unit
tests' matter. Exits 77 where this machine cannot run the build's width under
Wine; where it runs no 32-bit program, only the amd64 installer runs.
"""

import re
import subprocess
import sys
from pathlib import Path

TOP = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(TOP / "tools"))
from winebox import ISCC, WineBox, handed_out, read, windows  # noqa: E402
from wineregistry import RUNONCE, boot_registry, ini_entry  # noqa: E402

OTHER_UID = 12345
LOCALE, CODE_PAGE = "ja_JP.UTF-8", "cp932"
SAFE = r"C:\Program Files\Dorvanix 4"
OPEN = re.escape(r"C:\Apps is open to others: S-1-1-0 may change it "
                 "(rights 0x001301FF)")


def answer(way: int, exe: str | None, setup_dir: str | None,
           why: str) -> str:
    """The DLL's answer as the test installers write it, a pattern: the
    paths made full exactly (None: whatever they are), why as a pattern."""
    def exactly(path):
        return ".*" if path is None else re.escape(path)
    return r"\|".join([str(way), exactly(exe), exactly(setup_dir), why])


# HANDBACK.EXE's path, the setup directory, and the answer.
CHECKS = [
    # Windows' way of installing: both files and all above them safe.
    (SAFE + r"\HANDBACK.EXE", SAFE + r"\Setup",
     answer(2, SAFE + r"\HANDBACK.EXE", SAFE + r"\Setup", "")),
    # '/', '.', '..' and doubled separators name what Windows opens.
    (r"C:\Program Files/Other\..\Dorvanix 4\\.\HANDBACK.EXE",
     SAFE + r"/Setup/",
     answer(2, SAFE + r"\HANDBACK.EXE", SAFE + "\\Setup\\", "")),
    (r"C:\Apps/Dorvanix\HANDBACK.EXE", r"C:\Apps/Dorvanix\Setup",
     answer(0, r"C:\Apps\Dorvanix\HANDBACK.EXE", r"C:\Apps\Dorvanix\Setup",
            OPEN)),
    (r"C:\Squatted\HANDBACK.EXE", r"C:\Squatted\Setup",
     answer(0, r"C:\Squatted\HANDBACK.EXE", r"C:\Squatted\Setup",
            re.escape(r"C:\Squatted is open to others: its owner is ")
            + r"S-1-[-0-9]+")),
    (r"C:\Writable\HANDBACK.EXE", r"C:\Writable\Setup",
     answer(0, r"C:\Writable\HANDBACK.EXE", r"C:\Writable\Setup",
            re.escape(r"C:\Writable\Setup\SETUP.EXE is open to others: "
                      "S-1-1-0 may change it (rights ") + r"0x[0-9A-F]{8}\)")),
    (r"C:\NoSetup\HANDBACK.EXE", r"C:\NoSetup\Setup",
     answer(0, r"C:\NoSetup\HANDBACK.EXE", r"C:\NoSetup\Setup",
            re.escape(r"C:\NoSetup\Setup\SETUP.EXE cannot be read "
                      "(error 2)"))),
    # A DLL beside SETUP.EXE, which it loads first, that others may change.
    (r"C:\Beside\HANDBACK.EXE", r"C:\Beside\Setup",
     answer(0, r"C:\Beside\HANDBACK.EXE", r"C:\Beside\Setup",
            re.escape(r"C:\Beside\Setup\VERSION.dll is open to others: ")
            + ".+")),
    # Directories whose names differ only in case, two under Wine: each is
    # judged by its own, X open to everyone, Y beside another user's DLL.
    (r"C:\Cs\x\HANDBACK.EXE", r"C:\Cs\X",
     answer(0, r"C:\Cs\x\HANDBACK.EXE", r"C:\Cs\X", re.escape(
         r"C:\Cs\X is open to others: S-1-1-0 may change it "
         "(rights 0x001301FF)"))),
    (r"C:\Cs\y\HANDBACK.EXE", r"C:\Cs\Y",
     answer(0, r"C:\Cs\y\HANDBACK.EXE", r"C:\Cs\Y",
            re.escape(r"C:\Cs\Y\VERSION.dll is open to others: its owner "
                      "is ") + r"S-1-[-0-9]+")),
    # Links, which their owner may point elsewhere after the check.
    (r"C:\Linked\HANDBACK.EXE", r"C:\Linked\Setup",
     answer(0, r"C:\Linked\HANDBACK.EXE", r"C:\Linked\Setup",
            re.escape(r"C:\Linked is a link"))),
    (r"C:\Lnk\Dorvanix 4\HANDBACK.EXE", r"C:\Lnk\Dorvanix 4\Setup",
     answer(0, r"C:\Lnk\Dorvanix 4\HANDBACK.EXE",
            r"C:\Lnk\Dorvanix 4\Setup", re.escape(r"C:\Lnk is a link"))),
    # Not a local fixed drive, or not a full path.
    (r"N:\Dorvanix\HANDBACK.EXE", r"N:\Dorvanix\Setup",
     answer(0, None, None, r"N:.*")),
    (r"\\server\share\HANDBACK.EXE", r"\\server\share\Setup",
     answer(0, None, None, r".*\\\\server.*")),
    ("HANDBACK.EXE", "Setup", answer(0, None, None, r"HANDBACK\.EXE .*")),
    # A double-byte path, in an ANSI installer too, as an ASCII one.
    (r"C:\Dorvanix表\HANDBACK.EXE", r"C:\Dorvanix表\Setup",
     answer(2, r"C:\Dorvanix表\HANDBACK.EXE", r"C:\Dorvanix表\Setup", "")),
]

# Whole ${HandBackArm} calls (NSIS): the answer, the error flag clear,
# registers and stack as they were, and why, a pattern.
KEPT = ", errors clear, stack sentinel, registers r0 r1 r4 r9 R0"
ARMS = [
    (r"C:\Apps\Dorvanix\HANDBACK.EXE", r"C:\Apps\Dorvanix\Setup", "none",
     OPEN),
    (r"C:\Apps/Dorvanix\HANDBACK.EXE", r"C:\Apps/Dorvanix\Setup", "none",
     OPEN),
    ("HANDBACK.EXE", "Setup", "none", r"HANDBACK\.EXE is not a full path"),
    # SETUP.EXE open to every user as the files are armed: judged as they
    # are then, as an Inno Setup install is (EARLY below).
    (r"C:\Writable\HANDBACK.EXE", r"C:\Writable\Setup", "none",
     re.escape(r"C:\Writable\Setup\SETUP.EXE is open to others: S-1-1-0 "
               "may change it (rights 0x001301FF)")),
    # Last: armed, in the form Windows opens.
    (r"C:\Program Files/Dorvanix 4\.\HANDBACK.EXE", SAFE + r"\Setup\.",
     "hand-back", "UAC is off"),
]
ARMED = (SAFE + r"\HANDBACK.EXE", SAFE + r"\Setup")

# An Inno Setup install (security.iss built with /DARM) into a directory an
# earlier install left safe, which asks its way before its files are
# installed, then installs SETUP.EXE open to every user: nothing may be
# armed, and its log says that the answer changed, and why.
EARLY = r"C:\Early"
ARM_LOG = [re.escape("HandBackWay changed since it was asked, from hand-back "
                     "(UAC is off), as the files are armed"),
           re.escape(f"HandBackWay: none: {EARLY}\\Setup\\SETUP.EXE is open "
                     "to others: S-1-1-0 may change it")]

# The way the include files take after the DLL's answer in this Windows (7,
# UAC off, code page 932, in which every path the DLL allows reads back),
# and handback-check.exe's exit status for each way.
AFTER_CHECK = {"0": "none: {}", "1": "RunOnce: {}",
               "2": "hand-back: UAC is off"}
STATUS = {"hand-back": 0, "RunOnce": 1, "none": 2}


def decided(kind: str, answer: str) -> str:
    """The way and why an include file took in a case, from its answer."""
    if kind == "arm":
        return answer.split(",")[0] + ": " + answer.split(", why ", 1)[1]
    way, _, _, why = answer.split("|")
    return AFTER_CHECK[way].format(why)


def compared(box: WineBox, exe: Path, paths: tuple, way: str | None) -> list:
    """Runs handback-check.exe `exe` on HANDBACK.EXE's path and the setup
    directory; gives what went wrong against the include file's `way` and
    why (None: the include file's answer was wrong already)."""
    done = subprocess.run(box.command(str(exe), *paths),
                          env=dict(box.env, LC_ALL=LOCALE), timeout=120,
                          capture_output=True)
    said = done.stdout.decode("utf-8", "replace").splitlines()[-1:]
    if way and said == [f"HandBackWay: {way}"] and \
            done.returncode == STATUS[way.split(":")[0]]:
        return []
    return [f"handback-check.exe {paths[0]!r} {paths[1]!r}: expected "
            f"{way!r}, got {said}, exit status {done.returncode}"]


def lay_out(box: WineBox):
    drive = box.prefix / "drive_c"

    def put(name: str, data=b"MZ"):
        path = drive.joinpath(*name[3:].split("\\"))
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        return path
    for top in ("Program Files\\Dorvanix 4", "Apps\\Dorvanix", "Squatted",
                "Writable", "Beside", "Dorvanix表", EARLY[3:]):
        put(f"C:\\{top}\\HANDBACK.EXE")
        put(f"C:\\{top}\\Setup\\SETUP.EXE")
    put(r"C:\NoSetup\HANDBACK.EXE")
    (drive / "NoSetup/Setup").mkdir()
    (drive / "Apps").chmod(0o777)
    subprocess.run(["chown", str(OTHER_UID), str(drive / "Squatted")],
                   check=True)
    (drive / "Writable/Setup/SETUP.EXE").chmod(0o666)
    for case in "xy":
        put(f"C:\\Cs\\{case}\\HANDBACK.EXE")
        put(f"C:\\Cs\\{case.upper()}\\SETUP.EXE")
    (drive / "Cs/X").chmod(0o777)
    for beside in (put(r"C:\Beside\Setup\VERSION.dll"),
                   put(r"C:\Cs\X\VERSION.dll"), put(r"C:\Cs\Y\VERSION.dll")):
        beside.chmod(0o666)
        subprocess.run(["chown", str(OTHER_UID), str(beside)], check=True)
    (drive / "Linked").symlink_to("Program Files/Dorvanix 4")
    (drive / "Lnk").symlink_to("Program Files")
    for link in ("Linked", "Lnk"):
        subprocess.run(["chown", "-h", str(OTHER_UID), str(drive / link)],
                       check=True)
    share = box.path(r"N:\Dorvanix")
    for name in ("HANDBACK.EXE", "Setup/SETUP.EXE"):
        (share / name).parent.mkdir(parents=True, exist_ok=True)
        (share / name).write_bytes(b"MZ")


def armed(box: WineBox) -> tuple:
    """What the Windows of the copy would start: [boot]'s two entries in
    the file (no mapping here) and the RunOnce value."""
    profile = box.path(r"C:\windows\SYSTEM.INI").read_bytes()
    return (ini_entry(profile, "boot", "shell"),
            ini_entry(profile, "boot", "DorvanixSetupDir "),
            box.values(RUNONCE).get("handback test setup"))


def run(box: WineBox, program: Path, nsis: bool, check_exe: Path
        ) -> list[str]:
    """Runs one build on the cases, then handback-check.exe `check_exe`;
    gives what went wrong."""
    todo = [("check", exe, setup_dir, want)
            for exe, setup_dir, want in CHECKS]
    if nsis:
        todo += [("arm", exe, setup_dir, re.escape(way + KEPT) + ", why "
                  + why) for exe, setup_dir, way, why in ARMS]
    drive = box.prefix / "drive_c"
    (drive / "cases.txt").write_bytes("".join(
        f"{kind}\r\n{exe}\r\n{setup_dir}\r\n"
        for kind, exe, setup_dir, _ in todo).encode(CODE_PAGE))
    answers = drive / "answers.txt"
    answers.unlink(missing_ok=True)
    box.put(r"C:\TEST.EXE", program.read_bytes())
    subprocess.run(box.command(r"C:\TEST.EXE"),
                   env=dict(box.env, LC_ALL=LOCALE), timeout=120,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    got = (answers.read_bytes().decode(CODE_PAGE).splitlines()
           if answers.exists() else [])
    got += [None] * (len(todo) - len(got))
    faults = [f"{kind} {exe!r} {setup_dir!r}: expected {want!r}, got "
              f"{answer!r}" for (kind, exe, setup_dir, want), answer
              in zip(todo, got)
              if answer is None or not re.fullmatch(want, answer)]
    for (kind, exe, setup_dir, want), answer in zip(todo, got):
        right = answer is not None and re.fullmatch(want, answer)
        faults += compared(box, check_exe, (exe, setup_dir),
                           decided(kind, answer) if right else None)
    if nsis:
        after = armed(box)
        if after != ARMED + (None,):
            faults.append(f"armed afterwards: expected {ARMED + (None,)}, "
                          f"got {after}")
        # The next build starts from the file as it was.
        box.put(r"C:\windows\SYSTEM.INI", box.stock_system_ini)
    return faults


def run_arm(box: WineBox, program: Path, check_exe: Path) -> list[str]:
    """Runs the Inno Setup install of EARLY, then handback-check.exe
    `check_exe` on it; gives what went wrong."""
    box.put(r"C:\ARM.EXE", program.read_bytes())
    log = r"C:\arm.log"
    status = box.run_installer(
        r"C:\ARM.EXE", "/VERYSILENT", "/SUPPRESSMSGBOXES", "/NORESTART",
        "/LOG=" + log, "/DIR=" + EARLY, inno_log=log, seconds=120)
    said = read(box.path(log), b"").decode("utf-8", "replace")
    faults = [f"the installer exited with {status}"] if status != 0 else []
    if armed(box) != (None, None, None):
        faults.append(f"armed afterwards: expected nothing, got {armed(box)}")
    faults += [f"its log does not say {pattern!r}" for pattern in ARM_LOG
               if not re.search(pattern, said)]
    # The way its log says it armed.
    ways = re.findall(r"HandBackWay: ((?:hand-back|RunOnce|none): .*?)\r?$",
                      said, re.M)
    return faults + compared(box, check_exe, (EARLY + r"\HANDBACK.EXE",
                                              EARLY + r"\Setup"),
                             ways[-1] if ways else None)


def main(root: Path, check_x86: Path, check_x64: Path, exe_x86: Path,
         exe_x64: Path) -> int:
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
    # [boot] in the file and UAC off, whatever a fresh Windows of this Wine
    # says: the arm cases take the hand-back there.
    box.import_registry(boot_registry("9x"))
    here = Path(__file__).parent
    dlls = [f"-DHANDBACK_CHECK_X86={check_x86}",
            f"-DHANDBACK_CHECK_X64={check_x64}"]
    flavours = {"nsis-ansi32": ["-DANSI"], "nsis-unicode32": []}
    if box.env["WINEARCH"] == "win64":
        flavours["nsis-amd64"] = ["-XTarget amd64-unicode"]
    builds = {}
    for name, args in flavours.items():
        builds[name] = box.root / f"{name}.exe"
        box.compile(["makensis", "-V2", "-WX", *args, *dlls,
                     f"-DOUTFILE={builds[name]}", str(here / "security.nsi")])
    # Built above wherever they cannot run, so that each builds without a
    # warning on every machine.
    if box.nsis32_unavailable.exists():
        print(f"skipped: nsis-ansi32, nsis-unicode32 (built, not run): "
              f"{box.nsis32_unavailable.read_text()}")
        del builds["nsis-ansi32"], builds["nsis-unicode32"]
    if box.inno_unavailable.exists():
        print(f"skipped: inno: {box.inno_unavailable.read_text()}")
    else:
        for name, arm in (("inno", []), ("inno-arm", ["/DARM"])):
            box.compile([*box.command(ISCC), "/Q", *arm,
                         f"/I{windows(TOP / 'include')}",
                         f"/DHandBackCheckX86={windows(check_x86)}",
                         f"/O{windows(box.root)}", f"/Fsecurity-{name}",
                         windows(here / "security.iss")])
            builds[name] = box.root / f"security-{name}.exe"
    lay_out(box)
    passed, failed = 0, 0
    for name, program in builds.items():
        exe = exe_x64 if name == "nsis-amd64" else exe_x86
        if name == "inno-arm":
            faults, total = run_arm(box, program, exe), 2 + len(ARM_LOG)
        else:
            nsis = name.startswith("nsis")
            faults = run(box, program, nsis, exe)
            # Each case twice, the installer's and handback-check.exe's.
            total = 2 * (len(CHECKS) + len(ARMS) * nsis) + nsis
        for fault in faults:
            print(f"FAULT {name}: {fault}")
        passed += total - len(faults)
        failed += len(faults)
        print(f"{name}: {total - len(faults)} of {total} cases as expected")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(*(Path(arg).resolve() for arg in sys.argv[1:6])))
