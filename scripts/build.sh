#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR). Extra arguments go to
# CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DEDU_WERROR=ON "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
