#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: in the
# debug build (gcc) and in the asan build (clang with the address and
# undefined-behaviour sanitizers, leaks checked), two tests at a time. Last,
# each fuzz target of the asan build fuzzes for FUZZ_SECONDS (30) under
# libFuzzer; any finding fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds=${FUZZ_SECONDS:-30}

bash scripts/install-deps.sh
bash scripts/build.sh dev
ctest --preset dev

bash scripts/build.sh asan
ctest --preset asan

failed=()
for source in fuzz/fuzz_*.cpp; do
    target=$(basename "$source" .cpp)
    echo "== $target: fuzzing for $fuzz_seconds s"
    if ! bash scripts/fuzz.sh "$target" "$fuzz_seconds" > "build/asan/$target.log" 2>&1; then
        failed+=("$target")
        tail -n 60 "build/asan/$target.log"
    fi
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)' "build/asan/$target.log" || true
done
if ((${#failed[@]})); then
    echo "fuzzing found something in: ${failed[*]} (see build/asan/fuzzing/<name>/findings)" >&2
    exit 1
fi
