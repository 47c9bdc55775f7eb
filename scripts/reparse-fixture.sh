#!/usr/bin/env bash
# C:\glint-reparse\link -> C:\glint-reparse\target in a Wine prefix, made
# from Linux (Wine shows it as a reparse point).
#   reparse-fixture.sh setup|cleanup PREFIX
set -euo pipefail
base="$2/drive_c/glint-reparse"
rm -rf "$base"
[ "$1" = setup ] || exit 0
mkdir -p "$base/target/inner"
ln -s "$base/target" "$base/link"
