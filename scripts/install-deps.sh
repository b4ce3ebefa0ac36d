#!/usr/bin/env bash
# Installs, as root on Debian 12, whatever the build and the tests need and is
# missing: Debian's packages, and Inno Setup's compiler from npm, pinned by
# tools/innosetup/package-lock.json.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'; }
for pkg in cmake g++ make googletest libgtest-dev libgmock-dev clang libclang-rt-14-dev \
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 \
  python3 python3-pefile osslsigncode openssl wine wine64 wine32:i386 xvfb x11-utils imagemagick \
  nsis; do
  have "$pkg" || need+=("$pkg")
done
command -v npm >/dev/null || need+=(npm)

if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${need[*]}; run this as root to install them" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

inno=tools/innosetup
npm ls --prefix "$inno" >/dev/null 2>&1 || npm ci --prefix "$inno" --no-audit --no-fund >/dev/null
