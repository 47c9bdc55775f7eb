#!/usr/bin/env bash
# Runs a Windows program under Wine with its output in a file, then prints
# the file: for programs that leave processes running, which would otherwise
# hold the caller's output open (and CTest waiting) after the program ends.
#   wine-run-logged.sh PREFIX LOG PROGRAM [ARGS...]
export WINEPREFIX="$1" LOG="$2"
shift 2
export WINEDEBUG="${WINEDEBUG:--all}"
wine "$@" >"$LOG" 2>&1 </dev/null
status=$?
cat "$LOG"
exit $status
