#!/usr/bin/env bash
# Signs a copy of handback.exe through scripts/sign.sh, as a release is
# signed, with a throwaway self-signed certificate made here, and checks the
# signature with that certificate as the only trusted one.
# usage: signing.sh EXE DIR    (the signed copy is DIR/handback.exe)
set -euo pipefail
exe=$1 dir=$2
rm -rf "$dir"
mkdir -p "$dir"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=handback throwaway signer" \
  -addext extendedKeyUsage=codeSigning -keyout "$dir/throwaway.key" -out "$dir/throwaway.crt"
openssl pkcs12 -export -inkey "$dir/throwaway.key" -in "$dir/throwaway.crt" \
  -passout pass:throwaway -out "$dir/throwaway.pfx"
HANDBACK_SIGN_PFX=$dir/throwaway.pfx HANDBACK_SIGN_PASSWORD=throwaway \
  "$(dirname "$0")/../../scripts/sign.sh" "$exe" "$dir/handback.exe"
osslsigncode verify -CAfile "$dir/throwaway.crt" -in "$dir/handback.exe"
