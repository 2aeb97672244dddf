#!/usr/bin/env bash
# 1,000 sequential GETs over HTTPS (TLS 1.3, the server's certificate from a
# CA made for the run): the client's GET client against curl fetching the
# same URLs in one process with "Connection: close". Both resume the TLS
# session of the connection before. Ratio ours/curl; the goal is at most 1.0.
set -euo pipefail
cd "$(dirname "$0")/.."
grep -qs '^EDU_BENCH:BOOL=ON$' "${BUILD_DIR:-build-bench}/CMakeCache.txt" || exec bash bench/run.sh https_requests
TLS=1 exec bash bench/get_requests.sh
