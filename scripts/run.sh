#!/usr/bin/env bash
# Builds the programs and starts the desktop program qvm-gaming on the attached devices,
# or on simulated devices when no device of vendor 0c45 is present. Arguments are passed
# on to qvm-gaming (for example /hide or --simulate=g0,g5x).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    cat >&2 <<'TEXT'
There is no desktop to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set).
Start this from a desktop session, or run it on a virtual display:
    xvfb-run -a scripts/run.sh          (xvfb-run: Debian package xvfb)
Without a display, the command-line tool does everything too, for example:
    build/qvmctl --simulate show
TEXT
    exit 1
fi

backend=()
if ! ls /sys/bus/hid/devices 2>/dev/null | grep -qi ':0C45:'; then
    echo "No device of vendor 0c45 found: using simulated devices." >&2
    backend=(--simulate)
fi
exec build/qvm-gaming "${backend[@]}" "$@"
