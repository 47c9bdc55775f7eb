#!/usr/bin/env bash
# The device tests' stand-ins in a Wine prefix: the audio enumerator stand-in
# registered as a class (the tests make it the system enumerator's TreatAs
# case by case), and the DirectInput 8 stand-in in system32 in place of
# Wine's placeholder (loaded only by programs whose AppDefaults say
# dinput8=native, which the tests set case by case). Cleanup puts back what
# setup and the tests changed, whatever an interrupted run left.
#   device-standin-fixture.sh setup|cleanup PREFIX BINDIR OUT
set -euo pipefail
prefix=$(realpath -m "$2") bin=$(realpath -m "$3") out=$(realpath -m "$4")
enumerator='{BCDE0395-E52F-467C-8E3D-C4579291692E}'
standin='{6A1D4E2B-3C5F-4B7A-8E9D-1F2C3B4A5D61}'
system32="$prefix/drive_c/windows/system32"
mkdir -p "$out"

source "$(dirname "$0")/standin-fixture-lib.sh"

if [ "$1" = cleanup ]; then
  cat >"$out/cleanup.reg" <<REG
Windows Registry Editor Version 5.00

[-HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\$enumerator\\TreatAs]
[-HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\$standin]

[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\glinthost.exe\\DllOverrides]
"dinput8"=-

[HKEY_CURRENT_USER\\Software\\GlintTestStandIns]
REG
  for name in AudioLog AudioTrigger AudioDone AudioRounds AudioUntil AudioCalls AudioDevices \
    DinputLog DinputCount DinputCreate; do
    echo "\"$name\"=-" >>"$out/cleanup.reg"
  done
  wine_reg_import "$out/cleanup.reg"
  restore_system_dll dinput8
  exit 0
fi

{
  printf 'Windows Registry Editor Version 5.00\n\n'
  standin_class_reg "$standin" "$bin/audio-standin.dll"
} >"$out/setup.reg"
wine_reg_import "$out/setup.reg"
replace_system_dll dinput8 "$bin/dinput8-standin.dll"
