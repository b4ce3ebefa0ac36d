"""Windows under Wine, for the rows and for try-installer alike: a prefix
of either width, its server, an X display of its own, the programs run in
it and how to know they have all ended, its registry and its files. A
quirk of Wine met here is met once, for both.

`WineBox(root).make(arch)` makes a fresh Windows in root/prefix; try-
installer copies each of its scratch Windows from one.

The rows' Windows: `WineBox(root).create(...)` makes one, in which the
real handback.exe runs.

`WineBox(root).create(...)` makes one: a prefix of the width of the
handback.exe it is given (a 64-bit Windows for the x64 build, a 32-bit one
for the x86 build), with the program, the test fixtures and the example
installers built for it in it; it then runs, with a persistent Wine server
and an Xvfb. Later processes open it again with `WineBox(root)`; `stop`
ends both.

`WineBox(root, over=made)` is a copy of the Windows made at `made` that
costs no disk: an overlay mount of that prefix, whose changes go to
root/upper. `restore` throws them away, so that each use starts from the
Windows that was made, whatever an earlier one did; `changes` says where a
prefix differs from that Windows as it was made.
"""

import json
import os
import re
import select
import shutil
import subprocess
import sys
import time
from pathlib import Path, PureWindowsPath

from wine32 import command, cached_route, windows_args
from wineregistry import (MAPPED_ROOTS, MAPPING, RUNONCE, SYSTEM_INI,
                          UNINSTALL, WINLOGON, WOW_BOOT, exported,
                          ini_entry, in_32bit_view)

PROGRAM = r"C:\TOOLS\HANDBACK.EXE"
OBSERVER = r"C:\e2e\OBSERVER.EXE"
# Reads registry keys exactly (tests/e2e/fixtures/RegValues.cpp), built
# beside the observer.
REGVALUES = r"C:\e2e\REGVALUES.EXE"
# The program starts Explorer where it must not leave the session without a
# shell; here the stand-in setup program takes Explorer's place, and records
# that it was started, instead of Wine's file browser, which would stay open.
EXPLORER = r"C:\windows\EXPLORER.EXE"
RECORDS = r"C:\e2e"
# Wine's own programs, named by their paths: a bare name such as "reg" goes
# through start.exe first, another process.
REG = r"C:\windows\system32\reg.exe"
WINEBOOT = r"C:\windows\system32\wineboot.exe"
# Wine's services, which a Windows runs for as long as its server does.
WINE_SERVICES = {"services.exe", "winedevice.exe", "plugplay.exe",
                 "svchost.exe", "rpcss.exe", "explorer.exe", "conhost.exe"}
# The example installers, as built for the environment, and how each runs
# silently; and the key each lists the product under.
INNO_LOG = r"C:\e2e\inno.log"
INSTALLERS = {"nsis": (r"C:\e2e\DORVANIX-SETUP.EXE", "/S"),
              "nsis32": (r"C:\e2e\DORVANIX-SETUP-32.EXE", "/S"),
              "inno": (r"C:\e2e\DORVANIX-SETUP-INNO.EXE", "/VERYSILENT",
                       "/SUPPRESSMSGBOXES", "/NORESTART", "/LOG=" + INNO_LOG)}
PRODUCT_KEYS = {"nsis": "Dorvanix 4", "nsis32": "Dorvanix 4",
                "inno": "Dorvanix 4_is1"}
# Services that start with Windows (Start 2) and that no use of it needs.
SERVICES = r"HKLM\System\CurrentControlSet\Services"
UNNEEDED_SERVICES = ("Eventlog", "PlugPlay", "NDIS", "nsiproxy")
# The keys a use of this Windows reads: read together, by one program.
WATCHED = [MAPPING + r"\boot", *(view(key) for key in (WINLOGON, WOW_BOOT,
                                                        RUNONCE)
                                 for view in (str, in_32bit_view)),
           *{UNINSTALL + "\\" + key for key in PRODUCT_KEYS.values()}]
