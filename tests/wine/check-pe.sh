#!/bin/sh
# A shipped program, the i686 product (PE32) or the x86_64 one (PE32+), is for
# the windowed subsystem, imports only DLLs that every Windows since 7 ships,
# exports nothing, runs no thread-local callbacks but the two of the mingw
# runtime (__dyn_tls_init, __dyn_tls_dtor), and carries the version resource of
# this version.
#   check-pe.sh <program> <version>
set -e
exe="$1"
version="$2"
fail() { echo "$exe: $*"; exit 1; }
objdump=x86_64-w64-mingw32-objdump
headers=$($objdump -p "$exe")
# The optional header's magic, the width of an address, and where
# IMAGE_TLS_DIRECTORY keeps AddressOfCallBacks.
case "$headers" in
  *"file format pei-i386"*) format=PE32 magic=010b width=4 callbacks_at=12 ;;
  *"file format pei-x86-64"*) format=PE32+ magic=020b width=8 callbacks_at=24 ;;
  *) fail "not a PE file for i386 or x86-64" ;;
esac
echo "$headers" | grep -Eq "^Magic[[:space:]]+$magic" || fail "optional header is not $format"
echo "$headers" | grep -Eq '^Subsystem[[:space:]]+00000002' || fail "subsystem is not Windows GUI"
dlls=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
for dll in $dlls; do
  case "$dll" in
    kernel32.dll|advapi32.dll|crypt32.dll|ncrypt.dll|msvcrt.dll|user32.dll) ;;
    *) fail "imports a DLL that Windows does not ship: $dll" ;;
  esac
done
echo "$headers" | grep -Eq '^Entry 0 0+ 0+ Export Directory' || fail "has an export table"
# Little-endian addresses at a virtual address, as hexadecimal numbers.
addresses() {
  $objdump -s --start-address=$(($1)) --stop-address=$(($1 + width * $2)) "$exe" |
    sed -n 's/^ [0-9a-f]* \(.\{35\}\).*/\1/p' | tr -s ' ' '\n' | sed -n 's/^\(..\)\(..\)\(..\)\(..\)$/\4\3\2\1/p' |
    if [ "$width" -eq 8 ]; then paste -d ' ' - - | sed 's/^\(.*\) \(.*\)$/0x\2\1/'; else sed 's/^/0x/'; fi
}
base=0x$(echo "$headers" | sed -n 's/^ImageBase[[:space:]]*//p')
tls=0x$(echo "$headers" | sed -n 's/^Entry 9 \([0-9a-f]*\) .*/\1/p')
callbacks=0
if [ $((tls)) -ne 0 ]; then
  # AddressOfCallBacks: a list of addresses that ends with 0.
  list=$(addresses $((base + tls + callbacks_at)) 1)
  callbacks=$(addresses "$list" 16 | sed '/^0x0*$/,$d' | wc -l)
fi
[ "$callbacks" -le 2 ] || fail "runs $callbacks TLS callbacks"
resource=$(x86_64-w64-mingw32-windres -i "$exe" -J coff -O rc | sed "s/^ *//")
numbers="$(echo "$version" | sed 's/\./, /g'), 0"
for line in "FILEVERSION $numbers" "PRODUCTVERSION $numbers" "VALUE \"FileVersion\", \"$version\"" \
  "VALUE \"ProductVersion\", \"$version\"" "VALUE \"ProductName\", \"sigbrid\""; do
  echo "$resource" | grep -qxF "$line" || fail "version resource lacks: $line"
done
echo "$format GUI, imports: $(echo $dlls), TLS callbacks: $callbacks, version $version"
