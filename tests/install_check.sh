#!/bin/sh
# A newcomer's path: install into a temporary prefix, then run the installed program the way
# the README and the desktop entry do.
#   install_check.sh BUILD_DIR
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
export XDG_CONFIG_HOME="$prefix/config" XDG_DATA_HOME="$prefix/data"
export QT_QPA_PLATFORM=offscreen WOBBLESTAR_ANIMATIONS=0

cmake --install "$build" --prefix "$prefix" >/dev/null
bin="$prefix/bin/wobblestar"

"$bin" --version | grep -q '^Wobblestar [0-9]'
"$bin" --help | grep -q -- '--source'

"$bin" --list-sources | grep -q .

"$bin" --source sim --screenshot "$prefix/graph.png" --after 0.5
file "$prefix/graph.png" | grep -q 'PNG image data, 320 x 480'

for f in share/applications/org.wobblestar.Wobblestar.desktop \
         share/metainfo/org.wobblestar.Wobblestar.metainfo.xml \
         share/man/man1/wobblestar.1 \
         share/icons/hicolor/48x48/apps/wobblestar.png \
         share/icons/hicolor/256x256/apps/wobblestar.png; do
    test -f "$prefix/$f" || { echo "not installed: $f"; exit 1; }
done
grep -q '^Exec=wobblestar' "$prefix/share/applications/org.wobblestar.Wobblestar.desktop"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$prefix/share/applications/org.wobblestar.Wobblestar.desktop"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$prefix/share/metainfo/org.wobblestar.Wobblestar.metainfo.xml" >/dev/null
fi
echo "installed and ran from $prefix"
