#!/usr/bin/env bash
# Runs a Windows program in the build tree's Wine prefix. Used as CMake's
# cross-compiling emulator and by the other scripts.
set -e
: "${WINEPREFIX:?WINEPREFIX must name the build tree's prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
exec wine "$@"
