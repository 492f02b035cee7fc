#!/usr/bin/env bash
# Installs the Debian 12 packages Powerlog needs to build, test and run. Does nothing when
# they are all present already; otherwise needs root (or sudo) and installs without questions.
set -euo pipefail

packages=(
    cmake ninja-build g++ clang-format
    qt6-base-dev libqt6sql6-sqlite qt6-qpa-plugins libxcb1-dev
    fonts-dseg fonts-dejavu-core xvfb xauth sqlite3 libsqlite3-dev
    libmosquitto-dev mosquitto mosquitto-clients
    dpkg-dev lintian desktop-file-utils appstream
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
