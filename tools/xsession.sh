# Shell helpers for driving huesmith in a real X window: start a private
# Xvfb, find the program's window, press keys as a user would, take
# screenshots. Sourced by the demo and the end-to-end tests.

# Starts a private Xvfb on a display number it picks itself and exports
# DISPLAY.
start_xvfb() {
    local number_file
    number_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
    XVFB_PID=$!
    local i
    for i in $(seq 1 100); do
        if [ -s "$number_file" ]; then
            export DISPLAY=":$(tr -dc '0-9' <"$number_file")"
            rm -f "$number_file"
            xdpyinfo >/dev/null 2>&1 && return 0
        fi
        kill -0 "$XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    rm -f "$number_file"
    echo "could not start Xvfb" >&2
    return 1
}

stop_xvfb() {
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
    XVFB_PID=
}

# Waits (up to 20 s) for the program's window and puts the pointer over it,
# so that key presses reach it.
wait_for_window() {
    local i
    for i in $(seq 1 200); do
        HUESMITH_WINDOW=$(xdotool search --onlyvisible --class allegro 2>/dev/null | head -n 1)
        if [ -n "$HUESMITH_WINDOW" ]; then
            xdotool mousemove --sync 400 300 >/dev/null 2>&1 || true
            sleep 0.5
            return 0
        fi
        sleep 0.1
    done
    echo "no huesmith window appeared" >&2
    return 1
}

# Taps a key: held for less than one key pause, so it acts exactly once.
tap_key() {
    xdotool keydown "$1" sleep 0.045 keyup "$1"
    sleep 0.3
}

# Holds a key down for a while: it repeats once per key pause.
hold_key() {
    xdotool keydown "$1" sleep "$2" keyup "$1"
    sleep 0.3
}

# Saves the 800 x 600 window area of the screen as a PNG.
take_screenshot() {
    import -display "$DISPLAY" -window root -crop 800x600+0+0 +repage "$1"
}
