#!/usr/bin/env bash
# The built package installed for real, as a school's admin installs it:
#   test_apt_install.sh DEB
# The server address is preseeded for debconf before "apt-get install": it
# lands in /etc/edu-client/conf.d/40-debconf.conf and a new user's client
# (nobody, on a private X server) uses it; "edu-admin server" as root moves
# it and that running client follows within 10 s; "apt-get install
# --reinstall" keeps it; "dpkg --verify edu-client" stays empty throughout;
# "apt-get purge" leaves nothing in /etc/edu-client or /opt/edu-client. The
# machine is left as it was: the package is purged on every way out. Needs
# root and apt; exits 77 (skipped) without them or when the package is
# installed already (it is not ours to remove).
set -uo pipefail
deb=$(readlink -f "$1")
[ -f "$deb" ] || { echo "no package at $1 (the test package.deb makes it)"; exit 1; }
if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null || ! command -v Xvfb >/dev/null; then
  echo "needs root, apt-get and Xvfb"
  [ -n "${CI:-}" ] && exit 1
  exit 77
fi
if dpkg-query -W -f '${Status}' edu-client 2>/dev/null | grep -q 'ok installed\|config-files'; then
  echo "edu-client is installed on this machine already: not touched"
  exit 77
fi

work=$(mktemp -d)
chmod 755 "$work"
client=
xvfb=
failures=0
cleanup() {
  [ -n "$client" ] && kill -9 "$client" 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -q edu-client >/dev/null 2>&1
  echo PURGE | debconf-communicate edu-client >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
verify_empty() {
  local said
  said=$(dpkg --verify edu-client 2>&1)
  [ -z "$said" ] || fail "dpkg --verify after $1: $said"
}
# Waits up to $2 seconds for the text $1 in nobody's client log.
log_has() {
  local log=$work/home/.local/share/edu-client/log/edu-client.log
  for _ in $(seq $(($2 * 10))); do
    grep -qF -- "$1" "$log" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "--- client log:"
  cat "$log" 2>/dev/null
  return 1
}

preseeded=127.0.0.1:18081/edu
moved=127.0.0.1:18082/edu
echo "edu-client edu-client/server string $preseeded" | debconf-set-selections
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$deb" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "apt-get install"; exit 1; }
dropin=/etc/edu-client/conf.d/40-debconf.conf
grep -qx "server=$preseeded" "$dropin" || fail "$dropin does not hold the preseeded address"
[ -f /etc/edu-client/edu-client.conf ] || fail "no /etc/edu-client/edu-client.conf"
verify_empty install

# A new user's client, as the user unit would start it.
mkdir -p "$work/home" "$work/runtime"
chown nobody:nogroup "$work/home" "$work/runtime"
chmod 700 "$work/home" "$work/runtime"
Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp >"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
display=:$(head -1 "$work/display")
env -i PATH=/usr/bin:/bin HOME="$work/home" USER=nobody LOGNAME=nobody LANG=C.UTF-8 \
  XDG_RUNTIME_DIR="$work/runtime" DISPLAY="$display" QT_QPA_PLATFORM=xcb \
  setpriv --reuid=nobody --regid=nogroup --clear-groups -- /opt/edu-client/edu-client >"$work/client.out" 2>&1 &
client=$!
log_has "server address $preseeded from $dropin" 30 || fail "the new user's client does not use the preseeded address"
verify_empty "the client's start"

# Root moves the server; the running client of the other user follows.
edu-admin server "$moved" >"$work/admin.out" 2>&1 || { cat "$work/admin.out"; fail "edu-admin server as root"; }
log_has "server address changed to $moved from /etc/edu-client/conf.d/50-edu-admin.conf" 10 ||
  fail "the running client did not follow within 10 s"
shown=$(env -i PATH=/usr/bin:/bin HOME="$work/home" setpriv --reuid=nobody --regid=nogroup --clear-groups -- \
  edu-admin show 2>&1)
grep -qF "server address in use: $moved (from /etc/edu-client/conf.d/50-edu-admin.conf" <<<"$shown" ||
  fail "edu-admin show as the user: $shown"
verify_empty "edu-admin server"
kill -9 "$client"
client=

DEBIAN_FRONTEND=noninteractive apt-get install -y -q --reinstall --no-install-recommends "$deb" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "apt-get install --reinstall"; }
grep -qx "server=$preseeded" "$dropin" || fail "the reinstall lost $dropin"
grep -qx "server=$moved" /etc/edu-client/conf.d/50-edu-admin.conf || fail "the reinstall lost edu-admin's address"
verify_empty reinstall

DEBIAN_FRONTEND=noninteractive apt-get purge -y -q edu-client >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "apt-get purge"; }
for folder in /etc/edu-client /opt/edu-client; do
  [ ! -e "$folder" ] || fail "left after the purge: $(find "$folder" | tr '\n' ' ')"
done
if debconf-show edu-client 2>/dev/null | grep -q .; then fail "the debconf answer survives the purge"; fi

[ "$failures" = 0 ] && echo "ok"
exit $((failures > 0))