TOP = Path(__file__).resolve().parents[1]
ISCC = TOP / "tools/innosetup/node_modules/innosetup/bin/ISCC.exe"
# Inno Setup's compiler and installers are 32-bit programs.
LOADER32 = "/usr/lib/wine/wine"

# Wine's loader and prefix for each PE machine: each build runs in a Windows
# of its own width.
LOADERS = {"win32": LOADER32, "win64": "/usr/lib/wine/wine64"}
WINDOWS_OF = {0x014C: ("win32", LOADERS["win32"]),
              0x8664: ("win64", LOADERS["win64"])}
# Wine's code page follows the locale of each of its processes: 1252 unless
# a run asks for another.
LOCALE = "en_US.UTF-8"
# The ANSI code page of Wine's processes under each locale.
CODE_PAGES = {LOCALE: "cp1252", "ja_JP.UTF-8": "cp932", "zh_CN.UTF-8": "gbk"}
# How long a run may take before it counts as hung.
RUN_TIMEOUT = 60
# What a made Windows keeps beside its prefix: its width, and what it held
# when it was made.
MADE = "windows.json"
FINGERPRINT = "fingerprint.json"


class Hung(Exception):
    pass


class Unavailable(Exception):
    """This machine cannot run programs of the build's width under Wine."""


