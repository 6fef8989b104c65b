"""huesmith used as a person would: a real window under Xvfb driven with
xdotool, each effect waited on, then its output, files and screen read back.
Also the installed copy in a window, and the demo `make run` runs."""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

from PIL import Image

SOURCE_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))
from xsession import (DEMO, STATE_FILE, WHITE, Session,  # noqa: E402
                      copy_program, read_panel, read_state, start_xvfb, write_state)

BUILD_DIR = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")

# The bg2 set: gradient columns and rows, entries copied from the palette,
# (first entry, colours) of every slot.
COLUMNS = 12
ROWS = 116
COPIED = range(1, 4)
SLOTS = [(4 + 12 * i, 12) for i in range(7)] + [(32 + 8 * j, 8) for j in range(7, 28)]


def gradient_rows(session):
    name = "cmaps_bg2_%d.bmp" % COLUMNS
    image = Image.open(os.path.join(session.folder, name)).convert("RGB")
    return [[image.getpixel((c, r)) for c in range(COLUMNS)] for r in range(ROWS)]


def expected_palette(session):
    """The composed 8-bit palette, worked out from the shipped files."""
    raw = Path(session.folder, "pal_bg2.bin").read_bytes()
    gradients = gradient_rows(session)
    chosen = session.read_state()[0]
    palette = [(170, 170, 170)] + [(0, 0, 0)] * 255
    for entry in COPIED:
        palette[entry] = tuple(raw[3 * entry:3 * entry + 3])
    for slot, (first, count) in enumerate(SLOTS):
        for c in range(count):
            palette[first + c] = gradients[chosen[slot]][c * COLUMNS // count]
    return palette


def to_screen(colour):
    """An 8-bit colour as the window shows it: through the library's 6 bits."""
    return tuple(4 * (v >> 2) + (v >> 2) // 16 for v in colour)


def expected_preview(session, colours):
    """The preview at zoom 200: the sample's first frame at (70, 113), pixels 2 x 2
    in the colours colours give their entries; entries 0 and 1 stay black."""
    raw = Path(session.folder, "pal_bg2.bin").read_bytes()
    entries = [tuple(raw[i:i + 3]) for i in range(0, 768, 3)]
    with Image.open(os.path.join(session.folder, "sample_bg2.gif")) as gif:
        frame = gif.convert("RGB")
    image = Image.new("RGB", (300, 450))
    for y in range(112):
        for x in range(80):
            entry = entries.index(frame.getpixel((x, y)))
            colour = to_screen(colours[entry]) if entry > 1 else (0, 0, 0)
            image.paste(colour, (70 + 2 * x, 113 + 2 * y, 72 + 2 * x, 115 + 2 * y))
    return image, entries


def repeat_frames(gif, times):
    """The GIF with its frames, from the first control block on, repeated."""
    table = 3 << ((gif[10] & 7) + 1) if gif[10] & 0x80 else 0
    first = gif.index(b"\x21\xf9", 13 + table)
    return gif[:first] + gif[first:-1] * times + gif[-1:]


class EndToEnd(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.server, cls.display = start_xvfb()

    @classmethod
    def tearDownClass(cls):
        cls.server.terminate()
        cls.server.wait()

    def start(self, args, state=None, leave_out=(), wrapper=(), prepare=lambda folder: None):
        folder = copy_program(BUILD_DIR, "huesmith-e2e-", leave_out)
        self.addCleanup(shutil.rmtree, folder, True)
        if state:
            write_state(os.path.join(folder, STATE_FILE), *state)
        prepare(folder)
        session = Session(self.display, folder, args, wrapper)
        self.addCleanup(session.stop)
        return session

    def make_dir(self, prefix, mode):
        folder = tempfile.mkdtemp(prefix=prefix)
        os.chmod(folder, mode)
        self.addCleanup(shutil.rmtree, folder, True)
        return folder

    def test_c_and_s_write_one_animated_gif_of_whole_frames(self):
        session = self.start(["sample_bg2.gif", "-gif"])
        session.wait_for_panel()
        # C says below the zoom line that the frames are shown whole.
        session.tap_until_changed("c", (0, 470, 300, 490))
        session.save()
        self.assertEqual(session.quit(), 0)
        path = os.path.join(session.folder, "sample_bg2_tinted.gif")
        self.assertIn("exported 8 frames to <%s>\n" % os.path.realpath(path), session.output())
        image = Image.open(path)
        shown = (image.n_frames, image.info["loop"], image.info["transparency"])
        self.assertEqual(shown, (8, 0, 0))
        self.assertFalse([f for f in os.listdir(session.folder) if f.startswith("frame")])

    def test_signals_end_the_window_run_by_themselves(self):
        # SIGINT, SIGTERM and SIGHUP to the window, also with SIGINT ignored
        # (a script's background job): the run ends by the signal, no crash.
        ignoring = ["sh", "-c", 'trap "" INT; exec "$0" "$@"']
        for number in [signal.SIGINT, signal.SIGTERM, signal.SIGHUP]:
            for wrapper in [(), ignoring]:
                session = self.start(["sample_bg2.gif"], wrapper=wrapper)
                session.wait_for_panel()
                session.process.send_signal(number)
                status, output = session.finish()
                self.assertEqual(status, -number, (wrapper, output[-300:]))

    def test_quick_clicks_set_a_row_and_ctrl_z_takes_it_back_for_s(self):
        rows = [0] * 7 + [33] + [0] * 20
        session = self.start(["sample_bg2.gif"], (rows, [0] * 8))
        session.wait_for_panel()
        # One 1 ms click each, never made again: B1's line, the strip's row 40.
        for x, y, shown in [(350, 175, (7, 33)), (750, 217, (7, 40))]:
            session.xdotool("mousemove", str(x), str(y), "mousedown", "1", "sleep", "0.001",
                            "mouseup", "1")
            session.wait_until("%s shown" % (shown,), lambda: session.panel() == shown)
        session.xdotool("mousemove", "400", "300")
        session.xdotool("key", "ctrl+z")
        session.wait_until("ctrl+z", lambda: session.panel() == (7, 33))
        session.save()
        self.assertEqual(session.read_state(), (rows, [0] * 8))
        self.assertEqual(session.quit(), 0)

    def test_tab_untints_the_preview_and_without_new_keys_it_and_the_strip_are_as_ever(self):
        rows = [1, 12, 35, 51] + [9] * 24
        session = self.start(["sample_bg2.gif", "-zoom=200"], (rows, [0] * 8))
        session.wait_for_panel()
        tinted, entries = expected_preview(session, expected_palette(session))
        screen = session.screen()
        self.assertEqual(screen.crop((0, 0, 300, 450)).tobytes(), tinted.tobytes())
        # The strip up to its last column, 6 x 6 cells 5 apart, each over the
        # ones before; the "<" marker stands right of it.
        strip = Image.new("RGB", (61, 580))
        for r, row in enumerate(gradient_rows(session)):
            for c, colour in enumerate(row):
                strip.paste(colour, (5 * c, 5 * r, 5 * c + 6, min(5 * r + 6, 580)))
        self.assertEqual(screen.crop((725, 15, 786, 595)).tobytes(), strip.tobytes())
        untinted = expected_preview(session, entries)[0].tobytes()
        self.assertNotEqual(untinted, tinted.tobytes())
        session.press_until("Tab", "the untinted preview",
                            lambda: session.screen().crop((0, 0, 300, 450)).tobytes() == untinted)
        session.wait_until("the tinted preview", lambda: session.screen().crop(
            (0, 0, 300, 450)).tobytes() == tinted.tobytes())
        # Esc without S: no frame, and the state file as it was.
        self.assertEqual(session.quit(), 0)
        self.assertEqual(session.read_state(), (rows, [0] * 8))
        self.assertFalse([f for f in os.listdir(session.folder) if f.startswith("frame")])

    def test_the_export_shows_its_progress_and_esc_cuts_it_short(self):
        def make_long_gif(folder):
            sample = Path(folder, "sample_bg2.gif").read_bytes()
            Path(folder, "long.gif").write_bytes(repeat_frames(sample, 1000))

        session = self.start(["long.gif", "-zoom=1000", "-pcx", "-quiet"], prepare=make_long_gif)
        session.wait_for_panel()
        state = os.path.join(session.folder, STATE_FILE)
        session.xdotool("key", "s")

        def note_while_exporting():
            note = session.screen().crop((50, 470, 300, 490))
            return WHITE in note.getdata() and not os.path.exists(state) and note.tobytes()

        # Two different progress lines, both before the export ended.
        first = session.wait_until("the progress line", note_while_exporting)
        session.wait_until("the progress line drawn anew",
                           lambda: note_while_exporting() not in (False, first))
        session.xdotool("key", "Escape")
        session.wait_until("the saved state", lambda: os.path.exists(state))
        self.assertEqual(session.quit(), 0)
        written = int(re.findall(r"exported (\d+) frames to", session.output())[-1])
        self.assertLess(written, 8000)
        frames = sorted(f for f in os.listdir(session.folder) if f.startswith("frame"))
        self.assertEqual(frames, ["frame%03d.pcx" % i for i in range(written)])
        with Image.open(os.path.join(session.folder, frames[-1])) as image:
            image.load()  # whole, as every one before it
            self.assertEqual(image.size, (800, 1120))

    def test_installed_read_only_copy_saves_to_the_start_and_state_directories(self):
        # Started through a link by a user who cannot write its folder: it
        # starts from the installed choices, says the frames go to the start
        # directory, and S saves the choices in the state directory.
        root = self.make_dir("huesmith-install-", 0o755)
        start = self.make_dir("huesmith-start-", 0o777)
        subprocess.run(["cmake", "--install", BUILD_DIR, "--prefix", "/usr/hs"],
                       env=dict(os.environ, DESTDIR=root), check=True, stdout=subprocess.DEVNULL)
        lib = os.path.join(root, "usr/hs/lib/huesmith")
        # Root runs it as an unprivileged user; anyone else loses write bits.
        user = []
        if os.geteuid() == 0:
            user = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
        else:
            os.chmod(lib, 0o555)
            self.addCleanup(os.chmod, lib, 0o755)
        os.symlink(os.path.join(root, "usr/hs/bin/huesmith"), os.path.join(start, "huesmith"))
        state_home = os.path.join(start, "xdg")
        wrapper = user + ["env", "-C", start, "HOME=/nonexistent", "XDG_STATE_HOME=" + state_home]
        session = Session(self.display, start, ["sample_bg2.gif"], wrapper)
        self.addCleanup(session.stop)
        self.assertEqual(session.wait_for_panel(), (0, 1))  # A1 on its drawn row
        session.move_to(1, 20)
        state = os.path.join(state_home, "huesmith", "last_palshift.bin")
        session.press_until("s", "the saved state", lambda: os.path.exists(state))
        self.assertEqual(session.quit(), 0, session.output()[-400:])
        bg2 = read_state(state)[0]
        self.assertEqual(bg2[:4], [1, 20, 35, 74])
        self.assertIn("frames go to <%s>, choices to <%s>\n" % (start, state), session.output())

    def test_make_run_without_a_display_runs_the_demo(self):
        # The README's first command, run as make runs it: it ends well and
        # leaves its frames, state and screenshot where it says.
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        done = subprocess.run(["bash", "tools/run_sample.sh", BUILD_DIR, "sample_bg2.gif"],
                              cwd=SOURCE_DIR, env=env, timeout=500, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        output = done.stdout.decode("latin-1")
        folder = re.search(r"(/\S+/huesmith-demo-[^/\s]+)", output + " /.../huesmith-demo-none")[1]
        self.addCleanup(shutil.rmtree, folder, True)
        self.assertEqual(done.returncode, 0, output)
        self.assertIn("Screenshot:      %s/screenshot.png\n" % folder, output)
        frames = sorted(f for f in os.listdir(folder) if re.fullmatch(r"frame\d\d\d\.bmp", f))
        self.assertEqual(len(frames), 8, output)
        self.assertIn(os.path.join(folder, frames[0]), output)
        rows = list(DEMO["bg2"]["rows"])
        for slot, row in DEMO["bg2"]["moves"]:
            rows[slot] = row
        self.assertEqual(read_state(os.path.join(folder, STATE_FILE)), (rows, [0] * 8))
        screen = Image.open(os.path.join(folder, "screenshot.png")).convert("RGB")
        self.assertEqual(read_panel(screen, "bg2"), DEMO["bg2"]["moves"][-1])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
