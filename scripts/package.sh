#!/usr/bin/env bash
# Installs what is missing, builds the program and makes its Debian package,
# build/quorvane_<version>_amd64.deb.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
rm -rf build/package
cpack --config build/default/CPackConfig.cmake -B build/package >/dev/null
deb=$(ls build/package/quorvane_*_amd64.deb)
cp "$deb" build/
echo "Package: $PWD/build/$(basename "$deb")"
