#!/usr/bin/env bash
# Installs the Debian 12 packages the launcher, its tools and its tests need,
# but only when some are missing (apt-get needs root; CI runs as root).
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qtbase5-dev qttools5-dev-tools
    zlib1g-dev liblzma-dev liblz-dev libssl-dev
    nginx-light curl lzip xz-utils openssl
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
    # nginx is only a program the tests start on a loopback port of their own;
    # keep the packages from starting system services (an nginx on port 80, or a
    # failed install where that port is taken).
    policy=/usr/sbin/policy-rc.d
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee "$policy" >/dev/null
        "${sudo_cmd[@]}" chmod 755 "$policy"
        trap '"${sudo_cmd[@]}" rm -f "$policy"' EXIT
    fi
    "${sudo_cmd[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
