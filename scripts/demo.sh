#!/usr/bin/env bash
# Builds the launcher and the development bridge, then runs the example
# plug-in `notes` through a `velmot-notes` link for real: the bridge runs
# examples/commands/notes, the launcher replays what it wrote and exits with
# its status. Arguments replace the default `list` (try `show 2`, `show 9`).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target velmot-plugin-cli-client velmot_devbridge >/dev/null
ln -sf velmot-plugin-cli-client build/velmot-notes
[ $# -gt 0 ] || set -- list
status=0
build/velmot_devbridge --commands examples/commands --log /dev/null -- build/velmot-notes "$@" ||
    status=$?
echo "exit status: $status"
