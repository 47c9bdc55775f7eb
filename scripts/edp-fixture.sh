#!/usr/bin/env bash
# A file link made from the Linux side for the enterprise-protection tests,
# in a Wine prefix: inside the player's settings area, a link to a file in
# C:\glint-edp-linked (a disposable folder: Wine deletes a link's target when
# the link is deleted from inside).
#   edp-fixture.sh setup|cleanup PREFIX
set -euo pipefail
action=$1
prefix=$2
user=$(id -un)
settings="$prefix/drive_c/users/$user/AppData/Roaming/Kestrelink/Glint Player/#SharedObjects"
outside="$prefix/drive_c/glint-edp-linked"
case "$action" in
  setup)
    rm -rf "$outside"
    mkdir -p "$settings" "$outside"
    printf 'outside file\n' >"$outside/target.sol"
    ln -sfn "$outside/target.sol" "$settings/edp-filelink.sol"
    ;;
  cleanup)
    rm -f "$settings/edp-filelink.sol"
    rm -rf "$outside"
    ;;
esac
