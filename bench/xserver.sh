# Sourced by the benchmarks that measure the program in a real X server. Starts Xvfb 1920x1080
# with openbox and exports DISPLAY; makes $config, a settings folder with every axis on at 120
# per second, removed on exit with the server, the window manager and $app.
config=$(mktemp -d)
app=
trap 'kill $app $wm $server 2>/dev/null; rm -rf "$config"' EXIT
mkdir -p "$config/Wobblestar"
printf '[General]\nx=1\ny=1\nz=1\nsegment=2\n' > "$config/Wobblestar/Wobblestar.conf"

exec 3>"$config/display"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
server=$!
while [ ! -s "$config/display" ]; do sleep 0.1; done
export DISPLAY=":$(cat "$config/display")"
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
sleep 1
