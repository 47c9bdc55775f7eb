#!/usr/bin/env bash
# Longer fuzzing runs, 10 minutes per target unless told otherwise:
#   fuzz-long.sh BUILD_DIR [SECONDS]
# The corpora grow in BUILD_DIR/fuzz-corpus/ (or FUZZ_WORK_DIR) and are reused
# by the next run; the repository's seed corpus is never written. To keep an
# interesting input as a seed, copy it into fuzz/corpus/TARGET/ by hand.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 BUILD_DIR [SECONDS]" >&2
  exit 2
fi
export FUZZ_WORK_DIR="${FUZZ_WORK_DIR:-$(cd "$1" && pwd)/fuzz-corpus}"
exec "$(dirname "$0")/fuzz-smoke.sh" "$1" "${2:-600}"
