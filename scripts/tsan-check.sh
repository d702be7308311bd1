#!/usr/bin/env bash
# The development bridge under ThreadSanitizer: builds it with clang and
# -fsanitize=thread in build-tsan/, then sends it many requests with invalid
# plug-in ids at once, so that its worker threads check ids (and record why
# one is refused) side by side. Any report stops the bridge and fails the run.
# Takes about a minute for the build and a few seconds for the requests.
#
#   scripts/tsan-check.sh [CLIENTS] [REQUESTS_PER_CLIENT]
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-tsan
clients=${1:-16}
requests=${2:-20}

scripts/install-deps.sh all
# Sanitizer run-times cannot be linked statically; only the bridge is needed.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_C_FLAGS=-fsanitize=thread -DCMAKE_CXX_FLAGS=-fsanitize=thread \
    -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DVELMOT_LINK_MODE=dynamic \
    -DVELMOT_BUILD_TESTS=OFF -DVELMOT_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target velmot_devbridge

# One client: REQUESTS requests over fresh connections, each with a plug-in id
# that breaks a different rule, each reply read to its end. Runs inside the
# bridge's `-- COMMAND`, so the two variables are set.
client() {
    local endpoint=${VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT#http://127.0.0.1:}
    local port=${endpoint%%/*} path=/${endpoint#*/}
    local ids=('Notes' 'my notes' '' 'plugin-cli-client' "$(printf 'a%.0s' {1..129})" '-x')
    local i body
    for ((i = 0; i < $1; ++i)); do
        body='{"protocol_version":1,"kind":"plugin_cli_invoke","plugin_id":"'"${ids[i % ${#ids[@]}]}"'","argv":[]}'
        exec 3<>"/dev/tcp/127.0.0.1/$port"
        printf 'POST %s HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nContent-Type: application/json\r\nX-Velmot-Plugin-Cli-Token: %s\r\nContent-Length: %s\r\nConnection: close\r\n\r\n%s' \
            "$path" "$port" "$VELMOT_INTERNAL_PLUGIN_CLI_TOKEN" "${#body}" "$body" >&3
        head -n 1 <&3 | grep -q '^HTTP/1.1 400 ' || { echo "tsan-check: a bad id was not refused" >&2; return 1; }
        exec 3<&-
    done
}
export -f client

echo "tsan-check: $clients clients, $requests requests each, all with invalid plug-in ids" >&2
TSAN_OPTIONS=halt_on_error=1:exitcode=66:second_deadlock_stack=1 \
    "$build/velmot_devbridge" --commands examples/commands --log /dev/null -- \
    bash -c 'for ((c = 0; c < '"$clients"'; ++c)); do client '"$requests"' & done
             status=0; for job in $(jobs -p); do wait "$job" || status=1; done; exit $status'
echo "tsan-check: no reports" >&2
