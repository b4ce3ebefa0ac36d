#!/usr/bin/env bash
# Builds a release from clean: both Windows executables, signed when
# HANDBACK_SIGN_PFX names a certificate (see scripts/sign.sh), each checked by
# the footprint test, in build/release/handback-<version>-windows.zip with
# README.md, LICENSE, examples/nsis/ if there is one, and SHA256SUMS of the
# executables; the archive's own sum goes beside it.
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
  cmake --build "$build" --target handback -j"$(nproc)" >/dev/null
  if [ -n "${HANDBACK_SIGN_PFX-}" ]; then
    ./scripts/sign.sh "$build/handback.exe" "$build/handback.signed.exe"
    mv "$build/handback.signed.exe" "$build/handback.exe"
  fi
  # The footprint test of the file that ships, signed or not.
  ctest --test-dir "$build" -R '^footprint$' --output-on-failure
  mkdir -p "$out/$arch"
  cp "$build/handback.exe" "$out/$arch/handback.exe"
  members+=("$arch/handback.exe" "$out/$arch/handback.exe")
done
(cd "$out" && sha256sum x86/handback.exe x64/handback.exe >SHA256SUMS)

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/windows-x64/CMakeCache.txt")
zip=handback-$version-windows.zip
members+=(README.md README.md LICENSE LICENSE)
while IFS= read -r -d '' file; do
  members+=("$file" "$file")
done < <(git ls-files -z examples/nsis)
members+=(SHA256SUMS "$out/SHA256SUMS")

# Fixed order, times and modes: the same files give the same archive bytes.
/usr/bin/python3 - "$out/$zip" "$SOURCE_DATE_EPOCH" "${members[@]}" <<'EOF'
import os
import sys
import time
import zipfile

path, epoch, members = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
with zipfile.ZipFile(path, "w") as archive:
    for name, source in zip(members[::2], members[1::2]):
        info = zipfile.ZipInfo(name, time.gmtime(epoch)[:6])
        mode = 0o755 if os.stat(source).st_mode & 0o100 else 0o644
        info.external_attr = (0o100000 | mode) << 16
        with open(source, "rb") as file:
            archive.writestr(info, file.read(), zipfile.ZIP_DEFLATED, 9)
EOF
(cd "$out" && sha256sum "$zip" >"$zip.sha256")
echo "$out/$zip:"
cat "$out/$zip.sha256" "$out/SHA256SUMS"
