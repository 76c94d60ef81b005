#!/bin/sh
# `make release` twice, from clones of the last commit in two folders of
# different depth, one after the other: the same program and the same zip,
# byte for byte. The shipped program passes the product checks.
#   reproducible.sh <repository> <version>
set -e
repo="$1"
version="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
first="$work/a"
second="$work/another/folder/deeper"
for build in "$first" "$second"; do
  start=$(date +%s)
  sh "$repo/scripts/release.sh" "$build/dist" "$build" >/dev/null
  echo "release built in $build in $(($(date +%s) - start)) s"
done
zip="dist/sigbrid-$version-win32.zip"
for file in build/sigbrid.exe "$zip"; do
  sums=$(sha256sum "$first/$file" "$second/$file")
  echo "$sums"
  [ "$(echo "$sums" | cut -d' ' -f1 | uniq | wc -l)" -eq 1 ] || { echo "$file differs between the builds"; exit 1; }
done
entries=$(python3 -c 'import sys, zipfile; print(*zipfile.ZipFile(sys.argv[1]).namelist())' "$first/$zip")
[ "$entries" = "README.md SHA256SUMS sigbrid.exe" ] || { echo "the zip holds: $entries"; exit 1; }
(cd "$first/pack" && sha256sum --check --quiet SHA256SUMS)
sh "$repo/tests/wine/check-pe.sh" "$first/build/sigbrid.exe" "$version"
