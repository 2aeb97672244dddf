#!/usr/bin/env bash
# Installs from Debian's packages whatever the build, the tests and the demo
# need and is not there yet. Safe to run again.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang clang-format pkg-config
  qt6-base-dev libgl-dev libsqlite3-dev sqlite3 libjpeg-dev libjpeg-turbo-progs
  nlohmann-json3-dev libssl-dev openssl libcurl4-openssl-dev curl
  libgtest-dev libgmock-dev libcpp-httplib-dev libx11-dev libxext-dev libxrandr-dev
  python3-pyftpdlib python3-openssl vsftpd xvfb xauth x11-utils x11-xserver-utils xdotool imagemagick util-linux
  fonts-wqy-microhei aria2 procps qt6-translations-l10n
  dpkg-dev file lintian systemd
  libwayland-dev xfwm4 dbus sway xwayland grim foot pipewire wireplumber
  xdg-desktop-portal xdg-desktop-portal-wlr xdg-desktop-portal-gtk
)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
# Several work trees (or a test that installs the package) may run apt at
# once: each waits up to ten minutes for the package lock instead of failing.
updated=0
update_once() {
  ((updated)) || $sudo apt-get -o DPkg::Lock::Timeout=600 update -q
  updated=1
}
install() {
  echo "setup: installing $*"
  update_once
  $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "$@"
}

missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
((${#missing[@]} == 0)) || install "${missing[@]}"

# The sanitizers and libFuzzer come in clang's runtime package, whose name
# carries clang's major version (libclang-rt-14-dev with Debian 12's clang
# 14); releases before clang 14 ship them in libclang-common-N-dev, which
# clang itself depends on. The version is the installed clang's, else that
# of the clang-N package the clang package stands for.
clang_major() {
  local major
  major=$(clang --version 2>/dev/null | sed -n 's/.*clang version \([0-9][0-9]*\)\..*/\1/p' | head -n 1)
  [ -n "$major" ] ||
    major=$(dpkg-query -W -f='${Depends}' clang 2>/dev/null | grep -o 'clang-[0-9][0-9]*' | head -n 1 | cut -d- -f2)
  echo "$major"
}
has_candidate() {
  update_once
  LC_ALL=C apt-cache policy "$1" 2>/dev/null | grep -q 'Candidate: [^(]'
}
major=$(clang_major)
if [ -z "$major" ]; then
  runtime=libclang-rt-dev # the release's default clang runtime
elif installed "libclang-rt-$major-dev" || has_candidate "libclang-rt-$major-dev"; then
  runtime=libclang-rt-$major-dev
else
  runtime=libclang-common-$major-dev
fi
installed "$runtime" || install "$runtime"
