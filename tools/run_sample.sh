#!/usr/bin/env bash
# Starts huesmith on a bundled sample animation. With an X display it simply
# opens there. Without one it runs a short scripted session under Xvfb: it
# gives the figure's tint slots other gradients, exports with S, takes a
# screenshot and quits with Esc, then says where the results are.
set -euo pipefail
build_dir=$(cd "${1:-build}" && pwd)
sample=${2:-sample_bg2.gif}
shift 2 2>/dev/null || true
program="$build_dir/huesmith"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/xsession.sh"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    exec "$program" "$sample" "$@"
fi

echo "No X display is set: running a scripted demo under Xvfb instead."
trap stop_xvfb EXIT
start_xvfb
rm -f "$build_dir"/frame[0-9][0-9][0-9]*.bmp "$build_dir"/frame[0-9][0-9][0-9]*.pcx
"$program" "$sample" "$@" &
program_pid=$!
wait_for_window
# Each held Right steps the selected slot's gradient about once per 90 ms.
tap_key Down; hold_key Right 0.7    # "color A2", the hair: a brown
tap_key Down; hold_key Right 2.8    # "color A3", the shirt: a red
tap_key Down; hold_key Right 3.9    # "color A4", the trousers: a blue
tap_key Down; tap_key Down; hold_key Right 2.0   # "color A6", the blade
tap_key Down; hold_key Right 2.4    # "color A7", the hilt
tap_key Down; hold_key Right 0.9    # "color B1", the shoes
tap_key Next      # Page Down: the next frame
tap_key s         # export every frame and save the choices
sleep 0.5
take_screenshot "$build_dir/screenshot.png"
tap_key Escape
status=0
wait "$program_pid" || status=$?
echo
echo "huesmith ended with status $status."
echo "Exported frames: $(ls "$build_dir"/frame[0-9][0-9][0-9]*.* 2>/dev/null | head -n 3 | tr '\n' ' ')..."
echo "Saved choices:   $build_dir/last_palshift.bin"
echo "Screenshot:      $build_dir/screenshot.png"
exit "$status"
