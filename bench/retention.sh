#!/usr/bin/env bash
# A school year of lesson pictures through the retention pass: the folder's
# largest size against its bound, the waiting pictures kept and the longest
# pass (bench/retention.cpp says how the year is made).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}
# A build folder without the benchmarks: bench/run.sh makes one and comes back.
grep -qs '^EDU_BENCH:BOOL=ON$' "$build/CMakeCache.txt" || exec bash bench/run.sh retention
if ! log=$(cmake --build "$build" --target bench_retention -j2 2>&1); then
  echo "$log"
  exit 1
fi
"$build/bench/bench_retention"
