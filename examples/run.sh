#!/usr/bin/env bash
# Runs the example server and, against it, the example client.
#   examples/run.sh [build dir]   (the project's, or one of examples/ alone)
set -euo pipefail
bin=${1:-build}
[ -x "$bin/examples/example_server" ] && bin=$bin/examples
export KORA_RUNTIME_DIR=${KORA_RUNTIME_DIR:-$(mktemp -d)}
export KORA_TRACE_LEVEL=${KORA_TRACE_LEVEL:-1}
"$bin/example_server" 20 &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
sleep 0.3
"$bin/example_client"
sleep 0.3   # let the server print the log entry
