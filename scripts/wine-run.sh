#!/usr/bin/env bash
# Runs a Windows program under Wine in the given prefix:
#   wine-run.sh PREFIX PROGRAM [ARGS...]
# CMake uses it as the cross-compiling emulator with the build tree's prefix.
# With GLINT_RUN_LIMIT set (seconds; CTest's Wine entries set it a little
# under their own timeout), a program still running then is stopped, the
# Windows processes still alive in the prefix are listed, and the prefix's
# Windows is restarted: a server that hung would otherwise stay registered
# with Wine's COM service, and every later suite's activation would fail.
set -e
export WINEPREFIX="$1"
shift
export WINEDEBUG="${WINEDEBUG:--all}"
if [ -z "${GLINT_RUN_LIMIT:-}" ]; then
  exec wine "$@"
fi
rc=0
timeout --kill-after=10 "$GLINT_RUN_LIMIT" wine "$@" || rc=$?
if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
  echo "wine-run: $1 still ran after $GLINT_RUN_LIMIT s and was stopped; left running:" >&2
  for pid in $(pgrep -f '^[A-Z]:\\' || true); do
    line=$({ tr '\0' '\n' <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
      tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null) || true
    [ -z "$line" ] || echo "  $line" >&2
  done
  echo "wine-run: restarting the prefix's Windows for the suites after this one" >&2
  bash "$(dirname "$0")/wine-restart.sh" "$WINEPREFIX" >&2 || true
fi
exit "$rc"
