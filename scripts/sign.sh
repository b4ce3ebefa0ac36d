#!/usr/bin/env bash
# Signs a Windows executable with the author's code-signing certificate:
#   HANDBACK_SIGN_PFX       the PKCS#12 file holding the certificate and its key
#   HANDBACK_SIGN_PASSWORD  that file's password, if it has one
# usage: scripts/sign.sh IN.exe OUT.exe
# SHA-256 and no time stamp, as no time-stamp server can be reached from the
# build (the signature still verifies without one). The signing time is
# SOURCE_DATE_EPOCH when set, so the same file and certificate sign alike.
set -euo pipefail
: "${HANDBACK_SIGN_PFX:?must name the PKCS#12 file to sign with}"
sign() {
  osslsigncode sign -pkcs12 "$HANDBACK_SIGN_PFX" "$@" -h sha256 -n handback \
    ${SOURCE_DATE_EPOCH:+-time "$SOURCE_DATE_EPOCH"} -in "$in" -out "$out"
}
in=$1 out=$2
# The password goes through a pipe, not the command line, which others can read.
if [ -n "${HANDBACK_SIGN_PASSWORD-}" ]; then
  sign -readpass <(printf %s "$HANDBACK_SIGN_PASSWORD")
else
  sign
fi
