#!/bin/sh
# The main job, as a calling application drives it, on a machine of its own:
# a CryptoAPI key and certificate placed in the emulated Windows machine, a
# SoftHSM2 token behind the "GD" module path, and the requests that list and
# sign with them. Every request is shown with the envelope it prints.
set -e
build="${1:-build}"
sigbrid="$build/sigbrid"
fixture="$build/capi_fixture"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SIGBRID_WINROOT="$work/winroot"
export SOFTHSM2_CONF="$work/softhsm2.conf"

request() {
  echo "\$ sigbrid $*"
  "$sigbrid" "$@" | tee "$work/last"
  printf '\n\n'
}
answer() { sed -n 's/^ *"success": "\(.*\)"$/\1/p' "$work/last"; }

request system info version
request system info Version

echo "# The signer: a key pair made in a CryptoAPI container with its request; a"
echo "# throw-away CA issues the certificate, which goes to MY and signs"
provider="Microsoft Enhanced RSA and AES Cryptographic Provider"
# The last request's "success" text; the demo stops when it is missing or a
# failure answered as text.
capi_answer() {
  text=$(sed -n 's/^ *"success": "\(.*\)"$/\1/p' "$work/last")
  case "$text" in ''|'{\"error\"'*) echo "demo: the request failed" >&2; exit 1 ;; esac
  printf '%s' "$text"
}
request capi repo createKeyPair "$provider" 24 demo-signer false false 2048 - "Demo Signer" true
csr=$(capi_answer)
printf '%s' "$csr" | base64 -d > "$work/signer.csr"
echo "# openssl checks the request:"
openssl req -inform DER -in "$work/signer.csr" -verify -noout -subject -nameopt multiline 2>&1 | tee "$work/checked"
grep -q "verify OK" "$work/checked" || { echo "demo: the request does not verify" >&2; exit 1; }
echo
request capi repo createKeyPair "$provider" 24 demo-signer true false 2048 - "Demo Signer" false
blob=$(capi_answer)
printf '%s' "$blob" | base64 -d > "$work/signer.blob"
[ "$(openssl rsa -pubin -inform MSBLOB -in "$work/signer.blob" -noout -modulus)" = \
  "$(openssl req -inform DER -in "$work/signer.csr" -noout -modulus)" ] ||
  { echo "demo: the request carries another key than the container" >&2; exit 1; }
echo "# the request's modulus is the container key's"
# The CA's own key and certificate also serve the token below.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
  -subj "/CN=Demo CA" -days 30 2>/dev/null
openssl x509 -in "$work/cert.pem" -outform DER -out "$work/cert.der"
openssl x509 -req -inform DER -in "$work/signer.csr" -CA "$work/cert.pem" -CAkey "$work/key.pem" -set_serial 1 \
  -days 30 -outform DER -out "$work/signer.der" 2>/dev/null
openssl x509 -inform DER -in "$work/signer.der" -noout -pubkey > "$work/pub.pem"
thumbprint=$(openssl x509 -inform DER -in "$work/signer.der" -noout -fingerprint -sha1 |
  sed 's/.*=//; s/://g' | tr 'A-F' 'a-f')
echo

request capi repo importCertificate "$provider" 24 demo-signer "$(base64 -w0 "$work/signer.der")"
[ "$(capi_answer)" = '{\"result\":\"ok\"}' ] || { echo "demo: the certificate was not installed" >&2; exit 1; }
request capi list listContainer "$provider" 24
printf 'contract text' > "$work/data"
request capi crypt sign "$thumbprint" sha256 "$(base64 -w0 "$work/data")" false
signature=$(capi_answer)
printf '%s' "$signature" | base64 -d > "$work/sig"
echo "# openssl checks the signature:"
openssl dgst -sha256 -verify "$work/pub.pem" -signature "$work/sig" "$work/data"
echo

echo "# A SoftHSM2 token, reached through the GD module path"
mkdir -p "$work/tokens" "$SIGBRID_WINROOT/drive_c/Windows/System32"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$work/tokens" > "$SOFTHSM2_CONF"
ln -s /usr/lib/softhsm/libsofthsm2.so "$SIGBRID_WINROOT/drive_c/Windows/System32/aetpkss1.dll"
softhsm2-util --init-token --free --label "Demo Token" --so-pin 87654321 --pin 1234 >/dev/null
pkcs11-tool --module /usr/lib/softhsm/libsofthsm2.so --login --pin 1234 --write-object "$work/key.pem" \
  --type privkey --id 01 --label "Demo Signer" >/dev/null 2>&1
pkcs11-tool --module /usr/lib/softhsm/libsofthsm2.so --login --pin 1234 --write-object "$work/cert.der" \
  --type cert --id 01 --label "Demo Signer" >/dev/null 2>&1
echo

request pkcs11 list tokens GD
serial=$(sed -n 's/^ *"serial": "\(.*\)",\{0,1\}$/\1/p' "$work/last")
request pkcs11 list objects GD "$serial" 1234
request pkcs11 list certificates GD
request pkcs11 list objects GD "$serial" 0000
