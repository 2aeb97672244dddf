#!/usr/bin/env bash
# The demo: builds, starts the development server (and an FTP server for
# courseware when pyftpdlib is there), copies the program folder into the
# demo folder, seeds its edu.db with the demo's rows pointed at that server,
# starts edu-client and signs the demo teacher 张伟 in with edu-login. The server reports his lesson
# as running for two minutes, so the status window counts on from 02:05 and
# the client photographs the screen every 60 s. Without a display it all runs
# on a private Xvfb (1920x1080x24) and the screen is saved as pictures every
# few seconds; with a display the client just shows up on it. Ctrl-C (or the
# end of --duration) stops everything the demo started.
#
#   bash scripts/run-demo.sh [--duration SECONDS] [--no-build]
#
# Environment: DEMO_DURATION (seconds, 0 = until Ctrl-C), DEMO_BUILD=0,
# DEMO_SHOT_SECONDS (how often the Xvfb screen is saved, default 5),
# DEMO_TIME_DIFF (seconds the lesson has run, default 125), DEMO_DIR (the
# demo folder, default build/demo; emptied at each start), BUILD_DIR,
# DEMO_OPEN_PANEL=0 (on Xvfb, leave the main panel closed).
# The demo folder also names the client's process id (client.pid) and, on
# Xvfb, the display number (xvfb.display) for tools that watch the demo.
set -euo pipefail
cd "$(dirname "$0")/.."

duration=${DEMO_DURATION:-0}
build_first=${DEMO_BUILD:-1}
shot_seconds=${DEMO_SHOT_SECONDS:-5}
time_diff=${DEMO_TIME_DIFF:-125}
while (($#)); do
  case "$1" in
    --duration) duration=${2:?--duration needs a number of seconds}; shift 2 ;;
    --duration=*) duration=${1#*=}; shift ;;
    --no-build) build_first=0; shift ;;
    -h | --help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run-demo: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
for number in "$duration" "$shot_seconds" "$time_diff"; do
  [[ "$number" =~ ^[0-9]+$ ]] || { echo "run-demo: not a number of seconds: $number" >&2; exit 2; }
done
((shot_seconds > 0)) || shot_seconds=5

build=${BUILD_DIR:-build}
[ "$build_first" = 0 ] || bash scripts/build.sh
bin=$(cd "$build/bin" && pwd)
for program in edu-client edu-login devserver; do
  [ -x "$bin/$program" ] || { echo "run-demo: $bin/$program is missing; build first" >&2; exit 1; }
done

# The demo folder holds everything the demo writes; a folder that is not an
# earlier demo's is never emptied.
demo=${DEMO_DIR:-$build/demo}
if [ -d "$demo" ] && [ -n "$(ls -A "$demo")" ] && [ ! -f "$demo/.edu-demo" ]; then
  echo "run-demo: $demo exists and is not a demo folder; set DEMO_DIR to another folder" >&2
  exit 1
