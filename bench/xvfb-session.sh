# Sourced by the window benchmarks: the build's paths, a 1,000-item store in a temporary folder, and an Xvfb display
# of its own with private settings, data and runtime folders; both go when the script ends. BUILD is the first
# argument of the script (build-bench by default).
build=$(cd "${1:-build-bench}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
vellora="$build/Vellora/vellora"
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
    XDG_RUNTIME_DIR="$work/run"
unset DBUS_SESSION_BUS_ADDRESS
