#!/usr/bin/env bash
# Checks of the built Debian package that need no display:
#   check_deb.sh contents DEB   what dpkg-deb lists: the program folder, the
#                               autostart entry, the user unit, edu-admin on
#                               the PATH, and none of the development tools
#   check_deb.sh unit DEB       systemd-analyze accepts the user unit as
#                               installed, without a single complaint
#   check_deb.sh lintian DEB    lintian finds no errors
# Exits 77 (skipped) when the tool it needs is missing.
set -euo pipefail
check=$1
deb=$2
[ -f "$deb" ] || { echo "no package at $deb (the test package.deb makes it)"; exit 1; }

case $check in
contents)
  listing=$(dpkg-deb -c "$deb")
  failures=0
  for path in ./opt/edu-client/edu-client ./opt/edu-client/LockScreen ./opt/edu-client/diskid \
    ./opt/edu-client/edu-admin ./opt/edu-client/edu-client-session ./opt/edu-client/edu.db \
    ./opt/edu-client/deployment.ini.sample ./opt/edu-client/LockScreen.ini.sample ./opt/edu-client/installed-by-package \
    ./opt/edu-client/assets/status_background.png ./opt/edu-client/translations/qtbase_zh_CN.qm \
    ./etc/xdg/autostart/edu-client.desktop ./usr/lib/systemd/user/edu-client.service \
    "./usr/bin/edu-admin -> /opt/edu-client/edu-admin" ./usr/share/doc/edu-client/copyright; do
    grep -qF -- " $path" <<<"$listing" || { echo "missing: $path"; failures=$((failures + 1)); }
  done
  for tool in devserver edu-login panel-shots; do
    if grep -qE "/$tool( |$)" <<<"$listing"; then
      echo "development tool packaged: $tool"
      failures=$((failures + 1))
    fi
  done
  if grep -qE '/(tests?|screen_pic|courseware|log)/' <<<"$listing"; then
    echo "tests or run-time files packaged:"
    grep -E '/(tests?|screen_pic|courseware|log)/' <<<"$listing"
    failures=$((failures + 1))
  fi
  # Everything belongs to root; a school's users only read and run it.
  if awk '$2 != "root/root" || ($1 !~ /^l/ && $1 ~ /^.....w|^........w/)' <<<"$listing" | grep .; then
    echo "files not owned by root or writable by others"
    failures=$((failures + 1))
  fi
  exit $((failures > 0))
  ;;
unit)
  command -v systemd-analyze >/dev/null || exit 77
  [ "$(id -u)" = 0 ] && command -v unshare >/dev/null || exit 77
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  dpkg-deb -x "$deb" "$work/root"
  mkdir -p "$work/runtime"
  # The unit names /opt/edu-client/edu-client: in a mount namespace of its
  # own, /opt holds the unpacked program folder. MANPATH finds the page its
  # Documentation= names.
  output=$(XDG_RUNTIME_DIR=$work/runtime MANPATH=$work/root/usr/share/man unshare --mount sh -c '
    mount -t tmpfs none /opt && mkdir /opt/edu-client &&
    mount --bind "$1/opt/edu-client" /opt/edu-client &&
    systemd-analyze --user verify "$1/usr/lib/systemd/user/edu-client.service"' sh "$work/root" 2>&1) || {
    echo "$output"
    exit 1
  }
  # A misspelt key or a bad value is only a warning, still a fault here.
  if [ -n "$output" ]; then
    echo "$output"
    exit 1
  fi
  ;;
lintian)
  command -v lintian >/dev/null || exit 77
  lintian --fail-on error --info "$deb"
  ;;
*)
  echo "unknown check: $check"
  exit 2
  ;;
esac
