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
ninja -C build/windows -j "$(nproc)" GlintUtil glinthost glintplayer

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
run installable activex+plugin+pepper 0
run uac
run profiles-root
run file-lists || true
run find-browser || true

# The broker: registered for this host, started by COM when the player
# stand-in asks for it, ended when the stand-in lets go.
run register-broker
echo
echo "\$ glintplayer --script tools/demo-session.txt (and shared-object file calls)"
# The player's shared-object store in the demo prefix's roaming folder.
store='C:\users\root\AppData\Roaming\Kestrelink\Glint Player'
wine "$root/build/windows/bin/glintplayer.exe" --script "$root/tools/demo-session.txt" \
  "BrokerCreateDirectory(\"C:\users\root\AppData\Roaming\Kestrelink\")" \
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
run unregister-broker
