#!/bin/bash
# A release key of the tests' own, made once per build folder with OpenSSL, so that builds which
# cannot run launcher-publish (the Windows cross-build) have one too:
#   <dir>/release-test.key  libsodium's 64-byte Ed25519 secret key (the 32-byte seed, then the
#                           public key) as base64 on one line, mode 0600
#   <dir>/release-test.pub  the public key as base64, without a line end
#   <dir>/release-test.der  the same secret key as OpenSSL's PKCS#8, for scripts that sign a
#                           document of their own (openssl pkeyutl -sign -rawin)
# Usage: make_release_test_key.sh <dir>
set -euo pipefail
dir=$1
if [ -s "$dir/release-test.key" ] && [ -s "$dir/release-test.pub" ] && [ -s "$dir/release-test.der" ]; then exit 0; fi
mkdir -p "$dir"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# The DER forms end in the raw key bytes: the 32-byte seed of PKCS#8, the 32-byte point of SPKI.
openssl genpkey -algorithm ed25519 -outform DER -out "$scratch/key.der"
openssl pkey -inform DER -in "$scratch/key.der" -pubout -outform DER -out "$scratch/pub.der"
tail -c 32 "$scratch/pub.der" >"$scratch/pub"
{ tail -c 32 "$scratch/key.der"; cat "$scratch/pub"; } | base64 -w0 >"$scratch/secret"
echo >>"$scratch/secret"
install -m 600 "$scratch/secret" "$dir/release-test.key"
install -m 600 "$scratch/key.der" "$dir/release-test.der"
base64 -w0 "$scratch/pub" >"$dir/release-test.pub"
