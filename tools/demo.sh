#!/usr/bin/env bash
# A short session with the data server: starts tesseld on a fresh state
# directory, shows tesselctl against it, stops the server, and ends with a
# summary of what it did and what succeeded.
#   tools/demo.sh [build dir]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
tesseld=$build/tools/tesseld/tesseld
tesselctl=$build/tools/tesselctl/tesselctl
work=$(mktemp -d)
export KORA_RUNTIME_DIR=$work/run
mkdir -p "$KORA_RUNTIME_DIR"
server=""
current=""
passed=()

# Each step is announced with `step`; it counts as done when the next one
# begins (or the session ends) without an error.
step() {
    if [ -n "$current" ]; then passed+=("$current"); fi
    current=$1
    printf '\n\033[1m== %s\033[0m\n' "$1"
}
finish() {
    local rc=$?
    if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; fi
    if [ "$rc" = 0 ] && [ -n "$current" ]; then passed+=("$current") && current=""; fi
    printf '\n\033[1mWhat the demo did\033[0m\n'
    for s in "${passed[@]}"; do printf '  ok      %s\n' "$s"; done
    if [ "$rc" = 0 ]; then
        echo "Every step succeeded."
    else
        printf '  FAILED  %s\n' "$current"
        echo "The demo failed (exit code $rc); tesseld's output: $work/tesseld.log"
        return
    fi
    rm -rf "$work"
}
trap finish EXIT

show() { printf '\033[1m$ %s\033[0m\n' "$*"; }
ctl() {
    show "tesselctl $*"
    "$tesselctl" "$@"
}

step "start tesseld on a fresh state directory (factory configuration, user admin)"
show "tesseld --state-dir $work/state &"
"$tesseld" --state-dir "$work/state" >"$work/tesseld.log" 2>&1 &
server=$!
"$tesselctl" --wait 10 ls / >/dev/null # returns once the server answers
cat "$work/tesseld.log"

ssh=/Config/System/DeviceManagement/SSH/SSHConfig
step "list the tree and read the SSH configuration"
ctl ls /
ctl get $ssh

step "switch SSH on while 'tesselctl watch' shows the change arrive"
show "tesselctl watch ${ssh%/*}/ --count 1 &"
"$tesselctl" watch "${ssh%/*}/" --count 1 --timeout 10 >"$work/watch.out" 2>"$work/watch.err" &
watcher=$!
for _ in $(seq 100); do grep -q watching "$work/watch.err" && break; sleep 0.05; done
ctl edit $ssh Enabled=true
wait $watcher
cat "$work/watch.out"
grep -q SSHConfig "$work/watch.out"

step "add the user operator, authenticate it, and see a wrong password refused"
show "printf 'Operator-pw-1\\n' | tesselctl user add operator --level 2"
printf 'Operator-pw-1\n' | "$tesselctl" user add operator --level 2
show "printf 'Operator-pw-1\\n' | tesselctl auth operator"
printf 'Operator-pw-1\n' | "$tesselctl" auth operator
show "printf 'wrong\\n' | tesselctl auth operator    # refused: exit code 1"
if printf 'wrong\n' | "$tesselctl" auth operator; then false; else echo "(exit code $?)"; fi

step "export the configuration to a file"
ctl config export "$work/config.json"
show "ls -l config.json; head -n 12 config.json"
ls -l "$work/config.json"
head -n 12 "$work/config.json"

step "write an entry into the log book and read it back"
ctl log write demo "hello from the demo" --level WARNING
ctl log read --count 6 | tee "$work/log.out"
grep -q "hello from the demo" "$work/log.out"

step "stop tesseld with SIGTERM"
show "kill -TERM tesseld"
kill -TERM "$server"
wait "$server"
server=""
tail -n 1 "$work/tesseld.log"
