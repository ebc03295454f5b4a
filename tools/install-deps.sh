#!/usr/bin/env bash
# Installs, on Debian, whatever the build and the tests need and is missing,
# and the packages named as arguments. Runs apt-get itself as root, through
# sudo otherwise.
set -euo pipefail

packages=(
    build-essential cmake ninja-build # compiler and build tools
    qt6-base-dev                      # Qt 6 Widgets and Qt Test
    clang libclang-rt-14-dev          # the loader's libFuzzer target
    xvfb xauth                        # a display for headless runs
    dpkg-dev desktop-file-utils lintian appstream # the Debian package and its check
    fonts-liberation                  # faces with the metrics the windows were laid out in
    "$@"
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi

echo "install-deps.sh: installing ${missing[*]}"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends "${missing[@]}"
