#!/bin/sh
# The main job, as a calling application drives it, on a machine of its own:
# on a SoftHSM2 token behind the "AT" module path a key pair made, the
# certificate a throw-away CA issues for it imported, listed and signed with;
# then the same on the CryptoAPI road, in a container and the "MY" store, and
# for a key in Microsoft's software key storage provider (CNG). Every
# request is shown with the envelope it prints; openssl checks every request
# and signature, and the demo exits non-zero when anything fails.
set -e
build="${1:-build}"
sigbrid="$build/sigbrid"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SIGBRID_WINROOT="$work/winroot"
export SOFTHSM2_CONF="$work/softhsm2.conf"

request() {
  echo "\$ sigbrid $*"
  "$sigbrid" "$@" | tee "$work/last"
  printf '\n\n'
}
fail() { echo "demo: $*" >&2; exit 1; }
# The "success" text of the last request; the demo stops when there is none,
# or when it is a failure answered as text ({"error":...}).
answer() {
  text=$(sed -n 's/^ *"success": "\(.*\)"$/\1/p' "$work/last")
  case "$text" in ''|'{\"error\"'*) fail "the request failed" ;; esac
  printf '%s' "$text"
}
# The last request answered "success", whatever its value.
succeeded() { grep -q '^ *"success": ' "$work/last" || fail "the request failed"; }
# A DER certificate's thumbprint: the SHA-1 of its bytes in lower-case hex.
thumbprint_of() {
  openssl x509 -inform DER -in "$1" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g' | tr 'A-F' 'a-f'
}
# openssl checks the last request's signature (base64) over a file.
verify() {
  answer | base64 -d > "$work/sig"
  printf '# openssl checks the signature: '
  openssl dgst -"$1" -verify "$2" -signature "$work/sig" "$3"
  echo
}

request system info version
succeeded
request system info Version
grep -q '"error": "Comando nao encontrado"' "$work/last" || fail "an unknown command was not refused"

# One throw-away CA issues the certificates of both roads.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/ca.key" -out "$work/ca.pem" \
  -subj "/CN=Demo CA" -days 2 2>/dev/null

echo "# A SoftHSM2 token behind the AT module path: a key pair made on it, a"
echo "# certificate issued for it by a throw-away CA, imported, and used to sign"
module=/usr/lib/softhsm/libsofthsm2.so
mkdir -p "$work/tokens" "$SIGBRID_WINROOT/drive_c/Windows/System32"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$work/tokens" > "$SOFTHSM2_CONF"
ln -s "$module" "$SIGBRID_WINROOT/drive_c/Windows/System32/asepkcs.dll"
softhsm2-util --init-token --free --label "Demo Token" --so-pin 87654321 --pin 1234 >/dev/null
echo

echo "# What each module of the table looks like here: SoftHSM2 loads as AT"
request system info modules
grep -q '"manufacturerId": "SoftHSM"' "$work/last" || fail "the AT module was not described"

request pkcs11 list tokens AT
succeeded
serial=$(sed -n 's/^ *"serial": "\(.*\)",\{0,1\}$/\1/p' "$work/last")
request pkcs11 repo createKeyPair AT "$serial" "Demo Token Signer" 2048 1234
keyid=$(answer)
request pkcs11 repo getPublicKey AT "$serial" "$keyid"
modulus=$(answer | base64 -d | od -An -v -tx1 | tr -d ' \n' | tr 'a-f' 'A-F')

echo "# pkcs11-tool reads the same public key; the CA issues a certificate for it"
pkcs11-tool --module "$module" --read-object --type pubkey \
  --id "$(printf %s "$keyid" | base64 -d | od -An -v -tx1 | tr -d ' \n')" -o "$work/token-pub.der" >/dev/null 2>&1
openssl pkey -pubin -inform DER -in "$work/token-pub.der" -out "$work/token-pub.pem"
[ "$(openssl rsa -pubin -in "$work/token-pub.pem" -noout -modulus)" = "Modulus=$modulus" ] ||
  fail "getPublicKey answered another modulus than the token holds"
echo "modulus: the same"
openssl x509 -new -CA "$work/ca.pem" -CAkey "$work/ca.key" -force_pubkey "$work/token-pub.pem" \
  -subj "/CN=Demo Token Signer" -days 30 -outform DER -out "$work/token-cert.der"
openssl x509 -inform DER -in "$work/token-cert.der" -noout -pubkey > "$work/token-cert-pub.pem"
echo

request pkcs11 repo importCertificate AT "$serial" "$keyid" "Demo Token Signer" 1234 \
  "$(base64 -w0 "$work/token-cert.der")"
[ "$(answer)" = "certificado adicionado com sucesso: $keyid" ] || fail "the certificate was not imported"
request pkcs11 list certificates AT
token_thumbprint=$(sed -n 's/^ *"thumbprint": "\(.*\)",\{0,1\}$/\1/p' "$work/last")
[ "$token_thumbprint" = "$(thumbprint_of "$work/token-cert.der")" ] ||
  fail "the token does not list the imported certificate"
