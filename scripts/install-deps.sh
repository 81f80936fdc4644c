#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Vorn need.
# Does nothing when every package is already there; uses sudo when not root.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libicu-dev libgtest-dev
    xvfb xauth xdotool x11-utils openbox
    groff-base libxml2-utils libglib2.0-bin
    desktop-file-utils appstream
    libjpeg62-turbo-dev libfuse3-dev fuse3 clang-format-15 ccache
    libsqlite3-dev libxxhash-dev
    python3
    dpkg-dev lintian fakeroot
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
