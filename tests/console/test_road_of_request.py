"""A whole run at a console: /u over a pattern from an NTFS drive (S:) to a
CDFS drive (T:), so the run allows two seconds of difference between the
file systems; "a" at the first overwrite question answers All for the rest
of the run.

Run as: python3 test_road_of_request.py <folder with tolvi.exe>
"""

import os
import shutil
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from tmux_console import Console, drive_folder, wine_command  # noqa: E402

BIN = Path(sys.argv.pop(1) if len(sys.argv) > 1 else os.environ.get("TOLVI_BIN", ".")).resolve()
TOLVI = BIN / "tolvi.exe"
BASE = 1_600_000_000  # a fixed last-write time, seconds since 1970


class RoadOfOneRequest(unittest.TestCase):
    def setUp(self):
        ntfs, cdfs = drive_folder("s"), drive_folder("t")
        if ntfs is None or cdfs is None:
            self.skipTest("drives S: and T: of the Wine prefix are not mapped")
        name = "road-%d" % os.getpid()
        self.source, self.backup = ntfs / name, cdfs / name
        for folder in (self.source, self.backup):
            shutil.rmtree(folder, ignore_errors=True)
            folder.mkdir(parents=True)
            self.addCleanup(shutil.rmtree, folder, True)
        self.windows_source = "S:\\%s\\*.txt" % name
        self.windows_backup = "T:\\%s" % name

    def make(self, folder, name, contents, seconds):
        path = folder / name
        path.write_bytes(contents)
        os.utime(path, (seconds, seconds))

    def test_all_at_first_question_then_newer_files_only(self):
        # Newer by 5 s: asked. Newer by 1 s: within the tolerance, skipped
        # without a word. Newer by 10 s: copied without a question after All.
        for name, newer_by in (("a.txt", 5), ("b.txt", 1), ("c.txt", 10)):
            self.make(self.source, name, b"new " + name.encode(), BASE + newer_by)
            self.make(self.backup, name, b"old " + name.encode(), BASE)
        self.make(self.source, "notes.log", b"not matched", BASE + 100)

        console = Console(wine_command(TOLVI, "/u", self.windows_source, self.windows_backup))
        self.addCleanup(console.close)
        console.wait_for("a.txt: Overwrite? (Yes/No/All)")
        self.assertEqual(console.screen()[0], "a.txt: Overwrite? (Yes/No/All)")
        console.send_keys("a")
        console.wait_for("(Yes/No/All) a")
        console.send_keys("Enter")

        # b.txt was skipped, so the run ends with 1.
        self.assertEqual(console.wait_exit(), 1)
        self.assertEqual(console.screen(), ["Update: a.txt", "Update: c.txt"] + [""] * 22)
        self.assertEqual(console.cursor(), (0, 2))
        self.assertEqual((self.backup / "a.txt").read_bytes(), b"new a.txt")
        self.assertEqual((self.backup / "b.txt").read_bytes(), b"old b.txt")
        self.assertEqual((self.backup / "c.txt").read_bytes(), b"new c.txt")
        self.assertFalse((self.backup / "notes.log").exists())
        self.assertEqual(int((self.backup / "a.txt").stat().st_mtime), BASE + 5)


if __name__ == "__main__":
    unittest.main()
