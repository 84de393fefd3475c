#!/usr/bin/env bash
# Installs the Debian packages Dorvane needs to build, run and test, and only
# those that are missing, so a second run costs nothing.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev qt6-webengine-dev
    qt6-image-formats-plugins
    libplist-dev libplist++-dev libplist-utils
    libicu-dev                  # the Mac's name identity: normalisation and case folding
    xvfb xauth fonts-dejavu-core
    python3 e2fsprogs
    ccache                      # the builds reuse what an earlier build compiled
    libfuse3-dev fuse3          # tools/macfs: the Mac's name lookup over a folder, for tests
    clang libclang-rt-14-dev    # scripts/fuzz.sh: libFuzzer and the sanitizer runtimes
    lld                         # links the many test executables faster than ld
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
