#!/usr/bin/env bash
# Installs from Debian's packages whatever the build, the tests and the demo
# need and is not there yet. Safe to run again.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  qt6-base-dev libgl-dev libsqlite3-dev sqlite3 libjpeg-dev libjpeg-turbo-progs
  nlohmann-json3-dev libssl-dev openssl libcurl4-openssl-dev curl
  libgtest-dev libgmock-dev libcpp-httplib-dev libx11-dev libxext-dev libxrandr-dev
  python3-pyftpdlib xvfb xauth x11-utils x11-xserver-utils xdotool imagemagick util-linux
  fonts-wqy-microhei aria2 procps qt6-translations-l10n
  dpkg-dev file lintian systemd
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  SUDO=""
  [ "$(id -u)" = 0 ] || SUDO=sudo
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
