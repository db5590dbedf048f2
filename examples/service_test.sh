#!/usr/bin/env bash
# Runs the example service against the example server and restarts the
# server under it: the watch reports the first sync and the service's own
# change, its log entry reaches the server, and after the restart the watch
# follows the restarted server's state without any help.
#   examples/service_test.sh DIR     (DIR holds example_server and example_service)
set -euo pipefail
bin=$1
work=$(mktemp -d)
export KORA_RUNTIME_DIR=$work KORA_TRACE_LEVEL=1
server="" service=""
cleanup() {
    for pid in $service $server; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# Waits (at most 10 s) until FILE holds a line with TEXT.
await() {
    for _ in $(seq 200); do grep -qF -- "$2" "$1" && return 0; sleep 0.05; done
    echo "FAIL: no \"$2\" in $1:" >&2
    cat "$1" >&2
    exit 1
}

"$bin/example_server" >"$work/server.1" 2>&1 &
server=$!
await "$work/server.1" "serving on"
"$bin/example_service" >"$work/service" 2>&1 &
service=$!
await "$work/service" "SSH absent -> on"
await "$work/service" "SSH on -> off"
await "$work/service" "switching SSH off: done"
await "$work/server.1" "log EXAMPLE level 2 from example-service: SSH switched off"

kill -TERM "$server"
wait "$server"
"$bin/example_server" >"$work/server.2" 2>&1 &
server=$!
await "$work/service" "SSH off -> on"  # the restarted server's state
kill -TERM "$service"
wait "$service"
service=""
[ "$(grep -c switching "$work/service")" = 1 ] || { echo "FAIL: more than one change" >&2; exit 1; }
echo "example service: followed SSH across a server restart"
