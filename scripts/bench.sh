#!/usr/bin/env bash
# Benchmarks: native micro-benchmarks from an optimised, unsanitised build
# (build/bench-native), then the Wine-side program. Every figure is printed
# beside its anchor from the same run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh

echo "== native micro-benchmarks"
CC=clang CXX=clang++ cmake -S . -B build/bench-native -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DGLINT_SANITIZE=OFF -DGLINT_FUZZ=OFF >/dev/null
ninja -C build/bench-native foundation_bench >/dev/null
build/bench-native/bench/native/foundation_bench --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true

echo "== under Wine"
cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo --no-warn-unused-cli >/dev/null
ninja -C build/windows glint_bench >/dev/null
source scripts/wine-env.sh
trap glint_platform_stop EXIT
glint_wine_start "$root/build/windows/wine"
wine build/windows/bin/glint_bench.exe
