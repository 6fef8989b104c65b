"""Drives huesmith in a real X window as a user would: a private Xvfb, the
program started in a folder of its own, keys pressed with xdotool. Every step
waits on what the program shows (its panel, read off the screen) or writes
(its state file, its exported frames), never on how long a step ought to take,
so a busy machine only makes a session slower. Used by the demo that
`make run` runs without a display, and by the end-to-end tests.

    python3 tools/xsession.py BUILD_DIR SAMPLE [OPTIONS...]    runs the demo
"""

import ctypes
import glob
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

from PIL import ImageGrab

DATA_PATTERNS = ["pal_*.bin", "cmaps_*.bmp", "sample_*.gif"]
STATE_FILE = "last_palshift.bin"
WHITE = (255, 255, 255)
STATUS_BOX = (50, 450, 250, 468)  # "Frame : n" and "Zoom  : n%"
PANELS = {"bg2": (7, 28), "pst": (4, 8)}  # A slots, all slots
# A failure bound only: nothing waits this long unless the program is stuck.
TIMEOUT = 60


def die_with_parent():
    # Whatever ends this driver, even a kill, also ends what it started.
    ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def start_xvfb():
    """A private Xvfb on a display number of its own choosing: (process, display)."""
    read_fd, write_fd = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
        pass_fds=[write_fd], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        preexec_fn=die_with_parent)
    os.close(write_fd)
    with os.fdopen(read_fd, "rb") as numbers:
        number = numbers.readline().strip()
    if not number:
        server.wait()
        raise RuntimeError("Xvfb did not start")
    return server, ":" + number.decode()


def copy_program(build_dir, prefix, leave_out=()):
    """A new folder holding the program and its data files."""
    folder = tempfile.mkdtemp(prefix=prefix)
    paths = [os.path.join(build_dir, "huesmith")]
    for pattern in DATA_PATTERNS:
        paths += sorted(glob.glob(os.path.join(build_dir, pattern)))
    for path in paths:
        if os.path.basename(path) not in leave_out:
            shutil.copy2(path, folder)
    return folder


def write_state(path, bg2_rows, pst_rows):
    with open(path, "wb") as out:
        out.write(struct.pack("<36i", *(list(bg2_rows) + list(pst_rows))))


def read_state(path):
    with open(path, "rb") as source:
        values = struct.unpack("<36i", source.read())
    return list(values[:28]), list(values[28:])


def stat_key(path):
    try:
        status = os.stat(path)
    except FileNotFoundError:
        return None
    return status.st_ino, status.st_mtime_ns, status.st_size


def find_slot_y(data_set, slot):
    return 15 + 20 * slot + (0 if slot < PANELS[data_set][0] else 20)


