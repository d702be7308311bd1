#!/usr/bin/env bash
# Configures and builds build/, then runs the tests in parallel. The runs of
# the launcher under memcheck (the `valgrind` label) take most of the time
# and are left to .ci/run: `ctest --test-dir build -L valgrind` runs them
# once valgrind is installed and the tree reconfigured.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build
ctest --test-dir build --output-on-failure -j"$(nproc)" -LE valgrind
