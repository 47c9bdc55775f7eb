#!/usr/bin/env bash
# Renders the print tests' broker pages (page-NAME-broker.ps in OUT) to PNG
# and checks the colour probes the test listed in OUT/probes.txt: a first
# line "dpi D offset X Y" (the printer's resolution and printable-area
# offset), then "NAME X Y RRGGBB" per probe in the printer's pixels; each
# channel may differ by 2.
#   print-render.sh OUT
set -euo pipefail
out=$(realpath "$1")
probes="$out/probes.txt"
[ -s "$probes" ] || { echo "print-render: no probes in $out" >&2; exit 1; }
read -r _ dpi _ offx offy <"$probes"
failed=0 rendered=""
while read -r name x y want; do
  png="$out/page-$name.png"
  if [[ " $rendered " != *" $name "* ]]; then
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -r"$dpi" -sOutputFile="$png" \
      "$out/page-$name-broker.ps"
    rendered+=" $name"
  fi
  got=$(convert "$png" -format "%[hex:p{$((x + offx)),$((y + offy))}]" info:)
  got=${got:0:6}
  # Colours through PostScript may round by a step or two per channel.
  off=0
  for shift in 16 8 0; do
    d=$(((0x$got >> shift & 255) - (0x$want >> shift & 255)))
    [ "${d#-}" -gt "$off" ] && off=${d#-}
  done
  if [ "$off" -gt 2 ]; then
    echo "print-render: $name at $x,$y is $got, expected $want" >&2
    failed=1
  fi
done < <(tail -n +2 "$probes")
[ "$failed" = 0 ] && echo "print-render: all probes match ($(($(wc -l <"$probes") - 1)))"
exit "$failed"