printf 'invoice 2026-0042, total 1.250,00' > "$work/invoice"
request pkcs11 list certificateDetails AT
grep -q "\"keyId\": \"$keyid\"" "$work/last" || fail "the token's certificate is listed without its key id"
request pkcs11 crypt sign AT "$token_thumbprint" sha256 1234 "$(base64 -w0 "$work/invoice")" false
verify sha256 "$work/token-cert-pub.pem" "$work/invoice"
request pkcs11 crypt signWithKeyId AT "$serial" "$keyid" sha512 1234 false "$(base64 -w0 "$work/invoice")"
verify sha512 "$work/token-cert-pub.pem" "$work/invoice"
request pkcs11 list objects AT "$serial" 1234
succeeded
request pkcs11 list objects AT "$serial" 0000
grep -q '"error": "Erro no Login - Pin incorreto"' "$work/last" || fail "a wrong PIN was not refused"
echo

echo "# The signer: a key pair made in a CryptoAPI container with its request;"
echo "# the same CA issues the certificate, which goes to MY and signs"
provider="Microsoft Enhanced RSA and AES Cryptographic Provider"
# A name with accents goes in a UTF8String, as written.
request capi repo createKeyPair "$provider" 24 demo-signer false false 2048 - "João Ação Demo" true
csr=$(answer)
printf '%s' "$csr" | base64 -d > "$work/signer.csr"
echo "# openssl checks the request:"
openssl req -inform DER -in "$work/signer.csr" -verify -noout -subject -nameopt multiline,utf8,-esc_msb 2>&1 |
  tee "$work/checked"
grep -q "verify OK" "$work/checked" || fail "the request does not verify"
grep -q "commonName *= João Ação Demo$" "$work/checked" || fail "the request does not name the signer as written"
echo
request capi repo createKeyPair "$provider" 24 demo-signer true false 2048 - "Demo Signer" false
blob=$(answer)
printf '%s' "$blob" | base64 -d > "$work/signer.blob"
[ "$(openssl rsa -pubin -inform MSBLOB -in "$work/signer.blob" -noout -modulus)" = \
  "$(openssl req -inform DER -in "$work/signer.csr" -noout -modulus)" ] ||
  fail "the request carries another key than the container"
echo "# the request's modulus is the container key's"
# An e-CPF as ICP-Brasil issues them: the holder's birth date and CPF in the
# alternative name.
printf '%s\n' 'keyUsage = critical, digitalSignature, nonRepudiation' \
  'subjectAltName = otherName:2.16.76.1.3.1;PRINTABLESTRING:0101198012345678901000000000000000000000000000SSPSP' \
  > "$work/ecpf.cnf"
openssl x509 -req -inform DER -in "$work/signer.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -set_serial 1 \
  -days 30 -extfile "$work/ecpf.cnf" -outform DER -out "$work/signer.der" 2>/dev/null
openssl x509 -inform DER -in "$work/signer.der" -noout -pubkey > "$work/pub.pem"
thumbprint=$(thumbprint_of "$work/signer.der")
echo

request capi repo importCertificate "$provider" 24 demo-signer "$(base64 -w0 "$work/signer.der")"
[ "$(answer)" = '{\"result\":\"ok\"}' ] || fail "the certificate was not installed"
request capi list listContainer "$provider" 24
succeeded
request capi list certificates
grep -q "\"thumbprint\": \"$thumbprint\"" "$work/last" && grep -q '"cpf": "12345678901"' "$work/last" &&
  grep -q '"container": "demo-signer"' "$work/last" || fail "MY does not list the certificate with its CPF and key"
printf 'contract text' > "$work/data"
request capi crypt sign "$thumbprint" sha256 "$(base64 -w0 "$work/data")" false
verify sha256 "$work/pub.pem" "$work/data"

echo "# Where Windows keeps keys now: a key in Microsoft's software key storage"
echo "# provider (CNG, provider type 0), its certificate linked from MY, signing"
ksp="Microsoft Software Key Storage Provider"
request capi list ksp
grep -q "\"name\": \"$ksp\"" "$work/last" || fail "the KSP is not listed"
request capi repo createKeyPair "$ksp" 0 demo-cng false false 2048 - "Demo CNG Signer" true
printf '%s' "$(answer)" | base64 -d > "$work/cng.csr"
openssl req -inform DER -in "$work/cng.csr" -verify -noout 2>&1 | grep -q "verify OK" ||
  fail "the KSP key's request does not verify"
echo "# openssl checks the request: verify OK"
openssl x509 -req -inform DER -in "$work/cng.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -set_serial 2 \
  -days 30 -outform DER -out "$work/cng.der" 2>/dev/null
openssl x509 -inform DER -in "$work/cng.der" -noout -pubkey > "$work/cng-pub.pem"
echo
request capi repo importCertificate "$ksp" 0 demo-cng "$(base64 -w0 "$work/cng.der")"
[ "$(answer)" = '{\"result\":\"ok\"}' ] || fail "the certificate was not installed"
request capi list listContainer "$ksp" 0
grep -q 'demo-cng' "$work/last" || fail "the KSP does not list its key"
request capi crypt sign "$(thumbprint_of "$work/cng.der")" sha512 "$(base64 -w0 "$work/data")" false
verify sha512 "$work/cng-pub.pem" "$work/data"

echo "All requests answered; every signature verified."
