# Steps shared by the stand-in fixtures (sourced): registry files imported
# into the prefix, and a system DLL replaced by a stand-in and put back.
# The sourcing script sets prefix, out and system32.

winepath_of() { echo "Z:${1//\//\\}"; }

wine_reg_import() {  # reg.exe from the current folder would win: run it from /
  (cd / && WINEPREFIX="$prefix" WINEDEBUG=-all wine reg import "$(winepath_of "$1")" \
    >>"$out/fixture.log" 2>&1 </dev/null)
}

# A registry file that registers an in-process server: standin_class_reg CLSID DLL
standin_class_reg() {
  local dll
  dll=$(winepath_of "$2")
  printf '[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\%s\\InprocServer32]\n@="%s"\n' \
    "$1" "${dll//\\/\\\\}"
  printf '"ThreadingModel"="Both"\n'
}

# Puts the stand-in over system32's NAME.dll, keeping Wine's own file once
# (it says so inside), whatever an earlier run left: replace_system_dll NAME STANDIN
replace_system_dll() {
  if grep -q "Wine builtin DLL" "$system32/$1.dll" 2>/dev/null; then
    cp "$system32/$1.dll" "$out/$1-original.dll"
  fi
  cp "$2" "$system32/$1.dll"
}

# Puts Wine's NAME.dll back: restore_system_dll NAME
restore_system_dll() {
  if [ -f "$out/$1-original.dll" ]; then
    cp "$out/$1-original.dll" "$system32/$1.dll"
    rm -f "$out/$1-original.dll"
  elif ! grep -q "Wine builtin DLL" "$system32/$1.dll" 2>/dev/null; then
    cp "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/$1.dll" "$system32/$1.dll"
  fi
}
