#!/usr/bin/env bash
# The launcher's system calls, one traced run of each benchmark scenario and
# of a few failing starts, written as normalized text so that two builds can
# be compared with diff. Replaced: addresses, ports, process ids, random
# bytes, the connect wait left and how the loopback happened to split the
# reply into receives.
#
#   scripts/trace-syscalls.sh BUILD_DIR OUT_DIR
#   diff -r OLD_OUT NEW_OUT
#
# BUILD_DIR must hold the process benchmark (`cmake --build DIR --target
# process_bench`). Needs strace.
set -euo pipefail
build=$1
out=$2
mkdir -p "$out"
bin=$build/bench
data=$(mktemp -d)
bridge_pid=
cleanup() {
    if [ -n "$bridge_pid" ]; then kill "$bridge_pid" 2>/dev/null || true; fi
    rm -rf "$data"
}
trap cleanup EXIT
"$bin/make_responses" "$data"
ln -s "$(realpath "$build/velmot-plugin-cli-client")" "$data/velmot-notes"

normalize() {
    sed -E -e 's/0x[0-9a-f]+/ADDR/g' -e 's/sin_port=htons\([0-9]+\)/sin_port=PORT/g' \
        -e 's/"[^"]*"\.\.\./STR.../g' -e 's/^[0-9]+ +//' -e 's/\[pid +[0-9]+\] //' \
        -e 's/sendmsg\(3, \{.*\}, /sendmsg(3, MSG, /' -e 's/st_[a-z_]+=[^,}]+/ST/g' \
        -e 's/(getpid|getppid)\(\) += [0-9]+/\1() = PID/' -e 's/getrandom\("[^"]*"/getrandom(BYTES/' \
        -e 's/ +=/ =/' -e 's/(poll\(.*\], 1, )[0-9]+\)/\1WAIT)/' \
        -e 's/^(recvfrom\(.*\)) = [0-9]+$/\1 = SOME/' | uniq
}
# Only what the launcher does: everything from its start-up's first call of
# its own on (the helper shell and env before it are not its calls).
trace() {
    local name=$1
    shift
    strace -f -qq -s 64 -o "$data/raw" "$@" >/dev/null 2>&1 </dev/null || true
    normalize <"$data/raw" | sed -n '/readlink("\/proc\/self\/exe"/,$p' | sed 1d >"$out/$name.trace"
}
launch() {
    local name=$1 port=$2
    shift 2
    trace "$name" env -i VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT="http://127.0.0.1:$port/plugin-cli" \
        VELMOT_INTERNAL_PLUGIN_CLI_TOKEN=bench-token "$@"
}

for scenario in small lines big mixed; do
    exec {port_fd}< <(exec "$bin/canned_bridge" "$data/$scenario.http")
    bridge_pid=$!
    read -r -u "$port_fd" port
    exec {port_fd}<&-
    launch "$scenario" "$port" "$data/velmot-notes" list --all
    if [ "$scenario" = small ]; then
        launch small-to-full-disk "$port" sh -c "exec '$data/velmot-notes' list >/dev/full"
        launch small-closed-output "$port" sh -c "exec '$data/velmot-notes' list >&- 2>&-"
    fi
    kill "$bridge_pid"
    wait "$bridge_pid" 2>/dev/null || true
    bridge_pid=
done
launch refused 1 "$data/velmot-notes" list
trace no-environment env -i "$data/velmot-notes" list
wc -l "$out"/*.trace
