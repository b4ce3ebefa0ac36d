#!/usr/bin/env bash
# Runs every test: installs what is missing, then builds and tests each preset:
# the unit tests on this machine, plain and under ASan and UBSan, a bounded
# fuzz run of the whole hand-back, and the tests of each Windows build. The
# Windows builds, whose end-to-end tests take longest, and the host's presets
# go side by side from the start, the host's at a lower priority. Each line of
# work writes build/<name>.log, shown once all are done.
#
# ./scripts/test.sh --debian13 runs the same in a minimal Debian 13 root
# (scripts/debian13.sh), made or refreshed first.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = --debian13 ]; then
  exec ./scripts/debian13.sh ./scripts/test.sh
fi
# It also says where the tests of 32-bit programs are skipped, and why.
./scripts/install-deps.sh

jobs=$(nproc)
presets() {
  for preset in "$@"; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j"$jobs"
    ctest --preset "$preset" --output-junit junit.xml
  done
}

# start NAME NICENESS PRESET...: a line of work in the background.
names=() pids=() junit=()
start() {
  local name=$1 niceness=$2
  shift 2
  for preset in "$@"; do
    rm -f "build/$preset/junit.xml" # a build that fails writes none
    junit+=("build/$preset/junit.xml")
  done
  (renice -n "$niceness" "$BASHPID" >/dev/null && presets "$@") >"build/$name.log" 2>&1 &
  names+=("$name") pids+=($!)
}
mkdir -p build
start windows-x64 0 windows-x64
start windows-x86 0 windows-x86
start host 10 host host-asan
start fuzz 10 fuzz

failed=()
for i in "${!names[@]}"; do
  wait "${pids[$i]}" || failed+=("${names[$i]}")
done
for name in "${names[@]}"; do
  echo "=== $name (build/$name.log)"
  cat "build/$name.log"
done
# What was skipped, and why, from each test's own words.
/usr/bin/python3 scripts/skipped.py "${junit[@]}"
# Which way they ran; each row of the x86 build checked it in its Windows.
if route=$(/usr/bin/python3 tools/wine32.py route); then
  echo "32-bit programs ran $route$([ "$route" = emulated ] && echo " (QEMU, in a user namespace of their own)")."
else
  echo "32-bit programs did not run: ${route#none: }."
fi
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]} (see above)" >&2
  exit 1
fi
echo "All tests passed."
