#!/usr/bin/env bash
# Cold start of the app on a 1,000-item store to its first painted frame, under an Xvfb display of its own, with a
# plain Qt window beside it for scale. VELLORA_QUIT_AFTER_FIRST_PAINT makes the app end right after that frame and
# report its resident memory then (VmRSS); only a build with VELLORA_BUILD_BENCH=ON (`make bench`) carries that
# probe.
set -euo pipefail
source "$(dirname "$0")/xvfb-session.sh"
baseline="$build/bench/plain_window"
export VELLORA_QUIT_AFTER_FIRST_PAINT=1

echo "Memory after the first frame (five starts):"
for _ in 1 2 3 4 5; do "$vellora" --store "$work/store.json" 2>&1 | grep 'first frame'; done

hyperfine -N --warmup 3 --runs 40 --export-markdown "$work/result.md" \
    -n "vellora, 1,000 items, to the first frame" "$vellora --store $work/store.json" \
    -n "a plain Qt window, to the first frame" "$baseline"
cat "$work/result.md"
# Taken in turns as well: the machine's changing load falls on both alike (the goal is a ratio of the two).
echo "Taken in turns, 60 runs each:"
"$here/interleaved.py" 60 "vellora=$vellora --store $work/store.json" "plain window=$baseline"
