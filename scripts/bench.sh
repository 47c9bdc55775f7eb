#!/usr/bin/env bash
# Benchmarks: native micro-benchmarks from an optimised, unsanitised build
# (build/bench-native), then the Wine-side programs (build/bench-windows): the
# library as a host uses it, the storage path policy beside the system calls
# it makes, and the broker through COM beside a minimal local server. Every
# figure is printed beside its anchor from the same run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh

echo "== native micro-benchmarks"
CC=clang CXX=clang++ cmake -S . -B build/bench-native -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DGLINT_SANITIZE=OFF -DGLINT_FUZZ=OFF >/dev/null
ninja -C build/bench-native -j "$(nproc)" foundation_bench update_notice_bench >/dev/null
build/bench-native/bench/native/foundation_bench --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true
build/bench-native/bench/native/update_notice_bench --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true

echo "== under Wine"
# Its own optimised tree and prefix, like the native part: the COM servers the
# broker benchmark registers stay out of the test prefix. The broker soak is a
# test program (tests/windows): run here for its figures.
cmake -S . -B build/bench-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo --no-warn-unused-cli >/dev/null
ninja -C build/bench-windows -j "$(nproc)" glint_bench path_policy_bench broker_bench lcd_bench \
  broker_soak_test setup_bench update_bench ui_bench print_bench printer_setup \
  setup_window_bench accessibility_bench >/dev/null
# The Wine part runs on one CPU: a cross-process COM call wakes three
# processes (client, server, wine server), and on a small VM whether they meet
# on one CPU or two changes a call by half, at random for each server process.
# Pinned, broker and anchor see the same conditions from run to run. Every
# process started from here on, COM's servers included, inherits the mask.
first_cpu=$(taskset -cp $$ | sed 's/.*: *//; s/[,-].*//')
taskset -cp "$first_cpu" $$ >/dev/null
source scripts/wine-env.sh
trap glint_platform_stop EXIT
# The setup window's benchmark draws on a display.
[ -n "${DISPLAY:-}" ] || glint_xvfb_start
glint_wine_start "$root/build/bench-windows/wine"
bin=build/bench-windows/bin
wine "$bin/glint_bench.exe"

echo "== storage path policy under Wine"
wine "$bin/path_policy_bench.exe"

echo "== broker under Wine"
# COM starts both servers from the prefix's registration: the broker
# (glinthost.exe) and its anchor, a minimal local server.
# The refused shortcut request carries an authorisation made under root B.
bash tests/windows/SignedDataFixture.sh "$root/build/bench-windows/signed-data-fixtures" "$root" >/dev/null
wine "$bin/glinthost.exe" register-broker >/dev/null
wine "$bin/bench_anchor.exe" register >/dev/null
wine "$bin/broker_bench.exe"

echo "== local connections under Wine"
wine "$bin/lcd_bench.exe"

echo "== printing under Wine"
# On the test printer, installed for the run and removed again.
printout="$root/build/bench-windows/printer"
bash scripts/printer-fixture.sh setup "$root/build/bench-windows/wine" "$root/$bin" "$printout"
wine "$bin/print_bench.exe" || true
bash scripts/printer-fixture.sh cleanup "$root/build/bench-windows/wine" "$root/$bin" "$printout"

echo "== broker soak and load under Wine"
# 10 000 mixed calls from one player, then eight players at once, against one
# broker: calls per second, the load's beside one player's, and the broker's
# handles and memory along the way. A failed check is shown, not fatal here.
{ wine "$bin/broker_soak_test.exe" || true; } | grep -vE '^\[ *(RUN|OK) *\]|^Running main|^$'

echo "== setup engine under Wine"
wine "$bin/setup_bench.exe"

echo "== setup window under Wine"
wine "$bin/setup_window_bench.exe"

echo "== setup window accessibility under Wine"
# glinthost shows the setup window; a control's name is asked from this
# process beside an empty call to the anchor registered above.
wine "$bin/accessibility_bench.exe"

echo "== update check under Wine"
# Against a loopback proxy that completes TLS with an untrusted certificate.
proxy="$root/build/bench-windows/update-proxy"
bash scripts/update-proxy-fixture.sh setup "$proxy" "$root"
wine "$bin/update_bench.exe" "$(winepath -w "$proxy/ports")" || true
bash scripts/update-proxy-fixture.sh cleanup "$proxy" "$root"

echo "== setup window drawing under Wine and Xvfb"
glint_xvfb_start
wine "$bin/ui_bench.exe"

echo "== SHA-256 beside OpenSSL"
bash "$root/scripts/bench-sha256.sh"
