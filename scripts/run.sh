#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is needed, builds, and runs the program.
# - A real measuring unit (USB 2341:0058) is plugged in: runs quellspan on it.
# - Otherwise: runs quellspan-demo with the built-in simulated unit. With a display it opens the
#   windows for you to use; without one it plays the operator under Xvfb and leaves the recorded
#   CSV and screenshots of both windows in out/ (or the folder given as first argument).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
QUELLSPAN_TARGETS="quellspan quellspan-demo" "$root/scripts/build.sh" "$root/build"

unit_present() {
    local d
    for d in /sys/class/tty/*/device/..; do
        [ -r "$d/idVendor" ] || continue
        [ "$(cat "$d/idVendor")" = 2341 ] && [ "$(cat "$d/idProduct")" = 0058 ] && return 0
    done
    return 1
}

if unit_present; then
    exec "$root/build/app/quellspan"
elif [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec "$root/build/simunit/demo/quellspan-demo"
else
    out=${1:-$root/out}
    mkdir -p "$out"
    xvfb-run -a -s "-screen 0 1280x1024x24" \
        "$root/build/simunit/demo/quellspan-demo" --autopilot "$out" --sensors 4 --seconds 10
    echo "Recorded $(wc -l < "$out/data.csv") samples to $out/data.csv;" \
         "screenshots: $out/control-panel.png, $out/acquisition.png"
fi
