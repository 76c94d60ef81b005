#!/bin/sh
# `make release` twice, from clones of the last commit in two folders of
# different depth, one after the other: the same programs and the same zips,
# byte for byte, each zip with its program, the callers' reference, the
# Windows README and the sums. The shipped programs pass the product checks.
# Then the first folder's programs are signed, once with a PKCS#12 file and
# once with PEM files of a throw-away code-signing CA: each verifies against
# that CA, is the unsigned program with a signature added, and fails to
# verify once one byte changes, and a signing run killed while it builds
# leaves no password behind.
#   reproducible.sh <repository> <version>
set -e
repo="$1"
version="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*"; exit 1; }
first="$work/a"
second="$work/another/folder/deeper"
for build in "$first" "$second"; do
  start=$(date +%s)
  sh "$repo/scripts/release.sh" "$build/dist" "$build" >/dev/null
  echo "release built in $build in $(($(date +%s) - start)) s"
done
# The zip's entries, and a file's text in it.
entries() { python3 -c 'import sys, zipfile; print(*zipfile.ZipFile(sys.argv[1]).namelist())' "$1"; }
member() { python3 -c 'import sys, zipfile; sys.stdout.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]).decode())' "$1" "$2"; }
for arch in win32 win64; do
  zip="dist/sigbrid-$version-$arch.zip"
  for file in "build-$arch/sigbrid.exe" "$zip"; do
    sums=$(sha256sum "$first/$file" "$second/$file")
    echo "$sums"
    [ "$(echo "$sums" | cut -d' ' -f1 | uniq | wc -l)" -eq 1 ] || fail "$file differs between the builds"
  done
  [ "$(entries "$first/$zip")" = "README.txt SHA256SUMS commands.md sigbrid.exe" ] ||
    fail "the $arch zip holds: $(entries "$first/$zip")"
  (cd "$first/pack-$arch" && sha256sum --check --quiet SHA256SUMS)
  cmp "$first/pack-$arch/commands.md" "$repo/docs/commands.md"
  member "$first/$zip" README.txt | grep -q "^sigbrid $version for Windows ($arch)$" || fail "$arch README"
  member "$first/$zip" README.txt | grep -q "is not signed" || fail "the unsigned $arch README does not say so"
  sh "$repo/tests/wine/check-pe.sh" "$first/build-$arch/sigbrid.exe" "$version"
done

ca="$work/ca"
mkdir "$ca"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$ca/ca.key" -out "$ca/ca.pem" -subj "/CN=sigbrid test code signing CA" \
  -days 2 -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign 2>/dev/null
openssl req -new -newkey rsa:2048 -nodes -keyout "$ca/signer.key" -out "$ca/signer.csr" -subj "/CN=sigbrid test signer" \
  2>/dev/null
printf 'extendedKeyUsage=codeSigning\nkeyUsage=critical,digitalSignature\n' >"$ca/signer.ext"
openssl x509 -req -in "$ca/signer.csr" -CA "$ca/ca.pem" -CAkey "$ca/ca.key" -set_serial 2 -days 2 \
  -extfile "$ca/signer.ext" -out "$ca/signer.pem" 2>/dev/null
openssl pkcs12 -export -in "$ca/signer.pem" -inkey "$ca/signer.key" -certfile "$ca/ca.pem" -passout pass:sesame \
  -out "$ca/signer.p12"
# Killed while it builds, a signing run leaves its password nowhere: not in
# its work folder, which it keeps.
interrupted="$work/interrupted"
secret="pw-$$-$(date +%s%N)"
# In a process group of its own, whose every member the kill reaches.
SIGN_PKCS12="$ca/signer.p12" SIGN_PASSWORD="$secret" python3 -c \
  'import os, sys; os.setpgid(0, 0); os.execvp(sys.argv[1], sys.argv[1:])' \
  sh "$repo/scripts/release.sh" "$interrupted/dist" "$interrupted" >/dev/null 2>&1 &
run=$!
tries=0
until [ -d "$interrupted/build-win32" ] || [ $tries -ge 600 ]; do
  sleep 0.1
  tries=$((tries + 1))
done
kill -TERM "-$run"
wait "$run" || true
[ -d "$interrupted/build-win32" ] || fail "the interrupted release never started its build"
if grep -rqF "$secret" "$interrupted"; then
  fail "an interrupted release left its password behind"
fi
echo "a release killed while it builds left no password"
for way in pkcs12 pem; do
  if [ $way = pkcs12 ]; then
    SIGN_PKCS12="$ca/signer.p12" SIGN_PASSWORD=sesame sh "$repo/scripts/release.sh" "$first/signed" "$first" >/dev/null
  else
    SIGN_CERT="$ca/signer.pem" SIGN_KEY="$ca/signer.key" sh "$repo/scripts/release.sh" "$first/signed" "$first" >/dev/null
  fi
  for arch in win32 win64; do
    signed="$first/pack-$arch/sigbrid.exe"
    osslsigncode verify -CAfile "$ca/ca.pem" -in "$signed" >"$work/verified" 2>&1 || fail "$(cat "$work/verified")"
    grep -q "Message digest algorithm *: SHA256" "$work/verified" || fail "$arch: not a SHA-256 signature"
    member "$first/signed/sigbrid-$version-$arch.zip" README.txt | grep -q "is Authenticode-signed" ||
      fail "the signed $arch README does not say so"
    (cd "$first/pack-$arch" && sha256sum --check --quiet SHA256SUMS)
    # Without its signature, the unsigned program: the same bytes but for the
    # PE checksum and the padding that aligns the signature.
    rm -f "$work/stripped.exe"
    osslsigncode remove-signature -in "$signed" -out "$work/stripped.exe" >/dev/null
    python3 - "$work/stripped.exe" "$first/build-$arch/sigbrid.exe" <<'PY' || fail "$arch: signing changed the program"
import struct, sys
stripped, unsigned = (bytearray(open(path, "rb").read()) for path in sys.argv[1:])
checksum = struct.unpack_from("<I", unsigned, 0x3C)[0] + 24 + 64
for program in (stripped, unsigned):
    program[checksum:checksum + 4] = bytes(4)
padding = stripped[len(unsigned):]
sys.exit(stripped[:len(unsigned)] != unsigned or len(padding) >= 8 or any(padding))
PY
    python3 - "$signed" "$work/changed.exe" <<'PY'
import sys
program = bytearray(open(sys.argv[1], "rb").read())
program[len(program) // 2] ^= 1
open(sys.argv[2], "wb").write(program)
PY
    if osslsigncode verify -CAfile "$ca/ca.pem" -in "$work/changed.exe" >/dev/null 2>&1; then
      fail "$arch: a changed byte still verifies"
    fi
    echo "$arch signed with $way: verifies, is the unsigned program, a changed byte fails"
  done
done
