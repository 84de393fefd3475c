#!/usr/bin/env bash
# Installs what is missing and builds once; runs the readers of hostile
# input (bills of materials, property lists, executables) under the address and
# undefined-behaviour sanitizers, then every test of the debug build, two at
# a time.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh dev

if [[ ! -f build/asan/build.ninja ]]; then
    cmake --preset asan >/dev/null
fi
cmake --build --preset asan --target tst_bom tst_bom_hostile fuzz_plist fuzz_elf
ctest --preset asan -R '^(tst_bom|fuzz_)'

ctest --preset dev
