#!/usr/bin/env bash
# The 10,000-change sync through the server (bench_cloud --bulk-only: sent in 25 requests of 400, fetched by a
# second device), first as the machine is, then with BUSY_LOOPS busy loops beside it (choose them so that the load
# average stays between 3 and 7; none skips that part). Prints each run's end-to-end time with the load average at
# its start, then the medians.
#   bench/sync-at-load.sh [BUILD] [RUNS] [BUSY_LOOPS]
set -euo pipefail
build=${1:-build-bench}
runs=${2:-5}
loops=${3:-3}
program="$build/bench/bench_cloud"
results=$(mktemp)
busy=()
trap 'for pid in "${busy[@]}"; do kill "$pid" 2>/dev/null || true; done; rm -f "$results"' EXIT

load() { cut -d' ' -f1 /proc/loadavg; }

# One line per run: the setting, the load average, the milliseconds end to end.
measure() {
    for _ in $(seq "$runs"); do
        local before total
        before=$(load)
        total=$("$program" --bulk-only | awk '/sent and fetched, end to end/ { print $(NF-1) }')
        echo "$1 $before $total" | tee -a "$results"
    done
}

measure no-busy-loops
if [ "$loops" -gt 0 ]; then
    for _ in $(seq "$loops"); do
        (while :; do :; done) >/dev/null 2>&1 &
        busy+=($!)
    done
    sleep 60 # the one-minute load average catches up
    measure "$loops-busy-loops"
fi
python3 -c '
import statistics, sys
runs = {}
for line in open(sys.argv[1]):
    setting, load, ms = line.split()
    runs.setdefault(setting, []).append((float(load), float(ms)))
for setting, values in runs.items():
    loads = [load for load, _ in values]
    print("%s: median %.0f ms end to end (%d runs, load average %.1f to %.1f)"
          % (setting, statistics.median(ms for _, ms in values), len(values), min(loads), max(loads)))
' "$results"
