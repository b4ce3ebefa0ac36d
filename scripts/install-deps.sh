#!/usr/bin/env bash
# Installs, as root on Debian 12 or 13, whatever the build and the tests need
# and is missing: Debian's packages (named alike on both releases), the
# locales Wine takes its code pages from, and Inno Setup's compiler from npm,
# pinned by tools/innosetup/package-lock.json; where the kernel runs no
# 32-bit programs, an emulator for them. Where 32-bit Wine or the emulator
# cannot be had, the tests that need them are skipped, with the reason, and
# the rest go on.
set -euo pipefail
cd "$(dirname "$0")/.."

# en_US: code page 1252, and non-ASCII command lines reach Windows programs
# intact; ja_JP and zh_CN: the double-byte code pages 932 and 936.
locales=(en_US.UTF-8 ja_JP.UTF-8 zh_CN.UTF-8)

have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'; }
root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "$1; run this as root to install them" >&2
    exit 1
  fi
}

need=()
for pkg in cmake g++ make binutils googletest libgtest-dev libgmock-dev clang libclang-rt-dev \
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 \
  python3 python3-pefile osslsigncode openssl wine wine64 xvfb x11-utils imagemagick \
  nsis e2fsprogs locales unzip; do
  have "$pkg" || need+=("$pkg")
done
command -v npm >/dev/null || need+=(npm)
if [ ${#need[@]} -gt 0 ]; then
  root "missing packages: ${need[*]}"
  ./scripts/apt-install.sh "${need[@]}" || {
    echo "The packages above are needed, and could not be installed." >&2
    exit 1
  }
fi

# Wine runs the x86 build and every 32-bit installer only with wine32:i386,
# installed everywhere (dpkg does not mind what the kernel runs); where the
# kernel runs no 32-bit programs, they run under an emulator, fetched here
# (tools/wine32.py). The one place that tells the user which way they run,
# or why they cannot; the tests' skip messages use the same words.
skipped="the tests of 32-bit programs are skipped (the x86 build's, the inno-* rows, installer32-on-x64)."
if ! have wine32:i386; then
  root "missing package: wine32:i386"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  ./scripts/apt-install.sh wine32:i386 ||
    echo "32-bit Wine (wine32:i386) could not be installed (above, why): $skipped" >&2
fi
# Debian 13's 32-bit loader is position-independent (ELF type 3): without
# its preloader (a package of its own, which wine32 only suggests) the
# emulator puts it where a Windows program that cannot move (an NSIS
# installer, at 0x400000) must go. Debian 12's is not, and needs none.
if have wine32:i386 && ! have wine32-preloader:i386 &&
  [ "$(od -An -tu1 -j16 -N1 /usr/lib/wine/wine)" -eq 3 ]; then
  root "missing package: wine32-preloader:i386"
  ./scripts/apt-install.sh wine32-preloader:i386 ||
    echo "Wine's 32-bit preloader could not be installed (above, why): 32-bit NSIS installers will not start." >&2
fi
if route=$(/usr/bin/python3 tools/wine32.py fetch); then
  echo "32-bit programs run $route here${HANDBACK_32BIT:+ (HANDBACK_32BIT=$HANDBACK_32BIT)}."
else
  echo "32-bit programs do not run here: ${route#none: }; $skipped" >&2
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
