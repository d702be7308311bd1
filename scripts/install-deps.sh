#!/usr/bin/env bash
# Installs, from Debian's packages, whatever this machine lacks for one kind
# of build. Does nothing when everything is already there.
#
#   scripts/install-deps.sh [KIND]
#
#   launcher  the launcher alone (-DVELMOT_BUILD_DEVBRIDGE=OFF, no tests)
#   demo      the launcher and the development bridge
#   test      the default build with its tests and benchmarks (scripts/test.sh)
#   package   the two Debian packages (cpack -G DEB)
#   all       everything: test, plus clang, the sanitizer and fuzzing
#             run-times and valgrind for .ci/run and scripts/bench.sh (the
#             default)
set -euo pipefail

launcher=(cmake ninja-build g++)
demo=("${launcher[@]}" libboost-json1.81-dev)
test=("${demo[@]}" libgtest-dev libgmock-dev libbenchmark-dev)
case "${1:-all}" in
    launcher) packages=("${launcher[@]}") ;;
    demo) packages=("${demo[@]}") ;;
    test) packages=("${test[@]}") ;;
    package) packages=("${demo[@]}" dpkg-dev file) ;;
    all) packages=("${test[@]}" clang clang-format libclang-rt-14-dev valgrind) ;;
    *)
        echo "usage: $0 [launcher|demo|test|package|all]" >&2
        exit 2
        ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "installing: ${missing[*]}" >&2
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
