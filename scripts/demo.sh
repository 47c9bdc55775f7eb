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
ninja -C build/windows -j "$(nproc)" GlintUtil glinthost glintplayer control_standin

source scripts/wine-env.sh
trap glint_platform_stop EXIT
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

# Registration: the control's stand-in, installed in the demo prefix, and the
# plugin entry. Registering the control type registers this host as the
# broker's server too; COM starts it when the player stand-in asks for it.
install="$root/build/windows/demo-wine/drive_c/Program Files/Glint"
mkdir -p "$install"
cp -f "$root/build/windows/bin/GlintAX_34_0_0_384.ocx" "$install/"
run register activex 'C:\Program Files\Glint\GlintAX_34_0_0_384.ocx'
run register plugin 'C:\Program Files\Glint\NPGlint34_0_0_384.dll'
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

# Uninstall takes the registrations back: afterwards COM no longer finds the
# broker (0x80040154).
run prepare-uninstall activex 'C:\windows\system32' safe-versions
run prepare-uninstall plugin 'C:\windows\system32'
echo
echo "\$ glintplayer BrokerDelayScreensaver (after the uninstall)"
wine "$player" BrokerDelayScreensaver || true
