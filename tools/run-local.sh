#!/bin/sh
# Starts the relay server in the background and one drawing client in the
# foreground on this machine. Refuses to pretend when a program is not built.
set -eu
bin="$1"
absent=""
for prog in sketoraServer sketora; do
    [ -x "$bin/$prog" ] || absent="$absent $prog"
done
if [ -n "$absent" ]; then
    echo "Not built yet:$absent (looked in $bin)" >&2
    exit 1
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: the server runs headless, the client in a virtual X display (xvfb-run)."
    QT_QPA_PLATFORM=offscreen "$bin/sketoraServer" &
    server=$!
    trap 'kill $server 2>/dev/null || true' EXIT INT TERM
    xvfb-run -a -s "-screen 0 1280x1024x24" "$bin/sketora"
else
    "$bin/sketoraServer" &
    server=$!
    trap 'kill $server 2>/dev/null || true' EXIT INT TERM
    "$bin/sketora"
fi
