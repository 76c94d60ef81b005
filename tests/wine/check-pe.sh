#!/bin/sh
# The product is a 32-bit PE for the windowed subsystem that imports only DLLs
# that every Windows since 7 ships, exports nothing, runs no thread-local
# callbacks but the two of the mingw runtime (__dyn_tls_init, __dyn_tls_dtor),
# and carries the version resource of this version.
#   check-pe.sh <program> <version>
set -e
exe="$1"
version="$2"
fail() { echo "$exe: $*"; exit 1; }
headers=$(i686-w64-mingw32-objdump -p "$exe")
echo "$headers" | grep -q 'file format pei-i386' || fail "not a PE32 (i386) file"
echo "$headers" | grep -Eq '^Magic[[:space:]]+010b' || fail "optional header is not PE32"
echo "$headers" | grep -Eq '^Subsystem[[:space:]]+00000002' || fail "subsystem is not Windows GUI"
dlls=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
for dll in $dlls; do
  case "$dll" in
    kernel32.dll|advapi32.dll|crypt32.dll|msvcrt.dll|user32.dll) ;;
    *) fail "imports a DLL that Windows does not ship: $dll" ;;
  esac
done
echo "$headers" | grep -q '^Entry 0 00000000 00000000 Export Directory' || fail "has an export table"
# Little-endian 32-bit words at a virtual address, as hexadecimal numbers.
words() {
  i686-w64-mingw32-objdump -s --start-address=$(($1)) --stop-address=$(($1 + 4 * $2)) "$exe" |
    sed -n 's/^ [0-9a-f]* \(.\{35\}\).*/\1/p' | tr -s ' ' '\n' | sed -n 's/^\(..\)\(..\)\(..\)\(..\)$/0x\4\3\2\1/p'
}
base=0x$(echo "$headers" | sed -n 's/^ImageBase[[:space:]]*//p')
tls=0x$(echo "$headers" | sed -n 's/^Entry 9 \([0-9a-f]*\) .*/\1/p')
callbacks=0
if [ $((tls)) -ne 0 ]; then
  # IMAGE_TLS_DIRECTORY32.AddressOfCallBacks: a list of addresses that ends with 0.
  list=$(words $((base + tls + 12)) 1)
  callbacks=$(words "$list" 16 | sed '/^0x00000000$/,$d' | wc -l)
fi
[ "$callbacks" -le 2 ] || fail "runs $callbacks TLS callbacks"
resource=$(i686-w64-mingw32-windres -i "$exe" -J coff -O rc | sed "s/^ *//")
numbers="$(echo "$version" | sed 's/\./, /g'), 0"
for line in "FILEVERSION $numbers" "PRODUCTVERSION $numbers" "VALUE \"FileVersion\", \"$version\"" \
  "VALUE \"ProductVersion\", \"$version\"" "VALUE \"ProductName\", \"sigbrid\""; do
  echo "$resource" | grep -qxF "$line" || fail "version resource lacks: $line"
done
echo "PE32 GUI, imports: $(echo $dlls), TLS callbacks: $callbacks, version $version"
