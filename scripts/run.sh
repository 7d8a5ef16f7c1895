#!/usr/bin/env bash
# Builds the programs (not the tests) and starts the desktop program qvm-gaming on the attached devices,
# or on simulated devices when no device of vendor 0c45 is present. Arguments are passed
# on to qvm-gaming (for example /hide or --simulate=g0,g5x).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
# Only the programs are built here (their data is read from data/ of the source tree);
# the tests are built by scripts/test.sh. The options match the test command's plain
# build, so the two share the build folder without reconfiguring it.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVM_BUILD_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc)" --target qvm-gaming qvmctl qvm-sim

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
