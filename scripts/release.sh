#!/usr/bin/env bash
# Builds a release from clean: both Windows executables and both
# handback-check.dll and handback-check.exe, signed when HANDBACK_SIGN_PFX
# names a certificate (see scripts/sign.sh), each checked by the footprint
# test, in
# build/release/handback-<version>-windows.zip, one folder
# handback-<version>/ for installer authors: README.md, LICENSE,
# try-installer (with what it runs on: winebox.py, wine32.py,
# wineregistry.py, innosetup/'s pin of Inno Setup's compiler), what the
# repository tracks under include/, examples/ and
# docs/ (but docs/development.md), and SHA256SUMS of the executables and
# DLLs; the archive's own sum goes beside it.
# Its README and docs may name only what it carries: a link to a file it
# lacks, or a file, preset or test command of the source repository named
# in a section that does not say so, fails the release.
# Then the archive proves itself: unpacked alone, its example installers are
# built, with its include files, around its builds and hand back under Wine;
# both handback-check.exe answer there as the include files would;
# every command block of its pages runs as written, in a folder of an
# author's own; and try-installer tries the installers an author builds.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

out=build/release
rm -rf "$out"
mkdir -p "$out"
# Every time in the release is the commit's, so one commit gives one archive.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export SOURCE_DATE_EPOCH

members=() # name in the archive, then the file it comes from
for arch in x86 x64; do
  build=$out/windows-$arch
  cmake --preset "windows-$arch" -B "$build" >/dev/null
  cmake --build "$build" --target handback handback-check handback-check-exe -j"$(nproc)" >/dev/null
  for file in handback.exe handback-check.dll handback-check.exe; do
    if [ -n "${HANDBACK_SIGN_PFX-}" ]; then
      ./scripts/sign.sh "$build/$file" "$build/signed-$file"
      mv "$build/signed-$file" "$build/$file"
    fi
  done
  # The footprint tests of the files that ship, signed or not.
  ctest --test-dir "$build" -R '^footprint(\.check|\.check-exe)?$' --output-on-failure
  mkdir -p "$out/$arch"
  for file in handback.exe handback-check.dll handback-check.exe; do
    cp "$build/$file" "$out/$arch/$file"
    members+=("$arch/$file" "$out/$arch/$file")
  done
done
(cd "$out" && sha256sum x86/handback.exe x64/handback.exe \
  x86/handback-check.dll x64/handback-check.dll \
  x86/handback-check.exe x64/handback-check.exe >SHA256SUMS)

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/windows-x64/CMakeCache.txt")
zip=handback-$version-windows.zip
members+=(README.md README.md LICENSE LICENSE try-installer tools/try-installer)
# What try-installer runs on: Windows under Wine, 32-bit programs, and the
# pin of Inno Setup's compiler.
for file in wine32.py winebox.py wineregistry.py innosetup/package.json innosetup/package-lock.json; do
  members+=("$file" "tools/$file")
done
while IFS= read -r -d '' file; do
  members+=("$file" "$file")
done < <(git ls-files -z include examples docs ':!docs/development.md')
members+=(SHA256SUMS "$out/SHA256SUMS")

# Fixed order, times and modes: the same files give the same archive bytes.
/usr/bin/python3 - "$out/$zip" "$SOURCE_DATE_EPOCH" "handback-$version" "${members[@]}" <<'EOF_PY'
import os
import posixpath
import re
import subprocess
import sys
import time
import zipfile

path, epoch, top, members = sys.argv[1], int(sys.argv[2]), sys.argv[3], \
    sys.argv[4:]
names, sources = members[::2], members[1::2]


def folders(paths):
    return {p[:m.start()] for p in paths for m in re.finditer("/", p)}


carried = set(names) | folders(names)
tracked = set(filter(None, subprocess.run(
    ["git", "ls-files", "-z"], capture_output=True, text=True,
    check=True).stdout.split("\0")))
