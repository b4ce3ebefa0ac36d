"""A scratch Windows environment under Wine, with an X display of its own,
in which the real handback.exe runs as the shell and is watched from beside.

The environment outlives any one process: `create` makes the prefix, of the
width of the handback.exe it is given (a 64-bit Windows for the x64 build, a
32-bit one for the x86 build), starts a persistent Wine server and an Xvfb,
and writes their details to state.json; `clone` makes another like it;
later processes open one again with `WineBox(root)`; `destroy` stops both.
"""

import json
import os
import re
import select
import shutil
import subprocess
import time
from dataclasses import dataclass
from functools import partial
from pathlib import Path, PureWindowsPath

# Debian's python3-pefile, which only Debian's own interpreter
# (/usr/bin/python3) imports.
import pefile

PROGRAM = r"C:\TOOLS\HANDBACK.EXE"
OBSERVER = r"C:\e2e\OBSERVER.EXE"
# The program starts Explorer where it must not leave the session without a
# shell; here the stand-in setup program takes Explorer's place, and records
# that it was started, instead of Wine's file browser, which would stay open.
EXPLORER = r"C:\windows\EXPLORER.EXE"
RECORDS = r"C:\e2e"
SYSTEM_INI = r"C:\windows\system.ini"
# Wine's own programs, named by their paths: a bare name such as "reg" goes
# through start.exe first, another process.
REG = r"C:\windows\system32\reg.exe"
WINEBOOT = r"C:\windows\system32\wineboot.exe"
# The example installers, as built for the environment, and how each runs
# silently; and the key each lists the product under.
INSTALLERS = {"nsis": (r"C:\e2e\DORVANIX-SETUP.EXE", "/S"),
              "nsis32": (r"C:\e2e\DORVANIX-SETUP-32.EXE", "/S"),
              "inno": (r"C:\e2e\DORVANIX-SETUP-INNO.EXE", "/VERYSILENT",
                       "/SUPPRESSMSGBOXES", "/NORESTART",
                       r"/LOG=C:\e2e\inno.log")}
PRODUCT_KEYS = {"nsis": "Dorvanix 4", "nsis32": "Dorvanix 4",
                "inno": "Dorvanix 4_is1"}
TOP = Path(__file__).resolve().parents[1]
ISCC = TOP / "tools/innosetup/node_modules/innosetup/bin/ISCC.exe"
# Inno Setup's compiler and installers are 32-bit programs.
LOADER32 = "/usr/lib/wine/wine"

# Where the Windows NT family keeps [boot] of system.ini: the mapping names a
# registry key for each entry, Winlogon's own value for the shell.
NT = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion"
MAPPING = NT + r"\IniFileMapping\system.ini"
WINLOGON = NT + r"\Winlogon"
WOW_BOOT = NT + r"\WOW\boot"
# UAC's policy, and what Windows starts once at its next start.
CURRENT = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion"
POLICIES = CURRENT + r"\Policies\System"
RUNONCE = CURRENT + r"\RunOnce"
UNINSTALL = CURRENT + r"\Uninstall"
MAPPED_ROOTS = {"SYS:": r"HKEY_LOCAL_MACHINE\Software",
                "USR:": r"HKEY_CURRENT_USER\Software"}
SETUP_KEY = "DorvanixSetupDir "

# Wine's loader and prefix for each PE machine: each build runs in a Windows
# of its own width.
WINDOWS_OF = {0x014C: ("win32", "/usr/lib/wine/wine"),
              0x8664: ("win64", "/usr/lib/wine/wine64")}

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
# Wine's code page follows the locale of each of its processes: 1252 unless
# a row asks for another.
LOCALE = "en_US.UTF-8"

# How long a run may take before it counts as hung.
RUN_TIMEOUT = 60


class Hung(Exception):
    pass


class Unavailable(Exception):
    """This machine cannot run programs of the build's width under Wine."""


