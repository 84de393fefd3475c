#!/usr/bin/env bash
# Installs what is missing, builds once and runs every test, two at a time.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh dev
ctest --preset dev
