#!/usr/bin/env bash
# Installs, as root on Debian 12 or 13, whatever the build and the tests need
# and is missing: Debian's packages (named alike on both releases), the
# locales Wine takes its code pages from, and Inno Setup's compiler from npm,
# pinned by tools/innosetup/package-lock.json.
set -euo pipefail
cd "$(dirname "$0")/.."

# en_US: code page 1252, and non-ASCII command lines reach Windows programs
# intact; ja_JP and zh_CN: the double-byte code pages 932 and 936.
locales=(en_US.UTF-8 ja_JP.UTF-8 zh_CN.UTF-8)

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'; }
for pkg in cmake g++ make googletest libgtest-dev libgmock-dev clang libclang-rt-dev \
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 \
  python3 python3-pefile osslsigncode openssl wine wine64 wine32:i386 xvfb x11-utils imagemagick \
  nsis e2fsprogs locales unzip; do
  have "$pkg" || need+=("$pkg")
done
command -v npm >/dev/null || need+=(npm)

root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "$1; run this as root to install them" >&2
    exit 1
  fi
}
if [ ${#need[@]} -gt 0 ]; then
  root "missing packages: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

generated=$(locale -a)
missing=()
for name in "${locales[@]}"; do
  grep -qix "${name/UTF-8/utf8}" <<<"$generated" || missing+=("$name")
done
if [ ${#missing[@]} -gt 0 ]; then
  root "locales not generated: ${missing[*]}"
  for name in "${missing[@]}"; do
    sed -i "s/^# *\($name UTF-8\)/\1/" /etc/locale.gen
    grep -qx "$name UTF-8" /etc/locale.gen || echo "$name UTF-8" >>/etc/locale.gen
  done
  locale-gen >/dev/null
fi

inno=tools/innosetup
npm ls --prefix "$inno" >/dev/null 2>&1 || npm ci --prefix "$inno" --no-audit --no-fund >/dev/null
