#!/bin/sh
# Installs, from Debian's packages, whatever the build and the tests need and
# the machine lacks. Run as root.
#
# The i686 program runs under the 32-bit Wine (wine32, of the i386
# architecture) in QEMU's user-mode emulation: the kernel refuses 32-bit
# programs. Debian 12's QEMU 7.2 takes about a minute to start each Windows
# process, so QEMU comes from bookworm-backports (10.0), which takes half a
# second.
set -e
export DEBIAN_FRONTEND=noninteractive
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

packages="make cmake g++ pkg-config file nlohmann-json3-dev libssl-dev openssl googletest libgtest-dev
  softhsm2 opensc g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 osslsigncode valgrind gdb clang libfuzzer-14-dev git
  python3 wine32:i386"
backports=/etc/apt/sources.list.d/bookworm-backports.sources
refresh=""
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  refresh=yes
fi
# The Debian archive that the machine itself is configured with (deb822
# sources, or sources.list lines), so that backports come from the same place.
debian_archive() {
  awk 'FNR == 1 || /^[[:space:]]*$/ { if (found && on && uri != "") { print uri; exit } uri = ""; found = 0; on = 1 }
    /^URIs:/ { uri = $2 }
    /^Enabled:[[:space:]]*[Nn][Oo]/ { on = 0 }
    /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == "bookworm" || $i == "bookworm-updates") found = 1 }
    END { if (found && on && uri != "") print uri }' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1
  sed -n 's/^deb[[:space:]]\{1,\}\(\[[^]]*\][[:space:]]\{1,\}\)\{0,1\}\([^[:space:]]*\)[[:space:]]\{1,\}bookworm[[:space:]].*/\2/p' \
    /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | head -n 1
}
if [ ! -f "$backports" ]; then
  archive=$(debian_archive | head -n 1)
  [ -n "$archive" ] || { echo "install-deps: the machine has no Debian bookworm source configured" >&2; exit 1; }
  printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: %s\n' \
    "$archive" /usr/share/keyrings/debian-archive-keyring.gpg >"$backports"
  refresh=yes
fi
missing=""
for p in $packages; do
  installed "$p" || missing="$missing $p"
done
recent_qemu() { dpkg-query -W -f='${Version}' qemu-user 2>/dev/null | grep -q '^1:1[0-9]\.'; }
if [ -n "$missing" ] || [ -n "$refresh" ] || ! recent_qemu; then
  apt-get update
  [ -z "$missing" ] || apt-get install -y $missing
  recent_qemu || apt-get install -y --no-install-recommends -t bookworm-backports qemu-user
fi
