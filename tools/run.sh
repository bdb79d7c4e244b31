#!/bin/sh
# Starts Wobblestar, or explains how when there is no display to show it on.
set -eu
binary=$1; shift
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != "offscreen" ]; then
    echo "No display found (DISPLAY and WAYLAND_DISPLAY are unset): run it under a virtual display with 'xvfb-run -a make run', or from a desktop session."
    exit 1
fi
exec "$binary" "$@"
