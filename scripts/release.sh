#!/bin/sh
# The release: the product (the i686 Windows program) built from the last
# commit, never from the working tree, packed with README.md and SHA256SUMS
# into <output>/sigbrid-<version>-win32.zip. The bytes depend on the commit
# alone: the compilers take the commit's time for the clock, the build
# strips paths and link times (CMakeLists.txt), and the archive has fixed
# entry times, attributes and order.
#   release.sh [output folder] [work folder, kept]
set -e
repo=$(cd "$(dirname "$0")/.." && pwd)
out="${1:-$repo/dist}"
work="$2"
if [ -z "$work" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
commit=$(git -C "$repo" rev-parse HEAD)
SOURCE_DATE_EPOCH=$(git -C "$repo" log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH
rm -rf "$work/src" "$work/build" "$work/pack"
git clone --quiet --no-checkout "$repo" "$work/src"
git -C "$work/src" -c advice.detachedHead=false checkout --quiet "$commit"
cmake -S "$work/src" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$work/src/cmake/i686-w64-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_EXE_LINKER_FLAGS=-s -DSIGBRID_TESTS=OFF >/dev/null
cmake --build "$work/build" --target sigbrid -j "${JOBS:-2}" >/dev/null
version=$(sed -n 's/^#define SIGBRID_VERSION "\(.*\)"$/\1/p' "$work/build/app/Version.h")
mkdir -p "$work/pack" "$out"
cp "$work/build/sigbrid.exe" "$work/src/README.md" "$work/pack/"
(cd "$work/pack" && sha256sum sigbrid.exe README.md >SHA256SUMS)
zip="$out/sigbrid-$version-win32.zip"
rm -f "$zip"
python3 - "$work/pack" "$zip" <<'PY'
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
echo "$zip"
cat "$work/pack/SHA256SUMS"