class WineBox:
    def __init__(self, root: Path):
        self.root = Path(root).resolve()  # Wine wants an absolute prefix
        self.prefix = self.root / "prefix"
        self.state_file = self.root / "state.json"
        # Why this machine cannot build or run the Inno Setup example.
        self.inno_unavailable = self.root / "inno-unavailable.txt"
        # Why it cannot run the 32-bit NSIS installer in a 64-bit Windows.
        self.nsis32_unavailable = self.root / "nsis32-unavailable.txt"
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix),
                        WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                        LC_ALL=LOCALE)
        self.env.pop("DISPLAY", None)
        self.loader = None
        if self.state_file.exists():
            state = json.loads(self.state_file.read_text())
            self.use(state["loader"], state["arch"])
            self.env["DISPLAY"] = state["display"]

    def use(self, loader, arch):
        self.loader = loader
        self.env["WINEARCH"] = arch

    # --- the environment -------------------------------------------------

    def create(self, handback: Path, setup: Path, observer: Path,
               examples: Path = TOP / "examples",
               other_width: Path | None = None):
        """Makes the environment for the build `handback`, with the example
        installers from `examples` built for it (the Inno Setup one with
        `other_width`, the build of the other width, if given); raises
        Unavailable where it cannot run."""
        self.destroy()
        shutil.rmtree(self.root, ignore_errors=True)
        self.root.mkdir(parents=True)
        arch, loader = WINDOWS_OF[pe_machine(handback)]
        runnable(loader)
        self.use(loader, arch)
        self.wine("wineboot", "-i", timeout=300)
        self.serve()
        self.wine(REG, "add", r"HKCU\Software\Wine\Debug", "/v",
                  "RelayInclude", "/d", ";".join(PROGRAM_CALLS), "/f")
        self.put(PROGRAM, handback.read_bytes())
        self.put(OBSERVER, observer.read_bytes())
        self.put(EXPLORER, setup.read_bytes())
        x86, x64 = self.widths(handback, arch, other_width)
        # The NSIS example as an installer of the Windows' own width, and on
        # 64-bit Windows also as it ships, a 32-bit one.
        self.put(INSTALLERS["nsis"][0], self.build_nsis(
            x86, x64, setup, examples, arch == "win64").read_bytes())
        if arch == "win64":
            self.put(INSTALLERS["nsis32"][0], self.build_nsis(
                x86, x64, setup, examples, False).read_bytes())
            try:
                runnable(LOADER32, "The 32-bit NSIS installer is a 32-bit "
                         "program, and ")
            except Unavailable as why:
                self.nsis32_unavailable.write_text(str(why))
        try:
            self.put(INSTALLERS["inno"][0], self.build_inno(
                x86, x64, setup, examples).read_bytes())
        except Unavailable as why:
            self.inno_unavailable.write_text(str(why))
        (self.root / "SETUP.EXE").write_bytes(setup.read_bytes())
        (self.root / "stock-system.ini").write_bytes(
            self.path(SYSTEM_INI).read_bytes())

    def serve(self):
        """Starts the environment's display, and one Wine server for every
        run, so that each run starts as fast as it can: the one that was left
        (it saves the registry as it ends) is replaced by a persistent one."""
        display, xvfb_pid = start_xvfb()
        self.state_file.write_text(json.dumps(
            {"display": display, "xvfb": xvfb_pid, "loader": self.loader,
             "arch": self.env["WINEARCH"]}))
        self.env["DISPLAY"] = display
        self.stop_server()
        self.start_server()

    def start_server(self):
        # Its output must not be ours: a test run waits for it to close.
        subprocess.run(["wineserver", "-p"], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop_server(self):
        quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-k"], env=self.env, **quiet)
        subprocess.run(["wineserver", "-w"], env=self.env, **quiet)

    def clone(self, root: Path) -> "WineBox":
        """Another environment at `root`, the same as this one (a copy of its
        Windows, with its programs and installers) but with a display and a
        Wine server of its own, so that runs can go on in both at once."""
        other = WineBox(root)
        other.destroy()
        shutil.rmtree(other.root, ignore_errors=True)
        self.stop_server()  # the registry on disk is then complete
        shutil.copytree(self.root, other.root, symlinks=True,
                        ignore=shutil.ignore_patterns(self.state_file.name))
        self.start_server()
        other.use(self.loader, self.env["WINEARCH"])
        other.serve()
        return other

    def destroy(self):
        if self.prefix.exists():
            subprocess.run(["wineserver", "-k"], env=self.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if self.state_file.exists():
            pid = json.loads(self.state_file.read_text())["xvfb"]
            try:
                os.kill(pid, 15)
            except ProcessLookupError:
                pass
            self.state_file.unlink()

    @property
    def display(self):
        return self.env.get("DISPLAY")

    @property
    def sample_setup(self) -> bytes:
        return (self.root / "SETUP.EXE").read_bytes()

    @property
    def stock_system_ini(self) -> bytes:
        return (self.root / "stock-system.ini").read_bytes()

    # --- files inside it -------------------------------------------------

    def path(self, windows_path: str) -> Path:
        """The Linux path of a C:\\ path inside the prefix. As on Windows,
        a name finds a file or directory whatever the case of either."""
        parts = PureWindowsPath(windows_path).parts
        assert parts[0].upper() == "C:\\", windows_path
        path = self.prefix / "drive_c"
        for part in parts[1:]:
            entries = path.iterdir() if path.is_dir() else []
            path = next((entry for entry in entries
                         if entry.name.lower() == part.lower()), path / part)
        return path

    def put(self, windows_path: str, data: bytes):
        target = self.path(windows_path)
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)

    # --- the registry and [boot] ----------------------------------------

    def values(self, key: str) -> dict[str, str]:
        """The string values of a registry key, by lower-case name;
        "(default)" only when it is set. A missing key has none. Exported as
        they are: reg query would print them through the console's code
        page."""
        name = r"C:\e2e\export.reg"
        out = self.path(name)
        out.unlink(missing_ok=True)
        subprocess.run([self.loader, REG, "export", key, name, "/y"],
                       env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=RUN_TIMEOUT)
        # The key's own section, before those of its subkeys.
        own = (read(out, b"\xff\xfe").decode("utf-16").split("\n[") + [""])[1]
        unescape = partial(re.sub, r"\\(.)", r"\1")
        return {("(default)" if m[1] == "@" else unescape(m[2]).lower()):
                unescape(m[3]) for m in REG_STRING.finditer(own)}

    def import_registry(self, text: str):
        self.put(r"C:\e2e\import.reg", text.encode("latin-1"))
        self.wine(REG, "import", r"C:\e2e\import.reg")

    def boot_entries(self, *keys: str) -> tuple:
        """Entries of [boot] of system.ini, read from where Windows keeps
        each: the registry value the NT mapping names for it, or the file."""
        mapping = self.values(MAPPING + r"\boot")
        targets = {}

        def entry(key):
            target = mapping.get(key.lower()) or mapping.get("(default)")
            if not target:
                return ini_entry(read(self.path(SYSTEM_INI), b""), "boot", key)
            if target not in targets:
                root = MAPPED_ROOTS[target[:4].upper()]
                targets[target] = self.values(f"{root}\\{target[4:]}")
            return targets[target].get(key.lower())
        return tuple(map(entry, keys))

    def boot_entry(self, key: str) -> str | None:
        return self.boot_entries(key)[0]

    # --- programs --------------------------------------------------------

    def wine(self, *args, timeout=RUN_TIMEOUT):
        subprocess.run([self.loader, *args], env=self.env, check=True,
                       timeout=timeout, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    def start(self, *command: str, trace: Path | None = None,
              explorer_stand_in=False):
        """Starts a program; with a trace file, under Wine's relay trace;
        with explorer_stand_in, what it starts as Explorer is the stand-in
        (Wine would otherwise start its own, built in)."""
        env = dict(self.env)
        if explorer_stand_in:
            env["WINEDLLOVERRIDES"] += ";explorer.exe=n"
        quiet = subprocess.DEVNULL
        if trace is None:
            return subprocess.Popen([self.loader, *command], env=env,
                                    stdout=quiet, stderr=quiet)
        with open(trace, "wb") as log:
            return subprocess.Popen(
                [self.loader, *command], stdout=quiet, stderr=log,
                env=dict(env, WINEDEBUG="+relay,+loaddll"))

    def still_running(self) -> list[str]:
        """What a run started that may outlive the program: setup (any
        SETUP.EXE), Explorer's stand-in, and the wineboot.exe that a restart
        request starts, which asks the session to end and then ends. Gives
        the command lines of those of this prefix that are running."""
        tag = f"WINEPREFIX={self.prefix}".encode()
        found = []
        for process in Path("/proc").iterdir():
            try:
                environ = (process / "environ").read_bytes().split(b"\0")
                args = (process / "cmdline").read_bytes().decode("latin-1")
            except (OSError, ValueError):
                continue  # gone, or not a process
            args = args.split("\0")
            if tag in environ and any(
                    arg.lower() == EXPLORER.lower() or PureWindowsPath(
                        arg.lower()).name in ("setup.exe", "wineboot.exe")
                    for arg in args):
                found.append(" ".join(args).strip())
        return found

    def install(self, kind="nsis", *args: str) -> int:
        """Runs an example installer silently, as a product's would run, with
        any further arguments; gives its exit status."""
        return subprocess.run([self.loader, *INSTALLERS[kind], *args],
                              env=self.env, timeout=RUN_TIMEOUT).returncode

    def uninstall(self, kind: str) -> int:
        """Removes the product silently, as a deployment tool does: with the
        command its installer listed; gives its exit status once it is done.
        """
        listed = self.values(UNINSTALL + "\\" + PRODUCT_KEYS[kind])
        program, args = re.fullmatch(r'"(.*?)" *(.*)',
                                     listed["quietuninstallstring"]).groups()
        status = subprocess.run([self.loader, program, *args.split()],
                                env=self.env, timeout=RUN_TIMEOUT).returncode
        # Both go on in a copy of themselves, which deletes them when done.
        wait_for(lambda: not self.path(program).exists(), RUN_TIMEOUT)
        return status

    def widths(self, handback: Path, arch: str,
               other_width: Path | None) -> tuple[Path, Path]:
        """The x86 and x64 builds the installers bundle: this build for its
        width; for the other width that build, or else a file that cannot
        run, so that installing it instead shows."""
        other = other_width or self.root / "not-this-width.exe"
        if not other_width:
            other.write_text("Not a program: the build of the other width.")
        return (handback, other) if arch == "win32" else (other, handback)

    def build_nsis(self, x86: Path, x64: Path, setup: Path, examples: Path,
                   amd64: bool) -> Path:
        """The NSIS example around both builds and the sample setup; with
        amd64, as a 64-bit installer."""
        installer = self.root / f"dorvanix-setup{'-amd64' * amd64}.exe"
        target = ["-XTarget amd64-unicode"] if amd64 else []
        self.compile(["makensis", "-V2", *target,
                      f"-DHANDBACK_X86={x86.resolve()}",
                      f"-DHANDBACK_X64={x64.resolve()}",
                      f"-DSETUP={setup.resolve()}", f"-DOUTFILE={installer}",
                      str(examples / "nsis/dorvanix-setup.nsi")])
        return installer

    def build_inno(self, x86: Path, x64: Path, setup: Path,
                   examples: Path) -> Path:
        """The Inno Setup example around both builds and the sample setup."""
        runnable(LOADER32, "Inno Setup's compiler and installers are 32-bit "
                 "programs, and ")
        self.compile([self.loader, ISCC, "/Q",
                      f"/DHANDBACK_X86={windows(x86)}",
                      f"/DHANDBACK_X64={windows(x64)}",
                      f"/DSETUP={windows(setup)}", f"/O{windows(self.root)}",
                      "/Fdorvanix-setup-inno",
                      windows(examples / "inno/dorvanix-setup.iss")])
        return self.root / "dorvanix-setup-inno.exe"

    def compile(self, command: list):
        """Runs a compiler; where it fails, raises with what it said."""
        log = self.root / "compiler.log"
        with open(log, "wb") as out:
            status = subprocess.run(command, env=self.env, stdout=out,
                                    stderr=subprocess.STDOUT,
                                    timeout=RUN_TIMEOUT).returncode
        if status != 0:
            raise RuntimeError(" ".join(map(str, command)) + " failed:\n"
                               + log.read_text("latin-1"))


def runnable(loader: str, because: str = ""):
    """Raises Unavailable, saying why, where this machine cannot run Wine's
    `loader` (the 32-bit one where its kernel runs no 32-bit program)."""
    try:
        subprocess.run([loader, "--version"], stdout=subprocess.DEVNULL)
    except OSError as error:
        raise Unavailable(f"{because}{loader} cannot run here: {error}")


def boot_registry(layout: str, shell=None, setup_dir=None,
                  enable_lua: int | None = 0, version: str | None = None
                  ) -> str:
    """The registry of a Windows to import, with [boot] armed there, UAC's
    EnableLUA (None: the value is missing), nothing in RunOnce, and the
    version Wine reports (such as "winxp"; None: its default, Windows 7).
    Layout "9x": no mapping, [boot] lives in the file, and Winlogon's Shell
    is Explorer. "nt": the stock mapping, which sends `shell` to Winlogon's
    value and leaves the other entries in the file. "nt-wow": the mapping
    with a default, which sends them to WOW\boot."""
    def text(value):
        return '"' + value.replace("\\", "\\\\").replace('"', '\\"') + '"'

    def mapped(key):  # how the mapping names a key of HKLM\Software
        return text("SYS:" + key.split("\\Software\\", 1)[1])

    nt = layout != "9x"
    lua = "-" if enable_lua is None else f"dword:{enable_lua:08x}"
    lines = ["Windows Registry Editor Version 5.00", f"[-{MAPPING}]",
             f"[-{WOW_BOOT}]", f"[-{RUNONCE}]", f"[{POLICIES}]",
             f'"EnableLUA"={lua}', r"[HKEY_CURRENT_USER\Software\Wine]",
             '"Version"=' + (text(version) if version else "-"),
             f"[{WINLOGON}]",
             '"Shell"=' + text(shell if nt and shell else "explorer.exe")]
    if nt:
        lines += [f"[{MAPPING}\\boot]", '"Shell"=' + mapped(WINLOGON)]
    if layout == "nt-wow":
        lines.append("@=" + mapped(WOW_BOOT))
        if setup_dir is not None:
            lines += [f"[{WOW_BOOT}]", text(SETUP_KEY) + "=" + text(setup_dir)]
    return "\r\n".join(lines) + "\r\n"


def windows(path: Path) -> str:
    """A Linux path as a program under Wine sees it."""
    return "Z:" + str(path.resolve()).replace("/", "\\")


def entries(profile: bytes):
    """(section, key, value) of each entry, and other lines as they are."""
    result, section = [], None
    for line in profile.decode("latin-1").splitlines():
        text = line.strip()
        if not text:
            continue
        if text.startswith("["):
            section = text.lower()
            result.append((section, None, text))
        elif "=" in text and not text.startswith(";"):
            key, value = text.split("=", 1)
            result.append((section, key.strip().lower(), value.strip()))
        else:
            result.append((section, None, text))
    return result


def ini_entry(profile: bytes, section: str, key: str) -> str | None:
    """An entry of a profile file, matched as Windows' profile service
    matches it: without regard to case or to blanks around the names."""
    wanted = (f"[{section.lower()}]", key.strip().lower())
    return next((value for *place, value in entries(profile)
                 if tuple(place) == wanted), None)


def start_xvfb():
    """Starts an Xvfb on a free display; gives the display and its pid."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
         "-nolisten", "tcp"],
        pass_fds=(write_end,), start_new_session=True,
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    while not number.endswith(b"\n"):
        ready, _, _ = select.select([read_end], [], [], 30)
        chunk = os.read(read_end, 16) if ready else b""
        if not chunk:
            xvfb.kill()
            raise RuntimeError("Xvfb did not start")
        number += chunk
    os.close(read_end)
    return ":" + number.decode().strip(), xvfb.pid


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


def wait_for(condition, seconds: float) -> bool:
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


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
    if not wait_for(lambda: not box.still_running(), RUN_TIMEOUT):
        raise Hung(f"{'; '.join(box.still_running())} did not end within "
                   f"{RUN_TIMEOUT} s of the program")
    restart = records / "restart.txt"
    (records / "stop").touch()
    try:
        observer.wait(30)
    except subprocess.TimeoutExpired:
        observer.kill()

    launched = read(records / "setup-ran.txt")
    restart_text = read(restart)
    return Observed(
        status=status,
        system_ini=read(box.path(SYSTEM_INI)),
        launched=launched.decode("latin-1") if launched is not None else None,
        notices=read(records / "notice.txt"),
        restart=restart_text.decode() if restart_text is not None else None)


RELAY_CALL = re.compile(r"^([0-9a-f]+):Call [\w.]+?\.(\w+)\((.*)\) "
                        r"ret=([0-9a-f]+)$")
RELAY_ARG = re.compile(r'([0-9a-f]+)(?: "((?:[^"\\]|\\.)*)")?(?:,|$)')
LOADED = re.compile(r'Loaded L"(.*)" at ([0-9a-f]+): native')
REG_STRING = re.compile(r'^(@|"((?:[^"\\]|\\.)*)")="((?:[^"\\]|\\.)*)"\r?$',
                        re.M)


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


def image_size(image: Path) -> int:
    return pefile.PE(str(image), fast_load=True).OPTIONAL_HEADER.SizeOfImage


def pe_machine(image: Path) -> int:
    return pefile.PE(str(image), fast_load=True).FILE_HEADER.Machine


def decode(text: str) -> str:
    return text.encode("latin-1").decode("unicode_escape")


def read(path: Path, missing=None):
    try:
        return path.read_bytes()
    except FileNotFoundError:
        return missing
