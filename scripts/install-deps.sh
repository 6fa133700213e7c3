#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian 12 packages the build, the tests and the headless run need.
# Usage: scripts/install-deps.sh [extra packages...]   (as root, or through sudo)
set -euo pipefail

packages=(build-essential cmake ninja-build qtbase5-dev libqt5serialport5-dev libqcustomplot-dev
          libxcb1-dev xvfb xauth pkg-config libmosquitto-dev libssl-dev mosquitto mosquitto-clients openssl
          qtkeychain-qt5-dev fonts-dejavu-core poppler-utils dbus-daemon
          "$@")
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
