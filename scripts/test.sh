#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: in the
# debug build (gcc) and in the asan build (clang with the address and
# undefined-behaviour sanitizers, leaks checked), two tests at a time. Last,
# each fuzz target of the asan build fuzzes for FUZZ_SECONDS (20) under
# libFuzzer; any finding fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds=${FUZZ_SECONDS:-20}
# Says when each step begins, in seconds since the start.
step() { echo "== $1 (at ${SECONDS} s)"; }

step "self-containment"
# Nothing built or tested may read the folder beside the checkout: a clone
# anywhere else has no such folder. The data the tests need is in tests/data.
outside='\.\./shared\b|[^[:alnum:]_]shared/(samples|crashers)'
if references=$(grep -rnIE "$outside" --exclude='*.md' \
        CMakeLists.txt CMakePresets.json cmake scripts src tools tests fuzz bench .ci); then
    echo "These build files, scripts, tests or fuzz targets read the folder beside the checkout;" >&2
    echo "copy what they need into tests/data and name it there:" >&2
    echo "$references" >&2
    exit 1
fi

bash scripts/install-deps.sh
step "debug build"
bash scripts/build.sh dev
step "debug tests"
ctest --preset dev

step "asan build"
bash scripts/build.sh asan
step "asan tests"
ctest --preset asan

failed=()
for source in fuzz/fuzz_*.cpp; do
    target=$(basename "$source" .cpp)
    step "$target: fuzzing for $fuzz_seconds s"
    if ! bash scripts/fuzz.sh "$target" "$fuzz_seconds" > "build/asan/$target.log" 2>&1; then
        failed+=("$target")
        tail -n 60 "build/asan/$target.log"
    fi
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)' "build/asan/$target.log" || true
done
step "done"
if ((${#failed[@]})); then
    echo "fuzzing found something in: ${failed[*]} (see build/asan/fuzzing/<name>/findings)" >&2
    exit 1
fi
