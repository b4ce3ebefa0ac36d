#!/usr/bin/python3
"""Runs scripts/apt-install.sh in a scratch apt world of its own, so that it
never touches this system's packages: APT_CONFIG names a configuration whose
sources, lists, cache and dpkg database and root all lie under SCRATCH.

Two repositories are served over HTTP from this machine: one that is fine,
with a tiny package built here, and one caught mid-sync, whose Release names
a Packages file of another size than the one it serves, as a mirror does
while it syncs. Each case installs some packages and must exit as it should
and say what it should: the failed index named and the other one used, and
a package that cannot be installed named with apt's reason.

usage: apt-install.py SCRATCH    (exits 77 where it cannot run: not root)
"""

import hashlib
import http.server
import os
import re
import shutil
import subprocess
import sys
import threading
from pathlib import Path

APT_INSTALL = Path(__file__).resolve().parents[2] / "scripts/apt-install.sh"
DUMMY = "handback-dummy"
BROKEN = "handback-broken"  # depends on a package of the index that fails
INDEX_FAILED = (r"indexes could not be fetched.*\n.*"
                r"Failed to fetch http://127\.0\.0\.1:\d+/midsync/\./Packages"
                r"\s+File has unexpected size \(\d+ != \d+\)\. "
                r"Mirror sync in progress\?")
# Each case: the packages asked for, the exit status, what the output must
# and must not say (patterns); the package that can be installed is, after
# each.
CASES = [
    # Named with apt's reason: a package that does not exist, one listed
    # only by the index that failed, and one that depends on that one, as
    # 32-bit Wine where the i386 index lags; the other one is installed.
    ([DUMMY, "handback-no-such", "handback-midsync", BROKEN], 1,
     [INDEX_FAILED,
      "Cannot install handback-no-such:\n"
      "  E: Unable to locate package handback-no-such",
      "Cannot install handback-midsync:\n"
      "  E: Package 'handback-midsync' has no installation candidate",
      f"Cannot install {BROKEN}:\n(  .*\n)*"
      f"  +{BROKEN} : Depends: handback-midsync but it is not installable"],
     [f"Cannot install {DUMMY}"]),
    # Only an index failed: it is named, and the install goes on.
    ([DUMMY], 0, [INDEX_FAILED], ["Cannot install", "/good/"]),
]


def build_package(work: Path, name: str, depends: str = "") -> Path:
    """A package of one file, /usr/share/NAME/hello."""
    tree = work / name
    (tree / "DEBIAN").mkdir(parents=True)
    (tree / "DEBIAN/control").write_text(
        f"Package: {name}\nVersion: 1.0\nArchitecture: all\n"
        + (f"Depends: {depends}\n" if depends else "") +
        "Maintainer: nobody <nobody@invalid>\nDescription: a test package\n")
    (tree / f"usr/share/{name}").mkdir(parents=True)
    (tree / f"usr/share/{name}/hello").write_text("hello\n")
    deb = work / f"{name}_1.0_all.deb"
    subprocess.run(["dpkg-deb", "--root-owner-group", "-Zgzip", "--build",
                    str(tree), str(deb)], check=True,
                   stdout=subprocess.DEVNULL)
    return deb


def flat_repository(directory: Path, debs: list[Path], size_off_by=0):
    """A flat repository of these packages; with size_off_by, its Release
    names a Packages file of another size, as a mirror's does mid-sync."""
    directory.mkdir(parents=True)
    packages = b""
    for deb in debs:
        shutil.copy(deb, directory)
        control = subprocess.run(["dpkg-deb", "-f", str(deb)], check=True,
                                 capture_output=True, text=True).stdout
        data = deb.read_bytes()
        packages += (control + f"Filename: ./{deb.name}\n"
                     f"Size: {len(data)}\n"
                     f"SHA256: {hashlib.sha256(data).hexdigest()}\n\n"
                     ).encode()
    (directory / "Packages").write_bytes(packages)
    (directory / "Release").write_text(
        "Suite: scratch\nCodename: scratch\nSHA256:\n"
        f" {hashlib.sha256(packages).hexdigest()}"
        f" {len(packages) + size_off_by} Packages\n")


