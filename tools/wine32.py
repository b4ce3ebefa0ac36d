#!/usr/bin/python3
"""How this machine runs 32-bit (i386) programs, 32-bit Wine among them:
natively, where the kernel runs them; emulated, where it runs none, under
Debian 13's QEMU (its static qemu-i386), registered in a user namespace of
the command's own with a binfmt_misc of its own (Linux 6.7 and later), so
that nothing machine-wide changes; or not at all, and why.
HANDBACK_32BIT=emulated takes the emulated route where the kernel would
run them too, HANDBACK_32BIT=native never takes it.

    wine32.py route           prints "native", "emulated" or "none: WHY"
                              (exit status 0, 0 and 1)
    wine32.py fetch           fetches the emulator into the cache, where
                              the route needs it and it is missing; then
                              prints the route
    wine32.py run COMMAND...  runs COMMAND, every i386 program it starts
                              emulated (the exit status is COMMAND's)

The emulator is fetched with Debian's own tools, leaving the machine's apt
sources as they are: an apt configuration of its own naming trixie,
apt-get download, dpkg-deb. It is kept in /var/cache/handback (root) or
~/.cache/handback.
"""

import ctypes
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

CACHE = Path("/var/cache/handback") if os.geteuid() == 0 else Path(
    os.environ.get("XDG_CACHE_HOME", Path.home() / ".cache")) / "handback"
EMULATOR = CACHE / "qemu-i386"
# Debian 12's QEMU 7.2 spends a minute starting each 32-bit program; 13's
# (10.0) runs them at a few times native time, and is static: it runs on 12.
PACKAGE, RELEASE = "qemu-user", "trixie"
MIRROR = "http://deb.debian.org/debian"
KEYRING = Path("/usr/share/keyrings/debian-archive-keyring.gpg")
# binfmt_misc's match for an i386 ELF executable or shared object.
MAGIC = r"\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00"
MASK = r"\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff"
CLONE_NEWNS, CLONE_NEWUSER = 0x00020000, 0x10000000
MS_REC, MS_SLAVE = 0x4000, 0x80000


def exits_zero_elf() -> bytes:
    """The smallest static i386 program: it exits with status 0."""
    base, header, entry_size = 0x08048000, 52, 32
    code = bytes.fromhex("b801000000" "31db" "cd80")  # exit(0)
    size = header + entry_size + len(code)
    ident = b"\x7fELF\x01\x01\x01" + bytes(9)
    elf = ident + (2).to_bytes(2, "little") + (3).to_bytes(2, "little") \
        + b"".join(n.to_bytes(4, "little")
                   for n in (1, base + header + entry_size, header, 0, 0)) \
        + b"".join(n.to_bytes(2, "little")
                   for n in (header, entry_size, 1, 0, 0, 0))
    segment = b"".join(n.to_bytes(4, "little")
                       for n in (1, 0, base, base, size, size, 5, 0x1000))
    return elf + segment + code


def runs(command: list) -> str | None:
    """Runs the i386 program `command` ends with: None where it exits 0,
    else what went wrong."""
    with tempfile.TemporaryDirectory() as scratch:
        program = Path(scratch) / "exit0"
        program.write_bytes(exits_zero_elf())
        program.chmod(0o755)
        try:
            done = subprocess.run([*command, str(program)],
                                  capture_output=True, text=True)
        except OSError as error:
            return error.strerror
        return None if done.returncode == 0 else (
            done.stderr.strip().splitlines() or [f"exit {done.returncode}"]
        )[-1]


def route() -> str:
    """"native", "emulated" or "none: why"."""
    asked = os.environ.get("HANDBACK_32BIT", "")
    native = runs([]) is None
    if asked == "native" or (native and asked != "emulated"):
        return "native" if native else "none: this kernel runs no 32-bit " \
            "programs (HANDBACK_32BIT=native)"
    if not EMULATOR.exists():
        return (f"none: {'this kernel runs no 32-bit programs, and ' * (not native)}"
                f"the emulator is not fetched ({EMULATOR}; "
                "`tools/wine32.py fetch` fetches it)")
    failed = runs([sys.executable, "-S", __file__, "run"])
    return "emulated" if failed is None else \
        f"none: an i386 program does not run under {EMULATOR}: {failed}"


_route = None


def cached_route() -> str:
    global _route
    _route = _route or route()
    return _route


def command(args: list) -> list:
    """A command that runs `args` as this machine runs 32-bit programs: in
    an emulating namespace of its own on the emulated route."""
    if cached_route() != "emulated":
        return list(args)
    return [sys.executable, "-S", __file__, "run", *map(str, args)]


# What an emulated Wine process shows before its Windows command line: the
# emulator, Wine's loader and its preloader.
UNIX_FIRST = ("qemu-", "wine", "wine64", "wine-preloader", "wine64-preloader")


def windows_args(args: list) -> list:
    """A process' command line as Wine set it, without the Unix programs an
    emulated one shows first."""
    while args and args[0].startswith("/") and (
            Path(args[0]).name in UNIX_FIRST
            or Path(args[0]).name.startswith("qemu-")):
        args = args[1:]
    return args