class WineBox:
    def __init__(self, root: Path, over: Path | None = None):
        # Files Wine makes for a program get the modes of this mask; under
        # another, Program Files could be a directory every user may change.
        os.umask(0o022)
        self.root = Path(root).resolve()  # Wine wants an absolute prefix
        self.prefix = self.root / "prefix"
        self.state_file = self.root / "state.json"
        # The Windows this one is a copy of, and where its making left the
        # files it was made from.
        self.lower = Path(over).resolve() / "prefix" if over else None
        self.made = Path(over).resolve() if over else self.root
        # Why this machine cannot build or run the Inno Setup example.
        self.inno_unavailable = self.made / "inno-unavailable.txt"
        # Why it cannot run the 32-bit NSIS installer in a 64-bit Windows.
        self.nsis32_unavailable = self.made / "nsis32-unavailable.txt"
        # No Mono or Gecko to offer, and no menu entries or file types of
        # the installers' written into this Linux system.
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix),
                        WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=",
                        LC_ALL=LOCALE)
        self.env.pop("DISPLAY", None)
        self.loader = None
        self.read = {}  # values by key, until a program starts or ends
        if (self.made / MADE).exists():
            made = json.loads((self.made / MADE).read_text())
            self.use(made["loader"], made["arch"])
        if self.state_file.exists():
            self.env["DISPLAY"] = json.loads(
                self.state_file.read_text())["display"]

    def use(self, loader, arch):
        self.loader = loader
        self.env["WINEARCH"] = arch

    def command(self, *args) -> list[str]:
        """A Windows program's command line, run by this Windows' loader as
        this machine runs 32-bit programs (wine32.py)."""
        self.read = {}  # it may change the registry
        return command([self.loader, *args])

    # --- the environment -------------------------------------------------

    def create(self, handback: Path, setup: Path, observer: Path,
               checks: tuple[Path, Path], examples: Path = TOP / "examples",
               other_width: Path | None = None):
        """Makes the environment for the build `handback`, with the example
        installers from `examples` built for it around the check's DLLs
        `checks` (x86, x64) (the Inno Setup one with `other_width`, the
        build of the other width, if given); raises Unavailable where it
        cannot run."""
        arch, loader = WINDOWS_OF[pe_machine(handback)]
        runnable(loader, "The x86 build is a 32-bit program"
                 if arch == "win32" else "The x64 build is a 64-bit program")
        self.make(arch)
        # A network drive, N:, inside the prefix so that each copy has its
        # own; Windows reads its type as it starts.
        (self.prefix / "drive_n").mkdir()
        (self.prefix / "dosdevices/n:").symlink_to("../drive_n")
        self.wine(REG, "add", r"HKLM\Software\Wine\Drives", "/v", "n:", "/d",
                  "network", "/f")
        # Each row boots this Windows afresh: the services that start with
        # it and that nothing here needs (the event log, Plug and Play,
        # networking) do not, as each is a process to start, emulated where
        # 32-bit programs are.
        for service in UNNEEDED_SERVICES:
            self.wine(REG, "add", SERVICES + "\\" + service, "/v", "Start",
                      "/t", "REG_DWORD", "/d", "4", "/f")
        self.serve()
        self.put(PROGRAM, handback.read_bytes())
        self.put(OBSERVER, observer.read_bytes())
        self.put(REGVALUES, observer.with_name("RegValues.exe").read_bytes())
        self.put(EXPLORER, setup.read_bytes())
        x86, x64 = self.widths(handback, arch, other_width)
        # The NSIS example as an installer of the Windows' own width, and on
        # 64-bit Windows also as it ships, a 32-bit one.
        self.put(INSTALLERS["nsis"][0], self.build_nsis(
            x86, x64, setup, checks, examples, arch == "win64").read_bytes())
        if arch == "win64":
            self.put(INSTALLERS["nsis32"][0], self.build_nsis(
                x86, x64, setup, checks, examples, False).read_bytes())
            try:
                runnable(LOADER32, "The 32-bit NSIS installer is a 32-bit "
                         "program")
            except Unavailable as why:
                self.nsis32_unavailable.write_text(str(why))
        try:
            self.put(INSTALLERS["inno"][0], self.build_inno(
                x86, x64, setup, checks[0], examples).read_bytes())
        except Unavailable as why:
            self.inno_unavailable.write_text(str(why))
        (self.root / "SETUP.EXE").write_bytes(setup.read_bytes())
        (self.root / "stock-system.ini").write_bytes(
            self.path(SYSTEM_INI).read_bytes())

    def make(self, arch: str):
        """Makes a fresh Windows of that width ("win32", "win64") here, in
        place of any: its prefix, stopped."""
        self.stop()
        shutil.rmtree(self.root, ignore_errors=True)
        self.root.mkdir(parents=True)
        self.use(LOADERS[arch], arch)
        (self.root / MADE).write_text(json.dumps(
            {"loader": self.loader, "arch": arch}))
        self.wine("wineboot", "-i", timeout=300)
        self.stop_server()

    def freeze(self):
        """Stops this Windows for good and records what it holds, so that
        copies over it can start from it (its registry is on disk once its
        server has ended)."""
        self.stop()
        (self.root / FINGERPRINT).write_text(json.dumps(
            fingerprint(self.prefix)))

    def restore(self) -> list[str]:
        """Makes this copy the Windows it copies again, with every process
        of the last use ended and all it left thrown away: its changes, and
        beside the prefix its traces and logs; then starts it. Gives where
        it still differs from that Windows as it was made (nothing, unless
        its making or this copy went wrong)."""
        if self.prefix.is_mount():
            self.kill()
            self.unmount()
        self.root.mkdir(parents=True, exist_ok=True)
        for entry in self.root.iterdir():
            if entry.name not in ("prefix", self.state_file.name):
                remove(entry)
        upper, work = self.root / "upper", self.root / "work"
        for directory in (upper, work):
            directory.mkdir()
        left = [f"{entry.name}: left by an earlier use"
                for entry in self.root.iterdir() if entry.name not in
                (self.prefix.name, self.state_file.name, "upper", "work")]
        self.prefix.mkdir(exist_ok=True)
        subprocess.run(["mount", "-t", "overlay", "overlay", "-o",
                        f"lowerdir={self.lower},upperdir={upper},"
                        f"workdir={work}", str(self.prefix)], check=True)
        differences = left + self.changes()
        self.boot()
        return differences

    def boot(self):
        """Starts this Windows afresh, with a server of its own, and lets
        its boot finish, as a logon would, so that no use of it races the
        boot: Windows boots as its first program starts (wineboot --init,
        which starts the services). What Windows reads only as it starts
        (such as its drives) is read again."""
        self.serve()
        self.values(RUNONCE)
        self.settle()

    def changes(self) -> list[str]:
        """Where the prefix, stopped, differs from the Windows as it was
        made: each path that is new, gone or changed."""
        made = json.loads((self.made / FINGERPRINT).read_text())
        now = fingerprint(self.prefix)
        return sorted(
            [f"{path}: new" for path in now.keys() - made.keys()]
            + [f"{path}: gone" for path in made.keys() - now.keys()]
            + [f"{path}: changed" for path in now.keys() & made.keys()
               if now[path] != made[path]])

    def serve(self):
        """Starts the environment's display, unless it runs, and one Wine
        server for every run, so that each run starts as fast as it can:
        the one that was left (it saves the registry as it ends) is replaced
        by a persistent one."""
        if not self.xvfb():
            display, xvfb_pid = start_xvfb(self.display_tag)
            self.state_file.write_text(json.dumps(
                {"display": display, "xvfb": xvfb_pid}))
            self.env["DISPLAY"] = display
        self.stop_server()
        # Its output must not be ours: a test run waits for it to close.
        subprocess.run(["wineserver", "-p"], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def xvfb(self) -> int | None:
        """The process id of this environment's Xvfb, while it runs."""
        if not self.state_file.exists():
            return None
        pid = json.loads(self.state_file.read_text())["xvfb"]
        return pid if b"Xvfb" in read(Path(f"/proc/{pid}/cmdline"), b"") \
            else None

    def stop_server(self):
        quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-k"], env=self.env, **quiet)
        subprocess.run(["wineserver", "-w"], env=self.env, **quiet)

    def kill(self):
        """Ends every process of this Windows, its server included, at once:
        what they would save is thrown away."""
        # One that was starting a program (exec) as it was looked for shows
        # up afterwards: ended only when two looks in a row find none.
        looks = [True]

        def ended():
            found = self.own_processes()
            for pid in found:
                try:
                    os.kill(pid, 9)
                except ProcessLookupError:
                    pass
            looks.append(bool(found))
            return not looks[-1] and not looks[-2]
        if not wait_for(ended, RUN_TIMEOUT, every=0.1):
            raise Hung(f"the processes of {self.prefix} did not end")

    def unmount(self):
        # Killed processes may still hold files open for a moment.
        if not wait_for(lambda: subprocess.run(
                ["umount", str(self.prefix)],
                stderr=subprocess.DEVNULL).returncode == 0, RUN_TIMEOUT):
            raise Hung(f"{self.prefix} is still in use")

    def stop(self):
        """Ends every process of this Windows and its display; a copy is
        then unmounted, and what it changed is thrown away when it is
        restored."""
        if self.prefix.is_mount():
            self.kill()
            self.unmount()
        elif self.lower is None and self.prefix.exists():
            self.stop_server()
        # Its display, found even where a run that was killed and an rm -rf
        # have taken the file that names it.
        for pid in tagged(self.display_tag):
            try:
                os.kill(pid, 15)
            except ProcessLookupError:  # such as Xvfb's xkbcomp, ended
                pass
        self.state_file.unlink(missing_ok=True)

    @property
    def display_tag(self) -> str:
        """In the environment of this Windows' Xvfb."""
        return f"WINEBOX_DISPLAY={self.root}"

    @property
    def display(self):
        return self.env.get("DISPLAY")

    @property
    def sample_setup(self) -> bytes:
        return (self.made / "SETUP.EXE").read_bytes()

    @property
    def stock_system_ini(self) -> bytes:
        return (self.made / "stock-system.ini").read_bytes()

    # --- files inside it -------------------------------------------------

    def path(self, windows_path: str) -> Path:
        """The Linux path of a C:\\ or N:\\ path inside the prefix. As on Windows,
        a name finds a file or directory whatever the case of either."""
        parts = PureWindowsPath(windows_path).parts
        assert parts[0].upper() in ("C:\\", "N:\\"), windows_path
        path = self.prefix / f"drive_{parts[0][0].lower()}"
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
        "(default)" only when it is set. A missing key has none. Read as
        Windows holds them, each without its one terminating NUL (reg
        export would end a string at a NUL inside it), with every key a use
        reads (WATCHED), by one program, once until another starts or
        ends."""
        if key not in self.read:
            keys = list(dict.fromkeys([key, *WATCHED]))
            out = self.path(RECORDS + r"\values.txt")
            out.unlink(missing_ok=True)
            subprocess.run(self.command(REGVALUES, RECORDS + r"\values.txt",
                                        *keys), env=self.env,
                           stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=RUN_TIMEOUT)
            self.read = dict(zip(keys, registry_values(read(out, b""))))
        return self.read.get(key, {})

    def export(self, key: str) -> dict[str, dict[str, str]]:
        """The string values of a key and of each key below it, by key and
        value name in lower case ("" for a key's default); nothing for a
        missing key. As reg export writes them: a string ends at a NUL
        inside it."""
        out = self.path(RECORDS + r"\export.reg")
        out.unlink(missing_ok=True)
        self.path(RECORDS).mkdir(parents=True, exist_ok=True)
        subprocess.run(self.command(REG, "export", key, RECORDS +
                                    r"\export.reg", "/y"), env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=RUN_TIMEOUT)
        return exported(read(out, b"\xff\xfe").decode("utf-16"))

    def import_registry(self, text: str):
        self.put(r"C:\e2e\import.reg", text.encode("latin-1"))
        self.wine(REG, "import", r"C:\e2e\import.reg")

    def boot_entries(self, *keys: str) -> tuple:
        """Entries of [boot] of system.ini, read from where Windows keeps
        each: the registry value the NT mapping names for it, or the file,
        in the ANSI code page of this Windows' locale."""
        mapping, targets = self.values(MAPPING + r"\boot"), {}

        def entry(key):
            target = mapping.get(key.lower()) or mapping.get("(default)")
            if not target:
                return ini_entry(read(self.path(SYSTEM_INI), b""), "boot", key,
                                 CODE_PAGES[self.env["LC_ALL"]])
            if target not in targets:
                root = MAPPED_ROOTS[target[:4].upper()]
                targets[target] = self.values(f"{root}\\{target[4:]}")
            return targets[target].get(key.lower())
        return tuple(map(entry, keys))

    def boot_entry(self, key: str) -> str | None:
        return self.boot_entries(key)[0]

    # --- programs --------------------------------------------------------

    def wine(self, *args, timeout=RUN_TIMEOUT):
        """Runs a program to its end; where it fails, raises with what it
        said (into a file: a pipe would be held open by Wine's services)."""
        log = self.root / "wine.log"
        with open(log, "wb") as out:
            status = subprocess.run(self.command(*args), env=self.env,
                                    timeout=timeout, stdout=out,
                                    stderr=subprocess.STDOUT).returncode
        if status != 0:
            raise RuntimeError(f"{' '.join(args)} exited with {status}:\n"
                               + log.read_text("latin-1")[-2000:])

    def start(self, *command: str, trace: Path | None = None,
              channels="+relay,+loaddll", explorer_stand_in=False):
        """Starts a program; with a trace file, under Wine's trace of those
        channels (WINEDEBUG), appended to it; with explorer_stand_in, what
        it starts as Explorer is the stand-in (Wine would otherwise start
        its own, built in)."""
        env = dict(self.env)
        if explorer_stand_in:
            env["WINEDLLOVERRIDES"] += ";explorer.exe=n"
        quiet = subprocess.DEVNULL
        if trace is None:
            return subprocess.Popen(self.command(*command), env=env,
                                    stdout=quiet, stderr=quiet)
        with open(trace, "ab") as log:
            return subprocess.Popen(
                self.command(*command), stdout=quiet, stderr=log,
                env=dict(env, WINEDEBUG=channels))

    def run(self, *command: str, seconds: float = RUN_TIMEOUT,
            trace: Path | None = None, channels="-all") -> int | None:
        """Runs a program and waits, `seconds` at most, for it and for all
        it started: its exit status, or None where they did not end."""
        program = self.start(*command, trace=trace, channels=channels)
        try:
            status = program.wait(seconds)
            self.settle(seconds)
        except (subprocess.TimeoutExpired, Hung):
            program.kill()
            return None
        return status

    def own_processes(self) -> dict[int, list[str]]:
        """Every process of this Windows, its server included: the command
        line of each, by process id."""
        return tagged(f"WINEPREFIX={self.prefix}")

    def running(self, also: tuple = ()) -> dict[int, list[str]]:
        """The processes of this Windows but Wine's own services and server,
        and but those whose program's file name is in `also` (lower case):
        what runs that a use of it started, the command line of each by
        process id."""
        def own(image):
            name = PureWindowsPath(image).name.lower()
            return Path(image).name.startswith("wineserver") or name in also \
                or (PureWindowsPath(image).parent.name.lower()
                    in ("system32", "syswow64") and name in WINE_SERVICES)
        found = {pid: windows_args(args)
                 for pid, args in self.own_processes().items()}
        return {pid: args for pid, args in found.items()
                if args and not own(args[0])}

    def processes(self) -> list[str]:
        """The command lines of what runs that a use of it started."""
        return [" ".join(args) for args in self.running().values()]

    def settle(self, seconds: float = RUN_TIMEOUT, but: str | None = None):
        """Waits, `seconds` at most, until every process a use of this
        Windows started has ended, but those whose command line holds
        `but`; raises Hung with what still runs."""
        def running():
            return [command for command in self.processes()
                    if not but or but.lower() not in command.lower()]
        # A process that is loading a program (exec) shows no environment
        # for a moment, as Wine's loader does at each start: ended only when
        # nothing runs at two looks in a row. Each look reads every
        # process' environment: not too often.
        looks = [["?"]]

        def ended():
            self.read = {}  # what ran may have changed the registry
            looks.append(running())
            return not looks[-1] and not looks[-2]
        if not wait_for(ended, seconds, every=0.15):
            message = f"{'; '.join(looks[-1])} did not end within " \
                f"{seconds:.0f} s"
            if any("winedbg" in command for command in looks[-1]):
                # Wine's debugger, for a program that crashed: which one,
                # among all this Windows runs.
                message += "; running then: " + "; ".join(
                    " ".join(args) for args in self.own_processes().values())
            raise Hung(message)

    def run_installer(self, *command: str, inno_log: str | None = None,
                      **run) -> int | None:
        """Runs an installer as run() does; for Inno Setup's, with its log
        (a Windows path), started again where its first start ended at once
        before installing anything, as it now and then does in a Windows;
        a second start works."""
        status = self.run(*command, **run)
        if inno_log and status == 1 and b"Starting the installation " \
                b"process" not in read(self.path(inno_log), b""):
            print("Inno Setup's installer ended before it installed "
                  "anything; started again", file=sys.stderr)
            status = self.run(*command, **run)
        return status

    def install(self, kind="nsis", *args: str) -> int:
        """Runs an example installer silently, as a product's would run, with
        any further arguments; gives its exit status once all it started
        has ended."""
        status = self.run_installer(
            *INSTALLERS[kind], *args,
            inno_log=INNO_LOG if kind == "inno" else None)
        if status is None:
            raise Hung(f"the {kind} installer, or what it started, did not "
                       f"end within {RUN_TIMEOUT} s")
        return status

    def listing(self, kind: str) -> dict[str, str]:
        """How the product an example installer installed is listed among
        the installed programs (Uninstall)."""
        return self.values(UNINSTALL + "\\" + PRODUCT_KEYS[kind])

    def uninstall(self, listed: dict[str, str]) -> int:
        """Removes the product silently, as a deployment tool does: with the
        command its installer listed; gives its exit status once all it
        started has ended (both uninstallers go on in a copy of
        themselves)."""
        program, args = re.fullmatch(r'"(.*?)" *(.*)',
                                     listed["quietuninstallstring"]).groups()
        status = subprocess.run(self.command(program, *args.split()),
                                env=self.env, timeout=RUN_TIMEOUT).returncode
        self.settle()
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

    def build_nsis(self, x86: Path, x64: Path, setup: Path,
                   checks: tuple[Path, Path], examples: Path,
                   amd64: bool) -> Path:
        """The NSIS example around both builds, the sample setup and the
        check's DLLs; with amd64, as a 64-bit installer."""
        installer = self.root / f"dorvanix-setup{'-amd64' * amd64}.exe"
        target = ["-XTarget amd64-unicode"] if amd64 else []
        self.compile(["makensis", "-V2", "-WX", *target,
                      f"-DHANDBACK_X86={x86.resolve()}",
                      f"-DHANDBACK_X64={x64.resolve()}",
                      f"-DSETUP={setup.resolve()}", f"-DOUTFILE={installer}",
                      f"-DHANDBACK_CHECK_X86={checks[0].resolve()}",
                      f"-DHANDBACK_CHECK_X64={checks[1].resolve()}",
                      str(examples / "nsis/dorvanix-setup.nsi")])
        return installer

    def build_inno(self, x86: Path, x64: Path, setup: Path, check: Path,
                   examples: Path) -> Path:
        """The Inno Setup example around both builds, the sample setup and
        the check's x86 DLL."""
        runnable(LOADER32, "Inno Setup's compiler and installers are 32-bit "
                 "programs")
        self.compile([*self.command(ISCC), "/Q",
                      f"/I{windows(examples.parent / 'include')}",
                      f"/DHANDBACK_X86={windows(x86)}",
                      f"/DHANDBACK_X64={windows(x64)}",
                      f"/DSETUP={windows(setup)}",
                      f"/DHandBackCheckX86={windows(check)}",
                      f"/O{windows(self.root)}",
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


def handed_out(root: Path) -> WineBox:
    """The copy of the Windows prepared in root/pristine that CTest handed
    this test, as its "wine" resource (CTEST_RESOURCE_GROUP_0_WINE); run by
    hand, the first."""
    given = os.environ.get("CTEST_RESOURCE_GROUP_0_WINE", "id:0")
    return WineBox(root / re.match(r"id:([^,]+)", given)[1],
                   over=root / "pristine")


def fingerprint(prefix: Path) -> dict[str, list]:
    """What a prefix holds, enough to see any change a program makes: each
    path under it with its kind, mode and owner, and a file's size and
    time (Wine writes the registry to files too)."""
    found = {}

    def walk(directory: str, relative: str):
        for entry in os.scandir(directory):
            name = relative + entry.name
            status = entry.stat(follow_symlinks=False)
            if entry.is_symlink():
                found[name] = ["link", os.readlink(entry.path)]
            elif entry.is_dir(follow_symlinks=False):
                found[name] = ["dir", status.st_mode, status.st_uid]
                walk(entry.path, name + "/")
            else:
                found[name] = ["file", status.st_mode, status.st_uid,
                               status.st_size, status.st_mtime_ns]
    walk(str(prefix), "")
    return found


def runnable(loader: str, what: str):
    """Raises Unavailable, saying why, where this machine cannot run Wine's
    `loader`, which `what` needs: for the 32-bit one, whether no 32-bit
    program runs here (wine32.py) or 32-bit Wine is missing, in the words
    of scripts/install-deps.sh."""
    route = cached_route()
    if loader == LOADER32 and route.startswith("none: "):
        raise Unavailable(f"{what}, and {route[6:]}.")
    if loader == LOADER32 and not Path(loader).exists():
        raise Unavailable(f"{what}, and 32-bit Wine (wine32:i386) is not "
                          "installed (./scripts/install-deps.sh installs it, "
                          "or says why it cannot).")
    try:
        subprocess.run(command([loader, "--version"]),
                       stdout=subprocess.DEVNULL, check=True)
    except (OSError, subprocess.CalledProcessError) as error:
        raise Unavailable(f"{what}, and {loader} cannot run here: {error}.")


def pe_header(image: Path) -> tuple[int, int] | None:
    """A Windows program's machine (0x14C x86, 0x8664 x64) and the size of
    its image in memory; None for what is not one."""
    try:
        with open(image, "rb") as file:
            head = file.read(64)
            file.seek(int.from_bytes(head[60:64], "little"))
            pe = file.read(24 + 60)
    except (OSError, ValueError):
        return None
    if head[:2] != b"MZ" or pe[:4] != b"PE\0\0" or len(pe) < 84:
        return None
    return (int.from_bytes(pe[4:6], "little"),
            int.from_bytes(pe[80:84], "little"))


def pe_machine(image: Path) -> int | None:
    return (pe_header(image) or (None,))[0]


def image_size(image: Path) -> int:
    return pe_header(image)[1]


def windows(path: Path) -> str:
    """A Linux path as a program under Wine sees it."""
    return "Z:" + str(path.resolve()).replace("/", "\\")


def start_xvfb(tag: str):
    """Starts an Xvfb on a free display, with `tag` (NAME=VALUE) in its
    environment; gives the display and its pid."""
    read_end, write_end = os.pipe()
    name, value = tag.split("=", 1)
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
         "-nolisten", "tcp"], env=dict(os.environ, **{name: value}),
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


def tagged(tag: str) -> dict[int, list[str]]:
    """The processes with `tag` (NAME=VALUE) in their environment: the
    command line of each, by process id."""
    found = {}
    for process in Path("/proc").iterdir():
        if not process.name.isdigit():  # self, thread-self
            continue
        try:
            environ = (process / "environ").read_bytes().split(b"\0")
            args = (process / "cmdline").read_bytes().decode("latin-1")
        except (OSError, ValueError):
            continue  # gone, or not a process
        args = [arg for arg in args.split("\0") if arg]
        if tag.encode() in environ and args:
            found[int(process.name)] = args
    return found


def remove(path: Path):
    """Removes a file or a tree, files made immutable (chattr +i) in it
    included."""
    if path.is_dir() and not path.is_symlink():
        subprocess.run(["chattr", "-R", "-i", str(path)],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(path)
    else:
        path.unlink()


def registry_values(written: bytes) -> list[dict[str, str]]:
    """The string values of each key REGVALUES.EXE wrote, by lower-case
    name."""
    keys = []
    for line in written.decode().splitlines():
        if line in ("key", "missing"):
            keys.append({})
            continue
        name, kind, data = line.split()
        if kind in ("1", "2"):  # REG_SZ, REG_EXPAND_SZ
            text = bytes.fromhex(data.strip("-")).decode("utf-16-le")
            name = bytes.fromhex(name.strip("-")).decode("utf-16-le")
            keys[-1][name.lower() or "(default)"] = \
                text[:-1] if text.endswith("\0") else text
    return keys


def wait_for(condition, seconds: float, every: float = 0.05) -> bool:
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(every)
    return True


def read(path: Path, missing=None):
    try:
        return path.read_bytes()
    except FileNotFoundError:
        return missing
