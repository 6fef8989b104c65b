"""The installed program in a window, started through a link by a user who
cannot write its folder: it starts from the installed choices, and S saves
the frames in the start directory and the choices in the state directory."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from xsession import Session, read_state, start_xvfb  # noqa: E402

BUILD_DIR = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")


class InstalledWindow(unittest.TestCase):

    def make_dir(self, prefix, mode):
        folder = tempfile.mkdtemp(prefix=prefix)
        os.chmod(folder, mode)
        self.addCleanup(shutil.rmtree, folder, True)
        return folder

    def test_read_only_copy_saves_to_the_start_and_state_directories(self):
        root = self.make_dir("huesmith-install-", 0o755)
        start = self.make_dir("huesmith-start-", 0o777)
        subprocess.run(["cmake", "--install", BUILD_DIR, "--prefix", "/usr/hs"],
                       env=dict(os.environ, DESTDIR=root), check=True, stdout=subprocess.DEVNULL)
        lib = os.path.join(root, "usr/hs/lib/huesmith")
        installed = sorted(os.listdir(lib))
        # Root writes anywhere whatever the modes say: it runs the program
        # as an unprivileged user instead; anyone else loses the write bits.
        user = []
        if os.geteuid() == 0:
            user = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
        else:
            os.chmod(lib, 0o555)
            self.addCleanup(os.chmod, lib, 0o755)
        os.symlink(os.path.join(root, "usr/hs/bin/huesmith"), os.path.join(start, "huesmith"))
        state_home = os.path.join(start, "xdg")
        wrapper = user + ["env", "-C", start, "HOME=/nonexistent", "XDG_STATE_HOME=" + state_home]

        server, display = start_xvfb()
        self.addCleanup(server.wait)
        self.addCleanup(server.terminate)
        session = Session(display, start, ["sample_bg2.gif"], wrapper)
        self.addCleanup(session.stop)
        self.assertEqual(session.wait_for_panel(), (0, 1))  # A1 on its drawn row
        session.move_to(1, 20)
        state = os.path.join(state_home, "huesmith", "last_palshift.bin")
        session.press_until("s", "the saved state", lambda: os.path.exists(state))
        self.assertEqual(session.quit(), 0, session.output()[-400:])

        bg2, pst = read_state(state)
        self.assertEqual(bg2[:4], [1, 20, 35, 74])
        self.assertEqual(pst, [1, 8, 31, 57, 28, 29, 22, 24])
        self.assertIn("frames go to <%s>, choices to <%s>\n" % (start, state), session.output())
        frames = sorted(name for name in os.listdir(start) if name.startswith("frame"))
        self.assertEqual(frames, ["frame%03d.bmp" % i for i in range(8)])
        self.assertEqual(sorted(os.listdir(lib)), installed)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
