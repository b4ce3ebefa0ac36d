#!/usr/bin/env bash
# debian13.sh COMMAND [ARG...]: runs COMMAND, a path in this tree, as root
# in a copy of the tree inside a minimal Debian 13 root (debootstrap
# --variant=minbase trixie), with its own /proc and this machine's /sys and
# /dev. The root lives in /var/cache/handback/debian13 (HANDBACK_DEBIAN13
# names another place) and is made again once it is a week old; the copy of
# the tree, in its /work/handback, keeps its build/ from run to run.
#
# The root is entered by pivot_root in a mount namespace of its own, not by
# chroot: a chrooted process may not make the user namespace in which
# 32-bit programs are emulated. HANDBACK_32BIT passes through.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then
  echo "debian13.sh makes and enters a root of its own: run it as root" >&2
  exit 1
fi
cache=${HANDBACK_DEBIAN13:-/var/cache/handback/debian13}
root=$cache/root made=$cache/made

if [ ! -e "$made" ] || [ -n "$(find "$made" -mtime +6)" ]; then
  command -v debootstrap >/dev/null || ./scripts/apt-install.sh debootstrap
  echo "Making a minimal Debian 13 root in $root (a minute or two) ..."
  rm -rf "$root" "$made"
  mkdir -p "$cache"
  if ! debootstrap --variant=minbase trixie "$root" http://deb.debian.org/debian \
    >"$cache/debootstrap.log" 2>&1; then
    tail -n 5 "$cache/debootstrap.log" >&2
    echo "debootstrap failed; all it said: $cache/debootstrap.log" >&2
    exit 1
  fi
  touch "$made"
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"
# This machine's own certificate authorities, should its network need them.
if compgen -G "/usr/local/share/ca-certificates/*" >/dev/null; then
  cp -r /usr/local/share/ca-certificates/. "$root/usr/local/share/ca-certificates/"
fi

# The tree as git sees it (tracked and new files, not what it ignores),
# over the copy of the last run, whose build/ stays: a file is copied only
# where it differs, and then made new, so that the build sees every change
# whatever the times of the two trees.
tree=$root/work/handback
mkdir -p "$tree"
files=$(mktemp)
trap 'rm -f "$files"' EXIT
git ls-files -z --cached --others --exclude-standard >"$files"
while IFS= read -r -d '' file; do
  [ -f "$file" ] || continue # deleted, not yet committed
  if ! cmp -s "$file" "$tree/$file"; then
    mkdir -p "$(dirname "$tree/$file")"
    cp "$file" "$tree/$file"
  fi
done <"$files"
# What the tree no longer holds goes from the copy.
(cd "$tree" && find . -path ./build -prune -o -type f -printf '%P\0') |
  while IFS= read -r -d '' file; do
    grep -qzxF -- "$file" "$files" || rm -f "$tree/$file"
  done

exec unshare --mount --propagation private --fork /bin/bash -c '
  set -e
  root=$1
  shift
  mount --rbind "$root" "$root"
  mount -t proc proc "$root/proc"
  mount --rbind /sys "$root/sys"
  mount --rbind /dev "$root/dev"
  cd "$root"
  mkdir -p .host
  pivot_root . .host
  umount -l /.host
  cd /work/handback
  exec env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    ${HANDBACK_32BIT:+HANDBACK_32BIT=$HANDBACK_32BIT} "$@"
' debian13 "$root" "$@"
