#!/usr/bin/env bash
# Runs a program with trayer as the desktop's system tray, on the X display already given (xvfb-run).
set -u
trayer --edge top --align right --widthtype request --height 24 --transparent false >/dev/null 2>&1 &
tray=$!
trap 'kill $tray 2>/dev/null; wait $tray 2>/dev/null' EXIT
"$@"
