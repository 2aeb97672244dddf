#!/bin/sh
# A headless Wayland desktop for the tests, run as the unprivileged user that
# calls it: a private session bus (no service activation, so that what is
# stopped stays stopped), sway with XWayland on the pixman renderer,
# pipewire and wireplumber, and the portal stack (xdg-desktop-portal with its
# wlr and gtk back ends). Once everything answers it writes the session's
# variables to $1/session.env (WAYLAND_DISPLAY=..., DISPLAY=...,
# DBUS_SESSION_BUS_ADDRESS=...) and the portal processes' ids to
# $1/portal.pids; it ends everything it started when it is terminated.
#
#   wayland_session.sh FOLDER WIDTH HEIGHT
# FOLDER is the session's XDG_RUNTIME_DIR and HOME (owned by the caller, 0700).
set -u
folder=$1
width=${2:-1280}
height=${3:-720}
export XDG_RUNTIME_DIR=$folder HOME=$folder XDG_CONFIG_HOME=$folder/config XDG_CACHE_HOME=$folder/cache
export WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1
export XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland NO_AT_BRIDGE=1
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
mkdir -p "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME"

pids=""
stop() {
  # shellcheck disable=SC2086
  [ -n "$pids" ] && kill $pids 2>/dev/null
  wait
  exit 0
}
trap stop TERM INT HUP

cat >"$folder/bus.conf" <<CONF
<busconfig>
  <type>session</type>
  <listen>unix:path=$folder/bus</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$folder/bus.conf" --nofork --nopidfile >"$folder/bus.log" 2>&1 &
pids="$pids $!"
export DBUS_SESSION_BUS_ADDRESS=unix:path=$folder/bus

# XWayland at once (not at the first X client), and its display written out.
cat >"$folder/sway.conf" <<CONF
xwayland force
output HEADLESS-1 resolution ${width}x${height} position 0 0
exec sh -c 'echo \$DISPLAY >"$folder/display.part" && mv "$folder/display.part" "$folder/display"'
CONF
sway -c "$folder/sway.conf" >"$folder/sway.log" 2>&1 &
pids="$pids $!"

wait_for() { # condition, tries of 0.1 s
  n=0
  while ! eval "$1"; do
    n=$((n + 1))
    [ "$n" -gt "$2" ] && return 1
    sleep 0.1
  done
}
wait_for '[ -S "$folder/wayland-1" ]' 300 || { echo "wayland_session: sway did not start" >&2; stop; }
export WAYLAND_DISPLAY=wayland-1
wait_for '[ -s "$folder/display" ]' 300 || { echo "wayland_session: no XWayland display" >&2; stop; }
display=$(cat "$folder/display")

pipewire >"$folder/pipewire.log" 2>&1 &
pids="$pids $!"
wireplumber >"$folder/wireplumber.log" 2>&1 &
pids="$pids $!"
/usr/libexec/xdg-permission-store >"$folder/permission-store.log" 2>&1 &
pids="$pids $!"
portals=""
/usr/libexec/xdg-desktop-portal-wlr >"$folder/portal-wlr.log" 2>&1 &
portals="$portals $!"
/usr/libexec/xdg-desktop-portal-gtk >"$folder/portal-gtk.log" 2>&1 &
portals="$portals $!"
wait_for 'dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner string:org.freedesktop.impl.portal.desktop.wlr 2>/dev/null | grep -q true' 300
/usr/libexec/xdg-desktop-portal >"$folder/portal.log" 2>&1 &
portals="$portals $!"
pids="$pids $portals"
wait_for 'dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner string:org.freedesktop.portal.Desktop 2>/dev/null | grep -q true' 300 ||
  { echo "wayland_session: the portal did not start" >&2; stop; }

echo "$portals" >"$folder/portal.pids"
printf 'WAYLAND_DISPLAY=wayland-1\nDISPLAY=%s\nDBUS_SESSION_BUS_ADDRESS=%s\nSWAYSOCK=%s\n' "$display" \
  "$DBUS_SESSION_BUS_ADDRESS" "$(ls "$folder"/sway-ipc.*.sock | head -n 1)" >"$folder/session.env.part"
mv "$folder/session.env.part" "$folder/session.env"
while :; do
  sleep 1 &
  wait $!
done
