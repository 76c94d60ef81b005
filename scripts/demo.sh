#!/bin/sh
# A few requests as a calling application makes them, each with the envelope
# it prints. Runs on a fresh emulated machine of its own.
set -e
sigbrid="${1:-build/sigbrid}"
machine=$(mktemp -d)
trap 'rm -rf "$machine"' EXIT
export SIGBRID_WINROOT="$machine"

request() {
  echo "\$ sigbrid $*"
  "$sigbrid" "$@"
  echo
  echo
}

request system info version
request system info Version
request capi list countContainer
request pkcs11 list tokens
