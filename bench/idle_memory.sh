#!/usr/bin/env bash
# Idle memory of the signed-in client against a bare Qt Widgets window, in
# the two states a classroom PC spends its day in:
#   at rest     张伟 signed in, his lesson counting, only the status window
#               shown, no lesson picture taken yet: the teacher's normal
#               state, measured against the goal (peak at most 1.3 times the
#               label's);
#   in lesson   the main panel opened (the status window's 上课计时 button,
#               clicked with xdotool) and the lesson's first picture taken
#               and uploaded (WAIT_FOR_PICTURE=0 skips waiting for it).
# The demo runs (development server, the client on a private 1920x1080 Xvfb)
# with the main panel left closed. Beside it, on the same display, runs
# bench_idle_label: one window with one Chinese label, the least a Qt Widgets
# program needs to show Chinese text. Each state is left alone for
# IDLE_SECONDS (default 20) before both programs are measured the same way
# from /proc/<pid>/status: peak resident set (VmHWM) and resident set at that
# moment (VmRSS). Prints both states with their ratios client/label. With
# DETAIL=1 both resident sets are split by mapping (/proc/<pid>/smaps),
# largest first, in each state. The demo's folder is bench/idle_memory in the
# build folder (build-bench, or $BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}
# A build folder without the benchmarks: bench/run.sh makes one and comes back.
grep -qs '^EDU_BENCH:BOOL=ON$' "$build/CMakeCache.txt" || exec bash bench/run.sh idle_memory
idle=${IDLE_SECONDS:-20}
wait_picture=${WAIT_FOR_PICTURE:-1}
[[ "$idle" =~ ^[0-9]+$ ]] || { echo "idle_memory: IDLE_SECONDS is not a number: $idle" >&2; exit 2; }

if ! log=$(cmake --build "$build" --target edu-client edu-login devserver diskid bench_idle_label -j2 2>&1); then
  echo "$log"
  exit 1
fi

demo=$build/bench/idle_memory
mkdir -p "$build/bench"
demo_pid=""
label_pid=""
cleanup() {
  if [ -n "$label_pid" ]; then kill "$label_pid" 2>/dev/null || true; wait "$label_pid" 2>/dev/null || true; fi
  if [ -n "$demo_pid" ]; then kill -TERM "$demo_pid" 2>/dev/null || true; wait "$demo_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

# The demo ends by itself well after the measurement, should this script
# be killed before it can stop it.
DEMO_DIR=$demo DEMO_SHOT_SECONDS=3600 DEMO_OPEN_PANEL=0 BUILD_DIR=$build env -u DISPLAY \
  bash scripts/run-demo.sh --no-build --duration $((2 * idle + 300)) >"$build/bench/idle_memory.log" 2>&1 &
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

DISPLAY=$display QT_QPA_PLATFORM=xcb "$build/bench/bench_idle_label" </dev/null >/dev/null 2>&1 &
label_pid=$!

has_picture() { [ -n "$(find "$demo/program/screen_pic" -name '*.jpg' 2>/dev/null | head -n 1)" ]; }
# kB, as /proc writes it.
status_kb() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status"; }
# kB resident per mapped file (anonymous memory as [anon]).
by_mapping() {
  awk '/^[0-9a-f]+-[0-9a-f]+ / { name = (NF >= 6 ? $6 : "[anon]") } $1 == "Rss:" { rss[name] += $2 }
       END { for (n in rss) print n, rss[n] }' "/proc/$1/smaps" | sort
}
# measure STATE: one line with both programs and the ratios, and with
# DETAIL=1 the split by mapping before it.
measure() {
  local state=$1 ours_peak ours_now theirs_peak theirs_now
  ours_peak=$(status_kb "$client" VmHWM)
  ours_now=$(status_kb "$client" VmRSS)
  theirs_peak=$(status_kb "$label_pid" VmHWM)
  theirs_now=$(status_kb "$label_pid" VmRSS)
  if [ "${DETAIL:-0}" = 1 ]; then
    echo "idle_memory: $state: resident kB by mapping, client and label (256 kB or more on either side):"
    join -a 1 -a 2 -e 0 -o 0,1.2,2.2 <(by_mapping "$client") <(by_mapping "$label_pid") |
      awk '$2 >= 256 || $3 >= 256 { printf "%8d %8d %s\n", $2, $3, $1 }' | sort -rn
  fi
  awk -v state="$state" -v a="$ours_peak" -v n="$ours_now" -v b="$theirs_peak" -v m="$theirs_now" 'BEGIN {
    printf "idle_memory: %s: edu-client peak %.1f MiB, now %.1f MiB; bare Qt label peak %.1f MiB, now %.1f MiB; ratio peak %.2f, now %.2f\n",
      state, a / 1024, n / 1024, b / 1024, m / 1024, a / b, n / m }'
}
grep '^demo: 张伟' "$build/bench/idle_memory.log"

# At rest: the status window alone. The lesson's first picture comes one
# screenshot interval (60 s) after the lesson was taken up, after this.
sleep "$idle"
rest_note="at rest, status window only, $idle s after sign-in"
has_picture && rest_note="$rest_note (a lesson picture was already taken)"
measure "$rest_note"

# In lesson: the main panel opened as a teacher opens it, then the first
# lesson picture.
status_window=$(DISPLAY=$display xdotool search --name '^edu_main$' 2>/dev/null | head -n 1 || true)
[ -n "$status_window" ] || { echo "idle_memory: the status window is not on $display" >&2; exit 1; }
eval "$(DISPLAY=$display xdotool getwindowgeometry --shell "$status_window")"
DISPLAY=$display xdotool mousemove $((X + 60)) $((Y + 116)) click 1
lesson_note="in lesson, main panel open, $idle s after"
if [ "$wait_picture" = 1 ]; then
  for _ in $(seq 1 1200); do
    has_picture && break
    sleep 0.1
  done
  has_picture || { echo "idle_memory: the client took no lesson picture in 120 s" >&2; exit 1; }
  lesson_note="$lesson_note the first lesson picture"
else
  lesson_note="$lesson_note the panel opened"
fi
sleep "$idle"
measure "$lesson_note"
echo "idle_memory: goal: peak at most 1.3 times the label's at rest"
