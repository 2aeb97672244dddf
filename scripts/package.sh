#!/usr/bin/env bash
# Builds (as scripts/build.sh does) and makes the Debian package
# build/edu-client_<version>_<arch>.deb (or in $BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
build=${BUILD_DIR:-build}
# cpack names the package it made; only that line is printed.
(cd "$build" && cpack --config CPackConfig.cmake) | sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p'
