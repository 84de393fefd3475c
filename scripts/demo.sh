#!/usr/bin/env bash
# Installs what is missing, builds, makes the demo volume and starts Dorvane
# on it. Extra arguments go to the application.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh release

volume="$PWD/build/demo-volume"
home="/Users/demo"
mkdir -p "$volume$home"

export DORVANE_ROOT="$volume" DORVANE_HOME="$home"
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
    # No desktop session: run under a virtual display.
    exec xvfb-run -a build/release/Dorvane.app/Contents/MacOS/Dorvane "$@"
fi
exec build/release/Dorvane.app/Contents/MacOS/Dorvane "$@"
