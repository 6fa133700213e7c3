#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a test program on a virtual X server started by xvfb-run, through Qt's X11 platform.
# Usage: run-under-xvfb.sh PROGRAM [ARGS...]
# XVFB_SCREEN (default 1280x1024x24) and XVFB_DPI (default 96) set the virtual screen.
set -euo pipefail
if ! command -v xvfb-run >/dev/null 2>&1; then
    echo "FAIL: xvfb-run not found; this check needs a real X server. Install the packages xvfb and" \
         "xauth (scripts/install-deps.sh does)." >&2
    exit 1
fi
export QT_QPA_PLATFORM=xcb
# No desktop session bus for the test: Qt's accessibility probe would otherwise talk to one.
export DBUS_SESSION_BUS_ADDRESS=disabled:
# In a sanitizer build: libxkbcommon-x11 calls strndup on key names that are not NUL-terminated,
# which is allowed but trips AddressSanitizer's strict string checks; and the X libraries' own
# allocations are only recognised (and suppressed) with full stacks.
if [ -n "${ASAN_OPTIONS:-}" ]; then
    export ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0"
    export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}fast_unwind_on_malloc=0"
fi
exec xvfb-run -a -s "-screen 0 ${XVFB_SCREEN:-1280x1024x24} -dpi ${XVFB_DPI:-96}" "$@"
