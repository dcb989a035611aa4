#!/usr/bin/env bash
# Cold start of the app on a 1,000-item store to its first painted frame, under an Xvfb display of its own, with a
# plain Qt window beside it for scale. VELLORA_QUIT_AFTER_FIRST_PAINT makes the app end right after that frame
# and report its resident memory then (VmRSS).
set -euo pipefail
build=${1:-build-bench}
build=$(cd "$build" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
vellora="$build/Vellora/vellora"
baseline="$build/bench/plain_window"
work=$(mktemp -d)
xvfb=""
cleanup() {
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

"$here/make-store.py" "$work/store.json"

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.05; done

mkdir -m 700 "$work/run"
export DISPLAY=$display QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
    XDG_RUNTIME_DIR="$work/run" VELLORA_QUIT_AFTER_FIRST_PAINT=1
unset DBUS_SESSION_BUS_ADDRESS

echo "Memory after the first frame (five starts):"
for _ in 1 2 3 4 5; do "$vellora" --store "$work/store.json" 2>&1 | grep 'first frame'; done

hyperfine -N --warmup 3 --runs 40 --export-markdown "$work/result.md" \
    -n "vellora, 1,000 items, to the first frame" "$vellora --store $work/store.json" \
    -n "a plain Qt window, to the first frame" "$baseline"
cat "$work/result.md"
# Taken in turns as well: the machine's changing load falls on both alike (the goal is a ratio of the two).
echo "Taken in turns, 60 runs each:"
"$here/interleaved.py" 60 "vellora=$vellora --store $work/store.json" "plain window=$baseline"
