#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a test program with a home of its own, emptied first: its settings and recordings go there
# and never into the user's folders, and no run sees what an earlier one left.
# Usage: fresh-home.sh DIR PROGRAM [ARGS...]
set -euo pipefail
home=$1
shift
rm -rf "$home"
mkdir -p "$home/config" "$home/data" "$home/cache" "$home/runtime"
chmod 700 "$home/runtime"
export XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_CACHE_HOME=$home/cache \
       XDG_RUNTIME_DIR=$home/runtime
exec "$@"
