#!/usr/bin/env bash
# The CJK font (Debian fonts-wqy-zenhei) in a Wine prefix's Fonts folder, so
# that the setup window's Chinese, Japanese and Korean texts draw as glyphs:
# Wine then uses it for the faces the window asks for under those locales.
# The font stays for later runs; without the package the texts draw as boxes.
#   cjk-font-fixture.sh setup|cleanup PREFIX
set -euo pipefail
[ "$1" = setup ] || exit 0
font=/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc
fonts="$2/drive_c/windows/Fonts"
if [ -f "$font" ] && [ -d "$fonts" ] && [ ! -f "$fonts/wqy-zenhei.ttc" ]; then
  cp "$font" "$fonts/"
fi
