"""Ctrl+C at a question in the middle of a pattern run, at a real console:
the run ends at once with exit code 1 (3 when a file before was refused),
the files before the question are done, and the file asked about and
every file after it are untouched.
Ctrl+C while a file is being copied: the run ends after that file, which
is left absent or complete, never truncated; a second Ctrl+C ends it at
once. Ctrl+C while the run decides (a /u run over up-to-date files): it
stops before the next file is changed, writes its /l counts and exits 1
(3 after a refusal).

Run as: python3 test_interrupt.py <folder with tolvi.exe>

Wine delivers Ctrl+C from a terminal as a signal (to the run's console
control handler, also at a question), not as the key 0x03 that the prompt
acts on; the prompt's own handling of 0x03 is covered by the unit tests of
the key steps and the pseudo-console test on Windows. What a user sees is
the same: the run stops where it stood, with exit code 1.
"""

import os
import shutil
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from tmux_console import Console, drive_folder, wine_command  # noqa: E402

BIN = Path(sys.argv.pop(1) if len(sys.argv) > 1 else os.environ.get("TOLVI_BIN", ".")).resolve()
TOLVI = BIN / "tolvi.exe"
SUFFIX = " (Yes/No/All) "
NAMES = ["a.txt", "b.txt", "c.txt", "d.txt"]


