#!/bin/sh
# The product is a 32-bit PE for the windowed subsystem and imports only DLLs
# that Windows ships.
set -e
exe="$1"
headers=$(i686-w64-mingw32-objdump -p "$exe")
echo "$headers" | grep -q 'file format pei-i386' || { echo "not a PE32 (i386) file"; exit 1; }
echo "$headers" | grep -Eq '^Magic[[:space:]]+010b' || { echo "optional header is not PE32"; exit 1; }
echo "$headers" | grep -Eq '^Subsystem[[:space:]]+00000002' || { echo "subsystem is not Windows GUI"; exit 1; }
dlls=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
for dll in $dlls; do
  case "$dll" in
    kernel32.dll|advapi32.dll|crypt32.dll|msvcrt.dll|user32.dll) ;;
    *) echo "imports a DLL that Windows does not ship: $dll"; exit 1 ;;
  esac
done
echo "PE32 GUI, imports: $(echo $dlls)"
