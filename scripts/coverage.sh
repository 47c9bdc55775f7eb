#!/usr/bin/env bash
# Line and branch coverage of both builds, per file and in total:
#   coverage.sh [native|windows|all|windows-report]      (default all)
#
#   native  - clang's source-based coverage over the native tests, built in
#             build/coverage-native (GLINT_COVERAGE, no sanitizers);
#   windows - gcov's counters over the Windows tests run under Wine, built in
#             build/coverage-windows with its own Wine prefix inside it.
#
# Text tables go to build/coverage/native.txt and build/coverage/windows.txt
# (and to the terminal); HTML reports to build/coverage/native/index.html and
# build/coverage/windows/index.html. Only the product's own files are counted
# (src/, host/, tools/), not the tests, GoogleTest or generated files.
#
# The .gcda files of the Windows build land beside the objects: the objects
# carry their Linux paths, and Wine opens such a path on the Linux side even
# when a program's current folder is on C: (GCOV_PREFIX=Z: makes that explicit
# for every program, the COM server included). gcov writes the counts from
# exit handlers: an EXE that ends through ExitProcess (a program
# that exits while holding a lock) or is killed (TerminateProcess by a test, wineserver -k, a
# time-out) leaves no counts of that run; a DLL writes its counts when it is
# detached, so GlintUtil.dll's counts survive ExitProcess but not a kill.
# Objects that got no counts at all are listed after the tables.
# "windows-report" only makes the tables again from the last run's counts.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

what=${1:-all}
case "$what" in native | windows | all | windows-report) ;; *)
  echo "usage: $0 [native|windows|all|windows-report]" >&2
  exit 2
  ;;
esac

bash scripts/install-deps.sh

out=$root/build/coverage
mkdir -p "$out"
# The product's own files; everything else is left out of the tables.
exclude_regex='(^|/)(tests|googletest|generated|fuzz|bench)/|^/usr/'

coverage_native() {
  local build=$root/build/coverage-native
  echo "== native coverage build ($build)"
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DGLINT_COVERAGE=ON -DGLINT_SANITIZE=OFF -DGLINT_FUZZ=OFF --no-warn-unused-cli >/dev/null
  local targets
  targets=$(sed -n 's/^glint_unit_test(\([A-Za-z0-9_]*\).*/\1/p' tests/native/CMakeLists.txt)
  # shellcheck disable=SC2086
  nice -n 10 ninja -C "$build" -j2 $targets

  echo "== native tests"
  rm -rf "$build/profiles"
  mkdir -p "$build/profiles"
  LLVM_PROFILE_FILE="$build/profiles/%p-%m.profraw" \
    ctest --test-dir "$build" -j2 --timeout 300 --output-on-failure || echo "coverage: some native tests failed"
  llvm-profdata merge -sparse "$build"/profiles/*.profraw -o "$build/coverage.profdata"

  local objects=() t
  for t in $targets; do
    objects+=(-object "$build/tests/native/$t")
  done
  # The first program is the main one for llvm-cov; the rest follow -object.
  llvm-cov report "${objects[@]:1}" --instr-profile="$build/coverage.profdata" \
    --ignore-filename-regex="$exclude_regex" --show-branch-summary \
    | sed "s|$root/||" | tee "$out/native.txt"
  rm -rf "$out/native"
  llvm-cov show "${objects[@]:1}" --instr-profile="$build/coverage.profdata" \
    --ignore-filename-regex="$exclude_regex" --show-branches=count --format=html \
    --output-dir="$out/native" >/dev/null
  echo "native: $out/native.txt, $out/native/index.html"
}

coverage_windows() {
  local build=$root/build/coverage-windows
  echo "== windows coverage build ($build)"
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Debug -DGLINT_COVERAGE=ON --no-warn-unused-cli >/dev/null
  nice -n 10 ninja -C "$build" -j2
  find "$build" -name '*.gcda' -delete

  echo "== windows tests under Wine"
  # shellcheck source=scripts/wine-env.sh
  source scripts/wine-env.sh
  trap glint_platform_stop EXIT
  # Exported before Wine's services start: programs they launch (the COM
  # server) inherit it from them.
  export GCOV_PREFIX=Z:
  glint_xvfb_start
  glint_wine_start "$build/wine"
  nice -n 10 ctest --test-dir "$build" --timeout 600 --output-on-failure \
    || echo "coverage: some windows tests failed"
  glint_platform_stop
  trap - EXIT

  windows_report "$build"
}

windows_report() {
  local build=$1
  # The counts are searched for in the build's own folders only: the Wine
  # prefix inside the tree has a z: link to the whole file system.
  local gcovr_args=("$build/src" "$build/host" "$build/tools" "$build/tests"
    --root "$root" --object-directory "$build"
    --gcov-executable x86_64-w64-mingw32-gcov
    --filter "$root/src/" --filter "$root/host/" --filter "$root/tools/"
    --exclude "$build/" --exclude-unreachable-branches --exclude-throw-branches)
  {
    echo "-- lines"
    nice -n 10 gcovr "${gcovr_args[@]}" --txt
    echo "-- branches"
    nice -n 10 gcovr "${gcovr_args[@]}" --txt --branches
  } | tee "$out/windows.txt"
  rm -rf "$out/windows"
  mkdir -p "$out/windows"
  nice -n 10 gcovr "${gcovr_args[@]}" --html-details "$out/windows/index.html"
  local gcno missing=0
  while IFS= read -r gcno; do
    if [ ! -f "${gcno%.gcno}.gcda" ]; then
      echo "no counts: ${gcno#"$build"/}"
      missing=1
    fi
  done < <(find "$build/src" "$build/host" "$build/tools" "$build/tests" -name '*.gcno' | sort)
  [ "$missing" = 1 ] || echo "every object of src/, host/, tools/ and tests/ has counts"
  echo "windows: $out/windows.txt, $out/windows/index.html"
}

if [ "$what" = native ] || [ "$what" = all ]; then
  coverage_native
fi
if [ "$what" = windows ] || [ "$what" = all ]; then
  coverage_windows
fi
# Only the tables and HTML again, from the counts of the last Windows run.
if [ "$what" = windows-report ]; then
  windows_report "$root/build/coverage-windows"
fi
