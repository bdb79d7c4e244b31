#!/bin/sh
# Starts Wobblestar. Without a display it says so and runs the headless demonstration instead:
# a 5 s recording from the simulated sensor, printed here, and a screenshot of each screen.
set -eu
binary=$1; shift
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ] || [ -n "${QT_QPA_PLATFORM:-}" ]; then
    exec "$binary" "$@"
fi

echo "No display found (DISPLAY and WAYLAND_DISPLAY are unset): running the headless demonstration."
echo "To see the window, run 'xvfb-run -a make run' or start 'make run' from a desktop session."
echo
# The demonstration keeps to settings of its own, with every axis graphed (a first start has
# them all off), and leaves the user's settings alone.
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
mkdir -p "$config/Wobblestar"
printf '[General]\nx=1\ny=1\nz=1\n' > "$config/Wobblestar/Wobblestar.conf"
export WOBBLESTAR_CONFIG_DIR="$config"

echo "A 5 s recording from the simulated sensor at 0.10 s:"
echo
"$binary" --source sim --record 0.10 --duration 5 2>/dev/null
echo
mkdir -p demo
written=""
for screen in graph settings info recording meters; do
    # Seed 8 moves the simulated device enough for the graph to show what it is for.
    "$binary" --source sim:8 --screenshot "demo/$screen.png" --screen "$screen" --after 2 2>/dev/null
    written="$written demo/$screen.png"
done
echo "Screenshots of each screen:$written"
