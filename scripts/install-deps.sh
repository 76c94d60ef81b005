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
if [ ! -f "$backports" ]; then
  printf 'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: bookworm-backports\nComponents: main\nSigned-By: %s\n' \
    /usr/share/keyrings/debian-archive-keyring.gpg >"$backports"
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
