#!/usr/bin/env bash
# Installs what is missing, builds, makes the demo volume and starts Dorvane
# on it. Extra arguments go to the application.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# Only what the demo runs: the application, the command line and the volume
# generator. The tests and benchmarks are built by scripts/test.sh.
if [[ ! -f build/release/build.ninja ]]; then
    cmake --preset release >/dev/null
fi
cmake --build --preset release --target Dorvane dorvane mkvolume

volume="$PWD/build/demo-volume"
home="/Users/demo"
protect=()
if [[ $(id -u) -eq 0 ]]; then
    # Only root may set the immutable flag that marks the protected items.
    protect=(--protect)
fi
# A helper daemon left running on an earlier demo volume is stopped first.
if [[ -d "$volume" ]]; then
    build/release/bin/dorvane --root "$volume" helper remove >/dev/null 2>&1 || true
fi
build/release/bin/mkvolume --clean "${protect[@]}" --home "$home" "$volume"

export DORVANE_ROOT="$volume" DORVANE_HOME="$home"
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
    # No desktop session: run under a virtual display, where nobody sees it.
    echo "No display found: Dorvane runs under Xvfb. Set DISPLAY to see its window." >&2
    exec xvfb-run -a -s "-screen 0 1280x900x24" build/release/Dorvane.app/Contents/MacOS/Dorvane "$@"
fi
exec build/release/Dorvane.app/Contents/MacOS/Dorvane "$@"
