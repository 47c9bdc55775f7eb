#!/usr/bin/env bash
# Runs a Windows program under Wine in the given prefix:
#   wine-run.sh PREFIX PROGRAM [ARGS...]
# CMake uses it as the cross-compiling emulator with the build tree's prefix.
set -e
export WINEPREFIX="$1"
shift
export WINEDEBUG="${WINEDEBUG:--all}"
exec wine "$@"
