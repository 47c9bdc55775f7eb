#!/usr/bin/env bash
# The library's SHA-256 beside OpenSSL's, in one run on this machine:
#   bench-sha256.sh [BUILD_DIR]      (default build/bench-native)
# Configures BUILD_DIR as an optimised, unsanitised native build when it is
# not one yet, makes one 64 MiB file and measures, all with wall-clock time:
#   in memory: Sha256/Default (and each compression alone) over 64 MiB
#              beside `openssl speed -evp sha256` on a 64 MiB buffer;
#   the file:  Sha256/FileRead (64 KiB reads) beside `openssl dgst -sha256`
#              (including its start), after checking both digests.
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

# Rounds alternate between ours and OpenSSL, and each figure is the best of
# its rounds: on a shared machine, load then falls on both sides alike.
rounds=7
filter='Sha256/(Default/67108864|Portable|ShaExtensions|FileRead)'
: >"$scratch/ours.csv"
: >"$scratch/openssl-memory.txt"
: >"$scratch/openssl-file.txt"
for _ in $(seq "$rounds"); do
  "$bench" --glint_file="$file" --benchmark_filter="$filter" --benchmark_min_time=1 \
    --benchmark_format=csv >>"$scratch/ours.csv" 2>"$scratch/context.txt"
  openssl speed -mr -elapsed -evp sha256 -bytes "$mib" -seconds 1 2>/dev/null |
    awk -F: '/^\+F:/ { print $4 }' >>"$scratch/openssl-memory.txt"
  start=$(date +%s%N)
  openssl dgst -sha256 "$file" >/dev/null
  echo $(($(date +%s%N) - start)) >>"$scratch/openssl-file.txt"
done
ours_digest=$(sed -n 's/^file_sha256: *//p' "$scratch/context.txt")
openssl_digest=$(openssl dgst -sha256 -r "$file" | cut -c1-64)
# the best bytes per second of a benchmark over the rounds, from the CSV
ours() {
  awk -F, -v name="\"$1\"" '$1 == name && $6 > best { best = $6 } END { print best }' \
    "$scratch/ours.csv"
}
openssl_memory=$(sort -g "$scratch/openssl-memory.txt" | tail -n 1)
openssl_file=$(sort -n "$scratch/openssl-file.txt" | head -n 1 |
  awk -v b="$mib" '{ printf "%.0f", b / ($1 / 1e9) }')

if [ "$ours_digest" != "$openssl_digest" ]; then
  echo "digests differ: ours $ours_digest, openssl $openssl_digest" >&2
  exit 1
fi

awk -v d="$(ours Sha256/Default/67108864/real_time)" \
    -v p="$(ours Sha256/Portable/67108864/real_time)" \
    -v x="$(ours Sha256/ShaExtensions/67108864/real_time)" \
    -v f="$(ours Sha256/FileRead/real_time)" \
    -v om="$openssl_memory" -v of="$openssl_file" -v rounds="$rounds" \
    -v ext="$(sed -n 's/^sha_extensions: *//p' "$scratch/context.txt")" '
function row(where, what, value, anchor, anchorValue) {
  printf "  %-10s %-20s %6.0f   %-26s %6.0f   ratio %.2f\n", where, what, value / 1e6, anchor,
         anchorValue / 1e6, value / anchorValue
}
BEGIN {
  printf "SHA-256 over 64 MiB (MB/s, wall clock, best of %d rounds; SHA extensions: %s)\n", rounds, ext
  row("in memory", "ours (default)", d, "openssl speed -evp sha256", om)
  if (x != "") row("in memory", "SHA-extension path", x, "openssl speed -evp sha256", om)
  row("in memory", "portable path", p, "openssl speed -evp sha256", om)
  row("file", "ours (64 KiB reads)", f, "openssl dgst -sha256", of)
}'
echo "  digests of the file agree: $ours_digest"
