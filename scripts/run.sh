#!/usr/bin/env bash
# Builds the programs and starts them on the attached devices, or on simulated
# devices when no device of vendor 0c45 is present.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

backend=()
if ! ls /sys/bus/hid/devices 2>/dev/null | grep -qi ':0C45:'; then
    echo "No device of vendor 0c45 found: using simulated devices." >&2
    backend=(--simulate)
fi
# The desktop program is not built yet; until it is, show the devices and their
# state with the command-line tool.
build/qvmctl "${backend[@]}" list
build/qvmctl "${backend[@]}" show