tracked |= folders(tracked)
missing = []
for name, source in zip(names, sources):
    if not name.endswith(".md"):
        continue
    with open(source, encoding="utf-8") as file:
        text = file.read()
    for target in re.findall(r"\]\(([^)\s]+)\)", text):
        if re.match(r"[a-z]+:|#", target):  # the web, or this page
            continue
        wanted = posixpath.normpath(posixpath.join(
            posixpath.dirname(name), target.split("#")[0]))
        if wanted not in names:
            missing.append(f"{name} links to {target}, which the "
                           "archive does not carry")
    # What the source repository alone has may be named only in a section
    # that says so.
    text = re.sub(r"^```.*?^```$", "", text, flags=re.M | re.S)
    for section in re.split(r"^#+ ", text, flags=re.M):
        words = [word.strip(".,;:()").removeprefix("./").rstrip("/")
                 for span in re.findall(r"`([^`]+)`", section)
                 for word in re.split(r"[\s=]+", span)]
        named = [word for word in words if word not in carried and (
            word in tracked or word.startswith("build/"))]
        named += re.findall(r"\bctest\b|\bpresets?\b|\btest command\b",
                            section)
        if named and "source repository" not in " ".join(section.split()):
            missing.append(
                f"{name}, section {section.splitlines()[0]!r}: names "
                f"{', '.join(dict.fromkeys(named))}, which the archive does "
                "not carry, without saying it is the source repository's")
if missing:
    sys.exit("\n".join(dict.fromkeys(missing)))
with zipfile.ZipFile(path, "w") as archive:
    for name, source in zip(names, sources):
        info = zipfile.ZipInfo(f"{top}/{name}", time.gmtime(epoch)[:6])
        mode = 0o755 if os.stat(source).st_mode & 0o100 else 0o644
        info.external_attr = (0o100000 | mode) << 16
        with open(source, "rb") as file:
            archive.writestr(info, file.read(), zipfile.ZIP_DEFLATED, 9)
EOF_PY
# The proof: from the unpacked archive alone, each example installer is built
# around its builds with the archive's include/ (each example finds it beside
# its own folder, never in this checkout), run silently in a scratch 64-bit
# Windows with [boot] mapped as on Windows NT, and the shell Windows would
# start is started: setup must resume from the installed directory, and shell
# name Explorer again. These are rows of the end-to-end table; the stand-in
# setup program and the observer come from this build.
proof=$out/proof
mkdir -p "$proof/unpacked"
unzip -q "$out/$zip" -d "$proof/unpacked"
cmake --build "$out/windows-x64" --target SetupStandIn Observer RegValues resumed-setup -j"$(nproc)" >/dev/null
fixtures=$out/windows-x64/tests/e2e
# One folder, as the docs name it.
unpacked=$proof/unpacked/handback-$version
if [ "$(ls "$proof/unpacked")" != "handback-$version" ]; then
  rm "$out/$zip"
  echo "The archive does not unpack into handback-$version/ alone, and is removed." >&2
  exit 1
fi
e2e=(/usr/bin/python3 tests/e2e/e2e.py "$proof/wine")
disproved() {
  "${e2e[@]}" finish
  rm "$out/$zip"
  echo "The archive failed its proof, and is removed$1" >&2
  exit 1
}
if ! "${e2e[@]}" prepare "$unpacked/x64/handback.exe" "$fixtures/SetupStandIn.exe" \
  "$fixtures/Observer.exe" "$unpacked/x64/handback.exe" \
  "$out/windows-x64/examples/setup/resumed-setup.exe" \
  "$unpacked/x86/handback-check.dll" "$unpacked/x64/handback-check.dll" "$unpacked/examples" \
  "$unpacked/x86/handback.exe" >"$proof/prepare.log" 2>&1; then
  cat "$proof/prepare.log" >&2
  disproved ": its examples could not be built from it alone, or Wine could not run its x64 build."
fi
failed=0
for row in installer-nt inno-nt; do
  status=0
  "${e2e[@]}" run "$row" || status=$?
  case $status in
  0) echo "Proved from the archive alone: $row" ;;
  77) echo "Not proved here: $row (above, why)" ;;
  *) failed=1 ;;
  esac
