#!/bin/sh
# Following the running source live at 120 readings per second, last minute, in a real X server
# (Xvfb 1920x1080 with openbox):
#  1. bench_analysis --live: the plot alone, QCustomPlot and Qt Charts doing the same scrolling
#     view, and the recordings window on its live entry, each in a 1920 x 1080 window;
#  2. the whole program: the main window on its graph screen and the recordings window,
#     maximised, on its live entry (opened with Ctrl+O after the source ran a while); the share
#     of one core it took over SECONDS (user + system time, from /proc).
#   bench/live_cpu.sh BUILD_DIR [SECONDS]
set -eu
build=${1:-build/release}
seconds=${2:-20}
. "$(dirname "$0")/xserver.sh"

QT_QPA_PLATFORM=xcb "$build/bench/bench_analysis" --live "$seconds" 2>/dev/null

ticks=$(getconf CLK_TCK)
cpu() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
measure() {
    before=$(cpu "$app")
    sleep "$seconds"
    after=$(cpu "$app")
    awk -v used=$((after - before)) -v hz="$ticks" -v s="$seconds" -v what="$1" \
        'BEGIN { printf "%s: %.1f %% of a core\n", what, 100 * used / hz / s }'
}

XDG_DATA_HOME=$config WOBBLESTAR_CONFIG_DIR=$config QT_QPA_PLATFORM=xcb \
    "$build/src/wobblestar" --source sim:8 >/dev/null 2>&1 &
app=$!
window=$(xdotool search --sync --onlyvisible --pid "$app" --name '^Wobblestar' | tail -1)
sleep 3
measure "whole program, graph screen only"
xdotool windowactivate --sync "$window" key ctrl+o
recordings=$(xdotool search --sync --onlyvisible --pid "$app" --name '^Recordings' | tail -1)
xdotool windowmove --sync "$recordings" 0 0 windowsize --sync "$recordings" 1920 1080
sleep 3
measure "whole program, graph screen and the recordings window maximised on Live"
xdotool windowminimize --sync "$window"
sleep 3
measure "the same with the main window minimised"
if [ -n "${LIVE_CPU_SHOT:-}" ]; then
    import -window root "$LIVE_CPU_SHOT"
fi
