#!/usr/bin/env bash
# Runs the example server and, against it, the example client.
#   examples/run.sh [build dir]
set -euo pipefail
build=${1:-build}
export KORA_RUNTIME_DIR=${KORA_RUNTIME_DIR:-$(mktemp -d)}
export KORA_TRACE_LEVEL=${KORA_TRACE_LEVEL:-1}
"$build/examples/example_server" 20 &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
sleep 0.3
"$build/examples/example_client"
sleep 0.3   # let the server print the log entry
