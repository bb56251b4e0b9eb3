#!/usr/bin/env bash
# Installs the Debian packages that building and testing need. Quiet and quick
# when everything is already there; uses sudo when not run as root.
set -euo pipefail

packages=(
  # toolchain and test frameworks
  g++ cmake ninja-build make libgtest-dev libbenchmark-dev
  # regional settings: locale sources for the tests' generated locales
  locales
  # Qt 6 with the SQL drivers of both backends
  qt6-base-dev libqt6sql6-sqlite libqt6sql6-psql
  # the PostgreSQL server the database tests start on loopback
  postgresql
  # desktop tests: X server and its fonts, a window manager with a tray, input and screenshots
  xvfb xfonts-base icewm xdotool x11-apps imagemagick
  # fuzzing
  clang libclang-rt-14-dev
  # benchmarks and profiling
  valgrind
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=()
[ "$(id -u)" -eq 0 ] || SUDO=(sudo)
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
