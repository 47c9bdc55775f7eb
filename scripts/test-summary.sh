#!/usr/bin/env bash
# Adds up the GoogleTest XML results of the given folders and prints the
# closing line: "tests: N passed, N failed, N skipped".
set -euo pipefail
passed=0 failed=0 skipped=0
for dir in "$@"; do
  while IFS= read -r -d '' file; do
    # The <testsuites ...> element carries the totals of one program run.
    line=$(grep -m1 '<testsuites ' "$file" || true)
    [ -n "$line" ] || continue
    t=$(sed -n 's/.* tests="\([0-9]*\)".*/\1/p' <<<"$line")
    f=$(sed -n 's/.* failures="\([0-9]*\)".*/\1/p' <<<"$line")
    e=$(sed -n 's/.* errors="\([0-9]*\)".*/\1/p' <<<"$line")
    d=$(sed -n 's/.* disabled="\([0-9]*\)".*/\1/p' <<<"$line")
    s=$(grep -c 'result="skipped"' "$file" || true)
    failed=$((failed + ${f:-0} + ${e:-0}))
    skipped=$((skipped + ${s:-0}))
    passed=$((passed + ${t:-0} - ${f:-0} - ${e:-0} - ${d:-0} - ${s:-0}))
  done < <(find "$dir" -name '*.xml' -print0 2>/dev/null)
done
echo "tests: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
