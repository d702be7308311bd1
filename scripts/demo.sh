#!/usr/bin/env bash
# Builds the launcher and runs it once as `velmot`. Without a bridge to talk
# to, the run ends with the transport-failure line and status 70.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target velmot-plugin-cli-client >/dev/null
status=0
build/velmot status || status=$?
echo "exit status: $status"
