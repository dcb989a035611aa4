#!/usr/bin/env bash
# How long the app lives on after its window is closed as a window manager closes it (WM_DELETE_WINDOW), with a
# 1,000-item store, under an Xvfb display of its own: from the close request to the end of the process, ten runs.
set -euo pipefail
source "$(dirname "$0")/xvfb-session.sh"

# Sends the close request and prints the time it left, so that the start of Python is not counted.
close_window() {
    python3 - "$1" <<'PY'
import ctypes, sys, time
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]
class Event(ctypes.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]
display, window, event = x.XOpenDisplay(None), int(sys.argv[1]), Event()
event.xclient.type = 33  # ClientMessage
event.xclient.window = window
event.xclient.message_type = x.XInternAtom(display, b"WM_PROTOCOLS", 0)
event.xclient.format = 32
event.xclient.data[0] = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
x.XSendEvent(display, window, 0, 0, ctypes.byref(event))
x.XFlush(display)
print("%.6f" % time.time())
PY
}

for run in $(seq 1 10); do
    "$vellora" --store "$work/store.json" 2>/dev/null &
    app=$!
    window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Vellora$' | head -1)
    sleep 1 # the launch finishes (tray, shortcut, updater) once the first frame is up
    sent=$(close_window "$window")
    wait "$app"
    printf 'run %2d: %4.0f ms\n' "$run" "$(echo "($(date +%s.%N) - $sent) * 1000" | bc)"
done
