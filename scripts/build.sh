#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR). Extra arguments go to
# CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${BUILD_DIR:-build}
# ccache, where a developer has installed it, lets several work trees share
# one compiler cache; the build is the same without it.
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DEDU_WERROR=ON "${launcher[@]}" "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
