#!/usr/bin/env bash
# Installs what is missing, then builds once, with clang and the address and
# undefined-behaviour sanitizers (leaks checked), and runs every test there,
# two at a time; each fuzz target of that build fuzzes for FUZZ_SECONDS (20)
# under libFuzzer among them, and any finding fails the run. The other
# presets use the same compiler, so this one build also shows that they
# compile.
set -euo pipefail
cd "$(dirname "$0")/.."
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
step "asan build"
bash scripts/build.sh asan
# The fuzz targets' runs are tests labelled "fuzzing", so CTest fits them
# among the others on both cores (scripts/fuzz-test.sh).
step "asan tests, each fuzz target fuzzing for ${FUZZ_SECONDS:-20} s among them"
ctest --preset asan-fuzzing
for log in build/asan/fuzz_*.log; do
    echo "-- $(basename "$log" .log)"
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)' "$log" || true
done
step "done"
