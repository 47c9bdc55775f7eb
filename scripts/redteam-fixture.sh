#!/usr/bin/env bash
# Links made from the Linux side for the broker's hostile-path tests, in a
# Wine prefix: inside the player's shared-object store, a folder link and a
# file link that lead to C:\glint-outside (a disposable folder: Wine deletes
# a link's target when the link is deleted from inside).
#   redteam-fixture.sh setup|cleanup PREFIX
set -euo pipefail
action=$1
prefix=$2
user=$(id -un)
store="$prefix/drive_c/users/$user/AppData/Roaming/Kestrelink/Glint Player"
outside="$prefix/drive_c/glint-outside"
temp="$prefix/drive_c/users/$user/Temp/Low"
case "$action" in
  setup)
    rm -rf "$outside"
    mkdir -p "$store/#SharedObjects" "$outside/inner"
    printf 'outside file\n' >"$outside/keep.txt"
    printf 'secret\n' >"$outside/secret.sol"
    ln -sfn "$outside" "$store/dirlink"
    ln -sfn "$outside/secret.sol" "$store/filelink.sol"
    # Second names of outside files, and links to outside names that do not
    # exist yet, in both folders the player may write.
    mkdir -p "$temp"
    printf 'hard secret\n' >"$outside/hard-secret.txt"
    ln -f "$outside/hard-secret.txt" "$store/#SharedObjects/second-name.sol"
    ln -f "$outside/hard-secret.txt" "$temp/second-name.tmp"
    ln -sfn "$outside/made-through-link.sol" "$store/#SharedObjects/dangling.sol"
    ln -sfn "$outside/made-through-link.tmp" "$temp/dangling.tmp"
    # A history folder with a file link inside, for the tree deletion.
    mkdir -p "$store/../HistoryLink/#SharedObjects"
    ln -sfn "$outside/keep.txt" "$store/../HistoryLink/#SharedObjects/linked.sol"
    ;;
  cleanup)
    rm -f "$store/dirlink" "$store/filelink.sol" "$store/../HistoryLink/#SharedObjects/linked.sol"
    rm -f "$store/#SharedObjects/second-name.sol" "$temp/second-name.tmp" "$store/#SharedObjects/dangling.sol" \
      "$temp/dangling.tmp"
    rm -rf "$store/../HistoryLink"
    rm -rf "$outside"
    ;;
esac
