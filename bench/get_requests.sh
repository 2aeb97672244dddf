#!/usr/bin/env bash
# 1,000 sequential GETs of a teacher list of about 2 KB from the development
# server: the client's GET client (each request started from the previous
# one's reply handler) against curl fetching the same URLs in one process
# with "Connection: close". Prints both times and the ratio ours/curl; the
# goal is at most 1.0. Best of ROUNDS runs each, alternating, since the
# machine is shared. HOST=localhost makes both resolve a name each time.
# TLS=1: the same over HTTPS, the server's certificate from a CA made for the
# run and given to both (bench/https_requests.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}
# A build folder without the benchmarks: bench/run.sh makes one and comes back.
grep -qs '^EDU_BENCH:BOOL=ON$' "$build/CMakeCache.txt" || exec bash bench/run.sh get_requests
count=${COUNT:-1000}
rounds=${ROUNDS:-5}
key=3b9d0e4a7f21c6585ad0e9b7c41f2a6d
host=${HOST:-127.0.0.1}
tls=${TLS:-0}

cmake --build "$build" --target devserver bench_get_requests >/dev/null

work=$(mktemp -d)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# The built-in seed plus fifteen more teachers of school 1001, so that its
# teacher list comes to about 2 KB.
cp tools/devserver/seed.sql "$work/seed.sql"
{
  echo "INSERT INTO teachers VALUES"
  for i in $(seq 101 115); do
    sep=","
    [ "$i" = 115 ] && sep=";"
    echo "  ('2$i', '1001', '教师$i', '138100$i', 'js$i', 'teacher$i@dcsy.edu.cn')$sep"
  done
} >>"$work/seed.sql"

: >"$work/server.out"
tls_args=()
client_args=()
curl_args=()
scheme=http
name=get_requests
if [ "$tls" = 1 ]; then
  # A CA of the run's own and the server's certificate from it.
  (
    cd "$work"
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout ca.key -out ca.pem \
      -days 2 -subj "/CN=Bench CA" 2>/dev/null
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout server.key -out server.csr \
      -subj "/CN=localhost" 2>/dev/null
    printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\n' >san.ext
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile san.ext \
      -out server.pem 2>/dev/null
  )
  tls_args=(--tls-cert "$work/server.pem" --tls-key "$work/server.key")
  client_args=("$work/ca.pem")
  curl_args=(--cacert "$work/ca.pem")
  scheme=https
  name=https_requests
fi
"$build/bin/devserver" --port 0 --seed "$work/seed.sql" "${tls_args[@]}" >"$work/server.out" 2>&1 &
server_pid=$!
port=""
for _ in $(seq 1 100); do
  port=$(sed -n 's/^devserver listening on 127\.0\.0\.1:\([0-9]*\).*$/\1/p' "$work/server.out")
  [ -n "$port" ] && break
  sleep 0.05
done
[ -n "$port" ] || { echo "devserver did not start:"; cat "$work/server.out"; exit 1; }

target="/clientInterface-getAreaData?appKey=$key&type=5&id=1001"
url="$scheme://$host:$port$target"
for _ in $(seq 1 "$count"); do
  printf 'url = "%s"\noutput = "/dev/null"\n' "$url"
done >"$work/urls.txt"
echo "reply: $(curl -s "${curl_args[@]}" "$url" | wc -c) bytes of body, $count requests"

now_ms() { date +%s%N | awk '{ printf "%.1f", $1 / 1e6 }'; }
best_ours=""
best_curl=""
for round in $(seq 1 "$rounds"); do
  start=$(now_ms)
  "$build/bench/bench_get_requests" "$host" "$port" "$target" "$count" "${client_args[@]}" >/dev/null
  ours=$(awk -v a="$start" -v b="$(now_ms)" 'BEGIN { printf "%.1f", b - a }')
  start=$(now_ms)
  curl -s "${curl_args[@]}" -H 'Connection: close' -K "$work/urls.txt"
  theirs=$(awk -v a="$start" -v b="$(now_ms)" 'BEGIN { printf "%.1f", b - a }')
  echo "round $round: ours ${ours} ms, curl ${theirs} ms"
  best_ours=$(awk -v x="$ours" -v y="${best_ours:-$ours}" 'BEGIN { print (x < y ? x : y) }')
  best_curl=$(awk -v x="$theirs" -v y="${best_curl:-$theirs}" 'BEGIN { print (x < y ? x : y) }')
done
awk -v a="$best_ours" -v b="$best_curl" \
  -v name="$name" 'BEGIN { printf "%s: ours %.1f ms, curl %.1f ms, ratio ours/curl %.2f (goal <= 1.0)\n", name, a, b, a / b }'
