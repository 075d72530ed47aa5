#!/bin/sh
# Runs a test program on a private X server with a window manager, as a desktop user has it:
#   under-xvfb.sh PROGRAM [ARGS...]
# Without Xvfb or openbox the program runs on the offscreen platform, where the tests that need
# a window system skip themselves and say why.
set -u
if ! command -v xvfb-run >/dev/null 2>&1 || ! command -v openbox >/dev/null 2>&1; then
    echo "under-xvfb.sh: xvfb-run or openbox is missing; running offscreen" >&2
    QT_QPA_PLATFORM=offscreen exec "$@"
fi
# The inner shell starts the window manager, waits until it has taken the screen, then runs the
# program; the window manager goes when the program ends.
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" sh -c '
    openbox --sm-disable >/dev/null 2>&1 &
    wm=$!
    tries=0
    until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; do
        tries=$((tries + 1))
        [ "$tries" -gt 100 ] && break
        sleep 0.1
    done
    QT_QPA_PLATFORM=xcb "$@"
    status=$?
    kill "$wm" 2>/dev/null
    wait "$wm" 2>/dev/null
    exit "$status"
' under-xvfb "$@"
