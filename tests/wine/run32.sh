#!/bin/sh
# Runs a test program against the i686 build in the 32-bit prefix, or skips
# it (77) with the reason prefix32.sh gave.
if [ -f "$WINEPREFIX.skipped" ] || [ ! -d "$WINEPREFIX/drive_c" ]; then
  echo "skipped: $(cat "$WINEPREFIX.skipped" 2>/dev/null || echo "no 32-bit Wine prefix")"
  exit 77
fi
exec "$@"
