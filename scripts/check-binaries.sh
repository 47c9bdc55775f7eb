#!/usr/bin/env bash
# The shipped binaries export and import only what they should: GlintUtil.dll
# exports exactly Start, and nothing we ship imports a non-system DLL.
set -euo pipefail
bin=${1:-build/windows/bin}
objdump=x86_64-w64-mingw32-objdump
system_dlls='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|msvcrt|ws2_32|shlwapi|version|wininet|crypt32|comctl32|comdlg32|winspool\.drv|msimg32|oleacc|psapi|uxtheme|userenv|wtsapi32|rpcrt4|secur32|bcrypt|ntdll|taskschd|mstask|dinput8|propsys|urlmon|uuid|imm32|winmm)\.dll$'
fail=0
for file in "$bin/GlintUtil.dll" "$bin/glinthost.exe"; do
  while read -r dll; do
    lower=$(tr 'A-Z' 'a-z' <<<"$dll")
    if ! grep -Eq "$system_dlls" <<<"$lower"; then
      echo "check-binaries: $(basename "$file") imports $dll" >&2
      fail=1
    fi
  done < <($objdump -p "$file" | sed -n 's/^\s*DLL Name: //p')
done
exports=$($objdump -p "$bin/GlintUtil.dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
          sed -n 's/^\s*\[\s*[0-9]*\]\s*//p' | tr '\n' ' ')
if [ "$exports" != "Start " ]; then
  echo "check-binaries: GlintUtil.dll exports '$exports', expected only Start" >&2
  fail=1
fi
[ "$fail" -eq 0 ] && echo "check-binaries: GlintUtil.dll exports only Start; only system DLLs imported"
exit $fail