def read_panel(image, data_set):
    """(selected slot, its row) as the panel shows them, or None before it is
    drawn: "-->" starts the selected slot's line and ">" at x 717 stands at
    y 5 * row + 14 beside the gradient strip."""
    marker = list(image.crop((717, 0, 725, 600)).getdata())
    ys = [i // 8 for i, colour in enumerate(marker) if colour == WHITE]
    chosen = [s for s in range(PANELS[data_set][1]) if WHITE in image.crop(
        (310, find_slot_y(data_set, s), 324, find_slot_y(data_set, s) + 8)).getdata()]
    if not ys or ys[-1] - ys[0] > 7 or len(chosen) != 1:
        return None
    return chosen[0], (ys[0] - 14) // 5


class Session:
    """The program running in its folder on a display, with its output in
    output.txt there."""

    def __init__(self, display, folder, args, wrapper=()):
        self.display, self.folder = display, folder
        self.env = dict(os.environ, DISPLAY=display)
        self.data_set = "pst" if any(arg.lower() == "-pst" for arg in args) else "bg2"
        # A tap's length; how long the panel must stay the same after a key
        # before the key is taken as done (or missed); how long anything is
        # waited on before the session fails.
        self.hold, self.grace, self.timeout = 0.045, 0.5, TIMEOUT
        self.changes = []
        self.command = list(wrapper) + [os.path.join(folder, "huesmith")] + list(args)
        self.start()

    def start(self):
        with open(os.path.join(self.folder, "output.txt"), "wb") as out:
            self.process = subprocess.Popen(
                self.command, cwd="/", env=self.env, stdout=out, stderr=subprocess.DEVNULL,
                stdin=subprocess.DEVNULL, preexec_fn=die_with_parent)

    def output(self):
        with open(os.path.join(self.folder, "output.txt"), "rb") as source:
            return source.read().decode("latin-1")

    def xdotool(self, *args):
        # Its status is not looked at: every key's effect is waited on instead.
        subprocess.run(["xdotool"] + list(args), env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def wait_until(self, what, ready, timeout=None, fail=True):
        limit = self.timeout if timeout is None else timeout
        deadline = time.monotonic() + limit
        while True:
            value = ready()
            if value:
                return value
            if self.process.poll() is not None:
                tail = "\n".join(self.output().splitlines()[-8:])
                raise RuntimeError("huesmith ended with status %d while waiting for %s; its "
                                   "output ends with:\n%s" % (self.process.returncode, what, tail))
            if time.monotonic() > deadline:
                if fail:
                    raise RuntimeError("%s did not come within %d s" % (what, limit))
                return None
            time.sleep(0.02)

    def screen(self):
        return ImageGrab.grab(xdisplay=self.display).crop((0, 0, 800, 600))

    def panel(self):
        return read_panel(self.screen(), self.data_set)

    def wait_for_panel(self):
        shown = self.wait_until("the window", self.panel)
        self.xdotool("mousemove", "400", "300")  # keys go to the window under the pointer
        return shown

    def finish(self):
        """Waits for the program to end by itself: (status, output)."""
        self.process.wait(self.timeout)
        return self.process.returncode, self.output()

    def read_state(self):
        return read_state(os.path.join(self.folder, STATE_FILE))

    def tap(self, key):
        # Shorter than a key pause: acts once unless the program misses it.
        self.xdotool("keydown", key, "sleep", str(self.hold), "keyup", key)

    def note_changes(self, key, seen, until=lambda shown: False, quiet=None):
        """Reads the panel until until(panel) holds, or until it has stayed
        the same for a quiet spell; every change on the way is noted in
        self.changes as (key, before, after). Returns the last panel seen."""
        while True:
            shown = self.wait_until("a change", lambda: (lambda p: p not in (None, seen) and p)(
                self.panel()), quiet, quiet is None)
            if not shown:
                return seen
            self.changes.append((key, seen, shown))
            seen = shown
            if until(shown):
                return seen

    def move_to(self, slot, row):
        """Selects the slot and steps its row, reading the panel after every
        key: a key the program missed is pressed again, a step too far is
        taken back. Each key's changes are noted for the caller to judge."""
        now = self.wait_until("the panel", self.panel)
        presses = 10 + 2 * (abs(slot - now[0]) + abs(row - now[1]))  # keys that act otherwise
        while True:
            now = self.wait_until("the panel", self.panel)
            if now == (slot, row):
                return
            presses -= 1
            if presses < 0:
                raise RuntimeError("the panel stays at %s, not at %s" % (now, (slot, row)))
            if now[0] != slot:
                key = "Down" if now[0] < slot else "Up"
                goal = slot
                at = 0
            else:
                key = "Right" if now[1] < row else "Left"
                goal = row
                at = 1
            sign = 1 if goal > now[at] else -1
            if abs(goal - now[at]) > 3:
                # Held, it repeats once per key pause; let go near the goal.
                self.xdotool("keydown", key)
                try:
                    now = self.note_changes(key, now, lambda shown: (goal - shown[at]) * sign <= 2)
                finally:
                    self.xdotool("keyup", key)
            else:
                self.tap(key)
            # Until the panel is quiet: a step still due from this key
            # is seen here, not taken for the next key's.
            self.note_changes(key, now, quiet=self.grace)

    def tap_until_changed(self, key, box=(0, 0, 800, 600)):
        before = self.screen().crop(box).tobytes()
        deadline = time.monotonic() + self.timeout
        while time.monotonic() < deadline:
            self.tap(key)
            if self.wait_until(key, lambda: self.screen().crop(box).tobytes() != before,
                               self.grace, False):
                return
        raise RuntimeError("%s changed nothing" % key)

    def press_until(self, key, what, ready):
        self.xdotool("keydown", key)
        try:
            return self.wait_until(what, ready)
        finally:
            self.xdotool("keyup", key)

    def save(self):
        """S held until the state file is written anew: every frame has been
        exported before it."""
        path = os.path.join(self.folder, STATE_FILE)
        before = stat_key(path)
        self.press_until("s", "the saved state", lambda: stat_key(path) not in (None, before))

    def quit(self):
        """Esc held until the program has ended; returns its status."""
        self.press_until("Escape", "the program's end", lambda: self.process.poll() is not None)
        return self.process.returncode

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()


# The demo starts from tints that dress the figure (hair, shirt, trousers,
# blade, hilt, shoes, belt), then changes two of them as a user would.
DEMO = {
    "bg2": dict(rows=[0, 12, 35, 51, 0, 26, 28, 33, 32] + [0] * 19, moves=[(2, 43), (1, 10)]),
    "pst": dict(rows=[0, 10, 31, 41, 29, 28, 22, 24], moves=[(2, 36), (1, 8)]),
}


def run_demo(build_dir, sample, options):
    folder = copy_program(build_dir, "huesmith-demo-")
    data = DEMO["pst" if any(o.lower() == "-pst" for o in options) else "bg2"]
    state = os.path.join(folder, STATE_FILE)
    write_state(state, *((data["rows"], [0] * 8) if len(data["rows"]) == 28
                         else ([0] * 28, data["rows"])))
    server = session = None
    try:
        server, display = start_xvfb()
        session = Session(display, folder, [sample] + options)
        session.wait_for_panel()
        for slot, row in data["moves"]:
            session.move_to(slot, row)
        session.tap_until_changed("Next", STATUS_BOX)  # Page Down: the next frame
        session.save()
        session.screen().save(os.path.join(folder, "screenshot.png"))
        status = session.quit()
    except (RuntimeError, OSError) as failure:
        print("The demo failed: %s\nIts files are in %s" % (failure, folder))
        return 1
    finally:
        if session:
            session.stop()
        if server:
            server.terminate()
            server.wait()
    frames = sorted(glob.glob(os.path.join(folder, "frame[0-9][0-9][0-9].*")))
    print("huesmith ended with status %d." % status)
    print("Exported frames: " + ("%s ... %s (%d files)" % (
        frames[0], os.path.basename(frames[-1]), len(frames)) if frames else "none"))
    print("Saved choices:   %s" % state)
    print("Screenshot:      %s" % os.path.join(folder, "screenshot.png"))
    print("Program output:  %s" % os.path.join(folder, "output.txt"))
    return status


def end_on_signal(number, _frame):
    raise SystemExit(128 + number)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, end_on_signal)
    signal.signal(signal.SIGHUP, end_on_signal)
    try:
        sys.exit(run_demo(sys.argv[1], sys.argv[2], sys.argv[3:]))
    except KeyboardInterrupt:
        sys.exit(130)
