#!/usr/bin/env bash
# Builds the benchmarks and runs them all, one after the other: every
# bench/*.sh, and every benchmark program that no script runs. Each one's
# output is shown as it comes and kept in <build>/bench/logs/<name>.log; at
# the end every ratio is listed again, one line each, under its benchmark's
# name.
#
#   bash bench/run.sh [NAME...]    NAME: md5, cache_refresh, idle_memory, ...
#                                  (the script's or program's name without
#                                  bench_ or .sh); all of them without one
#
# It installs what it lacks (scripts/setup.sh) and configures a build folder
# of its own, build-bench (or $BUILD_DIR), with -DEDU_BENCH=ON, in which it
# builds everything but the test programs. Ratios are ours/theirs: below 1
# means the client's code is faster or smaller. The machine should be
# otherwise idle; a shared one makes them noisy.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export BUILD_DIR=${BUILD_DIR:-build-bench}
build=$BUILD_DIR
mkdir -p "$build/bench/logs"
logs=$(cd "$build/bench/logs" && pwd)

# ccache, where installed, with paths taken relative to this folder, so that a
# clone anywhere shares the compiles of other clones and work trees.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
fi
echo "bench: building in $build (log $logs/build.log)"
# Every folder's targets but those of tests/ (the test programs); the
# benchmark programs pull in the test support they use.
if ! {
  cmake -S . -B "$build" -G Ninja -DEDU_WERROR=ON -DEDU_BENCH=ON "${launcher[@]}" &&
    mapfile -t folders < <(ninja -C "$build" -t targets all | sed -n 's|^\([^/]*\)/all: phony$|\1/all|p' | grep -v '^tests/') &&
    cmake --build "$build" --parallel "$(nproc)" --target "${folders[@]}"
} >"$logs/build.log" 2>&1; then
  tail -n 40 "$logs/build.log"
  echo "bench: the build failed; see $logs/build.log" >&2
  exit 1
fi

# The benchmarks: the scripts, then the programs no script names.
declare -A command
names=()
for script in bench/*.sh; do
  name=$(basename "$script" .sh)
  [ "$name" = run ] && continue
  command[$name]=$script
  names+=("$name")
done
for program in "$build"/bench/bench_*; do
  [ -f "$program" ] && [ -x "$program" ] || continue
  grep -q -w "$(basename "$program")" bench/*.sh && continue
  name=$(basename "$program")
  name=${name#bench_}
  command[$name]=$program
  names+=("$name")
done
if (($#)); then
  for name in "$@"; do
    [ -n "${command[$name]:-}" ] || { echo "bench: no benchmark $name (there are: ${names[*]})" >&2; exit 2; }
  done
  names=("$@")
fi

failed=()
for name in "${names[@]}"; do
  run=("${command[$name]}")
  [[ "${run[0]}" != *.sh ]] || run=(bash "${run[0]}")
  echo "bench: $name (${run[*]})"
  start=$SECONDS
  if "${run[@]}" 2>&1 | tee "$logs/$name.log"; then
    echo "bench: $name took $((SECONDS - start)) s"
  else
    echo "bench: $name FAILED after $((SECONDS - start)) s; see $logs/$name.log" >&2
    failed+=("$name")
  fi
done

echo
echo "bench: every ratio (ours/theirs; logs in $logs; $SECONDS s in all):"
for name in "${names[@]}"; do
  grep -i 'ratio' "$logs/$name.log" | sed "/^$name: /!s/^/$name: /; s/^/  /" || echo "  $name: no ratio (it failed)"
done
if ((${#failed[@]})); then
  echo "bench: failed: ${failed[*]}" >&2
  exit 1
fi
