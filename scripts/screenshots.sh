#!/usr/bin/env bash
# Pictures the main window on the demo volume under a virtual display, and,
# as root, the success sheet after an uninstall from the window, for
# docs/screenshots/. Builds the release preset first when needed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh release >/dev/null

work=$(mktemp -d)
# The application installs and starts the helper daemon on the volume; it
# goes with the volume.
trap 'build/release/bin/dorvane --root "$work/volume" helper remove >/dev/null 2>&1 || true
      build/release/bin/mkvolume --remove "$work/volume" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
build/release/bin/mkvolume --home /Users/demo "$work/volume" >/dev/null

mkdir -p docs/screenshots
# A fresh home on the volume means a first launch: the hint is shown.
xvfb-run -a -s "-screen 0 1280x900x24" \
    build/release/Dorvane.app/Contents/MacOS/Dorvane --root "$work/volume" --home /Users/demo \
    --screenshot docs/screenshots/main-window.png
echo "docs/screenshots/main-window.png"
if [[ $(id -u) -eq 0 ]]; then
    xvfb-run -a -s "-screen 0 1280x900x24" \
        build/release/bin/docshots --root "$work/volume" --home /Users/demo \
        --package com.northwind.pkg.Ledger docs/screenshots/success-sheet.png 2>/dev/null
    echo "docs/screenshots/success-sheet.png"
    xvfb-run -a -s "-screen 0 1280x900x24" \
        build/release/bin/docshots --root "$work/volume" --home /Users/demo \
        --package io.halcyonlabs.Drift --undo docs/screenshots/undo-menu.png 2>/dev/null
    echo "docs/screenshots/undo-menu.png"
    xvfb-run -a -s "-screen 0 1280x900x24" \
        build/release/bin/docshots --root "$work/volume" --home /Users/demo \
        --settings docs/screenshots/settings-window.png 2>/dev/null
    echo "docs/screenshots/settings-window.png"
    xvfb-run -a -s "-screen 0 1280x900x24" \
        build/release/bin/docshots --root "$work/volume" --home /Users/demo \
        --documentation docs/screenshots/documentation-window.png 2>/dev/null
    echo "docs/screenshots/documentation-window.png"
fi
