#!/usr/bin/env bash
# Test lines against code lines:
#   test-ratio.sh [-v]
# Code: everything in src/, host/ and tools/ that is written by hand (C++,
# IDL, resource scripts, module definitions, CMake). Tests: everything in
# tests/ written by hand (test sources, helpers, stand-ins, the add-in test
# server, CMake) and the scripts only tests use (the *-fixture.sh scripts
# that tests/windows/CMakeLists.txt runs and the *-fixture-lib.sh they
# source). Left out: fixture data (keys, certificates, sample texts and
# configurations) and generated files (none
# are kept in the tree). Lines are counted as they are, blank ones included.
# -v lists every counted file.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# Files of a folder whose names mark them as hand-written code.
hand_written() {
  find "$@" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.idl' -o -name '*.rc' \
    -o -name '*.def' -o -name '*.in' -o -name '*.cmake' -o -name CMakeLists.txt \
    -o -name '*.py' -o -name '*.sh' \) | sort
}

code_files=$(hand_written src host tools)
test_files=$( (hand_written tests; ls scripts/*-fixture.sh scripts/*-fixture-lib.sh) | sort)

count() {
  # shellcheck disable=SC2086
  cat $1 | wc -l
}

code_lines=$(count "$code_files")
test_lines=$(count "$test_files")

if [ "${1:-}" = -v ]; then
  echo "-- code"
  # shellcheck disable=SC2086
  wc -l $code_files | sed '$d'
  echo "-- tests"
  # shellcheck disable=SC2086
  wc -l $test_files | sed '$d'
fi
awk -v t="$test_lines" -v c="$code_lines" \
  'BEGIN { printf "test lines %d, code lines %d, ratio %.2f\n", t, c, t / c }'
