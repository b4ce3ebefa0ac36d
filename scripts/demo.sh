#!/usr/bin/env bash
# The main job: builds handback.exe for 32- and 64-bit Windows, then performs
# a real hand-back with the 64-bit one under Wine, in a scratch Windows
# environment under build/demo, and tells what happened.
#   --failure   SETUP.EXE is missing: the notice, then the restart request
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

for preset in windows-x86 windows-x64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$(nproc)" >/dev/null
done
echo "Built build/windows-x86/handback.exe and build/windows-x64/handback.exe."
exec python3 -u tests/e2e/demo.py build/windows-x64 build/demo "$@"
