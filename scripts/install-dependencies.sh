#!/usr/bin/env bash
# Installs the Debian 12 packages the launcher, its tools and its tests need,
# but only when some are missing (apt-get needs root; CI runs as root).
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qtbase5-dev qttools5-dev-tools
    zlib1g-dev liblzma-dev liblz-dev libssl-dev
    nginx-light curl lzip xz-utils
    xvfb xauth fonts-liberation time
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
