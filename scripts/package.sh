#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package quellspan_<version>_<arch>.deb (the two programs and their desktop
# files) from the build folder (default: build/) and prints its path as the last line.
# Usage: scripts/package.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build}
# dpkg-shlibdeps finds the package's dependencies.
"$root/scripts/install-deps.sh" dpkg-dev >&2
QUELLSPAN_TARGETS="quellspan quellspan-demo quellspan_packagefiles" "$root/scripts/build.sh" "$dir" >&2
rm -rf "$dir/package"
cpack --config "$dir/CPackConfig.cmake" -B "$dir/package" >&2
ls "$dir"/package/quellspan_*.deb
