#!/usr/bin/env bash
# Installs what building, testing and running Orvella needs on Debian 12, when missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl1-mesa-dev
  libgtest-dev libgmock-dev nlohmann-json3-dev libssl-dev
  clang libclang-rt-14-dev
  xvfb xauth x11-utils fonts-liberation fonts-dejavu-core openbox xdotool imagemagick
  time file dpkg-dev desktop-file-utils
  chromium
  g++-mingw-w64-x86-64-posix wine64 googletest
  libcli11-dev dosfstools mtools
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
