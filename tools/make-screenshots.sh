#!/bin/sh
# Remakes the README's screenshots in docs/screenshots/ without a display: every screen fed by the
# simulated sensor, with all three axes graphed, at scale 1 and 2.
#   tools/make-screenshots.sh [BUILD_DIR]
set -eu
build=${1:-build/release}
out=docs/screenshots
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
mkdir -p "$config/Wobblestar" "$out"
# A finished recording for the recording screen to show, made by the program itself.
log=$("$build/src/wobblestar" --source sim:8 --record 0.25 --duration 3 2>/dev/null |
      sed -e 's/\\/\\\\/g' -e 's/"/\\"/g' | awk '{printf "%s\\n", $0}')
log=${log%\\n}
printf '[General]\nx=1\ny=1\nz=1\nf=0\nsegment=2\ndesign=0\nsegment2=1\ntext="%s"\n' "$log" \
    > "$config/Wobblestar/Wobblestar.conf"
for screen in graph settings info recording meters; do
    for scale in 1 2; do
        suffix=""; [ "$scale" = 2 ] && suffix="@2x"
        WOBBLESTAR_CONFIG_DIR="$config" XDG_DATA_HOME="$config/data" \
            "$build/src/wobblestar" --source sim:8 --screenshot "$out/$screen$suffix.png" \
            --screen "$screen" --after 7.5 --scale "$scale" 2>/dev/null
    done
done
ls "$out"