def emulating() -> None:
    """Takes this process into a user and mount namespace of its own, every
    user as it is, where each i386 program runs under the emulator; its
    mounts follow the machine's."""
    libc = ctypes.CDLL(None, use_errno=True)

    def check(result, what):
        if result != 0:
            error = ctypes.get_errno()
            raise OSError(error, f"{what}: {os.strerror(error)}")

    def maps(pid, uids, gids, count=1):
        """Maps (inside, outside) users and groups, `count` of each."""
        if count == 1:  # a user who maps only itself may map no groups
            Path(f"/proc/{pid}/setgroups").write_text("deny")
        for name, ids in (("uid_map", uids), ("gid_map", gids)):
            Path(f"/proc/{pid}/{name}").write_text(
                f"{ids[0]} {ids[1]} {count}")
    uid, gid = os.geteuid(), os.getegid()
    if uid == 0:
        # Only a process outside the namespace may map more than itself:
        # every user, as root may chown to any.
        ready = os.pipe()
        helper = os.fork()
        if helper == 0:
            os.read(ready[0], 1)
            maps(os.getppid(), (0, 0), (0, 0), 4294967295)
            os._exit(0)
        check(libc.unshare(CLONE_NEWUSER | CLONE_NEWNS), "unshare")
        os.write(ready[1], b"+")
        if os.waitpid(helper, 0)[1] != 0:
            raise OSError("the users could not be mapped into the namespace")
    else:
        # binfmt_misc's files belong to the namespace's root: as root there
        # first, then as this user again, in a namespace within.
        check(libc.unshare(CLONE_NEWUSER | CLONE_NEWNS), "unshare")
        maps("self", (0, uid), (0, gid))
    check(libc.mount(b"none", b"/", None, MS_REC | MS_SLAVE, None),
          "mount --make-rslave /")
    check(libc.mount(b"binfmt_misc", b"/proc/sys/fs/binfmt_misc",
                     b"binfmt_misc", 0, None), "mount binfmt_misc")
    # F: the emulator is opened now, so it is found from any root.
    Path("/proc/sys/fs/binfmt_misc/register").write_text(
        f":i386:M::{MAGIC}:{MASK}:{EMULATOR}:F")
    if uid != 0:
        check(libc.unshare(CLONE_NEWUSER), "unshare")
        maps("self", (uid, 0), (gid, 0))


def fetch() -> str | None:
    """Fetches the emulator unless it is there; None, or why it cannot."""
    if EMULATOR.exists():
        return None
    missing = [tool for tool in ("apt-get", "dpkg-deb", "tar")
               if not shutil.which(tool)]
    if missing or not KEYRING.exists():
        return ("Debian's tools are missing: "
                + ", ".join(missing or [str(KEYRING)]))
    CACHE.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=CACHE) as scratch:
        apt = Path(scratch)
        for directory in ("lists/partial", "archives/partial", "parts"):
            (apt / directory).mkdir(parents=True)
        (apt / "status").touch()
        (apt / "sources.list").write_text(
            f"deb [signed-by={KEYRING}] {MIRROR} {RELEASE} main\n")
        (apt / "apt.conf").write_text("".join(
            f'{name} "{value}";\n' for name, value in {
                "Dir::Etc::SourceList": apt / "sources.list",
                "Dir::Etc::SourceParts": apt / "parts",
                "Dir::Etc::PreferencesParts": apt / "parts",
                "Dir::State::Lists": apt / "lists",
                "Dir::State::status": apt / "status",
                "Dir::Cache::Archives": apt / "archives",
                "APT::Sandbox::User": "root",
            }.items()))
        env = dict(os.environ, APT_CONFIG=str(apt / "apt.conf"))
        # apt tries a file again itself, as from a mirror caught mid-sync.
        update = subprocess.run(["apt-get", "update", "-q", "-o",
                                 "Acquire::Retries=3"], env=env,
                                capture_output=True, text=True)
        if update.returncode != 0:
            return f"{RELEASE}'s index could not be fetched: " + \
                update.stderr.strip()[-300:]
        download = subprocess.run(["apt-get", "download", "-q", PACKAGE],
                                  cwd=apt, env=env, capture_output=True,
                                  text=True)
        package = next(apt.glob(f"{PACKAGE}_*.deb"), None)
        if package is None:
            return f"{RELEASE}'s {PACKAGE} could not be fetched: " + \
                download.stderr.strip()[-300:]
        unpacked = subprocess.run(
            f"dpkg-deb --fsys-tarfile '{package}' | tar -xO "
            "./usr/bin/qemu-i386 >qemu-i386", shell=True, cwd=apt,
            capture_output=True, text=True)
        if unpacked.returncode != 0:
            return f"{package.name} could not be unpacked: {unpacked.stderr}"
        (apt / "qemu-i386").chmod(0o755)
        (apt / "qemu-i386").rename(EMULATOR)
    return None


def provide() -> str:
    """The route, the emulator fetched first where it is the way and is
    missing (saying so on stderr, as it takes a while)."""
    global _route
    if cached_route().startswith("none: ") and not EMULATOR.exists() \
            and os.environ.get("HANDBACK_32BIT") != "native":
        print(f"Fetching Debian 13's emulator of 32-bit programs into "
              f"{CACHE} (once) ...", file=sys.stderr, flush=True)
        why = fetch()
        _route = f"none: the emulator could not be fetched: {why}" if why \
            else None
    return cached_route()


def main(argv) -> int:
    if argv[1:2] == ["run"] and len(argv) > 2:
        emulating()
        os.execvp(argv[2], argv[2:])
    if argv[1:] in (["route"], ["fetch"]):
        route = provide() if argv[1] == "fetch" else cached_route()
        print(route)
        return 0 if route in ("native", "emulated") else 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
