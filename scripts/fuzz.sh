#!/usr/bin/env bash
# Builds a fuzz target with clang's libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer, in build/fuzz, and runs it for SECONDS on one
# job. The committed corpus seeds it (with the shared samples and crashers
# copied in at run time); new inputs stay in build/fuzz/corpus/<name>, and a
# crash, hang or leak is written to build/fuzz/findings/<name>/. Once fixed,
# copy a finding into fuzz/corpus/<name>/ so that CTest replays it.
#
#     scripts/fuzz.sh fuzz_plist 1800
set -euo pipefail

usage="usage: $0 TARGET SECONDS"
target=${1:?$usage}
seconds=${2:?$usage}
name=${target#fuzz_}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
shared=$root/../shared

if ! command -v clang++ >/dev/null; then
    echo "clang++ is missing: run scripts/install-deps.sh" >&2
    exit 1
fi

flags="-g -O1 -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=undefined"
cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="$flags -fsanitize=fuzzer-no-link" \
    -DDORVANE_FUZZ=ON -DDORVANE_BUILD_TESTS=OFF -DDORVANE_BUILD_BENCHMARKS=OFF \
    ${CMAKE_CXX_COMPILER_LAUNCHER:+-DCMAKE_CXX_COMPILER_LAUNCHER=$CMAKE_CXX_COMPILER_LAUNCHER} >/dev/null
cmake --build "$build" --target "$target" -j2

corpus=$build/corpus/$name
findings=$build/findings/$name
mkdir -p "$corpus" "$findings"
cp -n "$root/fuzz/corpus/$name"/* "$corpus"/ 2>/dev/null || true
if [[ $name == plist ]]; then
    cp -n "$shared"/samples/*.plist "$shared"/crashers/*.plist "$corpus"/ 2>/dev/null || true
fi
dict=()
if [[ -f $root/fuzz/$name.dict ]]; then
    dict=(-dict="$root/fuzz/$name.dict")
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
exec "$build/fuzz/$target" "$corpus" "${dict[@]}" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -artifact_prefix="$findings/" -print_final_stats=1
