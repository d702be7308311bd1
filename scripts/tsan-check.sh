#!/usr/bin/env bash
# The development bridge under ThreadSanitizer: builds it with clang and
# -fsanitize=thread in build-tsan/, then sends it requests with invalid
# plug-in ids all at once, so that its worker threads check ids (and record
# why one is refused) side by side. Any report stops the bridge and fails the
# run. The build takes a minute or two, the requests a few seconds.
#
#   scripts/tsan-check.sh [CLIENTS] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-tsan
clients=${1:-16}
rounds=${2:-8}

scripts/install-deps.sh checks
# Sanitizer run-times cannot be linked statically; only the bridge is needed.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_C_FLAGS=-fsanitize=thread -DCMAKE_CXX_FLAGS=-fsanitize=thread \
    -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DVELMOT_LINK_MODE=dynamic \
    -DVELMOT_BUILD_TESTS=OFF -DVELMOT_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target velmot_devbridge

# One burst, run inside the bridge's `-- COMMAND`, so the two variables are
# set: CLIENTS connections each send a request with an invalid plug-in id but
# its last byte, wait until all have, and then send it together, so that the
# bridge hands the requests to its workers back to back. A bridge's first
# refusal is where its workers would race on a shared failure record, hence a
# fresh bridge for every burst.
burst() {
    local endpoint=${VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT#http://127.0.0.1:}
    local port=${endpoint%%/*} path=/${endpoint#*/}
    local ids=('Notes' 'my notes' '' 'plugin-cli-client' "$(printf 'a%.0s' {1..129})" '-x')
    local dir c status=0
    dir=$(mktemp -d)
    mkfifo "$dir/ready" "$dir/go"
    # Opened for reading and writing, neither open blocks, and each stays open.
    exec 4<>"$dir/ready" 5<>"$dir/go"
    for ((c = 0; c < $1; ++c)); do
        (
            body='{"protocol_version":1,"kind":"plugin_cli_invoke","plugin_id":"'"${ids[c % ${#ids[@]}]}"'","argv":[]}'
            exec 3<>"/dev/tcp/127.0.0.1/$port"
            printf 'POST %s HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nContent-Type: application/json\r\nX-Velmot-Plugin-Cli-Token: %s\r\nContent-Length: %s\r\nConnection: close\r\n\r\n%s' \
                "$path" "$port" "$VELMOT_INTERNAL_PLUGIN_CLI_TOKEN" "${#body}" "${body%?}" >&3
            echo >&4
            read -r -u 5 _
            printf '}' >&3
            head -n 1 <&3 | grep -q '^HTTP/1.1 400 ' || { echo "tsan-check: a bad id was not refused" >&2; exit 1; }
        ) &
    done
    for ((c = 0; c < $1; ++c)); do read -r -u 4 _; done
    for ((c = 0; c < $1; ++c)); do echo >&5; done
    for job in $(jobs -p); do wait "$job" || status=1; done
    rm -rf "$dir"
    return $status
}
export -f burst

echo "tsan-check: $rounds bridges, each sent $clients invalid plug-in ids at once" >&2
for ((round = 0; round < rounds; ++round)); do
    TSAN_OPTIONS=halt_on_error=1:exitcode=66 \
        "$build/velmot_devbridge" --commands examples/commands --log /dev/null -- \
        bash -c "burst $clients"
done
echo "tsan-check: no reports" >&2
