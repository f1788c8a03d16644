#!/usr/bin/env bash
# Installs the Debian packages the program, its tests and its tools need, when any is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6sql6-odbc libqt6sql6-sqlite libgl-dev
  libsqlite3-dev sqlite3 libblkid-dev e2fsprogs
  unixodbc unixodbc-dev libsqliteodbc odbc-postgresql postgresql
  fonts-liberation fonts-arphic-uming
  xvfb xauth x11-utils imagemagick openbox xdotool wmctrl xclip python3
  dbus-daemon at-spi2-core python3-pyatspi
  libhivex-bin libwin-hivex-perl libregf-utils
  dpkg-dev file desktop-file-utils appstream lintian man-db
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
