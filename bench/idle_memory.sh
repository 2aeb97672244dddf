#!/usr/bin/env bash
# Idle memory of the signed-in client: the demo (development server, the
# client on a private 1920x1080 Xvfb, 张伟 signed in with his lesson counting)
# left alone for IDLE_SECONDS (default 20), then the client's peak resident
# set (VmHWM of /proc/<pid>/status) against that of xmessage, a small
# standard X program showing one line, started beside it on the same display
# for the same time. Prints both and the ratio ours/xmessage; there is no
# goal, the number is reported. The demo's folder is build/bench/idle_memory.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
idle=${IDLE_SECONDS:-20}
[[ "$idle" =~ ^[0-9]+$ ]] || { echo "idle_memory: IDLE_SECONDS is not a number: $idle" >&2; exit 2; }
command -v xmessage >/dev/null || { echo "idle_memory: xmessage missing (Debian package x11-utils)" >&2; exit 1; }

[ -f "$build/build.ninja" ] || [ -f "$build/Makefile" ] || cmake -S . -B "$build" -G Ninja -DEDU_WERROR=ON >/dev/null
if ! log=$(cmake --build "$build" --target edu-client edu-login devserver diskid -j2 2>&1); then
  echo "$log"
  exit 1
fi

demo=$build/bench/idle_memory
mkdir -p "$build/bench"
demo_pid=""
xmessage_pid=""
cleanup() {
  [ -z "$xmessage_pid" ] || kill "$xmessage_pid" 2>/dev/null || true
  if [ -n "$demo_pid" ]; then kill -TERM "$demo_pid" 2>/dev/null || true; wait "$demo_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

# The demo ends by itself well after the measurement, should this script
# be killed before it can stop it.
DEMO_DIR=$demo DEMO_SHOT_SECONDS=3600 BUILD_DIR=$build env -u DISPLAY \
  bash scripts/run-demo.sh --no-build --duration $((idle + 120)) >"$build/bench/idle_memory.log" 2>&1 &
demo_pid=$!
signed_in() { grep -q '^demo: 张伟 老师 signed in' "$build/bench/idle_memory.log" 2>/dev/null; }
for _ in $(seq 1 600); do
  signed_in && break
  kill -0 "$demo_pid" 2>/dev/null || break
  sleep 0.1
done
signed_in || { echo "idle_memory: the demo did not start:" >&2; cat "$build/bench/idle_memory.log" >&2; exit 1; }
client=$(cat "$demo/client.pid")
display=":$(head -n 1 "$demo/xvfb.display")"

DISPLAY=$display xmessage -geometry +200+200 "空闲的窗口 idle window" </dev/null >/dev/null 2>&1 &
xmessage_pid=$!
sleep "$idle"

# kB, as /proc writes it.
status_kb() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status"; }
ours_peak=$(status_kb "$client" VmHWM)
ours_now=$(status_kb "$client" VmRSS)
theirs_peak=$(status_kb "$xmessage_pid" VmHWM)
grep '^demo: 张伟' "$build/bench/idle_memory.log"
awk -v a="$ours_peak" -v n="$ours_now" -v b="$theirs_peak" -v s="$idle" 'BEGIN {
  printf "idle_memory: edu-client peak RSS %.1f MiB (now %.1f MiB) after %d s signed in, xmessage %.1f MiB, ratio ours/xmessage %.1f\n",
    a / 1024, n / 1024, s, b / 1024, a / b }'
