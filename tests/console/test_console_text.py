"""Text of the tool at a real console: the usage text in Japanese and in
English, the usage text redirected from a console in code page 65001 or
932, the per-file report line (after a question, too) with the cursor it
leaves, and the percentage a long copy shows after it.

Run as: python3 test_console_text.py <folder with tolvi.exe>
"""

import os
import re
import shutil
import signal
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from tmux_console import (Console, drive_folder, ensure_japanese_locale,  # noqa: E402
                          scratch_folder, wine_command)

BIN = Path(sys.argv.pop(1) if len(sys.argv) > 1 else os.environ.get("TOLVI_BIN", ".")).resolve()
TOLVI = BIN / "tolvi.exe"
JAPANESE = "ja_JP.UTF-8"

USAGE_HEAD = "Tolvi [/a] [/e | /p] [/f] [/m[r]] [/r] [/u] [/h] [/c] [/l | /q | /t | /v] "
ENGLISH_USAGE = [
    "Copy files.",
    "",
    USAGE_HEAD + "source [destination]",
    "      /a Do not copy attribute",
    "      /e Copy only file which exist",
    "      /p Promp for new copy",
    "      /f No overwrite prompt",
    "      /m Move file",
    "         r Move read only file also",
    "      /r Overwrite read only file also",
    "      /u Copy only newer file",
    "      /h Include hidden and system attribute",
    "      /c Keep file create date/time",
    "      /l Display only number of files copied",
    "      /q No display, no overwrite prompt",
    "      /t Display copy destination",
    "      /v Verbose",
]
JAPANESE_USAGE = [
    "ファイルをコピーします。",
    "",
    USAGE_HEAD + "コピー元 [コピー先]",
    "      /a 属性はコピーしない",
    "      /e 存在するファイルのみコピーする",
    "      /p 新規コピーの確認をする",
    "      /f 上書き確認なし",
    "      /m ファイルを移動する",
    "         r 読み取り専用ファイルも移動する",
    "      /r 読み取り専用ファイルも上書きする",
    "      /u 新しいファイルのみコピーする",
    "      /h 隠し属性およびシステム属性も含める",
    "      /c ファイル作成日時を維持する",
    "      /l コピーしたファイルの数だけ表示する",
    "      /q 表示なし、上書き確認なし",
    "      /t コピー先を表示する",
    "      /v 詳細表示",
]


def windows_path(path):
    """The path of a host file as Wine's drive Z: shows it."""
    return "Z:" + str(path).replace("/", "\\")


def setUpModule():
    ensure_japanese_locale()


class UsageText(unittest.TestCase):
    def test_usage_at_console_in_each_language(self):
        for language, lines in [(JAPANESE, JAPANESE_USAGE), ("C.UTF-8", ENGLISH_USAGE)]:
            with self.subTest(language=language):
                with Console(wine_command(TOLVI, "/?"), width=120, height=24,
                             language=language) as console:
                    self.assertEqual(console.wait_exit(), 0)
                    self.assertEqual(console.screen(), lines + [""] * 7)
                    self.assertEqual(console.cursor(), (0, 17))

    def test_usage_redirected_from_console_uses_its_code_page(self):
        # UTF-8 without a byte-order mark under code page 65001; under 932
        # the system's ANSI code page, which is Shift-JIS here too.
        for chcp, encoding in [("chcp 65001 >nul & ", "utf-8"), ("", "cp932")]:
            with self.subTest(encoding=encoding):
                command = wine_command("cmd", "/c", chcp + windows_path(TOLVI) + " /? > out.txt")
                with Console(command, language=JAPANESE) as console:
                    self.assertEqual(console.wait_exit(), 0)
                    self.assertEqual(console.screen(), [""] * 24)
                    expected = "".join(line + "\r\n" for line in JAPANESE_USAGE).encode(encoding)
                    self.assertEqual((Path(console.work) / "out.txt").read_bytes(), expected)


