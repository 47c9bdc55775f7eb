#!/usr/bin/env bash
# Links made from the Linux side (Wine cannot make them) for the broker's
# hostile-path and enterprise-protection tests, in a Wine prefix. They lead
# to disposable folders: Wine deletes a link's target when the link is
# deleted from inside.
#   redteam-fixture.sh setup|cleanup PREFIX
set -euo pipefail
user=$(id -un)
store="$2/drive_c/users/$user/AppData/Roaming/Kestrelink/Glint Player"
outside="$2/drive_c/glint-outside"
linked="$2/drive_c/glint-edp-linked"
temp="$2/drive_c/users/$user/Temp/Low"
rm -f "$store/dirlink" "$store/filelink.sol" "$store/#SharedObjects/"{second-name,dangling,edp-filelink}.sol \
  "$temp/"{second-name,dangling}.tmp
rm -rf "$store/../HistoryLink" "$outside" "$linked"
[ "$1" = setup ] || exit 0
mkdir -p "$store/#SharedObjects" "$outside/inner" "$temp" "$store/../HistoryLink/#SharedObjects" "$linked"
printf 'outside file\n' >"$outside/keep.txt"
printf 'secret\n' >"$outside/secret.sol"
printf 'hard secret\n' >"$outside/hard-secret.txt"
printf 'outside file\n' >"$linked/target.sol"
ln -s "$outside" "$store/dirlink"
ln -s "$outside/secret.sol" "$store/filelink.sol"
ln -s "$linked/target.sol" "$store/#SharedObjects/edp-filelink.sol"
# Second names of an outside file, and links to outside names that do not
# exist yet, in both folders the player may write; a history folder with a
# file link inside.
ln "$outside/hard-secret.txt" "$store/#SharedObjects/second-name.sol"
ln "$outside/hard-secret.txt" "$temp/second-name.tmp"
ln -s "$outside/made-through-link.sol" "$store/#SharedObjects/dangling.sol"
ln -s "$outside/made-through-link.tmp" "$temp/dangling.tmp"
ln -s "$outside/keep.txt" "$store/../HistoryLink/#SharedObjects/linked.sol"
