#!/usr/bin/env bash
# One fuzz target's run in the test command, as CTest starts it (the tests
# labelled "fuzzing" of the asan build): fuzzes for FUZZ_SECONDS (20) with
# scripts/fuzz.sh into build/asan/<target>.log (the test command prints its
# final figures), and on a finding fails with the end of the log.
set -euo pipefail
target=${1:?usage: $0 TARGET}
root=$(cd "$(dirname "$0")/.." && pwd)
log=$root/build/asan/$target.log
# The build is done and the seed volume made (CTest's fixture) before any
# target starts, so targets running side by side never build or make it twice.
export DORVANE_FUZZ_BUILT=1
if ! bash "$root/scripts/fuzz.sh" "$target" "${FUZZ_SECONDS:-20}" > "$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzzing found something in $target (see build/asan/fuzzing/${target#fuzz_}/findings)" >&2
    exit 1
fi
