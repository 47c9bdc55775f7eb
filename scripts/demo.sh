#!/usr/bin/env bash
# The main job: builds the product and runs the reference host under Wine in
# the demo prefix (build/windows/demo-wine). The host loads GlintUtil.dll,
# calls Start and drives the library through the shim.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh

cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo --no-warn-unused-cli >/dev/null
ninja -C build/windows -j "$(nproc)" GlintUtil glinthost glintplayer control_standin file_holder \
  glintstub printer_setup glintdriver cmdline_recorder

source scripts/wine-env.sh
trap glint_platform_stop EXIT
# The setup window at the end needs a display.
[ -n "${DISPLAY:-}" ] || glint_xvfb_start
glint_wine_start "$root/build/windows/demo-wine"

host="$root/build/windows/bin/glinthost.exe"
config="$root/host/demo.cfg"
run() {
  echo
  echo "\$ glinthost $*"
  wine "$host" --config "$config" "$@"
}

run info
run string 3
run compare-version plugin
run installable activex+plugin+pepper 0 || true
run uac
run profiles-root
run file-lists || true
run find-browser || true

# Installation: the control's stand-in and a copy of this host with its own
# copy of the library ("GlintUtil_ActiveX.exe" and ".dll") go into the
# control's folder in the demo prefix. Registering the control type makes
# that copy the broker's server and the type's uninstaller, and locks the
# broker's keys and file. COM starts it when the player stand-in asks for it.
prefix_system="$root/build/windows/demo-wine/drive_c/windows/system32"
install="$prefix_system/Kestreli/Glint"
mkdir -p "$install"
cp -f "$root/build/windows/bin/GlintAX_34_0_0_384.ocx" "$install/"
cp -f "$root/build/windows/bin/glinthost.exe" "$install/GlintUtil_ActiveX.exe"
cp -f "$root/build/windows/bin/GlintUtil.dll" "$install/GlintUtil_ActiveX.dll"
cp -f "$root/build/windows/bin/glintstub.dll" "$install/NPGlint34_0_0_384.dll"
dir='C:\windows\system32\Kestreli\Glint'
run register activex "$dir\GlintAX_34_0_0_384.ocx" "$dir\GlintUtil_ActiveX.exe"
run register plugin "$dir\NPGlint34_0_0_384.dll"
echo
echo "\$ glintplayer --script tools/demo-session.txt (and shared-object file calls)"
# The player's shared-object store in the demo prefix's roaming folder.
appdata=$(wine cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')
store="$appdata\Kestrelink\Glint Player"
wine "$root/build/windows/bin/glintplayer.exe" --script "$root/tools/demo-session.txt" \
  "BrokerCreateDirectory(\"$appdata\Kestrelink\")" \
  "BrokerCreateDirectory(\"$store\")" \
  "BrokerCreateDirectory(\"$store\#SharedObjects\")" \
  "BrokerCreateFile(\"$store\#SharedObjects\settings.sol\", 0, 1)" \
  "BrokerWriteFile(1, text:volume=80)" \
  "BrokerCloseHandle(1)" \
  "BrokerCreateFile(\"$store\#SharedObjects\settings.sol\", 1, 0)" \
  "BrokerReadFile(2, 9)" \
  "BrokerCloseHandle(2)" \
  "BrokerFindFirstFile(\"$store\#SharedObjects\*.sol\")" \
  "BrokerFindClose(3)" \
  "BrokerDeleteFile(\"$store\#SharedObjects\settings.sol\")" \
  "BrokerCreateFile(\"$store\#SharedObjects\settings.sol\", 1, 0)"

# Two player stand-ins exchange a local-connection message through the
# broker. The receiver registers its name and stays a while (keeping the
# server, and with it the shared block, alive); once its name is in, the
# sender posts a message to it; the receiver then collects and clears it.
echo
echo "\$ glintplayer (receiver) & glintplayer (sender): a local-connection message"
player="$root/build/windows/bin/glintplayer.exe"
received=$(mktemp)
wine "$player" 'BrokerLcdTryAddConnection("_demo.receiver", 0, 0, 50)' 'sleep 5000' \
  BrokerLcdLock BrokerLcdGetMessageTarget BrokerLcdGetMessageData BrokerLcdClearMessage \
  BrokerLcdUnlock 'BrokerLcdRemoveConnection("_demo.receiver", 0)' >"$received" &
receiver=$!
for _ in $(seq 300); do
  grep -q BrokerLcdTryAddConnection "$received" && break
  sleep 0.1
done
sed 's/^/receiver: /' "$received"
# 0x02, the name's 16-bit length and the name, then the message's own bytes.
wine "$player" 'BrokerLcdFindConnectionFormat("_demo.receiver", 0)' \
  'BrokerLcdDispatchMessage(hex:02000E5F64656D6F2E726563656976657268656C6C6F, 11, 2, 0)' |
  sed 's/^/sender:   /'
wait "$receiver"
sed -n '3,$s/^/receiver: /p' "$received"
rm -f "$received"

# A desktop shortcut: the player asks for its icon's path in the icon cache,
# then for an internet shortcut on the desktop to the maker's redirect
# service showing that icon. The shell reads it back; it is removed again.
echo
echo "\$ glintplayer BrokerCreateIconPath & BrokerCreateDesktopShortcut"
redirect='https://www.glint.example/cn/glintservice/shortcut/shortcutredirect/?url=https%3A%2F%2Fgames.example.com%2Fplay'
icon="$appdata\Arvex\Glint Player\Icon Cache\GlintDemo.ico"
wine "$player" 'BrokerCreateIconPath("GlintDemo")' \
  "BrokerCreateDesktopShortcut(\"GlintDemo\", \"$redirect\", \"$icon\", 1)"
desktop=$(winepath -u "$(wine cmd /c echo %USERPROFILE% 2>/dev/null | tr -d '\r')\Desktop")
echo "desktop: $(ls "$desktop" | tr '\n' ' ')"
tr -d '\r' <"$desktop/GlintDemo.url" | sed 's/^/GlintDemo.url: /'
rm -f "$desktop/GlintDemo.url"

# Printing: the demo prefix gets the test printer (Wine's PostScript driver
# on "LPT1:", written to a file); the player stand-in prints one page through
# the broker with every drawing method, and the page is left as PNG.
echo
echo "\$ glintplayer --script tools/print-session.txt"
printout="$root/build/windows/demo-print"
bash scripts/printer-fixture.sh setup "$root/build/windows/demo-wine" "$root/build/windows/bin" \
  "$printout"
rm -f "$printout/printed.ps"
wine "$player" --script "$root/tools/print-session.txt" | sed 's/^/player: /'
for _ in $(seq 100); do [ -s "$printout/printed.ps" ] && break; sleep 0.1; done
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -r100 -sOutputFile="$printout/page.png" \
  "$printout/printed.ps"
echo "printed page: $printout/page.png"
bash scripts/printer-fixture.sh cleanup "$root/build/windows/demo-wine" "$root/build/windows/bin" \
  "$printout"

# The update offer: the player stand-in hands the broker the update
# server's document, the host shows its notice and turns it down; a newer
# offer is stored, the turned-down one is then refused.
echo
echo "\$ glintplayer BrokerPrefMarkAutoUpdaterForRun(offer 35.0.0.1) & glinthost notice"
offer() {
  wine "$player" "BrokerPrefMarkAutoUpdaterForRun(\"<update version=\"\"$1\"\"><meta>message &quot;Glint Player $1&quot;;</meta></update>\")" |
    sed 's/^/player: /'
}
offer 35.0.0.1
run offered-version
run notice
run reject-offer
offer 35.0.0.2
run offered-version
offer 35.0.0.1
run offered-version
run check-update plugin 2 0 0
wine reg delete 'HKCU\Software\Kestrelink\GlintPlayerUpdate' /f >/dev/null 2>&1 || true
wine reg delete 'HKCU\Software\Microsoft\Windows\CurrentVersion\RunOnce' /v GlintPlayerUpdate /f \
  >/dev/null 2>&1 || true

# A browser stand-in (the file holder under a browser's name) loads the
# installed plugin: the conflict scan lists it under its friendly name.
echo
echo "\$ firefox (holding the installed plugin) & glinthost conflicts plugin"
browser="$root/build/windows/demo-wine/drive_c/browser"
mkdir -p "$browser"
cp -f "$root/build/windows/bin/file_holder.exe" "$browser/firefox.exe"
wine "$browser/firefox.exe" module "$dir\NPGlint34_0_0_384.dll" >/dev/null 2>&1 </dev/null &
holder=$!
for _ in $(seq 100); do [ -f "$install/NPGlint34_0_0_384.dll.held" ] && break; sleep 0.1; done
run conflicts plugin
kill "$holder" 2>/dev/null || true
wait "$holder" 2>/dev/null || true
rm -f "$install/NPGlint34_0_0_384.dll.held"

# Uninstall takes everything back: the locks, the registrations, the
# installed files (one a running broker still holds goes at the next restart)
# and the records. Afterwards COM no longer finds the broker (0x80040154).
for _ in $(seq 100); do pgrep -f GlintUtil_ActiveX.exe >/dev/null || break; sleep 0.1; done
run uninstall activex "$dir" safe-versions || true
run uninstall plugin "$dir" || true
# Then the files by pattern (the product folder with them) and every
# profile's player data.
run remove-patterns activex+plugin+pepper "$dir"
run remove-user-data
echo
echo "product folder left: $(ls "$install" 2>/dev/null | tr '\n' ' ' || true)"
appdata_unix=$(winepath -u "$appdata" 2>/dev/null)
echo "player data left: $(ls "$appdata_unix/Kestrelink" 2>/dev/null | tr '\n' ' ' || true)"
echo
echo "\$ glintplayer BrokerDelayScreensaver (after the uninstall)"
wine "$player" BrokerDelayScreensaver || true

# The setup window: the host shows the installer, the driver uses it from
# another process as a person would (through its controls' accessible
# objects and real clicks) and takes screenshots on the way to DONE. Pages
# the window opens go to a recorder, not to a browser.
echo
echo "\$ glinthost setup-window installer (driven by glintdriver)"
demo="$root/build/demo"
mkdir -p "$demo"
cp -f "$root/build/windows/bin/cmdline_recorder.exe" "$browser/pagehandler.exe"
wine reg add 'HKLM\Software\Classes\https\shell\open\command' /ve /t REG_SZ \
  /d '"C:\browser\pagehandler.exe" "%1"' /f >/dev/null 2>&1 </dev/null
printf 'HostFlags 0;\nExpressInstallURL "https://www.glint.example/go/express_done";\n' \
  >"$demo/setup.cfg"
wine "$host" --config "$(winepath -w "$demo/setup.cfg")" setup-window installer \
  >"$demo/setup-host.txt" 2>&1 </dev/null &
setup=$!
driver="$root/build/windows/bin/glintdriver.exe"
shot() { winepath -w "$demo/$1"; }
wine "$driver" wait QUIT screenshot "$(shot setup-splash.png)" list
wine "$driver" \
  press " I have read and agree to the terms of the Glint Player License Agreement." \
  press INSTALL sleep 300 screenshot "$(shot setup-progress.png)" \
  wait "Installation of Glint Player 34.0 is complete" screenshot "$(shot setup-done.png)" \
  press DONE wait-gone
wait "$setup" || true
sed 's/^/host: /' "$demo/setup-host.txt"
sed 's/^/page opened: /' "$browser/pagehandler.exe.log" 2>/dev/null || true
rm -f "$browser/pagehandler.exe.log"
echo "screenshots: $(cd "$demo" && ls setup-*.png | tr '\n' ' ')"
