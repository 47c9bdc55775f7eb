#!/usr/bin/env bash
# Builds and runs every test of both builds:
#   native  - OS-free code with ASan/UBSan, then a short fuzz run of each target
#   windows - GlintUtil.dll, the host and the tests, run under Wine (Xvfb for UI)
# Installs missing Debian packages first. Build trees: build/native, build/windows.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh

jobs=$(nproc)
fuzz_seconds=${GLINT_FUZZ_SECONDS:-30}
status=0

echo "== native build"
CC=clang CXX=clang++ cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo --no-warn-unused-cli >/dev/null
ninja -C build/native -j "$jobs"

echo "== windows build"
cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo --no-warn-unused-cli >/dev/null
ninja -C build/windows -j "$jobs"
bash scripts/check-binaries.sh build/windows/bin

rm -rf build/native/test-results/* build/windows/test-results/*

echo "== native tests"
ctest --test-dir build/native -j "$jobs" --output-on-failure --timeout 300 || status=1

echo "== fuzz smoke (${fuzz_seconds}s per target)"
bash scripts/fuzz-smoke.sh build/native "$fuzz_seconds" || status=1

echo "== windows tests under Wine"
source scripts/wine-env.sh
trap glint_platform_stop EXIT
glint_xvfb_start
glint_wine_start "$root/build/windows/wine"
ctest --test-dir build/windows --output-on-failure --timeout 600 || status=1
glint_platform_stop
trap - EXIT

bash scripts/test-summary.sh build/native/test-results build/windows/test-results || status=1
exit $status
