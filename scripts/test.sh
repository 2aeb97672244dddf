#!/usr/bin/env bash
# Builds everything and runs every test (unit, integration, end-to-end).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
build=${BUILD_DIR:-build}
ctest --test-dir "$build" --output-on-failure --timeout 600 -j2
