"""The README's first command: `make run` without a display runs a scripted
demo. Run here exactly as make runs it, it must end well, leave the build
folder as it was and leave its frames, state and screenshot where it says."""

import os
import re
import shutil
import subprocess
import sys
import unittest

from PIL import Image

SOURCE_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))
from xsession import DEMO, STATE_FILE, read_panel, read_state  # noqa: E402

BUILD_DIR = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")


def list_files(folder):
    files = [entry for entry in os.scandir(folder) if entry.is_file()]
    return {entry.name: (entry.stat().st_mtime_ns, entry.stat().st_size) for entry in files}


class Demo(unittest.TestCase):

    def test_demo_without_a_display(self):
        before = list_files(BUILD_DIR)
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        done = subprocess.run(["bash", "tools/run_sample.sh", BUILD_DIR, "sample_bg2.gif"],
                              cwd=SOURCE_DIR, env=env, timeout=500, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        output = done.stdout.decode("latin-1")
        folder = re.search(r"(/\S+/huesmith-demo-[^/\s]+)", output + " /.../huesmith-demo-none")[1]
        self.addCleanup(shutil.rmtree, folder, True)
        self.assertEqual(done.returncode, 0, output)
        self.assertIn("Screenshot:      %s/screenshot.png\n" % folder, output)
        self.assertEqual(list_files(BUILD_DIR), before)
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