class InterruptAtQuestion(unittest.TestCase):
    def setUp(self):
        scratch = drive_folder("S")
        if scratch is None:
            self.skipTest("drive S: (the scratch drive) is not mapped in the Wine prefix")
        name = "interrupt_%d_%s" % (os.getpid(), self._testMethodName)
        self.host = scratch / name
        shutil.rmtree(self.host, ignore_errors=True)
        self.addCleanup(shutil.rmtree, self.host, True)
        (self.host / "src").mkdir(parents=True)
        (self.host / "dst").mkdir()
        for file in NAMES:
            self.src(file).write_bytes(("new " + file).encode())
        self.windows = "S:\\" + name + "\\"

    def src(self, file):
        return self.host / "src" / file

    def dst(self, file):
        return self.host / "dst" / file

    def run_at_console(self, *options):
        console = Console(wine_command(TOLVI, *options, self.windows + "src\\*.txt",
                                       self.windows + "dst"))
        self.addCleanup(console.close)
        return console

    def interrupt(self, console, question, typed=(), exit_code=1):
        """Waits for `question`, types `typed`, then Ctrl+C; returns the
        screen once the run has ended with `exit_code`."""
        console.wait_for(question + SUFFIX.rstrip())
        for key in typed:
            console.send_keys(key)
        console.wait_until(lambda: console.screen()[-1] == "" and
                           "".join(console.screen()).endswith("".join(typed)),
                           what="the typed letters")
        console.send_keys("C-c")
        self.assertEqual(console.wait_exit(), exit_code)
        return console.screen()

    def test_overwrite_question_in_a_copy(self):
        self.dst("b.txt").write_bytes(b"old b.txt")
        for typed in [(), ("y",)]:
            with self.subTest(typed=typed):
                for file in ["a.txt", "c.txt", "d.txt"]:
                    if self.dst(file).exists():
                        self.dst(file).unlink()
                console = self.run_at_console()
                screen = self.interrupt(console, "b.txt: Overwrite?", typed)
                # The question stays as it stood; nothing follows it.
                self.assertEqual(screen[:3], ["Copy: a.txt",
                                              ("b.txt: Overwrite?" + SUFFIX + "".join(typed)).rstrip(), ""])
                asked = "b.txt: Overwrite?" + SUFFIX + "".join(typed)
                self.assertEqual(console.cursor(), (len(asked), 1))
                self.assertEqual(self.dst("a.txt").read_bytes(), b"new a.txt")
                self.assertEqual(self.dst("b.txt").read_bytes(), b"old b.txt")
                self.assertFalse(self.dst("c.txt").exists())
                self.assertFalse(self.dst("d.txt").exists())
                for file in NAMES:
                    self.assertEqual(self.src(file).read_bytes(), ("new " + file).encode())

    def test_after_refusal(self):
        # a.txt is refused before b.txt is asked about: the highest exit
        # code wins, also when the run ends at the question.
        self.dst("a.txt").write_bytes(b"old a.txt")
        self.dst("a.txt").chmod(0o444)  # read-only, as Wine maps it
        self.dst("b.txt").write_bytes(b"old b.txt")
        console = self.run_at_console()
        screen = self.interrupt(console, "b.txt: Overwrite?", exit_code=3)
        self.assertEqual(screen[:3], [self.windows + "dst\\a.txt - Write prohibited file.",
                                      "b.txt: Overwrite?" + SUFFIX.rstrip(), ""])
        self.assertEqual(self.dst("a.txt").read_bytes(), b"old a.txt")
        self.assertEqual(self.dst("b.txt").read_bytes(), b"old b.txt")
        self.assertFalse(self.dst("c.txt").exists())

    def test_copy_question_in_a_move(self):
        # /p asks before each new file: yes for a.txt, Ctrl+C at b.txt.
        console = self.run_at_console("/m", "/p")
        console.wait_for("a.txt: Copy?" + SUFFIX.rstrip())
        console.send_keys("y", "Enter")
        screen = self.interrupt(console, "b.txt: Copy?")
        self.assertEqual(screen[:3], ["Move: a.txt", "b.txt: Copy?" + SUFFIX.rstrip(), ""])
        self.assertEqual(sorted(p.name for p in (self.host / "dst").iterdir()), ["a.txt"])
        self.assertEqual(self.dst("a.txt").read_bytes(), b"new a.txt")
        self.assertEqual(sorted(p.name for p in (self.host / "src").iterdir()),
                         ["b.txt", "c.txt", "d.txt"])
        for file in NAMES[1:]:
            self.assertEqual(self.src(file).read_bytes(), ("new " + file).encode())

    def test_during_a_copy(self):
        # A sparse file large enough that its copy takes a while; the file
        # listed after it must not be started.
        big, copies = self.host / "big", self.host / "bigdst"
        big.mkdir()
        copies.mkdir()
        size = 1536 * 1024 * 1024
        with open(big / "huge.bin", "wb") as huge:
            huge.truncate(size)
        (big / "zz.txt").write_bytes(b"after")
        source, dest = self.windows + "big", self.windows + "bigdst"
        console = Console(wine_command(TOLVI, "/v", source, dest))
        self.addCleanup(console.close)
        console.wait_for("Copy: " + source + "\\huge.bin")
        console.send_keys("C-c")
        self.assertEqual(console.wait_exit(timeout=120), 1)
        # Windows cancels the copy and removes what it wrote; Wine's copy
        # ignores the cancel and runs to its end. Either way nothing in
        # between is left, and the run ends there.
        left = copies / "huge.bin"
        self.assertTrue(not left.exists() or left.stat().st_size == size, left.stat().st_size)
        self.assertFalse((copies / "zz.txt").exists(), "\n".join(console.screen()))

        # A /u run afterwards makes the destination equal to the source.
        again = Console(wine_command(TOLVI, "/u", "/q", source, dest))
        self.addCleanup(again.close)
        again.wait_exit(timeout=120)
        self.assertEqual(sorted(p.name for p in copies.iterdir()), ["huge.bin", "zz.txt"])
        self.assertEqual(left.stat().st_size, size)
        self.assertEqual((copies / "zz.txt").read_bytes(), b"after")

    def test_second_ctrl_c_during_a_copy(self):
        # A second Ctrl+C ends the run at once, the copy unfinished (6 GiB,
        # seconds even from the cache): the name stays absent, the staging
        # file is left for the next run.
        big, copies = self.host / "big6", self.host / "big6dst"
        big.mkdir()
        copies.mkdir()
        with open(big / "huge.bin", "wb") as huge:
            huge.truncate(6 << 30)
        console = Console(wine_command(TOLVI, self.windows + "big6", self.windows + "big6dst"))
        self.addCleanup(console.close)
        console.wait_for("Copy: huge.bin")
        console.wait_until(lambda: any(copies.glob("~tolvi-*.tmp")), what="the copy")
        console.send_keys("C-c")
        time.sleep(0.2)
        second = time.monotonic()
        console.send_keys("C-c")
        self.assertEqual(console.wait_exit(timeout=120), 1)
        self.assertLess(time.monotonic() - second, 1.0)
        self.assertFalse((copies / "huge.bin").exists())

    def test_while_deciding(self):
        # Thousands of files already up to date, between a new first file
        # and a new last one (Wine lists by name): a /u run spends its time
        # deciding, and Ctrl+C lands there, long before the last file.
        src, dst = self.host / "many", self.host / "manydst"
        src.mkdir()
        dst.mkdir()
        for i in range(20000):
            for folder in (src, dst):
                path = folder / ("f%05d.txt" % i)
                path.write_bytes(b"same %d" % i)
                os.utime(path, (1600000000, 1600000000))
        (src / "0000.txt").write_bytes(b"first")
        (src / "0001.txt").write_bytes(b"newer")
        (src / "zz.txt").write_bytes(b"last")
        refusal = self.windows + "manydst\\0001.txt - Write prohibited file."
        for refused, exit_code in [(False, 1), (True, 3)]:
            with self.subTest(refused=refused):
                for name in ["0000.txt", "0001.txt"]:
                    if (dst / name).exists():
                        (dst / name).chmod(0o644)
                        (dst / name).unlink()
                (dst / "0001.txt").write_bytes(b"newer" if not refused else b"older")
                (dst / "0001.txt").chmod(0o444 if refused else 0o644)
                os.utime(dst / "0001.txt", (1600000000, 1600000000))
                os.utime(src / "0001.txt", (1600000000 if not refused else 1700000000,) * 2)
                console = Console(wine_command(TOLVI, "/u", "/l", self.windows + "many",
                                               self.windows + "manydst"), width=160)
                self.addCleanup(console.close)
                if refused:
                    console.wait_for(refusal)
                else:
                    console.wait_until(lambda: (dst / "0000.txt").exists(), what="the first copy")
                console.send_keys("C-c")
                self.assertEqual(console.wait_exit(timeout=60), exit_code)
                # The terminal itself echoes the Ctrl+C as ^C where the
                # cursor stood, as the tool was reading no key.
                screen = [row.replace("^C", "") for row in console.screen()]
                rows = [refusal] if refused else []
                self.assertEqual(screen[:len(rows) + 2], rows + ["1 file(s) copied.", ""])
                self.assertEqual((dst / "0000.txt").read_bytes(), b"first")
                self.assertEqual((dst / "0001.txt").read_bytes(), b"newer" if not refused else b"older")
                self.assertFalse((dst / "zz.txt").exists())
                names = sorted(p.name for p in dst.iterdir())
                self.assertEqual(names, sorted(p.name for p in src.iterdir() if p.name != "zz.txt"))
                for name in names[2:]:
                    self.assertEqual((dst / name).read_bytes(), (src / name).read_bytes())
                (dst / "0001.txt").chmod(0o644)


if __name__ == "__main__":
    unittest.main()
