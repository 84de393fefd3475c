#!/usr/bin/env bash
# Installs what is missing, then builds once, with clang and the address and
# undefined-behaviour sanitizers (leaks checked), and runs every test there,
# two at a time. Last, each fuzz target of that build fuzzes for
# FUZZ_SECONDS (20) under libFuzzer, two targets at a time; any finding
# fails the run. The other presets use the same compiler, so this one build
# also shows that they compile.
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
step "asan build"
bash scripts/build.sh asan
step "asan tests"
ctest --preset asan

# The corpus seeds' demo volume is made before the targets run side by side.
mkdir -p build/asan/fuzzing
[[ -f build/asan/fuzzing/volume/.mkvolume ]] || build/asan/bin/mkvolume --clean build/asan/fuzzing/volume >/dev/null
export DORVANE_FUZZ_BUILT=1
fuzz() {
    local target=$1
    if ! bash scripts/fuzz.sh "$target" "$fuzz_seconds" > "build/asan/$target.log" 2>&1; then
        echo "$target" >> build/asan/fuzz-failed
    fi
}
rm -f build/asan/fuzz-failed
targets=()
for source in fuzz/fuzz_*.cpp; do
    targets+=("$(basename "$source" .cpp)")
done
for ((i = 0; i < ${#targets[@]}; i += 2)); do
    step "fuzzing for $fuzz_seconds s: ${targets[*]:i:2}"
    fuzz "${targets[i]}" &
    if ((i + 1 < ${#targets[@]})); then
        fuzz "${targets[i + 1]}"
    fi
    wait
done
failed=()
for target in "${targets[@]}"; do
    echo "-- $target"
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)' "build/asan/$target.log" || true
    if grep -qx "$target" build/asan/fuzz-failed 2>/dev/null; then
        failed+=("$target")
        tail -n 60 "build/asan/$target.log"
    fi
done
step "done"
if ((${#failed[@]})); then
    echo "fuzzing found something in: ${failed[*]} (see build/asan/fuzzing/<name>/findings)" >&2
    exit 1
fi
