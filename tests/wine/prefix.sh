#!/bin/sh
# Builds the temporary Wine prefix that the Windows tests run in, and keeps
# its wineserver running so that each test start takes a fraction of a second.
set -e
wine64="$1"
wineserver="$(dirname "$wine64")/wineserver"
"$wineserver" -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
"$wine64" wineboot --init </dev/null >/dev/null 2>&1
"$wineserver" -w
"$wineserver" -p60 </dev/null >/dev/null 2>&1
test -d "$WINEPREFIX/drive_c/windows/system32"
