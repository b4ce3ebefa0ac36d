#!/usr/bin/env bash
# Start-up benchmark, run by hand: handback.exe from its start to its decision
# against a GUI program that loads the same Windows DLLs and does nothing, under
# Wine, for both builds; then a program that loads handback-check.dll and has
# it check a product under Program Files, against the same program without
# the load and call. Makes its own prefix under build/bench.
# usage: bench/run.sh [PAIRS]   (default 100 alternating pairs per build)
set -euo pipefail
cd "$(dirname "$0")/.."
pairs=${1:-100}
./scripts/install-deps.sh

for preset in windows-x86 windows-x64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2 --target handback startup_floor \
    handback-check startup_check startup_check_floor >/dev/null
done

export WINEPREFIX="$PWD/build/bench/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Both programs run without a display, wherever this is run from.
unset DISPLAY WAYLAND_DISPLAY
rm -rf build/bench && mkdir -p build/bench
# A 64-bit prefix runs both builds; the 64-bit loader makes it, so that it is
# made even where 32-bit programs cannot run.
/usr/lib/wine/wine64 wineboot -i
# One server for every run: let wineboot's end, then start one that stays.
wineserver -w
wineserver -p
trap 'wineserver -k' EXIT

drive="$WINEPREFIX/drive_c"
ini="$drive/windows/system.ini"
# The Shell entry names another program, so handback.exe ends after its check.
printf '[boot]\r\nshell=EXPLORER.EXE\r\n' >"$ini.new"
cat "$ini" >>"$ini.new" && mv "$ini.new" "$ini"
before=$(md5sum <"$ini")
# The product the check judges: HANDBACK.EXE, and SETUP.EXE in Setup.
product="$drive/Program Files/Dorvanix 4"
mkdir -p "$product/Setup"
cp build/windows-x64/handback.exe "$product/HANDBACK.EXE"
cp build/windows-x64/bench/startup_floor.exe "$product/Setup/SETUP.EXE"

echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p'), $(/usr/lib/wine/wine64 --version)"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for arch in x86 x64; do
  # Each architecture's own loader: the wine command always starts the 32-bit
  # one, which would hand a 64-bit program to a second process.
  case $arch in
    x86) tools=i686-w64-mingw32 loader=/usr/lib/wine/wine ;;
    x64) tools=x86_64-w64-mingw32 loader=/usr/lib/wine/wine64 ;;
  esac
  if ! "$loader" --version >/dev/null 2>&1; then
    echo "$arch: not timed, $loader cannot run here (no 32-bit programs on this kernel)"
    continue
  fi
  mkdir -p "$drive/BENCH/$arch"
  cp "build/windows-$arch/handback.exe" "$drive/BENCH/$arch/HANDBACK.EXE"
  cp "build/windows-$arch/bench/startup_floor.exe" "$drive/BENCH/$arch/FLOOR.EXE"
  for exe in HANDBACK FLOOR; do
    file="$drive/BENCH/$arch/$exe.EXE"
    imports=$("$tools-objdump" -p "$file" | sed -n 's/^\tDLL Name: //p' | paste -sd' ')
    echo "$arch $exe.EXE: $(stat -c %s "$file") bytes, imports $imports"
  done
  /usr/bin/python3 bench/startup.py --pairs "$pairs" --label "$arch" --loader "$loader" \
    "C:\\BENCH\\$arch\\HANDBACK.EXE" "C:\\BENCH\\$arch\\FLOOR.EXE"
  # The check: loaded from the caller's directory, as an installer does.
  cp "build/windows-$arch/handback-check.dll" "$drive/BENCH/$arch/"
  cp "build/windows-$arch/bench/startup_check.exe" "$drive/BENCH/$arch/CHECK.EXE"
  cp "build/windows-$arch/bench/startup_check_floor.exe" "$drive/BENCH/$arch/CHECKFLOOR.EXE"
  echo "$arch handback-check.dll: $(stat -c %s "$drive/BENCH/$arch/handback-check.dll") bytes"
  /usr/bin/python3 bench/startup.py --pairs "$pairs" --label "$arch" --loader "$loader" \
    --name "load and call of handback-check.dll" \
    "C:\\BENCH\\$arch\\CHECK.EXE" "C:\\BENCH\\$arch\\CHECKFLOOR.EXE"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

# handback.exe must have ended at its check, leaving the profile as it was.
[ "$(md5sum <"$ini")" = "$before" ] || { echo "system.ini was changed" >&2; exit 1; }
