#!/usr/bin/env bash
# Installs, from Debian's packages, whatever this machine lacks to build and
# test the launcher. Does nothing when everything is already there.
set -euo pipefail

packages=(
    cmake ninja-build pkg-config g++ clang clang-format
    libgtest-dev libgmock-dev libbenchmark-dev
    libboost-json1.81-dev libcpp-httplib-dev
    libclang-rt-14-dev valgrind
)

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
