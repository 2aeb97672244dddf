#!/usr/bin/env bash
# Builds the cache-refresh benchmark and its inputs, then times the client's
# refresh of 10,000 teachers against the sqlite3 tool doing the same change.
# ROUNDS (default 5) sets how many times each side runs.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}
# A build folder without the benchmarks: bench/run.sh makes one and comes back.
grep -qs '^EDU_BENCH:BOOL=ON$' "$build/CMakeCache.txt" || exec bash bench/run.sh cache_refresh
if ! log=$(cmake --build "$build" --target bench_cache_refresh edu_db -j2 2>&1); then
  echo "$log"
  exit 1
fi
work=$build/bench/cache_refresh_work
rm -rf "$work"
"$build/bench/bench_cache_refresh" --write-inputs "$work"
# The base: the delivered edu.db after an earlier refresh of the same school,
# so that both sides delete 10,000 rows before they insert 10,000.
cp "$build/bin/edu.db" "$work/base.db"
sqlite3 -bail "$work/base.db" < "$work/refresh.sql"
"$build/bench/bench_cache_refresh" "$work" "${ROUNDS:-5}"
