#!/usr/bin/env bash
# The notifier task tests' stand-ins in a Wine prefix: the task scheduler
# stand-in made the scheduler class's TreatAs, and the session library
# stand-in in system32 in place of Wine's (loaded only by programs whose
# AppDefaults say wtsapi32=native). Cleanup puts back what setup changed.
#   task-standin-fixture.sh setup|cleanup PREFIX BINDIR OUT
set -euo pipefail
prefix=$(realpath -m "$2") bin=$(realpath -m "$3") out=$(realpath -m "$4")
scheduler='{0F87369F-A4E5-4CFC-BD3E-73E6154572DD}'
standin='{5E8B2D3C-7A41-4C0E-9B7D-2F6A1C9E4B10}'
system32="$prefix/drive_c/windows/system32"
mkdir -p "$out"

source "$(dirname "$0")/standin-fixture-lib.sh"

if [ "$1" = cleanup ]; then
  cat >"$out/cleanup.reg" <<REG
Windows Registry Editor Version 5.00

[-HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\$scheduler\\TreatAs]
[-HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\$standin]
REG
  wine_reg_import "$out/cleanup.reg"
  restore_system_dll wtsapi32
  exit 0
fi

{
  printf 'Windows Registry Editor Version 5.00\n\n'
  standin_class_reg "$standin" "$bin/taskschd-standin.dll"
  printf '\n[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\%s\\TreatAs]\n@="%s"\n' "$scheduler" "$standin"
} >"$out/setup.reg"
wine_reg_import "$out/setup.reg"
replace_system_dll wtsapi32 "$bin/wtsapi32-standin.dll"
