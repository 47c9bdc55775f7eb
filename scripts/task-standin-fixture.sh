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

wine_reg_import() {  # reg.exe from the current folder would win: run it from /
  (cd / && WINEPREFIX="$prefix" WINEDEBUG=-all wine reg import "$(winepath_of "$1")" \
    >>"$out/fixture.log" 2>&1 </dev/null)
}
winepath_of() { echo "Z:${1//\//\\}"; }

if [ "$1" = cleanup ]; then
  cat >"$out/cleanup.reg" <<REG
Windows Registry Editor Version 5.00

[-HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\$scheduler\\TreatAs]
[-HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\$standin]
REG
  wine_reg_import "$out/cleanup.reg"
  if [ -f "$out/wtsapi32-original.dll" ]; then
    cp "$out/wtsapi32-original.dll" "$system32/wtsapi32.dll"
    rm -f "$out/wtsapi32-original.dll"
  elif ! grep -q "Wine builtin DLL" "$system32/wtsapi32.dll" 2>/dev/null; then
    cp /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/wtsapi32.dll "$system32/wtsapi32.dll"
  fi
  exit 0
fi

dll=$(winepath_of "$bin/taskschd-standin.dll")
cat >"$out/setup.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\$standin\\InprocServer32]
@="${dll//\\/\\\\}"
"ThreadingModel"="Both"

[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\$scheduler\\TreatAs]
@="$standin"
REG
wine_reg_import "$out/setup.reg"
# Keep Wine's own file once (it says so inside), whatever an earlier run left.
if grep -q "Wine builtin DLL" "$system32/wtsapi32.dll" 2>/dev/null; then
  cp "$system32/wtsapi32.dll" "$out/wtsapi32-original.dll"
fi
cp "$bin/wtsapi32-standin.dll" "$system32/wtsapi32.dll"
