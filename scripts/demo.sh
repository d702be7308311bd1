#!/usr/bin/env bash
# Builds the launcher, its diagnosing companion velmot_doctor (which the
# README's first troubleshooting step runs) and the development bridge alone
# in build-demo/, then runs the example plug-in `notes` through a
# `velmot-notes` link for real: the bridge runs examples/commands/notes, the
# launcher replays what it wrote and exits with its status. Arguments replace
# the default `list` (try `show 2`, `show 9`).
set -euo pipefail
cd "$(dirname "$0")/.."
build="build-demo"
scripts/install-deps.sh demo
echo "demo: building the launcher, velmot_doctor and the development bridge in $build/" >&2
# A first look should come quickly: optimizing less builds about a fifth
# faster, and a single run cannot tell the difference. Install from a
# Release tree of your own (README) for everyday use.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS_RELEASE="-O1 -DNDEBUG" -DCMAKE_C_FLAGS_RELEASE="-O1 -DNDEBUG" \
    -DVELMOT_BUILD_TESTS=OFF -DVELMOT_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target velmot-plugin-cli-client velmot_doctor velmot_devbridge
ln -sf velmot-plugin-cli-client "$build/velmot-notes"
[ $# -gt 0 ] || set -- list
echo "demo: $build/velmot-notes $*" >&2
status=0
"$build/velmot_devbridge" --commands examples/commands --log /dev/null -- \
    "$build/velmot-notes" "$@" || status=$?
echo "exit status: $status"
