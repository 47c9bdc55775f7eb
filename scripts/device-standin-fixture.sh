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

wine_reg_import() {  # reg.exe from the current folder would win: run it from /
  (cd / && WINEPREFIX="$prefix" WINEDEBUG=-all wine reg import "$(winepath_of "$1")" \
    >>"$out/fixture.log" 2>&1 </dev/null)
}
winepath_of() { echo "Z:${1//\//\\}"; }

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
  if [ -f "$out/dinput8-original.dll" ]; then
    cp "$out/dinput8-original.dll" "$system32/dinput8.dll"
    rm -f "$out/dinput8-original.dll"
  elif ! grep -q "Wine builtin DLL" "$system32/dinput8.dll" 2>/dev/null; then
    cp /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/dinput8.dll "$system32/dinput8.dll"
  fi
  exit 0
fi

dll=$(winepath_of "$bin/audio-standin.dll")
cat >"$out/setup.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\$standin\\InprocServer32]
@="${dll//\\/\\\\}"
"ThreadingModel"="Both"
REG
wine_reg_import "$out/setup.reg"
# Keep Wine's own file once (it says so inside), whatever an earlier run left.
if grep -q "Wine builtin DLL" "$system32/dinput8.dll" 2>/dev/null; then
  cp "$system32/dinput8.dll" "$out/dinput8-original.dll"
fi
cp "$bin/dinput8-standin.dll" "$system32/dinput8.dll"
