#!/usr/bin/env bash
# `vellora add` as a whole process on a 1k-item store, beside a command-line task tool's `task add` on a
# 1k-task database. With a second build tree (an older build of the same program), its `vellora add` runs in the
# same turns too, on a copy of the same store.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build-bench}
baseline=${2:-}
vellora="$(cd "$build" && pwd)/Vellora/vellora"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work"

store="$work/vellora.json"
for i in $(seq 1 1000); do echo "{\"description\":\"Task number $i with a few words\",\"status\":\"pending\"}"; done \
    > "$work/tasks.json"
"$here/make-store.py" "$store"

export TASKRC="$work/taskrc"
printf 'data.location=%s/task\nconfirmation=off\nverbose=nothing\nhooks=off\n' "$work" > "$TASKRC"
mkdir -p "$work/task"
task import "$work/tasks.json" >/dev/null 2>&1

hyperfine --warmup 3 --runs 100 --export-markdown "$work/result.md" --export-json "$work/result.json" \
    -n "vellora add" "$vellora add 'Bench task' --store $store" \
    -n "task add" "task add 'Bench task'"
cat "$work/result.md"
python3 -c "import json, sys
for r in json.load(open(sys.argv[1]))['results']:
    print('median of %s: %.1f ms' % (r['command'], r['median'] * 1000))" "$work/result.json"
echo "Taken in turns, 200 runs each:"
if [ -n "$baseline" ]; then
    cp "$store" "$work/baseline.json"
    "$here/interleaved.py" 200 "vellora add, $baseline=$(cd "$baseline" && pwd)/Vellora/vellora add Bench --store $work/baseline.json" \
        "vellora add=$vellora add Bench --store $store" "task add=task add Bench"
else
    "$here/interleaved.py" 200 "vellora add=$vellora add Bench --store $store" "task add=task add Bench"
fi
