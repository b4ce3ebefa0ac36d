#!/usr/bin/env bash
# The main job: builds handback.exe for 32- and 64-bit Windows, then performs a
# real hand-back under Wine in a scratch Windows environment under build/demo.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

for preset in windows-x86 windows-x64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$(nproc)"
done

export WINEPREFIX="$PWD/build/demo/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf build/demo && mkdir -p build/demo
echo "== Making a scratch Windows environment in $WINEPREFIX"
wineboot -i
trap 'wineserver -k' EXIT

drive="$WINEPREFIX/drive_c"
ini="$drive/windows/system.ini"
mkdir -p "$drive/TOOLS" "$drive/PRODUCT/INSTALL"
cp build/windows-x64/handback.exe "$drive/TOOLS/HANDBACK.EXE"
# What an installer leaves behind before it restarts Windows.
printf '[boot]\r\nshell=c:\\windows\\handback.exe\r\nDorvanixSetupDir=C:\\PRODUCT\\INSTALL\r\n' >"$ini.new"
cat "$ini" >>"$ini.new" && mv "$ini.new" "$ini"

boot() { sed -n '/^\[boot\]/,/^\[/p' "$ini" | sed '$!b;/^\[/d' | tr -d '\r' | sed 's/^/    /'; }
echo "== [boot] of C:\\windows\\system.ini before"
boot
echo "== Running C:\\TOOLS\\HANDBACK.EXE as the shell"
wine 'C:\TOOLS\HANDBACK.EXE'
echo "   exit status $?"
echo "== [boot] after"
boot
