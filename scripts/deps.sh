#!/usr/bin/env bash
# Installs the Debian 12 packages the build needs, and only those that are missing.
set -euo pipefail

packages=(cmake g++ make pkg-config libgtest-dev libgmock-dev libudev-dev libusb-1.0-0-dev
    qt6-base-dev libx11-dev libxtst-dev libxi-dev fonts-dejavu-core xvfb
    qemu-system-x86 busybox-static clang libclang-rt-14-dev)
# The Debian package: cpack computes its dependencies with dpkg-shlibdeps, which uses file.
packages+=(dpkg-dev file)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}" >&2
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
