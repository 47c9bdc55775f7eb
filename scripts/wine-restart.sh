#!/usr/bin/env bash
# A restart of the test prefix's Windows: ends every Wine process of PREFIX
# (wineserver -k), then starts the persistent server and Wine's services again,
# detached, as scripts/wine-env.sh does. Starting them runs what Windows runs
# at boot, the deletions and renames it was asked to do at restart among them.
#   wine-restart.sh PREFIX
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver -k >/dev/null 2>&1 </dev/null || true
wineserver -w >/dev/null 2>&1 </dev/null || true
glint_wine_start "$1"
