#!/usr/bin/env bash
# Runs every libFuzzer target of a native build over a copy of its seed
# corpus, all targets at once, for SECONDS each (default 30):
#   fuzz-smoke.sh BUILD_DIR [SECONDS]
# Prints one line per target and a closing "fuzz: N passed, N failed" line;
# exits non-zero when any target crashed, leaked, timed out or is missing.
#
# The repository corpus is only read. Runs work in a temporary copy, unless
# FUZZ_WORK_DIR names a directory to keep the grown corpora in (fuzz-long.sh
# does that). Inputs that fail are kept in BUILD_DIR/fuzz-artifacts/TARGET/.
set -uo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 BUILD_DIR [SECONDS]" >&2
  exit 2
fi
build=$(cd "$1" && pwd) || exit 2
seconds=${2:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
targets=(fuzz_config_text fuzz_from_utf8 fuzz_manifest fuzz_admin_config fuzz_executable_watch)
targets+=(fuzz_lcd_block fuzz_setup_rules fuzz_update_notice fuzz_file_pattern fuzz_conflict_names)
targets+=(fuzz_shortcut_rules fuzz_targa fuzz_markup fuzz_bitmap_rule fuzz_filter_specs
         fuzz_audit_path)

scratch=$(mktemp -d "${TMPDIR:-/tmp}/glint-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
work=${FUZZ_WORK_DIR:-$scratch/work}

declare -A pids
for target in "${targets[@]}"; do
  binary="$build/fuzz/$target"
  log="$scratch/$target.log"
  if [ ! -x "$binary" ]; then
    echo "missing $binary (configure with clang and GLINT_FUZZ=ON)" >"$log"
    continue
  fi
  corpus="$work/$target"
  artifacts="$build/fuzz-artifacts/$target"
  mkdir -p "$corpus" "$artifacts"
  cp -n "$root/fuzz/corpus/$target/"* "$corpus/" 2>/dev/null || true
  # The outer timeout only guards against a hung run; libFuzzer stops itself.
  timeout --kill-after=30 $((seconds * 2 + 120)) \
    "$binary" "$corpus" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" >"$log" 2>&1 &
  pids[$target]=$!
done

passed=0
failed=0
for target in "${targets[@]}"; do
  log="$scratch/$target.log"
  status=1
  if [ -n "${pids[$target]:-}" ]; then
    wait "${pids[$target]}"
    status=$?
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  if [ "$status" -eq 0 ] && [ -n "$runs" ]; then
    passed=$((passed + 1))
    echo "$target: passed, ${runs} runs, ${rate} exec/s, ${seconds} s"
  else
    failed=$((failed + 1))
    echo "$target: FAILED (exit $status), ${runs:-?} runs, ${rate:-?} exec/s"
    # The error, the top of its stack and where the input went; all of it in
    # the kept log.
    awk '/ERROR|SUMMARY|Test unit written|^missing|deadly signal|Timeout/ { print; next }
         /^ +#[0-9]+ / && frames < 4 { print; frames++ }' "$log" | sed "s/^/  $target| /"
    if [ -d "$build/fuzz-artifacts/$target" ]; then
      cp "$log" "$build/fuzz-artifacts/$target/last-run.log"
      echo "  $target| full log: $build/fuzz-artifacts/$target/last-run.log"
    fi
  fi
done

echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