def serve(directory: Path) -> str:
    """Serves a directory over HTTP on this machine until the end; gives its
    URL."""
    class Quiet(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *args, **kwargs):
            super().__init__(*args, directory=str(directory), **kwargs)

        def log_message(self, *args):
            pass
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Quiet)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return f"http://127.0.0.1:{server.server_address[1]}"


def apt_world(root: Path, url: str) -> Path:
    """An apt configuration whose every file, and dpkg's, lies under root;
    gives its path."""
    for directory in ("etc/apt/apt.conf.d", "etc/apt/preferences.d",
                      "etc/apt/sources.list.d", "var/lib/apt/lists/partial",
                      "var/cache/apt/archives/partial", "var/log/apt",
                      "var/lib/dpkg/info", "var/lib/dpkg/updates"):
        (root / directory).mkdir(parents=True)
    for name in ("status", "available"):
        (root / "var/lib/dpkg" / name).touch()
    (root / "etc/apt/sources.list").write_text(
        f"deb [trusted=yes] {url}/good ./\n"
        f"deb [trusted=yes] {url}/midsync ./\n")
    config = root / "apt.conf"
    dpkg = root / "var/lib/dpkg"
    config.write_text(f"""\
Dir "{root}/";
Dir::State::status "{dpkg}/status";
DPkg::Options {{ "--root={root}"; "--admindir={dpkg}";
                "--log={root}/var/log/dpkg.log"; }};
APT::Architecture "amd64";
APT::Architectures {{ "amd64"; }};
APT::Sandbox::User "root";
Acquire::http::Proxy "DIRECT";
Acquire::Languages "none";
""")
    return config


def installed(root: Path, name: str) -> bool:
    status = subprocess.run(
        ["dpkg-query", f"--admindir={root}/var/lib/dpkg", "-W",
         "-f=${Status}", name], capture_output=True, text=True).stdout
    return status == "install ok installed" and (
        root / f"usr/share/{name}/hello").is_file()


def main(scratch: Path) -> int:
    if os.geteuid() != 0:
        print("skipped: apt-get install runs as root only")
        return 77
    shutil.rmtree(scratch, ignore_errors=True)
    work, www, root = scratch / "work", scratch / "www", scratch / "root"
    work.mkdir(parents=True)
    flat_repository(www / "good", [
        build_package(work, DUMMY),
        build_package(work, BROKEN, depends="handback-midsync")])
    flat_repository(www / "midsync", [build_package(work, "handback-midsync")],
                    size_off_by=7)
    config = apt_world(root, serve(www))
    env = {name: value for name, value in os.environ.items()
           if not name.lower().endswith("_proxy")}
    env |= {"APT_CONFIG": str(config), "APT_INSTALL_PAUSE": "0"}
    # Were the configuration not read, the install would reach this system.
    status = subprocess.run(["apt-config", "dump", "Dir::State::status"],
                            env=env, capture_output=True, text=True).stdout
    if str(root) not in status:
        print(f"FAULT: apt does not take the scratch world: {status!r}")
        return 1
    faults = []
    for packages, exit_status, says, never in CASES:
        ran = subprocess.run([str(APT_INSTALL), *packages], env=env,
                             capture_output=True, text=True, timeout=120)
        said = ran.stdout + ran.stderr
        print(f"$ apt-install.sh {' '.join(packages)}  # exit "
              f"{ran.returncode}\n{said}")
        case = " ".join(packages)
        if ran.returncode != exit_status:
            faults.append(f"{case}: exit {ran.returncode}, expected "
                          f"{exit_status}")
        faults += [f"{case}: does not say {pattern!r}" for pattern in says
                   if not re.search(pattern, said)]
        faults += [f"{case}: says {pattern!r}" for pattern in never
                   if re.search(pattern, said)]
        if not installed(root, DUMMY):
            faults.append(f"{case}: {DUMMY} is not installed in {root}")
    for fault in faults:
        print(f"FAULT {fault}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(Path(sys.argv[1]).resolve()))
