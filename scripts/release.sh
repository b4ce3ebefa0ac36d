#!/usr/bin/env bash
# Builds a release from clean: both Windows executables and both
# handback-check.dll, signed when HANDBACK_SIGN_PFX names a certificate (see
# scripts/sign.sh), each checked by the footprint test, in
# build/release/handback-<version>-windows.zip with README.md, LICENSE, what
# the repository tracks under include/, examples/ and docs/, and SHA256SUMS
# of the executables and DLLs; the archive's own sum goes beside it.
# A link in its README or docs to a file it does not carry fails the release.
# Then the archive proves itself: unpacked alone, its example installers are
# built, with its include files, around its builds and hand back under Wine.
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
  cmake --build "$build" --target handback handback-check -j"$(nproc)" >/dev/null
  for file in handback.exe handback-check.dll; do
    if [ -n "${HANDBACK_SIGN_PFX-}" ]; then
      ./scripts/sign.sh "$build/$file" "$build/signed-$file"
      mv "$build/signed-$file" "$build/$file"
    fi
  done
  # The footprint tests of the files that ship, signed or not.
  ctest --test-dir "$build" -R '^footprint(\.check)?$' --output-on-failure
  mkdir -p "$out/$arch"
  for file in handback.exe handback-check.dll; do
    cp "$build/$file" "$out/$arch/$file"
    members+=("$arch/$file" "$out/$arch/$file")
  done
done
(cd "$out" && sha256sum x86/handback.exe x64/handback.exe \
  x86/handback-check.dll x64/handback-check.dll >SHA256SUMS)

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/windows-x64/CMakeCache.txt")
zip=handback-$version-windows.zip
members+=(README.md README.md LICENSE LICENSE)
while IFS= read -r -d '' file; do
  members+=("$file" "$file")
done < <(git ls-files -z include examples docs)
members+=(SHA256SUMS "$out/SHA256SUMS")

# Fixed order, times and modes: the same files give the same archive bytes.
/usr/bin/python3 - "$out/$zip" "$SOURCE_DATE_EPOCH" "${members[@]}" <<'EOF_PY'
import os
import posixpath
import re
import sys
import time
import zipfile

path, epoch, members = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
names, sources = members[::2], members[1::2]
missing = []
for name, source in zip(names, sources):
    if name.endswith(".md"):
        with open(source, encoding="utf-8") as file:
            for target in re.findall(r"\]\(([^)\s]+)\)", file.read()):
                if re.match(r"[a-z]+:|#", target):  # the web, or this page
                    continue
                wanted = posixpath.normpath(posixpath.join(
                    posixpath.dirname(name), target.split("#")[0]))
                if wanted not in names:
                    missing.append(f"{name} links to {target}, which the "
                                   "archive does not carry")
if missing:
    sys.exit("\n".join(dict.fromkeys(missing)))
with zipfile.ZipFile(path, "w") as archive:
    for name, source in zip(names, sources):
        info = zipfile.ZipInfo(name, time.gmtime(epoch)[:6])
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
cmake --build "$out/windows-x64" --target SetupStandIn Observer resumed-setup -j"$(nproc)" >/dev/null
fixtures=$out/windows-x64/tests/e2e
unpacked=$proof/unpacked
e2e=(/usr/bin/python3 tests/e2e/e2e.py "$proof/wine")
disproved() {
  "${e2e[@]}" finish
  rm "$out/$zip"
  echo "The archive failed its proof, and is removed$1" >&2
  exit 1
}
if ! "${e2e[@]}" prepare "$unpacked/x64/handback.exe" "$fixtures/SetupStandIn.exe" \
  "$fixtures/Observer.exe" "$unpacked/x64/handback.exe" \
  "$out/windows-x64/examples/setup/resumed-setup.exe" "$unpacked/examples" \
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

# The minimal installers of docs/include.md, as an author builds them: taken
# from the page's code blocks into a folder of the author's own, outside the
# unpacked archive, and built around it with no warning: NSIS's as a 32-bit
# and as a 64-bit installer, Inno Setup's (a 32-bit compiler, run in the
# scratch Windows of the rows) where this machine runs 32-bit programs.
author=$PWD/$proof/author
mkdir -p "$author"
/usr/bin/python3 - "$unpacked/docs/include.md" "$author" <<'EOF_PY' || disproved .
import re
import sys

page, folder = sys.argv[1:]
text = open(page, encoding="utf-8").read()
for language, script in (("nsis", "my-setup.nsi"), ("iss", "my-setup.iss")):
    blocks = re.findall(rf"^```{language}\n(.*?)^```$", text, re.M | re.S)
    if len(blocks) != 1:
        sys.exit(f"{page} has {len(blocks)} {language} installers, not one.")
    with open(f"{folder}/{script}", "w", encoding="utf-8") as out:
        out.write(blocks[0])
EOF_PY
archive=$PWD/$unpacked
setup=$PWD/$fixtures/SetupStandIn.exe
for target in "" "-XTarget amd64-unicode"; do
  (cd "$author" && makensis -V2 -WX ${target:+"$target"} -DHANDBACK="$archive" \
    -DSETUP="$setup" my-setup.nsi) >"$proof/author-nsis.log" 2>&1 || {
    cat "$proof/author-nsis.log" >&2
    disproved ": the minimal NSIS installer of docs/include.md did not build ${target:-as a 32-bit installer} without a warning."
  }
done
echo "Built from docs/include.md, outside the archive: my-setup.nsi, 32-bit and 64-bit"
iscc=$PWD/tools/innosetup/node_modules/innosetup/bin/ISCC.exe
windows=$PWD/$proof/wine/0/prefix
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  (cd "$author" && WINEPREFIX=$windows WINEDEBUG=-all /usr/lib/wine/wine "$iscc" \
    "/IZ:$archive/include" "/DHANDBACK=Z:$archive" "/DSETUP=Z:$setup" my-setup.iss) \
    >"$proof/author-inno.log" 2>&1 && ! grep -q Warning "$proof/author-inno.log" || {
    cat "$proof/author-inno.log" >&2
    disproved ": the minimal Inno Setup installer of docs/include.md did not build without a warning."
  }
  echo "Built from docs/include.md, outside the archive: my-setup.iss"
else
  echo "Not proved here: my-setup.iss of docs/include.md (Inno Setup's compiler is a 32-bit program, which this machine cannot run)"
fi
"${e2e[@]}" finish

(cd "$out" && sha256sum "$zip" >"$zip.sha256")
echo "$out/$zip:"
cat "$out/$zip.sha256" "$out/SHA256SUMS"
