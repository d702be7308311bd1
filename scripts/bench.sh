#!/usr/bin/env bash
# The process benchmark: the launcher against the bare and the floor static
# clients, all served by the canned bridge on 127.0.0.1, every scenario with
# output to the null device and then to drained pipes. Builds a Release tree in
# build-bench/ first. Prints one table; see docs/benchmarks.md.
#
#   scripts/bench.sh [dynamic|static-runtime|static]
#
# The optional argument sets the launcher's link mode (VELMOT_LINK_MODE) for
# build-bench/; without it the tree keeps the mode it was configured with.
# BENCH_SCALE=N divides every run count by N for a quick look.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-bench
link_mode=()
if [ $# -gt 0 ]; then
    link_mode=(-DVELMOT_LINK_MODE="$1")
fi
scale=${BENCH_SCALE:-1}

scripts/install-deps.sh checks
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMOT_BUILD_TESTS=OFF \
    "${link_mode[@]}" >/dev/null
cmake --build "$build" --target process_bench >/dev/null

bin=$build/bench
launcher=$build/velmot-plugin-cli-client
data=$(mktemp -d)
bridge_pid=
cleanup() {
    if [ -n "$bridge_pid" ]; then kill "$bridge_pid" 2>/dev/null || true; fi
    rm -rf "$data"
}
trap cleanup EXIT

"$bin/make_responses" "$data"

echo "launcher: $launcher ($(grep -E '^VELMOT_LINK_MODE:' "$build/CMakeCache.txt" | cut -d= -f2) link)"
"$bin/run_driver" --header
# scenario and run count; fewer runs where each run moves megabytes.
for entry in small:200 lines:40 big:20 mixed:100; do
    scenario=${entry%%:*}
    runs=$(( ${entry##*:} / scale ))
    [ "$runs" -gt 0 ] || runs=1
    # The bridge prints its port and closes its standard output.
    exec {port_fd}< <(exec "$bin/canned_bridge" "$data/$scenario.http")
    bridge_pid=$!
    read -r -u "$port_fd" port
    exec {port_fd}<&-
    for sink in null pipe; do
        "$bin/run_driver" --scenario "$scenario" --response "$data/$scenario.http" \
            --port "$port" --launcher "$launcher" --bare "$bin/bare_client" \
            --floor "$bin/floor_client" --runs "$runs" --sink "$sink"
    done
    kill "$bridge_pid"
    wait "$bridge_pid" 2>/dev/null || true
    bridge_pid=
done

# Instruction counts, which the noise of a shared machine does not move:
# one run of each client under callgrind, user space only. For `lines`, what
# the launcher spends per frame beyond the floor client.
if command -v valgrind >/dev/null; then
    echo
    echo "instructions (callgrind, one run, user space):"
    # The launcher takes its invocation name from the file it was started as.
    ln -s "$(realpath "$launcher")" "$data/velmot-notes"
    printf '%-8s %12s %12s %12s %8s %8s\n' scenario launcher bare floor x_bare x_floor
    for scenario in small lines big; do
        exec {port_fd}< <(exec "$bin/canned_bridge" "$data/$scenario.http")
        bridge_pid=$!
        read -r -u "$port_fd" port
        exec {port_fd}<&-
        count() {
            env -i VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT="http://127.0.0.1:$port/plugin-cli" \
                VELMOT_INTERNAL_PLUGIN_CLI_TOKEN=bench-token \
                valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" \
                </dev/null 2>&1 >/dev/null |
                sed -n 's/^==[0-9]*== Collected : *\([0-9]*\).*/\1/p'
        }
        l=$(count "$data/velmot-notes" list --all)
        b=$(count "$bin/bare_client")
        f=$(count "$bin/floor_client")
        printf '%-8s %12s %12s %12s %8s %8s\n' "$scenario" "$l" "$b" "$f" \
            "$(awk -v l="$l" -v b="$b" 'BEGIN { printf "%.2f", l / b }')" \
            "$(awk -v l="$l" -v f="$f" 'BEGIN { printf "%.2f", l / f }')"
        if [ "$scenario" = lines ]; then
            lines_beyond_floor=$(awk -v l="$l" -v f="$f" 'BEGIN { printf "%.0f", (l - f) / 20000 }')
        fi
        kill "$bridge_pid"
        wait "$bridge_pid" 2>/dev/null || true
        bridge_pid=
    done
    echo "lines: launcher instructions per frame beyond the floor: $lines_beyond_floor"
fi
