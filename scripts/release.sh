#!/bin/sh
# The release: the Windows programs built from the last commit, never from the
# working tree, the i686 one (the product) and the x86_64 one, each packed
# with the callers' reference, a README for Windows and SHA256SUMS into
# <output>/sigbrid-<version>-win32.zip and -win64.zip. The bytes depend on the
# commit alone: the compilers take the commit's time for the clock, the build
# strips paths and link times (CMakeLists.txt), and the archives have fixed
# entry times, attributes and order.
#
# Given a code-signing key, both programs are Authenticode-signed (SHA-256)
# with osslsigncode before they are packed, and timestamped (RFC 3161) when a
# timestamp URL is given:
#   SIGN_PKCS12 and SIGN_PASSWORD    a PKCS#12 file and its password, or
#   SIGN_CERT and SIGN_KEY           PEM certificate (chain) and private key
#   SIGN_TIMESTAMP_URL               optional
# Without a key the programs stay unsigned, and the README says so.
#
#   release.sh [output folder] [work folder, kept]
# A work folder that holds the build of the same commit is built on, not
# made anew (signing an unsigned release's programs costs no new build).
set -e
repo=$(cd "$(dirname "$0")/.." && pwd)
out="${1:-$repo/dist}"
work="$2"
made=""
if [ -z "$work" ]; then
  work=$(mktemp -d)
  made=yes
fi
# The password never touches the disk (it reaches osslsigncode on its standard
# input), so no ending leaves it behind; an interrupt still removes the work
# folder that this run made.
trap '[ -z "$made" ] || rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
commit=$(git -C "$repo" rev-parse HEAD)
SOURCE_DATE_EPOCH=$(git -C "$repo" log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH
if [ "$(git -C "$work/src" rev-parse HEAD 2>/dev/null)" != "$commit" ]; then
  rm -rf "$work/src" "$work"/build-*
  git clone --quiet --no-checkout "$repo" "$work/src"
  git -C "$work/src" -c advice.detachedHead=false checkout --quiet "$commit"
fi

signed=""
if [ -n "$SIGN_PKCS12" ]; then
  [ -n "$SIGN_PASSWORD" ] || { echo "release: SIGN_PKCS12 needs SIGN_PASSWORD" >&2; exit 1; }
  signed=yes
elif [ -n "$SIGN_CERT" ] || [ -n "$SIGN_KEY" ]; then
  [ -n "$SIGN_CERT" ] && [ -n "$SIGN_KEY" ] || { echo "release: SIGN_CERT and SIGN_KEY go together" >&2; exit 1; }
  signed=yes
fi
# sign_program <program> <signed copy>
sign_program() {
  set -- -in "$1" -out "$2" -h sha256 -n sigbrid
  if [ -n "$SIGN_PKCS12" ]; then
    set -- "$@" -pkcs12 "$SIGN_PKCS12" -readpass /dev/stdin
  else
    set -- "$@" -certs "$SIGN_CERT" -key "$SIGN_KEY"
  fi
  [ -z "$SIGN_TIMESTAMP_URL" ] || set -- "$@" -ts "$SIGN_TIMESTAMP_URL"
  # Command lines are public, and a file could outlive an interrupt: the
  # password goes through a pipe (printf is a shell builtin, so no command
  # line shows it).
  printf '%s' "$SIGN_PASSWORD" | osslsigncode sign "$@" >/dev/null
}

mkdir -p "$out"
for arch in win32 win64; do
  case $arch in
    win32) toolchain=i686-w64-mingw32 bits=32 ;;
    win64) toolchain=x86_64-w64-mingw32 bits=64 ;;
  esac
  build="$work/build-$arch"
  pack="$work/pack-$arch"
  cmake -S "$work/src" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$work/src/cmake/$toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_EXE_LINKER_FLAGS=-s -DSIGBRID_TESTS=OFF >/dev/null
  cmake --build "$build" --target sigbrid -j "${JOBS:-2}" >/dev/null
  version=$(sed -n 's/^#define SIGBRID_VERSION "\(.*\)"$/\1/p' "$build/app/Version.h")
  rm -rf "$pack"
  mkdir -p "$pack"
  if [ -n "$signed" ]; then
    sign_program "$build/sigbrid.exe" "$pack/sigbrid.exe"
    signature="This sigbrid.exe is Authenticode-signed (SHA-256)."
  else
    cp "$build/sigbrid.exe" "$pack/"
    signature="This sigbrid.exe is not signed: it was released without a code-signing key."
  fi
  cp "$work/src/docs/commands.md" "$pack/"
  sed -e "s/@VERSION@/$version/g" -e "s/@ARCH@/$arch/g" -e "s/@BITS@/$bits/g" -e "s/@SIGNATURE@/$signature/" \
    "$work/src/docs/README-windows.txt" > "$pack/README.txt"
  (cd "$pack" && sha256sum sigbrid.exe commands.md README.txt >SHA256SUMS)
  zip="$out/sigbrid-$version-$arch.zip"
  rm -f "$zip"
  python3 - "$pack" "$zip" <<'PY'
import os, sys, time, zipfile
pack, target = sys.argv[1:]
# Zip times start in 1980; the time is the commit's, in UTC.
stamp = time.gmtime(max(int(os.environ["SOURCE_DATE_EPOCH"]), 315532800))[:6]
with zipfile.ZipFile(target, "w") as archive:
    for name in sorted(os.listdir(pack)):
        entry = zipfile.ZipInfo(name, stamp)
        entry.external_attr = 0o644 << 16
        entry.compress_type = zipfile.ZIP_DEFLATED
        with open(os.path.join(pack, name), "rb") as source:
            archive.writestr(entry, source.read())
PY
  echo "$zip: $signature"
  cat "$pack/SHA256SUMS"
done
