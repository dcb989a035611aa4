#!/usr/bin/env bash
# `vellora add` as a whole process on a 1k-item store, beside a command-line task tool's `task add` on a
# 1k-task database.
set -euo pipefail
build=${1:-build-bench}
vellora="$(cd "$build" && pwd)/Vellora/vellora"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work"

store="$work/vellora.json"
for i in $(seq 1 1000); do echo "{\"description\":\"Task number $i with a few words\",\"status\":\"pending\"}"; done \
    > "$work/tasks.json"
python3 - "$store" <<'PY'
import json, sys, uuid
items = {}
for i in range(1000):
    id = str(uuid.uuid4()).upper()
    items[id] = {"id": id, "title": f"Task number {i} with a few words", "done": False,
                 "bucket": "135"[i % 3], "day": "open", "modifiedAt": "2025-03-05T08:01:02Z"}
json.dump({"items": items}, open(sys.argv[1], "w"), indent=4, sort_keys=True)
PY

export TASKRC="$work/taskrc"
printf 'data.location=%s/task\nconfirmation=off\nverbose=nothing\nhooks=off\n' "$work" > "$TASKRC"
mkdir -p "$work/task"
task import "$work/tasks.json" >/dev/null 2>&1

hyperfine --warmup 3 --runs 50 --export-markdown "$work/result.md" \
    -n "vellora add" "$vellora add 'Bench task' --store $store" \
    -n "task add" "task add 'Bench task'"
cat "$work/result.md"
