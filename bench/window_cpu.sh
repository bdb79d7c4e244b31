#!/bin/sh
# CPU of the whole program in a real X server (Xvfb 1920x1080 with openbox), the graph screen at
# 120 samples per second from the simulated sensor, at three window sizes, one after another.
# A round prints the share of one core each size took over SECONDS (user + system time, from
# /proc); from one run to the next these swing by a fifth even on an idle machine, so the sizes
# take turns for ROUNDS rounds and the end gives the medians, and the median of the rounds'
# ratios of the maximised window to the 1x one.
#   bench/window_cpu.sh BUILD_DIR [SECONDS] [ROUNDS] [SOURCE]
# SOURCE is sim:8 (a lively trace) unless given; `sim` is the calm one, a phone lying still.
set -eu
binary=${1:-build/release}/src/wobblestar
seconds=${2:-20}
rounds=${3:-5}
source=${4:-sim:8}
. "$(dirname "$0")/xserver.sh"

ticks=$(getconf CLK_TCK)
cpu() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
sizes="320x480 640x960 1900x1040"
results=$config/results
: >"$results"

round=1
while [ "$round" -le "$rounds" ]; do
    line="round $round:"
    for size in $sizes; do
        WOBBLESTAR_CONFIG_DIR=$config QT_QPA_PLATFORM=xcb "$binary" --source "$source" >/dev/null 2>&1 &
        app=$!
        window=$(xdotool search --sync --onlyvisible --pid "$app" --name '^Wobblestar' | tail -1)
        xdotool windowsize --sync "$window" "${size%x*}" "${size#*x}"
        sleep 3
        before=$(cpu "$app")
        sleep "$seconds"
        used=$(($(cpu "$app") - before))
        line="$line $(awk -v u="$used" -v hz="$ticks" -v s="$seconds" \
            'BEGIN { printf "%.1f", 100 * u / hz / s }')"
        kill "$app"
        wait "$app" 2>/dev/null || true
    done
    echo "$line" | tee -a "$results"
    round=$((round + 1))
done

# Medians of each column, and of each round's ratio of the maximised window to the 1x one.
awk -v sizes="$sizes" '
    { for (i = 3; i <= 5; ++i) v[i - 2, NR] = $i; r[NR] = $5 / $3 }
    function median(col, n,   a, i, j, t) {
        for (i = 1; i <= n; ++i) a[i] = (col ? v[col, i] : r[i])
        for (i = 1; i <= n; ++i) for (j = i + 1; j <= n; ++j) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
        return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
    }
    END {
        split(sizes, s, " ")
        for (c = 1; c <= 3; ++c) printf "window %9s: %5.1f %% of a core (median of %d)\n", s[c], median(c, NR), NR
        printf "maximised against 1x: %.2fx (median of the rounds'"'"' ratios)\n", median(0, NR)
    }' "$results"
