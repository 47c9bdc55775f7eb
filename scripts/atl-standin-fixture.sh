#!/usr/bin/env bash
# The toolkit test's control-hosting stand-in in a Wine prefix: system32's
# atl.dll replaced by a library whose AtlAxWinInit fails (loaded only by a
# process started with WINEDLLOVERRIDES=atl=n), and Wine's own put back.
#   atl-standin-fixture.sh setup|cleanup PREFIX BINDIR OUT
set -euo pipefail
prefix=$(realpath -m "$2") bin=$(realpath -m "$3") out=$(realpath -m "$4")
system32="$prefix/drive_c/windows/system32"
mkdir -p "$out"

source "$(dirname "$0")/standin-fixture-lib.sh"

if [ "$1" = cleanup ]; then
  restore_system_dll atl
  exit 0
fi
replace_system_dll atl "$bin/atl-standin.dll"
