#!/usr/bin/env bash
# Fuzzes one target for SECONDS on one job with libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer: the asan preset's build (clang) is the
# fuzzing build too. Any further arguments go to libFuzzer.
#
#     scripts/fuzz.sh fuzz_bom 3600
#
# The corpus lives in build/asan/fuzzing/<name>/corpus and grows from run to
# run; it is seeded with the committed fuzz/corpus/<name>, and, copied at run
# time, the sample bills, receipts and crashers of tests/data and the bills
# and receipts of a demo volume that mkvolume makes. A crash, hang, leak or
# broken promise is written to build/asan/fuzzing/<name>/findings/ and the
# script fails. Once fixed, copy the finding into fuzz/corpus/<name>/ as
# "regress-<what>" so that CTest replays it.
#
# Under the sanitizer the process grows with its store of allocation stacks
# (fuzz_helperwire reached 1 GB in its first ten minutes), so give a long run
# more room than the 2 GB below with -rss_limit_mb=8192 (a later option wins).
set -euo pipefail

usage="usage: $0 TARGET SECONDS [libFuzzer options...]"
target=${1:?$usage}
seconds=${2:?$usage}
shift 2
name=${target#fuzz_}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/asan
data=$root/tests/data
cd "$root"

if ! command -v clang++ >/dev/null; then
    echo "clang++ is missing: run scripts/install-deps.sh" >&2
    exit 1
fi
if [[ ! -f $build/build.ninja ]]; then
    cmake --preset asan >/dev/null
fi
# The test command builds everything first and then fuzzes the targets side
# by side (scripts/fuzz-test.sh); it says so, since two builds in one folder
# at once would collide.
if [[ -z ${DORVANE_FUZZ_BUILT:-} ]]; then
    cmake --build --preset asan --target "$target" mkvolume >/dev/null
fi

work=$build/fuzzing/$name
corpus=$work/corpus
findings=$work/findings
mkdir -p "$corpus" "$findings"
cp -n "$root/fuzz/corpus/$name"/* "$corpus"/ 2>/dev/null || true

# The demo volume's receipts and bills, made once per build folder.
volume=$build/fuzzing/volume
if [[ ! -f $volume/.mkvolume ]]; then
    "$build/bin/mkvolume" --clean "$volume" >/dev/null
fi
seed() { for file in "$@"; do [[ -f $file ]] && cp -n "$file" "$corpus/data-$(basename "$file")"; done; true; }
case $name in
    plist)   seed "$data"/samples/*.plist "$data"/crashers/*.plist ;;
    bom)     seed "$data"/samples/*.bom
             find "$volume" -name '*.bom' -type f | while read -r file; do
                 relative=${file#"$volume"/}
                 cp -n "$file" "$corpus/volume-${relative//\//_}"
             done ;;
    receipt) seed "$data"/samples/*Info.plist "$data"/crashers/*.plist "$volume"/private/var/db/receipts/*.plist
             for file in "$volume"/Library/Receipts/*/Contents/Info.plist; do
                 [[ -f $file ]] && cp -n "$file" "$corpus/volume-$(basename "$(dirname "$(dirname "$file")")")-Info.plist"
             done ;;
esac

options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1)
options+=(-max_len=$([[ $name == bom ]] && echo 131072 || echo 65536))
if [[ -f $root/fuzz/$name.dict ]]; then
    options+=(-dict="$root/fuzz/$name.dict")
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
exec nice -n 10 "$build/fuzz/$target" "$corpus" "${options[@]}" -artifact_prefix="$findings/" "$@"
