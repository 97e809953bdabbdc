#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds and tests against. Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake
  libdart-dev libassimp-dev libeigen3-dev pybind11-dev nlohmann-json3-dev libnanoflann-dev
  libboost-system-dev libthrust-dev python3-dev python3-numpy python3-pytest python3-vtk9 libgtest-dev
  python3-matplotlib
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
