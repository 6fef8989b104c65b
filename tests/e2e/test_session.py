"""huesmith used as a person would: a real window under Xvfb, keys pressed
with xdotool, and then what the program wrote is read back: its output, the
exported frames (decoded by Pillow), the state file and a screenshot."""

import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

from PIL import Image

BUILD_DIR = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
DATA_FILES = ["pal_bg2.bin", "pal_pst.bin", "cmaps_bg2_12.bmp", "cmaps_pst_32.bmp",
              "sample_bg2.gif", "sample_pst.gif"]

# Slot layouts: (first palette entry, colours) per slot, in slot order.
BG2_SLOTS = [(4 + 12 * i, 12) for i in range(7)] + [(32 + 8 * j, 8) for j in range(7, 28)]
PST_SLOTS = [(16, 16), (32, 16), (64, 16), (80, 16),
             (128, 32), (160, 32), (192, 32), (224, 32)]
DATA_SETS = {
    "bg2": dict(palette="pal_bg2.bin", gradients="cmaps_bg2_12.bmp", columns=12,
                rows=116, slots=BG2_SLOTS, copied=range(1, 4), marker_right=787),
    "pst": dict(palette="pal_pst.bin", gradients="cmaps_pst_32.bmp", columns=32,
                rows=79, slots=PST_SLOTS, copied=range(1, 128), marker_right=791),
}


def start_xvfb():
    read_fd, write_fd = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
        pass_fds=[write_fd], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_fd)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read_fd, 16)
        if not chunk:
            break
        number += chunk
    os.close(read_fd)
    return server, ":" + number.decode().strip()


def read_bytes(path):
    with open(path, "rb") as source:
        return source.read()


def write_bytes(path, data):
    with open(path, "wb") as out:
        out.write(data)


def read_state(path):
    values = struct.unpack("<36i", read_bytes(path))
    return list(values[:28]), list(values[28:])


def write_state(path, bg2_rows, pst_rows):
    with open(path, "wb") as out:
        out.write(struct.pack("<36i", *(list(bg2_rows) + list(pst_rows))))


def gradient_rows(path, columns, rows):
    image = Image.open(path).convert("RGB")
    return [[image.getpixel((c, r)) for c in range(columns)] for r in range(rows)]


def expected_palette(work_dir, name, rows_chosen):
    """The composed 8-bit palette, worked out from the shipped files."""
    data = DATA_SETS[name]
    raw = read_bytes(os.path.join(work_dir, data["palette"]))
    global_palette = [tuple(raw[3 * i:3 * i + 3]) for i in range(256)]
    gradients = gradient_rows(os.path.join(work_dir, data["gradients"]),
                              data["columns"], data["rows"])
    palette = [(0, 0, 0)] * 256
    palette[0] = (170, 170, 170)
    for entry in data["copied"]:
        palette[entry] = global_palette[entry]
    for slot, (first, count) in enumerate(data["slots"]):
        for c in range(count):
            palette[first + c] = gradients[rows_chosen[slot]][c * data["columns"] // count]
    return palette


class Session:
    """One run of the program in its own directory, driven by key taps."""

    def __init__(self, display, args, state=None, keep_out=(), wrapper=()):
        self.dir = tempfile.mkdtemp(prefix="huesmith-e2e-")
        shutil.copy2(os.path.join(BUILD_DIR, "huesmith"), self.dir)
        for name in DATA_FILES:
            if name not in keep_out:
                shutil.copy2(os.path.join(BUILD_DIR, name), self.dir)
        if state:
            write_state(os.path.join(self.dir, "last_palshift.bin"), *state)
        self.display = display
        self.env = dict(os.environ, DISPLAY=display)
        self.process = subprocess.Popen(list(wrapper) + [os.path.join(self.dir, "huesmith")] + args,
                                        cwd="/", env=self.env, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)

    def xdotool(self, *args):
        subprocess.run(["xdotool"] + list(args), env=self.env, check=True,
                       stdout=subprocess.DEVNULL)

    def wait_for_window(self):
        for _ in range(300):
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--class", "allegro"],
                                   env=self.env, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL).stdout.split()
            if found:
                self.xdotool("mousemove", "--sync", "400", "300")
                time.sleep(0.5)
                return
            if self.process.poll() is not None:
                output = self.process.stdout.read().decode("latin-1")
                raise AssertionError("huesmith ended with status %d before its window showed; "
                                     "its output ends with:\n%s" % (self.process.returncode,
                                                                     "\n".join(output.splitlines()[-8:])))
            time.sleep(0.1)
        raise AssertionError("no huesmith window")

    def tap(self, key, hold="0.045", settle=0.3):
        # Long enough to be seen by a pass, shorter than one key pause, so a
        # tap acts exactly once.
        self.xdotool("keydown", key, "sleep", hold, "keyup", key)
        time.sleep(settle)

    def screenshot(self):
        path = os.path.join(self.dir, "screen.png")
        subprocess.run(["import", "-display", self.display, "-window", "root",
                        "-crop", "800x600+0+0", "+repage", path], check=True)
        return Image.open(path).convert("RGB")

    def finish(self, timeout=60):
        output, _ = self.process.communicate(timeout=timeout)
        return self.process.returncode, output.decode("latin-1")

    def remove(self):
        shutil.rmtree(self.dir, ignore_errors=True)


