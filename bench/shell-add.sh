#!/usr/bin/env bash
# `vellora add` on a 1k-item store through the file under its lock, and through a running app that has the store
# open (the app's channel, served by bench/InstanceServer.cpp).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build-bench}
build=$(cd "$build" && pwd)
vellora="$build/Vellora/vellora"
server="$build/bench/instance_server"
work=$(mktemp -d)
server_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work"

file_store="$work/file.json"
app_store="$work/app.json"
"$here/make-store.py" "$file_store"
"$here/make-store.py" "$app_store"

"$server" "$app_store" > "$work/server.out" &
server_pid=$!
for _ in $(seq 1 100); do grep -q ready "$work/server.out" 2>/dev/null && break; sleep 0.05; done
grep -q ready "$work/server.out"

hyperfine --warmup 3 --runs 50 --export-markdown "$work/result.md" \
    -n "vellora add, through the file" "$vellora add 'Bench task' --store $file_store" \
    -n "vellora add, through the running app" "$vellora add 'Bench task' --store $app_store"
cat "$work/result.md"
