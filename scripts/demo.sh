#!/usr/bin/env bash
# Builds the client and shows it running against the development server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
if [ ! -x build/bin/edu-client ] || [ ! -f scripts/run-demo.sh ]; then
  echo "demo: the client is not built yet"
  exit 0
fi
exec bash scripts/run-demo.sh