def first_zoom(w, h):
    zoom = 100
    for z in range(10, 1000, 10):
        if w * z // 100 < 300 and h * z // 100 < 450:
            zoom = z
    return zoom


def gif_screen_size(path):
    return struct.unpack("<HH", read_bytes(path)[6:10])


class EndToEnd(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.server, cls.display = start_xvfb()

    @classmethod
    def tearDownClass(cls):
        cls.server.terminate()
        cls.server.wait()

    def run_export_session(self, name, args, keys, state=None):
        session = Session(self.display, args, state=state)
        self.addCleanup(session.remove)
        session.wait_for_window()
        for key in keys:
            session.tap(key)
        session.tap("s")
        time.sleep(0.5)
        screen = session.screenshot()
        session.tap("Escape")
        status, output = session.finish()
        self.assertEqual(status, 0, output[-400:])
        return session, screen, output

    def check_exported_frames(self, session, name, output, extension):
        frames = int(re.search(r"num_frames   = (\d+)\n", output).group(1))
        w, h = gif_screen_size(os.path.join(session.dir, "sample_%s.gif" % name))
        zoom = first_zoom(w, h)
        bg2_rows, pst_rows = read_state(os.path.join(session.dir, "last_palshift.bin"))
        palette = expected_palette(session.dir, name, bg2_rows if name == "bg2" else pst_rows)
        flat = [component for colour in palette for component in colour]
        for i in range(frames):
            path = os.path.join(session.dir, "frame%03d%s" % (i, extension))
            self.assertTrue(os.path.exists(path), path)
            image = Image.open(path)
            self.assertEqual(image.mode, "P")
            self.assertEqual(image.size, (max(1, zoom * w // 100), max(1, zoom * h // 100)))
            self.assertEqual(image.getpalette()[:768], flat, path)
            # Each frame stands alone on index 0, which fills its corners.
            self.assertEqual(image.getpixel((0, 0)), 0)
        self.assertFalse(os.path.exists(os.path.join(session.dir, "frame%03d%s" % (frames, extension))))

    def check_screen(self, screen, session, name, slot_y, row):
        data = DATA_SETS[name]
        gradients = gradient_rows(os.path.join(session.dir, data["gradients"]),
                                  data["columns"], data["rows"])
        step = 5 if name == "bg2" else 2
        # The gradient strip at (725, 15): one cell per row and column.
        for r in (0, 1, data["rows"] // 2, data["rows"] - 1):
            for c in (0, data["columns"] // 2, data["columns"] - 1):
                self.assertEqual(screen.getpixel((725 + c * step, 15 + r * 5)), gradients[r][c],
                                 (r, c))
        white = (255, 255, 255)

        def has_white(x0, y0, x1, y1):
            return any(screen.getpixel((x, y)) == white
                       for x in range(x0, x1) for y in range(y0, y1))

        # The markers bracket the chosen row of the selected slot only.
        marker_y = 5 * row + 14
        self.assertTrue(has_white(717, marker_y, 725, marker_y + 8))
        self.assertTrue(has_white(data["marker_right"], marker_y, data["marker_right"] + 8,
                                  marker_y + 8))
        self.assertFalse(has_white(717, marker_y + 10, 725, 600))
        self.assertFalse(has_white(717, 0, 725, max(0, marker_y - 2)))
        # The selected slot's line starts with "-->" at x 300.
        self.assertTrue(has_white(300, slot_y, 324, slot_y + 8))
        # Status lines at (50, 450) and (50, 460); nothing at y 530 or 550.
        self.assertTrue(has_white(50, 450, 130, 458))
        self.assertTrue(has_white(50, 460, 130, 468))
        self.assertFalse(has_white(0, 530, 300, 538))
        self.assertFalse(has_white(0, 550, 300, 558))

    def test_bmp_session_exports_what_the_keys_chose(self):
        session, screen, output = self.run_export_session(
            "bg2", ["sample_bg2.gif"], ["Down", "Right"])
        bg2_rows, pst_rows = read_state(os.path.join(session.dir, "last_palshift.bin"))
        self.assertEqual(bg2_rows, [0, 1] + [0] * 26)
        self.assertEqual(pst_rows, [0] * 8)
        self.check_exported_frames(session, "bg2", output, ".bmp")
        self.check_screen(screen, session, "bg2", 35, 1)

    def test_pcx_session(self):
        session, screen, output = self.run_export_session(
            "bg2", ["sample_bg2.gif", "-PCX"], ["Right", "Right", "Down", "Down", "Up"])
        bg2_rows, _ = read_state(os.path.join(session.dir, "last_palshift.bin"))
        self.assertEqual(bg2_rows, [2] + [0] * 27)
        self.check_exported_frames(session, "bg2", output, ".pcx")
        self.assertEqual(os.listdir(session.dir).count("frame000.bmp"), 0)
        self.check_screen(screen, session, "bg2", 35, 0)

    def test_pst_session_keeps_the_other_data_set(self):
        kept_bg2 = list(range(28))
        session, screen, output = self.run_export_session(
            "pst", ["sample_pst.gif", "-pst"], ["Down", "Down", "Right"],
            state=(kept_bg2, [0, 0, 5, 0, 0, 0, 0, 78]))
        bg2_rows, pst_rows = read_state(os.path.join(session.dir, "last_palshift.bin"))
        self.assertEqual(bg2_rows, kept_bg2)
        self.assertEqual(pst_rows, [0, 0, 6, 0, 0, 0, 0, 78])
        self.check_exported_frames(session, "pst", output, ".bmp")
        self.check_screen(screen, session, "pst", 55, 6)

    def test_esc_without_s_leaves_the_state_file(self):
        state = ([3] * 28, [1] * 8)
        session = Session(self.display, ["sample_bg2.gif"], state=state)
        self.addCleanup(session.remove)
        session.wait_for_window()
        for key in ["Down", "Right", "Right", "Escape"]:
            session.tap(key)
        status, _ = session.finish()
        self.assertEqual(status, 0)
        self.assertEqual(read_state(os.path.join(session.dir, "last_palshift.bin")),
                         ([3] * 28, [1] * 8))
        self.assertFalse([f for f in os.listdir(session.dir) if f.startswith("frame")])

    def test_full_session_under_valgrind_loses_nothing(self):
        log = tempfile.NamedTemporaryFile(prefix="huesmith-valgrind-", delete=False).name
        self.addCleanup(os.remove, log)
        # On a busy machine the library's X driver now and then fails to set
        # the mode of a program slowed this much; that start is tried again.
        for attempt in range(3):
            session = Session(self.display, ["sample_bg2.gif"], wrapper=[
                "valgrind", "--leak-check=full", "--errors-for-leak-kinds=definite",
                "--error-exitcode=99", "--log-file=" + log])
            self.addCleanup(session.remove)
            try:
                session.wait_for_window()
                break
            except AssertionError as failure:
                if attempt == 2 or "Unable to find a suitable graphics driver" not in str(failure):
                    raise
        time.sleep(2)
        # Held longer than a tap: every pass is slow under valgrind.
        for key in ["Down", "Right", "Next", "minus"]:
            session.tap(key, hold="0.15", settle=1.5)
        # S and Esc are held until they have acted, however slow the passes.
        session.xdotool("keydown", "s")
        last_frame = os.path.join(session.dir, "frame007.bmp")
        for _ in range(600):
            if os.path.exists(last_frame) or session.process.poll() is not None:
                break
            time.sleep(0.2)
        time.sleep(1)
        session.xdotool("keyup", "s")
        time.sleep(1)
        session.xdotool("keydown", "Escape")
        try:
            status, _ = session.finish(timeout=300)
        finally:
            session.xdotool("keyup", "Escape")
        report = read_bytes(log).decode("latin-1")
        self.assertEqual(status, 0, report[-2000:])
        self.assertIn("ERROR SUMMARY: 0 errors", report)
        self.assertTrue(os.path.exists(os.path.join(session.dir, "frame000.bmp")))

    def run_to_failure(self, args, keep_out=(), prepare=None):
        session = Session.__new__(Session)
        session.dir = tempfile.mkdtemp(prefix="huesmith-e2e-")
        self.addCleanup(session.remove)
        shutil.copy2(os.path.join(BUILD_DIR, "huesmith"), session.dir)
        for name in DATA_FILES:
            if name not in keep_out:
                shutil.copy2(os.path.join(BUILD_DIR, name), session.dir)
        if prepare:
            prepare(session.dir)
        done = subprocess.run([os.path.join(session.dir, "huesmith")] + args, cwd="/",
                              env=dict(os.environ, DISPLAY=self.display), timeout=120,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              stdin=subprocess.DEVNULL)
        return done.returncode, done.stdout.decode("latin-1")

    def test_start_up_failures_after_the_window_opened(self):
        status, output = self.run_to_failure(["sample_bg2.gif"], keep_out=["cmaps_bg2_12.bmp"])
        self.assertEqual(status, 1)
        self.assertTrue(output.endswith("loading colormaps gradients <cmaps_bg2_12.bmp>\n"
                                        "can't read <cmaps_bg2_12.bmp>\n"), output[-200:])

        # A colour of the GIF that the palette lacks: the remap stops on it.
        def spoil_palette(work_dir):
            gif = read_bytes(os.path.join(work_dir, "sample_bg2.gif"))
            colour = gif[13 + 3:13 + 6]  # the GIF's colour 1
            path = os.path.join(work_dir, "pal_bg2.bin")
            palette = bytearray(read_bytes(path))
            for i in range(256):
                if palette[3 * i:3 * i + 3] == colour:
                    palette[3 * i:3 * i + 3] = bytes([1, 2, 3])
            write_bytes(path, bytes(palette))

        status, output = self.run_to_failure(["sample_bg2.gif"], prepare=spoil_palette)
        self.assertEqual(status, 1)
        self.assertTrue(output.endswith(
            "\nframe 0\n   color 0  --> " + output.split("color 0  --> ")[1].split("\n")[0] +
            "\n   color 1  --> error : frame 0, color 1 not found in glb palette\n"),
            output[-300:])

        # A logical screen whose screen-depth sprite would not fit the
        # library's 32-bit sizes: refused as a failed creation, not a crash.
        def widen_screen(work_dir):
            path = os.path.join(work_dir, "sample_bg2.gif")
            gif = bytearray(read_bytes(path))
            gif[6:10] = struct.pack("<HH", 40000, 40000)
            write_bytes(path, bytes(gif))

        status, output = self.run_to_failure(["sample_bg2.gif"], prepare=widen_screen)
        self.assertEqual(status, 1)
        self.assertTrue(output.endswith("can't allocate glb_sprite\n"), output[-200:])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
