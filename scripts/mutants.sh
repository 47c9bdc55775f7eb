#!/usr/bin/env bash
# Seeded sample of single-point mutations of the OS-free sources (the files
# the native build compiles), each one run against the native tests:
#   mutants.sh [--seed N] [--count N] [--list]
# Prints one line per mutant (killed, survived or timeout), the totals and the
# survivors with file, line and the change. --list only prints the sample.
#
# The mutants are applied to a copy of the repository in build/mutants/tree,
# never to the working files; the copy is refreshed at every start and the
# mutated file is put back after each mutant, also on Ctrl-C. The copy is
# built without sanitizers in build/mutants/build; each mutant rebuilds only
# what changed and runs the test programs that were relinked. The same seed
# and count give the same sample as long as the sources are the same.
# Not part of CI: a tool for judging how many faults the tests catch.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seed=1
count=150
list=""
while [ $# -gt 0 ]; do
  case "$1" in
    --seed) seed=$2; shift 2 ;;
    --count) count=$2; shift 2 ;;
    --list) list=--list; shift ;;
    *) echo "usage: $0 [--seed N] [--count N] [--list]" >&2; exit 2 ;;
  esac
done

work=$root/build/mutants
tree=$work/tree
build=$work/build
mkdir -p "$tree" "$build"

if [ -n "$list" ]; then
  exec python3 scripts/mutants.py --tree "$root" --build "$build" --seed "$seed" --count "$count" --list
fi

# A run that was killed hard may have left a mutant in the copy: the refresh
# below puts it back (files whose content differs are copied again).
restore_pending() {
  if [ -f "$build/mutant-pending.json" ]; then
    python3 "$root/scripts/mutants.py" --sync-from "$root" --tree "$tree"
    rm -f "$build/mutant-pending.json"
  fi
}
trap restore_pending EXIT
trap 'restore_pending; exit 130' INT TERM HUP

python3 scripts/mutants.py --sync-from "$root" --tree "$tree"
rm -f "$build/mutant-pending.json"

# No sanitizers, no fuzz targets and no warnings as errors (a mutant may only
# warn): a plain, quick build of the native tests.
CC=clang CXX=clang++ cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DGLINT_SANITIZE=OFF -DGLINT_FUZZ=OFF -DCMAKE_CXX_FLAGS=-w --no-warn-unused-cli >/dev/null

targets=$(sed -n 's/^glint_unit_test(\([A-Za-z0-9_]*\).*/\1/p' "$tree/tests/native/CMakeLists.txt")
printf '%s\n' "$targets" >"$work/targets"
for t in $targets; do echo "$build/tests/native/$t"; done >"$work/programs"

python3 scripts/mutants.py --tree "$tree" --build "$build" --seed "$seed" --count "$count" \
  --programs "$work/programs" --targets "$work/targets"