fi
rm -rf "$demo"
mkdir -p "$demo"/{server,screens,ftp}
demo=$(cd "$demo" && pwd)
touch "$demo/.edu-demo"
# Each program runs in a session and process group of its own (setsid), so
# that the cleanup ends it together with anything it started, and Ctrl-C
# reaches only this script, which then stops them in order.
groups=()
client_pid=""
xvfb_display=""
runtime=""
cleanup() {
  local status=$?
  trap - EXIT INT TERM
  local pid
  for pid in "${groups[@]}"; do kill -TERM -- "-$pid" 2>/dev/null || true; done
  for _ in $(seq 1 50); do
    local alive=0
    for pid in "${groups[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
    ((alive)) || break
    sleep 0.1
  done
  for pid in "${groups[@]}"; do kill -KILL -- "-$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [ -z "$runtime" ] || rm -rf "$runtime"
  echo "demo: stopped everything it started"
  echo "demo: the development server's request log: $demo/server/requests.jsonl"
  [ -z "$xvfb_display" ] || echo "demo: pictures of the screen: $demo/screens"
  echo "demo: the client's own lesson pictures: $demo/program/screen_pic"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The client's lock and login socket live in a runtime folder of the demo's
# own, so a client of the desktop session (or of another demo) is left
# alone; under /tmp, since a socket's path must stay short.
runtime=$(mktemp -d /tmp/edu-demo.XXXXXX)
export XDG_RUNTIME_DIR=$runtime

# Waits up to $1 tenths of a second for the command that follows to succeed.
wait_until() {
  local tenths=$1
  shift
  for _ in $(seq 1 "$tenths"); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
file_has_text() { [ -s "$1" ]; }

if [ -z "${DISPLAY:-}" ]; then
  setsid Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset \
    3>"$demo/xvfb.display" </dev/null >"$demo/xvfb.log" 2>&1 &
  groups+=($!)
  wait_until 200 file_has_text "$demo/xvfb.display" || { echo "run-demo: Xvfb did not start:" >&2; cat "$demo/xvfb.log" >&2; exit 1; }
  xvfb_display=":$(head -n 1 "$demo/xvfb.display")"
  export DISPLAY=$xvfb_display
fi

: >"$demo/server/devserver.out"
setsid "$bin/devserver" --port 0 --data "$demo/server" --log "$demo/server/requests.jsonl" \
  </dev/null >"$demo/server/devserver.out" 2>&1 &
groups+=($!)
server_port() { sed -n 's/^devserver listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$demo/server/devserver.out"; }
has_port() { [ -n "$(server_port)" ]; }
wait_until 150 has_port || { echo "run-demo: the development server did not start:" >&2; cat "$demo/server/devserver.out" >&2; exit 1; }
port=$(server_port)

# Courseware goes to the school's FTP server; pyftpdlib stands in for it.
ftp_port=2121
ftp_note="no FTP server (python3-pyftpdlib missing): courseware uploads fail"
if /usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null; then
  ftp_port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  setsid /usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p "$ftp_port" -w -d "$demo/ftp" -u ftpuser -P secret \
    </dev/null >"$demo/ftp.log" 2>&1 &
  groups+=($!)
  ftp_note="FTP server for courseware on 127.0.0.1:$ftp_port (user ftpuser), files in $demo/ftp"
fi

# The program folder, copied so that the built one stays as it is. Its
# edu.db is delivered empty; the demo's copy gets the demo's rows (the
# development server's district, schools and teachers) and the address of
# the running server.
cp -a "$bin" "$demo/program"
rm -rf "$demo/program/screen_pic" "$demo/program/courseware" "$demo/program/log"
sqlite3 -bail "$demo/program/edu.db" ".read store/demo_seed.sql" \
  "UPDATE t_login_info SET http_url = '127.0.0.1:$port'"

QT_QPA_PLATFORM=xcb setsid "$demo/program/edu-client" </dev/null >"$demo/client.log" 2>&1 &
client_pid=$!
groups+=("$client_pid")
echo "$client_pid" >"$demo/client.pid"
socket_ready() { [ -S "$XDG_RUNTIME_DIR/edu_main" ]; }
wait_until 300 socket_ready || { echo "run-demo: the client did not start:" >&2; cat "$demo/client.log" >&2; exit 1; }

# The full 27-item login of 张伟 (teacher 2001 of school 1001 in the
# development server's data); the FTP user and password travel protected.
ftp_user=$("$bin/edu-login" --protect ftpuser)
ftp_password=$("$bin/edu-login" --protect secret)
login="online|2001|张伟|13810012001|1001|东城区第一实验小学|110000|北京市|110100|北京市|110101|东城区"
login+="|127.0.0.1:$port|0|0|60|127.0.0.1|$ftp_port|0|5.0.33|0|5.0.33|0|http://127.0.0.1:$port/upgrade.xml"
login+="|0|$ftp_user|$ftp_password"
"$bin/edu-login" "$login"

# The first login asks the server for a running lesson of this computer and
# so names the disk id the client uses; the server then starts a lesson of
# 张伟 on that computer, and the second login takes it up.
asked_for_lesson() { grep -q 'clientInterface-getCouterTime' "$demo/server/requests.jsonl" 2>/dev/null; }
lesson_note="no running lesson (the client has no disk id)"
if wait_until 100 asked_for_lesson; then
  disk_id=$(grep -o 'clientInterface-getCouterTime?[^"]*' "$demo/server/requests.jsonl" | head -n 1 |
    sed -n 's/.*[?&]hardDiskID=\([^&]*\).*/\1/p')
  if [ -n "$disk_id" ] &&
    curl -sf --max-time 10 -o /dev/null "http://127.0.0.1:$port/_dev/lesson?hardDiskID=$disk_id&teacherID=2001&timeDiff=$time_diff&schoolID=1001&gradeID=3001&classesID=4001&subjectID=5002"; then
    "$bin/edu-login" "$login"
    lesson_note="his lesson (一年级（1）班, 数学) began $time_diff s ago; the window counts on from there"
  fi
fi

# On the private display nobody can click, so the demo opens the main panel
# itself: the status window's 上课计时 button, whose panel then shows the
# running lesson beside the status window.
panel_note=""
if [ -n "$xvfb_display" ] && [ "${DEMO_OPEN_PANEL:-1}" != 0 ] && command -v xdotool >/dev/null; then
  status_window=$(xdotool search --name '^edu_main$' 2>/dev/null | head -n 1 || true)
  if [ -n "$status_window" ]; then
    eval "$(xdotool getwindowgeometry --shell "$status_window")"
    xdotool mousemove $((X + 60)) $((Y + 116)) click 1 && panel_note="; the main panel is open beside it"
  fi
fi

echo "demo: development server on http://127.0.0.1:$port, request log $demo/server/requests.jsonl"
echo "demo: $ftp_note"
echo "demo: program folder $demo/program (a copy of $bin; its edu.db points at the server)"
echo "demo: 张伟 老师 signed in; $lesson_note$panel_note"
echo "demo: the client saves and uploads a picture of the screen every 60 s during the lesson"
echo "demo: sign out or in by hand: XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR $bin/edu-login offline"
if [ -n "$xvfb_display" ]; then
  echo "demo: no display, so it runs on Xvfb $xvfb_display; pictures of the screen every ${shot_seconds} s in $demo/screens"
fi
if ((duration > 0)); then echo "demo: ends by itself after $duration s (Ctrl-C ends it sooner)"; else echo "demo: Ctrl-C stops it"; fi

elapsed=0
shots=0
while :; do
  if ! kill -0 "$client_pid" 2>/dev/null; then
    echo "demo: the client ended; see $demo/client.log" >&2
    exit 1
  fi
  if [ -n "$xvfb_display" ] && ((elapsed % shot_seconds == 0)); then
    shots=$((shots + 1))
    import -window root "$demo/screens/$(printf 'screen-%04d.png' "$shots")" 2>/dev/null || true
  fi
  if ((duration > 0 && elapsed >= duration)); then break; fi
  sleep 1
  elapsed=$((elapsed + 1))
done
