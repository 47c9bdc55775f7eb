#!/usr/bin/env bash
# Creates or removes C:\glint-reparse\link -> C:\glint-reparse\target in a
# Wine prefix. Wine shows such a Linux directory link as a reparse point.
set -euo pipefail
action=$1
prefix=$2
base="$prefix/drive_c/glint-reparse"
case "$action" in
  setup)
    mkdir -p "$base/target/inner"
    ln -sfn "$base/target" "$base/link"
    ;;
  cleanup)
    rm -f "$base/link"
    rm -rf "$base"
    ;;
esac
