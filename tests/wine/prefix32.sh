#!/bin/sh
# The 32-bit Wine prefix that the i686 program's tests run in. The kernel
# refuses 32-bit programs, so wine32's run through QEMU's user-mode emulation,
# registered with binfmt_misc while the tests run:
#   prefix32.sh start   registers QEMU, makes the prefix, keeps its wineserver
#   prefix32.sh stop    stops the wineserver, removes the registration
# Where that cannot be done, start says why in "$WINEPREFIX.skipped" and exits
# 77; run32.sh then skips each test with that reason.
set -e
wine=/usr/lib/wine/wine
wineserver=/usr/lib/wine/wineserver
qemu=/usr/bin/qemu-i386
binfmt=/proc/sys/fs/binfmt_misc
entry="$binfmt/sigbrid-i386"
if [ "$1" = stop ]; then
  "$wineserver" -k 2>/dev/null || true
  [ ! -e "$entry" ] || echo -1 >"$entry"
  exit 0
fi
rm -f "$WINEPREFIX.skipped"
skip() {
  echo "$*" | tee "$WINEPREFIX.skipped"
  exit 77
}
[ -x "$wine" ] || skip "no 32-bit Wine: wine32 (of the i386 architecture) is not installed"
"$qemu" --version 2>/dev/null | grep -q "version [1-9][0-9]\." ||
  skip "no QEMU 10 or later at $qemu: older ones take about a minute to start each Windows process"
[ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null ||
  skip "binfmt_misc cannot be mounted here: 32-bit programs cannot be run"
# 32-bit little-endian ELF executables and shared objects of i386, as QEMU's
# own binfmt script registers them; F opens QEMU now, for every later start.
if [ ! -e "$entry" ]; then
  printf '%s' ":sigbrid-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$qemu:F" \
    >"$binfmt/register" 2>/dev/null || skip "QEMU cannot be registered with binfmt_misc here"
fi
"$wineserver" -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
WINEARCH=win32 "$wine" wineboot --init </dev/null >/dev/null 2>&1
"$wineserver" -w
"$wineserver" -p60 </dev/null >/dev/null 2>&1
test -d "$WINEPREFIX/drive_c/windows/system32"
