#!/usr/bin/env python3
"""Runs every command block of an unpacked release archive's pages as an
author would: as written, in a folder of their own outside the archive.

    docblocks.py ARCHIVE AUTHOR

ARCHIVE is the unpacked handback-<version>/ folder, AUTHOR the author's
folder, where each block runs, after the minimal installers of
docs/include.md are copied there (my-setup.nsi, my-setup.iss). A block is a command where its first word is
a program (found on PATH, ISCC, or a path such as /path/to/...); the others
(scripts, logs, traces, tables) are not run. The pages' placeholders stand
for real paths: /path/to/handback-<version> (C:/handback-<version> for
ISCC.exe) for ARCHIVE, /path/to/SETUP.EXE and /path/to/SETUP-x86.EXE for
those in AUTHOR, which the blocks that build the example SETUP.EXE make;
any other fails. Blocks run
in the order an author works: compilers, then installers (makensis, ISCC,
try-installer build), then the rest (such as try-installer), each kind in
page order. A block that fails, or a
compiler that warns, fails the run; one that ends with 77 (try-installer
where no layout can run here) or needs ISCC.exe where 32-bit programs do
not run is reported as not proved here.
"""

import os
import re
import shlex
import shutil
import subprocess
import sys
import textwrap
from pathlib import Path

from wine32 import command as wine32_command
from winebox import ISCC, LOADER32, Unavailable, runnable

SKIPPED = 77
# The minimal installers of docs/include.md, as an author copies them: the
# code block fenced as each language, into a file of this name.
SCRIPTS = {"nsis": "my-setup.nsi", "iss": "my-setup.iss"}
COMPILERS = ("x86_64-w64-mingw32-g++", "i686-w64-mingw32-g++", "cmake")
INSTALLERS = ("makensis", "ISCC", "ISCC.exe")


def blocks(text: str):
    """(line, text) of each code block: indented by four or more after a
    blank line, or fenced without a language or as shell."""
    lines = text.split("\n")
    at = 0
    while at < len(lines):
        line = lines[at]
        if line.startswith("```"):
            end = lines.index("```", at + 1)
            if line[3:].strip() in ("", "sh", "bash"):
                yield at + 1, "\n".join(lines[at + 1:end])
            at = end + 1
        elif line.startswith("    ") and line.strip() and (
                at == 0 or not lines[at - 1].strip()):
            end = at
            while end < len(lines) and (lines[end].startswith("    ")
                                        or not lines[end].strip()):
                end += 1
            yield at + 1, textwrap.dedent("\n".join(lines[at:end])).strip()
            at = end
        else:
            at += 1


def copy_scripts(top: Path, folder: Path):
    """Writes the minimal installers of top/docs/include.md into folder."""
    text = (top / "docs/include.md").read_text(encoding="utf-8")
    for language, script in SCRIPTS.items():
        found = re.findall(rf"^```{language}\n(.*?)^```$", text, re.M | re.S)
        if len(found) != 1:
            sys.exit(f"docs/include.md has {len(found)} {language} "
                     "installers, not one")
        (folder / script).write_text(found[0], encoding="utf-8")


def kind(command: str) -> int | None:
    """The order an author runs a block in; None: not a command."""
    first, *rest = command.split()
    if first in COMPILERS:
        return 0
    if first in INSTALLERS or rest[:1] == ["build"]:  # try-installer's
        return 1
    if shutil.which(first) or first.startswith(("/path/to/", "./")):
        return 2
    return None


def stand_in(command: str, archive: Path, author: Path) -> str:
    """The block with real paths for its placeholders; ISCC run under
    Wine."""
    version = archive.name
    drive = "Z:" + str(archive)
    for placeholder, path in ((f"/path/to/{version}", str(archive)),
                              (f"C:/{version}", drive)):
        command = command.replace(placeholder, path)
    # The example SETUP.EXE of each width, as the author built it.
    command = re.sub(r"(C:)?/path/to/(SETUP(-x86)?\.EXE)",
                     lambda m: ("Z:" if m[1] else "") + f"{author}/{m[2]}",
                     command)
    left = re.findall(r"\S*(?:/path/to/|C:/path/|C:/handback-)\S*", command)
    if left:
        raise ValueError(f"no real path stands for {', '.join(left)}")
    iscc = shlex.join(map(str, wine32_command([LOADER32, ISCC])))
    return re.sub(r"^ISCC(\.exe)?\b", lambda _: iscc, command)


def main(argv) -> int:
    archive, author = Path(argv[1]).resolve(), Path(argv[2]).resolve()
    copy_scripts(archive, author)
    pages = [archive / "README.md", *sorted((archive / "docs").glob("*.md"))]
    found = []
    for page in pages:
        for line, block in blocks(page.read_text(encoding="utf-8")):
            if block and kind(block) is not None:
                found.append((kind(block), page.relative_to(archive), line,
                              block))
    env = dict(os.environ, WINEPREFIX=str(author / "iscc"), WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=")
    failed = 0
    for order, page, line, block in sorted(found, key=lambda f: f[0]):
        where = f"{page}:{line}: {block.splitlines()[0]}"
        try:
            command = stand_in(block, archive, author)
        except ValueError as error:
            print(f"FAILED {where}: {error}")
            failed = 1
            continue
        if order == 1 and block.startswith("ISCC") and not runs_32bit(env):
            print(f"Not proved here: {where} (ISCC.exe is a 32-bit program, "
                  "which this machine cannot run)")
            continue
        done = subprocess.run(["bash", "-e", "-o", "pipefail", "-c",
                               command], cwd=author, env=env,
                              capture_output=True, text=True,
                              errors="replace")
        output = done.stdout + done.stderr
        warned = order < 2 and "warning" in output.lower()
        if done.returncode == SKIPPED:
            print(f"Not proved here: {where}\n{output}")
        elif done.returncode != 0 or warned:
            print(f"FAILED {where} (exit {done.returncode}"
                  f"{', a warning' if warned else ''}):\n{command}\n{output}")
            failed = 1
        else:
            print(f"Ran from the archive: {where}")
            if order == 2:
                print(output)
    return failed


def runs_32bit(env: dict) -> bool:
    """Whether 32-bit programs run here; where they do, ISCC.exe gets a
    Windows of its own."""
    try:
        runnable(LOADER32, "ISCC.exe is a 32-bit program")
    except Unavailable:
        return False
    if not Path(env["WINEPREFIX"]).exists():
        subprocess.run(wine32_command([LOADER32, "wineboot", "-i"]), env=env,
                       capture_output=True, check=True)
    return True


if __name__ == "__main__":
    sys.exit(main(sys.argv))
