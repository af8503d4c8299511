#!/usr/bin/env bash
# Installs every Debian package the panel, the simulator, the tests and the fuzzers need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config
  # Qt 6: Core, Gui, Widgets, Xml, Network (in qt6-base-dev), Svg, SerialPort
  qt6-base-dev qt6-svg-dev qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev libgl-dev
  # the journal: Qt SQL's SQLite driver, and the sqlite3 shell for its kill check
  libqt6sql6-sqlite sqlite3
  # HTTP(S) for the web bridge
  libcurl4-openssl-dev
  # an independent Modbus master/slave for the tests
  libmodbus-dev
  # the web bridge's tests make their own certificate authority
  openssl
  # fuzzing (libFuzzer and its sanitizer runtime come with clang)
  clang libclang-rt-dev
  # syntax check of the Windows-only sources
  g++-mingw-w64-x86-64-posix
  # the Debian package (cpack's dependency scan)
  dpkg-dev file
  # quadrelctl's manual page is checked with groff
  groff-base
  # rendering the panel to a picture without a display
  xvfb xauth fonts-dejavu-core
  # scripts/format.sh (the formatting check needs this exact version)
  clang-format-19
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
