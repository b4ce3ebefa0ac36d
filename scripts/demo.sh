#!/usr/bin/env bash
# The main job: builds handback.exe for 32- and 64-bit Windows, then, in a
# scratch Windows environment under build/demo, has the example installer arm
# the 64-bit one under Wine, starts the shell it registered as Windows would,
# and tells what happened.
#   --nt        [boot] mapped to the registry, as on Windows XP to 11
#   --failure   SETUP.EXE is missing: the notice, then the restart request
#   --uac       UAC is on: the installer has setup resume through RunOnce
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

for preset in windows-x86 windows-x64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$(nproc)" >/dev/null
done
echo "Built build/windows-x86/handback.exe and build/windows-x64/handback.exe."
# Debian's own interpreter, which imports its python3-pefile.
exec /usr/bin/python3 -u tools/demo.py build/windows-x64 build/demo "$@"
