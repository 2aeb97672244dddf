#!/usr/bin/env bash
# The autostart entry's launcher, with stand-ins for systemctl and the client
# that write down how they were called: with a user manager that answers,
# the unit is started (with the display handed over) and the client is not;
# without one, or when the unit cannot be started, the client is started
# directly. Never both.
set -euo pipefail
launcher=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/program" "$work/bin" "$work/bare"
cp "$launcher" "$work/program/edu-client-session"
printf '#!/bin/sh\necho "client $*" >> "$CALLS"\n' > "$work/program/edu-client"
cat > "$work/bin/systemctl" <<'STANDIN'
#!/bin/sh
echo "systemctl $*" >> "$CALLS"
case "$*" in
  "--user show-environment") exit "$MANAGER" ;;
  "--user start edu-client.service") exit "$START" ;;
  "--user show --property=NeedDaemonReload --value edu-client.service") echo "$RELOAD" ;;
esac
STANDIN
chmod 755 "$work/program/edu-client" "$work/bin/systemctl"
# $work/bare has what the launcher needs but no systemctl at all.
for tool in dirname readlink; do
  ln -s "$(command -v "$tool")" "$work/bin/$tool"
  ln -s "$(command -v "$tool")" "$work/bare/$tool"
done

failures=0
# case | PATH | manager answers | unit start | NeedDaemonReload | session environment | calls expected (";" between)
while IFS='|' read -r name path manager start reload session expected; do
  : > "$work/calls"
  env -i PATH="$path" CALLS="$work/calls" MANAGER="$manager" START="$start" RELOAD="$reload" \
    $session "$work/program/edu-client-session" 2>/dev/null || true
  seen=$(paste -sd ';' "$work/calls")
  if [ "$seen" != "$expected" ]; then
    echo "FAIL $name: expected [$expected], called [$seen]"
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
done <<TABLE
manager answers|$work/bin|0|0|no|DISPLAY=:7|systemctl --user show-environment;systemctl --user import-environment DISPLAY;systemctl --user show --property=NeedDaemonReload --value edu-client.service;systemctl --user start edu-client.service
Wayland session|$work/bin|0|0|no|DISPLAY=:0 WAYLAND_DISPLAY=wayland-0 XDG_SESSION_TYPE=wayland|systemctl --user show-environment;systemctl --user import-environment DISPLAY WAYLAND_DISPLAY XDG_SESSION_TYPE;systemctl --user show --property=NeedDaemonReload --value edu-client.service;systemctl --user start edu-client.service
unit file replaced by an update|$work/bin|0|0|yes|DISPLAY=:7|systemctl --user show-environment;systemctl --user import-environment DISPLAY;systemctl --user show --property=NeedDaemonReload --value edu-client.service;systemctl --user daemon-reload;systemctl --user start edu-client.service
no display to hand over|$work/bin|0|0|no||systemctl --user show-environment;systemctl --user show --property=NeedDaemonReload --value edu-client.service;systemctl --user start edu-client.service
unit cannot be started|$work/bin|0|1|no|DISPLAY=:7|systemctl --user show-environment;systemctl --user import-environment DISPLAY;systemctl --user show --property=NeedDaemonReload --value edu-client.service;systemctl --user start edu-client.service;client 
no user manager|$work/bin|1|0|no|DISPLAY=:7|systemctl --user show-environment;client 
no systemd at all|$work/bare|0|0|no|DISPLAY=:7|client 
TABLE
exit $((failures > 0))
