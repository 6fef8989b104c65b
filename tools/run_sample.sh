#!/usr/bin/env bash
# Starts huesmith on a bundled sample animation. With an X display it simply
# opens there. Without one it runs a scripted demo under a private Xvfb, in a
# temporary folder holding a copy of the program and its data files: it gives
# some of the figure's tint slots other gradients, shows the next frame,
# exports with S, takes a screenshot and quits with Esc, then says where the
# results are. The build folder is left as it was.
set -euo pipefail
build_dir=$(cd "${1:-build}" && pwd)
sample=${2:-sample_bg2.gif}
shift 2 2>/dev/null || true
here=$(cd "$(dirname "$0")" && pwd)

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    exec "$build_dir/huesmith" "$sample" "$@"
fi

echo "No X display is set: running a scripted demo under Xvfb instead."
# Debian's python3, which has Pillow, whatever else comes first on the PATH.
exec /usr/bin/python3 "$here/xsession.py" "$build_dir" "$sample" "$@"
