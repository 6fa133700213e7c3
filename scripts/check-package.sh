#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package and checks it as a user would meet it: lintian, the desktop entry and
# the AppStream metadata validators, an install with apt, the installed quellspan --version, and
# the installed quellspan-demo playing the operator under Xvfb. The package is removed again at
# the end. Usage: scripts/check-package.sh [build-dir]   (as root, or through sudo)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
"$root/scripts/install-deps.sh" dpkg-dev lintian desktop-file-utils appstream

deb=$(bash "$root/scripts/package.sh" "$@" | tail -n 1)
version=$(dpkg-deb --field "$deb" Version)
echo "== $deb"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"

echo "== lintian"
status=0
report=$(lintian --fail-on error,warning --display-info "$deb" 2>&1) || status=$?
grep -v '^running with root privileges' <<<"$report" || true
[ "$status" -eq 0 ] || { echo "FAIL: lintian reports errors or warnings"; exit 1; }
echo "lintian: no errors, no warnings"

echo "== install with apt"
cleanup() { DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get purge -y -qq quellspan >/dev/null || true; }
trap cleanup EXIT
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --reinstall "$(realpath "$deb")"
test "$(command -v quellspan)" = /usr/bin/quellspan
desktop-file-validate /usr/share/applications/org.quellspan.quellspan.desktop
appstreamcli validate --no-net /usr/share/metainfo/org.quellspan.quellspan.metainfo.xml
got=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM quellspan --version)
[ "$got" = "quellspan $version" ] || { echo "FAIL: quellspan --version says '$got'"; exit 1; }
echo "quellspan --version: $got"
# The mirror's user service, and the mirror refusing a URL that names no rig (status 2, which the
# service does not retry).
test -f /usr/lib/systemd/user/quellspan-mirror.service
grep -q '^ExecStart=/usr/bin/quellspan --mirror ' /usr/lib/systemd/user/quellspan-mirror.service
mstatus=0
env -u DISPLAY -u WAYLAND_DISPLAY quellspan --mirror mqtt://broker.invalid/a/# --to "$(mktemp -d)" 2>/dev/null || mstatus=$?
[ "$mstatus" -eq 2 ] || { echo "FAIL: quellspan --mirror with a bad prefix ended with $mstatus, not 2"; exit 1; }
echo "mirror: user unit installed, a bad URL refused with status 2"

echo "== the installed quellspan-demo --autopilot under Xvfb"
work=$(mktemp -d)
out=$work/run
XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data \
    xvfb-run -a -s "-screen 0 1280x1024x24" /usr/bin/quellspan-demo --autopilot "$out" --sensors 4 --seconds 5
# Every line: the time and four sensors' heat flux and temperature, all numbers.
lines=$(wc -l < "$out/data.csv")
bad=$(grep -cvE '^-?[0-9.e+-]+(,-?[0-9.e+-]+){8}$' "$out/data.csv" || true)
[ "$lines" -ge 10 ] && [ "$bad" -eq 0 ] || { echo "FAIL: $lines lines, $bad not of 9 numbers"; exit 1; }
# The pictures: PNG files of each window's size (read from the PNG header).
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }'; }
[ "$(png_size "$out/control-panel.png")" = 542x377 ] || { echo "FAIL: control-panel.png is $(png_size "$out/control-panel.png")"; exit 1; }
[ "$(png_size "$out/acquisition.png")" = 866x618 ] || { echo "FAIL: acquisition.png is $(png_size "$out/acquisition.png")"; exit 1; }
# The live recording of the run, in the user's data folder.
recordings=$(find "$work/data/quellspan-demo/recordings" -name '*.csv' -size +0 | wc -l)
[ "$recordings" -ge 1 ] || { echo "FAIL: no live recording in $work/data/quellspan-demo/recordings"; exit 1; }
echo "installed demo: $lines samples in data.csv, pictures 542x377 and 866x618, $recordings live recording(s)"
rm -rf "$work"
