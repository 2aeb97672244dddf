#!/usr/bin/env bash
# A second build with clang, AddressSanitizer and UndefinedBehaviorSanitizer:
# runs the unit tests once more, then each libFuzzer target for a while.
#
# In the build folder (build-san, or $SAN_BUILD_DIR), each fuzzer's whole
# output goes to fuzz/logs/<target>.log, an input that makes it fail to
# fuzz/findings/<target>/, and the inputs it found worth keeping to
# fuzz/corpus/<target>/, where the next run starts from them. One line per
# target says how it went; a finding makes the script fail once all ran.
# FUZZ_SECONDS (default 10) is each target's time.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${SAN_BUILD_DIR:-build-san}
seconds=${FUZZ_SECONDS:-10}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DEDU_WERROR=ON -DEDU_SANITIZE=ON -DEDU_FUZZ=ON \
  "${launcher[@]}" >/dev/null
# Only what runs here: the unit-test programs and the fuzzers (the
# integration and end-to-end programs are the first build's).
mapfile -t targets < <(ninja -C "$build" -t targets all | sed -n 's/^\(\(unit\|fuzz\)_[A-Za-z0-9_]*\): phony$/\1/p' |
  grep -v '_autogen')
cmake --build "$build" --parallel "$(nproc)" --target "${targets[@]}"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/support/lsan.supp
ctest --test-dir "$build" --output-on-failure --timeout 600 -j2 -L unit

fuzz=$(cd "$build" && pwd)/fuzz
mkdir -p "$fuzz/logs"
rm -f "$fuzz"/logs/*.result "$fuzz"/logs/*.finding

# One target: its run, then its line of the summary in logs/<target>.result
# (and logs/<target>.finding when it found a fault).
fuzz_one() {
  local fuzzer=$1 name log status=0
  name=$(basename "$fuzzer")
  log=$fuzz/logs/$name.log
  mkdir -p "$fuzz/findings/$name" "$fuzz/corpus/$name"
  "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$fuzz/findings/$name/" "$fuzz/corpus/$name" >"$log" 2>&1 || status=$?
  if ((status == 0)); then
    # libFuzzer ends with "#RUNS DONE cov: N ft: N corp: N/SIZE ..." and
    # "Done RUNS runs in SECONDS second(s)".
    awk -v name="$name" '
      $2 == "DONE" { for (i = 3; i < NF; i++) { if ($i == "cov:") cov = $(i + 1); if ($i == "corp:") corp = $(i + 1) } }
      $1 == "Done" && $3 == "runs" { runs = $2; seconds = $5 }
      END { printf "fuzz: %s: %s runs in %s s, coverage %s, corpus %s: no finding\n", name, runs, seconds, cov, corp }' \
      "$log" >"$fuzz/logs/$name.result"
  else
    input=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n 1)
    what=$(grep -m 1 '^SUMMARY:' "$log" || grep -m 1 'ERROR:' "$log" || echo 'see the report')
    {
      echo "fuzz: $name: FINDING (exit status $status): $what"
      echo "fuzz: $name: input ${input:-not written}, report $log"
    } >"$fuzz/logs/$name.result"
    touch "$fuzz/logs/$name.finding"
  fi
}

# A target is one single-threaded process with a corpus and findings of its
# own, so as many run side by side as there are cores, each for the whole
# FUZZ_SECONDS on a core of its own.
running=0
for fuzzer in "$fuzz"/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  fuzz_one "$fuzzer" &
  running=$((running + 1))
  if ((running >= $(nproc))); then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

findings=0
for fuzzer in "$fuzz"/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  cat "$fuzz/logs/$name.result"
  if [ -e "$fuzz/logs/$name.finding" ]; then findings=$((findings + 1)); fi
done
echo "fuzz: full output in $fuzz/logs/, failing inputs in $fuzz/findings/"
if ((findings)); then
  echo "fuzz: $findings target(s) found a fault" >&2
  exit 1
fi
