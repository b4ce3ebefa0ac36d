#!/usr/bin/env bash
# Runs every test: installs what is missing, builds, runs the unit tests on
# this machine, plain and under ASan and UBSan, a bounded fuzz run of the whole
# hand-back, and the tests of each Windows build.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

jobs=$(nproc)
for preset in host host-asan fuzz; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset"
done

# Wine runs the x86 build, and Inno Setup's compiler and installers, only
# where this kernel runs 32-bit programs.
/usr/lib/wine/wine --version >/dev/null 2>&1 ||
  echo "This machine cannot run 32-bit programs: the x86 build's end-to-end tests and the Inno Setup rows (inno-*) are skipped."
for preset in windows-x86 windows-x64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset"
done
