#!/usr/bin/env bash
# The print tests' printer in a Wine prefix: Wine's PostScript driver and one
# printer on port "LPT1:", the prefix's default, whose jobs Wine writes to
# OUT/printed.ps (the HKCU\Software\Wine\Printing\Spooler mapping of "LPT1:").
# A job is written at EndDoc. Cleanup removes printer, driver and mapping.
#   printer-fixture.sh setup|cleanup PREFIX BINDIR OUT
set -euo pipefail
prefix=$(realpath -m "$2") bin=$(realpath -m "$3") out=$(realpath -m "$4")
mkdir -p "$out"

source "$(dirname "$0")/standin-fixture-lib.sh"

printer_setup() {  # run from / like reg.exe, away from the terminal
  (cd / && WINEPREFIX="$prefix" WINEDEBUG=-all wine "$(winepath_of "$bin/printer-setup.exe")" "$1" \
    >>"$out/fixture.log" 2>&1 </dev/null)
}

spooler() {  # the "LPT1:" mapping set to VALUE, or removed by -: spooler VALUE
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Wine\\Printing\\Spooler]\n"LPT1:"=%s\n' \
    "$1" >"$out/spooler.reg"
  wine_reg_import "$out/spooler.reg"
}

if [ "$1" = cleanup ]; then
  printer_setup remove || true
  spooler -
  exit 0
fi
spooler "\"$out/printed.ps\""
printer_setup install
