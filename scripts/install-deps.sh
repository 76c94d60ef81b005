#!/bin/sh
# Installs, from Debian's packages, whatever the build and the tests need and
# the machine lacks. Run as root.
set -e
packages="make cmake g++ pkg-config file nlohmann-json3-dev libssl-dev openssl googletest libgtest-dev
  softhsm2 opensc g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 osslsigncode valgrind gdb clang libfuzzer-14-dev git
  python3"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
done
if [ -n "$missing" ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y $missing
fi
