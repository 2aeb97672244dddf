#!/usr/bin/env bash
# Builds (as scripts/build.sh does) and makes the Debian package
# build/edu-client_<version>_<arch>.deb (or in $BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
build=${BUILD_DIR:-build}
# cpack names the package it made; only that line is printed, or all it
# said when it failed.
if ! output=$(cd "$build" && cpack --config CPackConfig.cmake 2>&1); then
  echo "$output" >&2
  exit 1
fi
sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p' <<<"$output"
