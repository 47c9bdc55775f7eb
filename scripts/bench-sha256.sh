#!/usr/bin/env bash
# The library's SHA-256 beside OpenSSL's, in one run on this machine:
#   bench-sha256.sh [BUILD_DIR]      (default build/bench-native)
# Configures BUILD_DIR as an optimised, unsanitised native build when it is
# not one yet, makes one 64 MiB file and measures, all with wall-clock time:
#   in memory: Sha256/Default (and each compression alone) over 64 MiB
#              beside `openssl speed -evp sha256` on a 64 MiB buffer;
#   the file:  Sha256/FileRead (64 KiB reads) beside `openssl dgst -sha256`
#              (best of 5, including its start), after checking both digests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench-native}

if ! grep -qs '^GLINT_SANITIZE:BOOL=OFF' "$build/CMakeCache.txt"; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DGLINT_SANITIZE=OFF -DGLINT_FUZZ=OFF >/dev/null
fi
ninja -C "$build" -j 2 sha256_bench >/dev/null
bench=$build/bench/native/sha256_bench

scratch=$(mktemp -d "${TMPDIR:-/tmp}/glint-sha256.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
file=$scratch/data.bin
head -c $((64 << 20)) /dev/urandom >"$file"
mib=$((64 << 20))

"$bench" --glint_file="$file" --benchmark_filter='Sha256/(Default/67108864|Portable|ShaExtensions|FileRead)' \
  --benchmark_repetitions=3 --benchmark_report_aggregates_only=true --benchmark_format=csv \
  >"$scratch/ours.csv" 2>"$scratch/context.txt"
ours_digest=$(sed -n 's/^file_sha256: *//p' "$scratch/context.txt")
# bytes per second of the median of a benchmark, from the CSV
ours() { awk -F, -v name="\"$1_median\"" '$1 ~ name { print $6 }' "$scratch/ours.csv"; }

openssl_memory=$(openssl speed -mr -elapsed -evp sha256 -bytes "$mib" -seconds 3 2>/dev/null |
  awk -F: '/^\+F:/ { print $4 }')

openssl_digest=$(openssl dgst -sha256 -r "$file" | cut -c1-64)
best=""
for _ in 1 2 3 4 5; do
  start=$(date +%s%N)
  openssl dgst -sha256 "$file" >/dev/null
  took=$(($(date +%s%N) - start))
  if [ -z "$best" ] || [ "$took" -lt "$best" ]; then best=$took; fi
done
openssl_file=$(awk -v b="$mib" -v ns="$best" 'BEGIN { printf "%.0f", b / (ns / 1e9) }')

if [ "$ours_digest" != "$openssl_digest" ]; then
  echo "digests differ: ours $ours_digest, openssl $openssl_digest" >&2
  exit 1
fi

awk -v d="$(ours 'Sha256/Default/67108864/real_time')" \
    -v p="$(ours 'Sha256/Portable/67108864/real_time')" \
    -v x="$(ours 'Sha256/ShaExtensions/67108864/real_time')" \
    -v f="$(ours 'Sha256/FileRead/real_time')" \
    -v om="$openssl_memory" -v of="$openssl_file" \
    -v ext="$(sed -n 's/^sha_extensions: *//p' "$scratch/context.txt")" '
function row(where, what, value, anchor, anchorValue) {
  printf "  %-10s %-20s %6.0f   %-26s %6.0f   ratio %.2f\n", where, what, value / 1e6, anchor,
         anchorValue / 1e6, value / anchorValue
}
BEGIN {
  printf "SHA-256 over 64 MiB (MB/s, wall clock; SHA extensions on this processor: %s)\n", ext
  row("in memory", "ours (default)", d, "openssl speed -evp sha256", om)
  if (x != "") row("in memory", "SHA-extension path", x, "openssl speed -evp sha256", om)
  row("in memory", "portable path", p, "openssl speed -evp sha256", om)
  row("file", "ours (64 KiB reads)", f, "openssl dgst -sha256", of)
}'
echo "  digests of the file agree: $ours_digest"
