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

echo "# The signer: an RSA key in a CryptoAPI container, its certificate in MY"
provider="Microsoft Enhanced RSA and AES Cryptographic Provider"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
  -subj "/CN=Demo Signer" -days 30 2>/dev/null
openssl rsa -in "$work/key.pem" -outform MSBLOB -out "$work/key.blob" 2>/dev/null
openssl x509 -in "$work/cert.pem" -outform DER -out "$work/cert.der"
openssl x509 -in "$work/cert.pem" -noout -pubkey > "$work/pub.pem"
"$fixture" key "$provider" 24 demo-signer "$work/key.blob"
"$fixture" cert "$work/cert.der" demo-signer "$provider" 24 0 1
thumbprint=$(openssl x509 -in "$work/cert.pem" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g' | tr 'A-F' 'a-f')
echo

request capi list listContainer "$provider" 24
printf 'contract text' > "$work/data"
request capi crypt sign "$thumbprint" sha256 "$(base64 -w0 "$work/data")" false
answer | base64 -d > "$work/sig"
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
