#!/usr/bin/env bash
# A short session with the data server: starts tesseld on a fresh state
# directory, shows tesselctl against it, then stops the server.
#   tools/demo.sh [build dir]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
tesseld=$build/tools/tesseld/tesseld
tesselctl=$build/tools/tesselctl/tesselctl
work=$(mktemp -d)
export KORA_RUNTIME_DIR=$work/run
mkdir -p "$KORA_RUNTIME_DIR"
server=""
cleanup() {
    if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

show() { printf '\n\033[1m$ %s\033[0m\n' "$*"; }
ctl() {
    show "tesselctl $*"
    "$tesselctl" "$@"
}

show "tesseld --state-dir $work/state &"
"$tesseld" --state-dir "$work/state" >"$work/tesseld.log" 2>&1 &
server=$!
"$tesselctl" --wait 10 ls / >/dev/null # returns once the server answers
cat "$work/tesseld.log"

ssh=/Config/System/DeviceManagement/SSH/SSHConfig
ctl ls /
ctl get $ssh

show "tesselctl watch ${ssh%/*}/ --count 1 &"
"$tesselctl" watch "${ssh%/*}/" --count 1 --timeout 10 2>"$work/watch.err" &
watcher=$!
for _ in $(seq 100); do grep -q watching "$work/watch.err" && break; sleep 0.05; done
ctl edit $ssh Enabled=true
wait $watcher

show "printf 'Operator-pw-1\\n' | tesselctl user add operator --level 2"
printf 'Operator-pw-1\n' | "$tesselctl" user add operator --level 2
show "printf 'Operator-pw-1\\n' | tesselctl auth operator"
printf 'Operator-pw-1\n' | "$tesselctl" auth operator
show "printf 'wrong\\n' | tesselctl auth operator    # exit code 1"
printf 'wrong\n' | "$tesselctl" auth operator || echo "(exit code $?)"

ctl config export "$work/config.json"
show "ls -l config.json; head -n 12 config.json"
ls -l "$work/config.json"
head -n 12 "$work/config.json"

ctl log write demo "hello from the demo" --level WARNING
ctl log read --count 6

show "kill -TERM tesseld"
kill -TERM "$server"
wait "$server"
server=""
tail -n 1 "$work/tesseld.log"
