#!/usr/bin/env bash
# A second build with clang, AddressSanitizer and UndefinedBehaviorSanitizer:
# runs the unit tests once more, then each libFuzzer target for a while.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${SAN_BUILD_DIR:-build-san}
seconds=${FUZZ_SECONDS:-10}
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DEDU_WERROR=ON -DEDU_SANITIZE=ON -DEDU_FUZZ=ON >/dev/null
# Only what runs here: the unit-test programs and the fuzzers (the
# integration and end-to-end programs are the first build's).
mapfile -t targets < <(ninja -C "$build" -t targets all | sed -n 's/^\(\(unit\|fuzz\)_[A-Za-z0-9_]*\): phony$/\1/p' |
  grep -v '_autogen')
cmake --build "$build" --parallel "$(nproc)" --target "${targets[@]}"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/support/lsan.supp
ctest --test-dir "$build" --output-on-failure --timeout 600 -j2 -L unit
for fuzzer in "$build"/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  echo "fuzz: $(basename "$fuzzer") for ${seconds}s"
  "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=0 2>&1 | tail -n 2
done