done
[ $failed -eq 0 ] || disproved .

# handback-check.exe: each width from the archive, in the Windows the
# rows left (UAC off), on a safe directory under Program Files (hand-back,
# status 0) and one open to everyone (none, status 2).
drive=$proof/wine/0/prefix/drive_c
for dir in "Program Files/Quillmark" Open; do
  mkdir -p "$drive/$dir/Setup"
  touch "$drive/$dir/HANDBACK.EXE" "$drive/$dir/Setup/SETUP.EXE"
done
chmod 0777 "$drive/Open"
asked() { # WIDTH STATUS DIRECTORY WAY
  local status=0 said
  said=$("${e2e[@]}" wine "$unpacked/$1/handback-check.exe" "C:\\$3\\HANDBACK.EXE" "C:\\$3\\Setup") || status=$?
  if [ "$status" = "$2" ] && [ "$(tail -1 <<<"${said//$'\r'/}")" = "HandBackWay: $4" ]; then
    echo "Proved from the archive alone: $1/handback-check.exe on C:\\$3"
  else
    printf '%s/handback-check.exe on C:\\%s: exit status %s, not %s:\n%s\n' "$1" "$3" "$status" "$2" "$said" >&2
    failed=1
  fi
}
for width in x64 x86; do
  if [ $width = x86 ] && [ -e "$proof/wine/pristine/nsis32-unavailable.txt" ]; then
    echo "Not proved here: x86/handback-check.exe ($(cat "$proof/wine/pristine/nsis32-unavailable.txt"))"
    continue
  fi
  asked $width 0 'Program Files\Quillmark' 'hand-back: UAC is off'
  asked $width 2 Open 'none: C:\Open is open to others: S-1-1-0 may change it (rights 0x001301FF)'
done
[ $failed -eq 0 ] || disproved .

# As an author works, in a folder of their own outside the unpacked archive
# (tools/docblocks.py): the minimal installers of docs/include.md, taken from
# the page's code blocks, then every command block of the archive's pages,
# as written: the example
# SETUP.EXE, the installers, try-installer from scratch. A block that fails,
# or a build that warns, fails the release; one that needs a 32-bit program
# where none runs is not proved here.
author=$PWD/$proof/author
mkdir -p "$author"
/usr/bin/python3 tools/docblocks.py "$unpacked" "$author" ||
  disproved ": a command of its pages failed from the archive (above)."

# try-installer from the archive on what an author builds: both examples,
# the minimal installers of docs/include.md (they pass) and one whose
# SETUP.EXE never wakes HANDBACK.EXE (it fails, naming it still waiting);
# the same cases as the repository's tests, and the 32-bit ones.
try=(/usr/bin/python3 tests/try-installer/try.py "$proof/try")
"${try[@]}" prepare "$unpacked" "$unpacked/x86/handback.exe" "$unpacked/x64/handback.exe" \
  "$unpacked/x86/handback-check.dll" "$unpacked/x64/handback-check.dll" \
  >"$proof/try.log" 2>&1 || {
  cat "$proof/try.log" >&2
  disproved ": the installers to try could not be built from it."
}
for case in $(/usr/bin/python3 tests/try-installer/try.py list | tr ';' ' '); do
  status=0
  "${try[@]}" run "$case" >"$proof/try-$case.log" 2>&1 || status=$?
  case $status in
  0) echo "Proved from the archive alone: try-installer on $case" ;;
  77) echo "Not proved here: try-installer on $case ($(tail -1 "$proof/try-$case.log"))" ;;
  *)
    cat "$proof/try-$case.log" >&2
    failed=1
    ;;
  esac
done
[ $failed -eq 0 ] || disproved .
"${e2e[@]}" finish

(cd "$out" && sha256sum "$zip" >"$zip.sha256")
echo "$out/$zip:"
cat "$out/$zip.sha256" "$out/SHA256SUMS"
