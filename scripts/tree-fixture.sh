#!/usr/bin/env bash
# Links inside trees to be removed, made from Linux in a Wine prefix (Wine
# makes none itself), each pointing outside the tree at a sentinel under
# C:\glint-tree (outside\sentinel.txt, outside-file.txt, the empty outside-empty).
#   tree-fixture.sh setup|cleanup PREFIX
set -euo pipefail
base="$2/drive_c/glint-tree"
profile="$2/drive_c/users/glint-linked"
rm -rf "$base" "$profile"  # from Linux, which removes a link and never its target
[ "$1" = setup ] || exit 0
mkdir -p "$base/tree/a/b" "$base/outside"
echo player >"$base/tree/a/b/c.txt"
echo player >"$base/tree/d.txt"
echo keep >"$base/outside/sentinel.txt"
echo keep >"$base/outside-file.txt"
ln -s "$base/outside" "$base/tree/a/dirlink"
ln -s "$base/outside-file.txt" "$base/tree/filelink.txt"
ln -s "$base/outside" "$base/rootlink"
mkdir -p "$profile/AppData/Roaming/Kestrelink"
ln -s "$base/outside" "$profile/AppData/Roaming/Kestrelink/Glint Player"
mkdir -p "$profile/AppData/Local/Kestrelink/Glint Player"
echo data >"$profile/AppData/Local/Kestrelink/Glint Player/plain.sol"
ln -s "$base/outside" "$profile/AppData/Local/Kestrelink/Glint Player/inner"
ln -s "$base/outside-file.txt" "$profile/AppData/Local/Kestrelink/Glint Player/file.sol"
mkdir -p "$base/product/Glint"
ln -s "$base/outside" "$base/product/Temp"
mkdir -p "$base/linked-product" "$base/outside-empty"
ln -s "$base/outside-empty" "$base/linked-product/Glint"
mkdir -p "$base/Plugins"
ln -s "$base/outside-file.txt" "$base/Plugins/NPGlint34_0_0_384.dll"