class ReportLine(unittest.TestCase):
    def setUp(self):
        scratch = drive_folder("s")
        self.assertIsNotNone(scratch, "drive S: of the Wine prefix is not mapped")
        self.folder = scratch / ("console-%d-%s" % (os.getpid(), self._testMethodName))
        shutil.rmtree(self.folder, ignore_errors=True)
        (self.folder / "dst").mkdir(parents=True)
        self.addCleanup(shutil.rmtree, self.folder, True)
        (self.folder / "a.txt").write_bytes(b"new contents\r\n")

    def run_copy(self, language="C.UTF-8", folder=None):
        console = Console(wine_command(TOLVI, "a.txt", "dst"), language=language,
                          cwd=folder or self.folder)
        self.addCleanup(console.close)
        return console

    def test_new_copy_shows_its_line_and_leaves_the_cursor_visible(self):
        # On the scratch drive and on drive Z:, where the host's own folders
        # are: nothing but the report line reaches the screen.
        host = Path(tempfile.mkdtemp(prefix="tolvi-console-z-", dir=scratch_folder()))
        self.addCleanup(shutil.rmtree, host, True)
        (host / "dst").mkdir()
        (host / "a.txt").write_bytes(b"new contents\r\n")
        for folder in [self.folder, host]:
            with self.subTest(folder=str(folder)):
                console = self.run_copy(folder=folder)
                self.assertEqual(console.wait_exit(), 0)
                self.assertEqual(console.screen(), ["Copy: a.txt"] + [""] * 23)
                self.assertEqual(console.cursor(), (0, 1))
                self.assertTrue(console.cursor_visible())
                self.assertEqual((folder / "dst" / "a.txt").read_bytes(), b"new contents\r\n")

    def test_report_line_takes_the_place_of_the_question(self):
        for language, question, key, line, status, contents in [
            ("C.UTF-8", "a.txt: Overwrite? (Yes/No/All)", "y", "Update: a.txt", 0,
             b"new contents\r\n"),
            (JAPANESE, "a.txt: 上書きしますか？ (Yes/No/All)", "n", None, 1, b"old\r\n"),
        ]:
            with self.subTest(language=language, key=key):
                (self.folder / "dst" / "a.txt").write_bytes(b"old\r\n")
                console = self.run_copy(language)
                console.wait_for(question)
                self.assertEqual(console.screen()[0], question)
                console.send_keys(key)
                console.wait_for(question + " " + key)
                console.send_keys("Enter")
                self.assertEqual(console.wait_exit(), status)
                rows = [line] if line else []
                self.assertEqual(console.screen(), rows + [""] * (24 - len(rows)))
                self.assertEqual(console.cursor(), (0, len(rows)))
                self.assertTrue(console.cursor_visible())
                self.assertEqual((self.folder / "dst" / "a.txt").read_bytes(), contents)


    def test_question_at_console_while_output_goes_to_a_file(self):
        # Standard output redirected, standard error a console: the question
        # is asked and erased on the screen, the report line goes to the file.
        (self.folder / "dst" / "a.txt").write_bytes(b"old\r\n")
        console = Console(wine_command(TOLVI, "a.txt", "dst", redirect="> out.txt"),
                          cwd=self.folder)
        self.addCleanup(console.close)
        question = "a.txt: Overwrite? (Yes/No/All)"
        console.wait_for(question)
        console.send_keys("y")
        console.wait_for(question + " y")
        console.send_keys("Enter")
        self.assertEqual(console.wait_exit(), 0)
        self.assertEqual(console.screen(), [""] * 24)
        self.assertEqual(console.cursor(), (0, 0))
        self.assertEqual((self.folder / "out.txt").read_bytes(), b"Update: a.txt\r\n")
        self.assertEqual((self.folder / "dst" / "a.txt").read_bytes(), b"new contents\r\n")

    def test_unasked_question_is_written_to_the_error_file(self):
        # Standard error in a file: the question cannot be asked, and the
        # file is refused under the destination's path in the run's
        # language (the end-to-end tests, without a console, see English),
        # in the system's ANSI code page, Shift-JIS here; exit code 3.
        (self.folder / "dst" / "a.txt").write_bytes(b"old\r\n")
        (self.folder / "b.txt").write_bytes(b"new b\r\n")
        dst = "S:\\" + self.folder.name + "\\dst\\"
        for language, args, text, encoding in [
            (JAPANESE, ["a.txt"], "a.txt - 上書きの確認ができませんでした。", "cp932"),
            (JAPANESE, ["/p", "b.txt"], "b.txt - コピーの確認ができませんでした。", "cp932"),
        ]:
            with self.subTest(language=language, args=args):
                console = Console(wine_command(TOLVI, *args, "dst", redirect="2> err.txt"),
                                  language=language, cwd=self.folder)
                self.addCleanup(console.close)
                self.assertEqual(console.wait_exit(), 3)
                self.assertEqual(console.screen(), [""] * 24)
                self.assertEqual((self.folder / "err.txt").read_bytes(),
                                 (dst + text + "\r\n").encode(encoding))
                self.assertEqual((self.folder / "dst" / "a.txt").read_bytes(), b"old\r\n")
                self.assertFalse((self.folder / "dst" / "b.txt").exists())


