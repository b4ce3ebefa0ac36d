#!/usr/bin/env bash
# apt-install.sh PACKAGE...: installs Debian packages as root, on a machine
# as it comes. An index that cannot be fetched (a mirror mid-sync) does not
# stop it: the update is tried again, then the failed indexes are named and
# the others used. Exits 1, naming each package that cannot be installed and
# apt's reason, where any cannot; the caller decides whether that is fatal.
# APT_INSTALL_PAUSE: seconds before the second try, twice that before the
# third (3 unless set).
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp)
trap 'rm -f "$log"' EXIT

tries=3
for try in $(seq "$tries"); do
  apt-get update -q >"$log" 2>&1 && break
  if [ "$try" -lt "$tries" ]; then
    sleep $((try * ${APT_INSTALL_PAUSE:-3}))
  else
    echo "apt-get update: these indexes could not be fetched (after $tries tries); going on with the others:" >&2
    grep -E '^(E|W): Failed to fetch' "$log" | sed 's/^/  /' >&2 ||
      sed 's/^/  /' "$log" >&2
  fi
done

install() {
  apt-get install -y -q --no-install-recommends "$@" >"$log" 2>&1
}
install "$@" && exit 0
# One at a time, to name what cannot be installed and why.
failed=0
for package in "$@"; do
  install "$package" && continue
  failed=1
  echo "Cannot install $package:" >&2
  grep -E '^(E:| .* : Depends:|  +Depends:)' "$log" | sed 's/^/  /' >&2 ||
    tail -n 5 "$log" | sed 's/^/  /' >&2
done
exit "$failed"
