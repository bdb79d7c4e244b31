#!/bin/sh
# CPU of the whole program in a real X server (Xvfb 1920x1080 with openbox), the graph screen at
# 120 samples per second from the simulated sensor, at several window sizes. Prints one line per
# size: the share of one core it took over SECONDS (user + system time, from /proc), which a
# shared machine disturbs less than wall-clock figures.
#   bench/window_cpu.sh BUILD_DIR [SECONDS]
set -eu
binary=${1:-build/release}/src/wobblestar
seconds=${2:-20}
. "$(dirname "$0")/xserver.sh"

ticks=$(getconf CLK_TCK)
cpu() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

for size in "320 480" "640 960" "1900 1040"; do
    WOBBLESTAR_CONFIG_DIR=$config QT_QPA_PLATFORM=xcb "$binary" --source sim:8 >/dev/null 2>&1 &
    app=$!
    window=$(xdotool search --sync --onlyvisible --pid "$app" --name '^Wobblestar' | tail -1)
    # shellcheck disable=SC2086
    xdotool windowsize --sync "$window" $size
    sleep 3
    before=$(cpu "$app")
    sleep "$seconds"
    after=$(cpu "$app")
    echo "$size" | awk -v used=$((after - before)) -v hz="$ticks" -v s="$seconds" \
        '{ printf "window %4d x %4d: %5.1f %% of a core\n", $1, $2, 100 * used / hz / s }'
    kill "$app"
    wait "$app" 2>/dev/null || true
done