class CopyProgress(unittest.TestCase):
    """A long copy's percentage after its report line, gone when it ends;
    never in redirected output. The tool is held still (SIGSTOP) now and
    then, as a slow disk would hold it, however fast this machine writes."""
    SIZE = 1 << 30

    def setUp(self):
        scratch = drive_folder("s")
        self.assertIsNotNone(scratch, "drive S: of the Wine prefix is not mapped")
        self.folder = scratch / ("progress-%d" % os.getpid())
        shutil.rmtree(self.folder, ignore_errors=True)
        (self.folder / "src").mkdir(parents=True)
        (self.folder / "dst").mkdir()
        self.addCleanup(shutil.rmtree, self.folder, True)
        with open(self.folder / "src" / "big.bin", "wb") as big:
            big.truncate(self.SIZE)
        # Its line fills the 80 columns of its row.
        self.edge = "e" * (80 - len("Copy: .bin")) + ".bin"
        os.link(self.folder / "src" / "big.bin", self.folder / "src" / self.edge)

    def run_slowly(self, *args, redirect=""):
        """Runs the tool to its end (exit code 0), holding it still for 0.3 s
        ten times, 20 ms apart, from the start of each copy; returns the
        console and every screen seen meanwhile."""
        console = Console(wine_command(TOLVI, *args, redirect=redirect), cwd=self.folder)
        self.addCleanup(console.close)
        screens, held, deadline = [], set(), time.monotonic() + 120
        while console.exit_status() is None and time.monotonic() < deadline:
            screens.append("\n".join(console.screen()))
            pid = console.program_pid()
            for staging in (self.folder / "dst").glob("~tolvi-*.tmp"):
                for _ in range(10 if pid and staging.name not in held else 0):
                    held.add(staging.name)
                    if not staging.exists():  # the copy is complete
                        break
                    os.kill(pid, signal.SIGSTOP)
                    try:
                        time.sleep(0.3)
                        screens.append("\n".join(console.screen()))
                    finally:
                        os.kill(pid, signal.SIGCONT)
                    time.sleep(0.02)
        self.assertEqual(console.wait_exit(), 0)
        return console, screens

    def test_figure_while_copying_then_the_line_as_before(self):
        # A line that fills its row leaves an empty row after it, as always.
        for args, lines, rows in [
            (["src", "dst"], ["Copy: big.bin", "Copy: " + self.edge],
             ["Copy: big.bin", "Copy: " + self.edge, ""]),
            (["/f", "src\\big.bin", "dst"], ["Update: big.bin"], ["Update: big.bin"]),
        ]:
            with self.subTest(args=args):
                console, screens = self.run_slowly(*args)
                for line in lines:
                    # On the line's row, or the next when the line fills it.
                    pattern = re.compile(re.escape(line) + r"\n? (\d+)%$", re.M)
                    figures = {f for screen in screens for f in pattern.findall(screen)}
                    self.assertGreaterEqual(len(figures), 2, (line, figures))
                self.assertEqual(console.screen(), rows + [""] * (24 - len(rows)))
                self.assertEqual(console.cursor(), (0, len(rows)))
                self.assertTrue(console.cursor_visible())
        console, screens = self.run_slowly("/f", "src\\big.bin", "dst", redirect="> out.txt")
        self.assertEqual(set(screens), {"\n" * 23})
        self.assertEqual((self.folder / "out.txt").read_bytes(), b"Update: big.bin\r\n")
        self.assertEqual((self.folder / "dst" / "big.bin").stat().st_size, self.SIZE)


if __name__ == "__main__":
    unittest.main()
