"""The Yes/No/All question at a real console: the letter each key leaves on
the screen, the answer and flag it returns, and the screen it leaves.

Run as: python3 test_prompt.py <folder with prompt_probe.exe>

Keys Wine cannot deliver from a terminal as Windows does are covered by
the unit tests of the key steps instead: a lone Esc never reaches _getwch,
the bell is not passed on to the terminal, and Ctrl+C reaches the program
as a signal (to the console control handler that the probe installs, as
the tool does), not as the key 0x03.
"""

import os
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from tmux_console import Console, wine_command  # noqa: E402

BIN = Path(sys.argv.pop(1) if len(sys.argv) > 1 else os.environ.get("TOLVI_BIN", ".")).resolve()
PROBE = BIN / "prompt_probe.exe"
SUFFIX = " (Yes/No/All) "
QUESTION = "a.txt: Overwrite?"
ASKED = QUESTION + SUFFIX


def blank(rows):
    return all(row == "" for row in rows)


class PromptAtConsole(unittest.TestCase):
    def start(self, *args, width=80, height=24, redirect=""):
        console = Console(wine_command(PROBE, *args, redirect=redirect),
                          width=width, height=height)
        self.addCleanup(console.close)
        return console

    def shown(self, console, row):
        """What stands after the suffix on `row` and the cursor's column
        counted from the suffix's end; None while the row holds no
        question."""
        text = console.screen()[row]
        prefix = ASKED.rstrip()
        if not text.startswith(prefix):
            return None
        return text[len(prefix):].strip(), console.cursor()[0] - len(ASKED)

    def expect_shown(self, console, letter, row=0):
        console.wait_until(lambda: self.shown(console, row) == (letter, len(letter)),
                           what="%r shown after the suffix" % letter)

    # Each row: the keys, the letter that stands after the suffix after
    # each key, and the result line after the confirming Enter.
    KEY_ROWS = [
        ("capital Y is shown as y", [("Y", "y")], "answer=1 flag=0"),
        ("each letter replaces the last", [("y", "y"), ("n", "n")], "answer=0 flag=0"),
        ("All inverts the flag", [("A", "a")], "answer=1 flag=1"),
        ("Enter with nothing shown is ignored",
         [("Enter", ""), ("n", "n")], "answer=0 flag=0"),
        ("Backspace removes the letter; a second one does nothing",
         [("a", "a"), ("BSpace", ""), ("BSpace", ""), ("Enter", ""), ("y", "y")],
         "answer=1 flag=0"),
        ("an arrow key removes the letter", [("n", "n"), ("Left", ""), ("Enter", ""),
                                             ("a", "a")], "answer=1 flag=1"),
        ("Home (ESC [ H) removes the letter", [("y", "y"), ("\x1b[H", ""), ("n", "n")],
         "answer=0 flag=0"),
        # It also rings the bell, which Wine does not pass on.
        ("another key removes the letter", [("n", "n"), ("x", ""), ("Enter", ""),
                                            ("y", "y")], "answer=1 flag=0"),
        # U+00E0 is the special-key prefix: the key after it is dropped.
        ("a typed \u00e0 drops the key after it",
         [("y", "y"), ("\u00e0", "y"), ("n", ""), ("Enter", ""), ("a", "a")],
         "answer=1 flag=1"),
    ]

    def send(self, console, key):
        if len(key) > 1 and not key.isalpha():
            console.send_text(key)
        else:
            console.send_keys(key)

    def test_keys(self):
        for name, steps, result in self.KEY_ROWS:
            with self.subTest(name):
                console = self.start("/hold", QUESTION)
                console.wait_for(ASKED.rstrip())
                self.assertEqual(console.cursor(), (len(ASKED), 0))
                for key, letter in steps:
                    self.send(console, key)
                    self.expect_shown(console, letter)

                # The answer erases the question and leaves the cursor where
                # the question began; the probe then waits for a key.
                console.send_keys("Enter")
                console.wait_until(lambda: blank(console.screen()), what="a blank screen")
                self.assertEqual(console.cursor(), (0, 0))
                console.send_keys("z")
                self.assertEqual(console.wait_exit(), 0)
                self.assertEqual(console.screen(), [result] + [""] * 23)
                self.assertEqual(console.cursor(), (0, 1))

    def test_all_stops_later_questions_of_its_kind(self):
        cases = [
            # overwrite question: the flag starts false
            ((), ["a", "Enter"], ["answer=1 flag=1", "skipped flag=1"]),
            # copy question: the flag starts true
            (("/copy",), ["a", "Enter"], ["answer=1 flag=0", "skipped flag=0"]),
            # All taken back before Enter: the next question is asked
            ((), ["a", "BSpace", "y", "Enter", "n", "Enter"],
             ["answer=1 flag=0", "answer=0 flag=0"]),
        ]
        for options, keys, results in cases:
            with self.subTest(options=options, keys=keys):
                console = self.start(*options, QUESTION, "b.txt: Overwrite?")
                console.wait_for(ASKED.rstrip())
                for key in keys:
                    console.send_keys(key)
                    if key == "Enter":
                        console.wait_until(lambda: "answer=" in console.screen()[0],
                                           what="the first answer")
                self.assertEqual(console.wait_exit(), 0)
                self.assertEqual(console.screen()[:3], results + [""])
                self.assertEqual(console.cursor(), (0, 2))

    def test_ctrl_c_ends_the_run_and_leaves_the_question(self):
        console = self.start(QUESTION, "b.txt: Overwrite?")
        console.wait_for(ASKED.rstrip())
        console.send_keys("y")
        self.expect_shown(console, "y")
        console.send_keys("C-c")
        self.assertEqual(console.wait_exit(), 1)
        self.assertEqual(console.screen()[:2], [ASKED + "y", ""])
        self.assertEqual(console.cursor(), (len(ASKED) + 1, 0))

    def test_wrapped_question_is_erased_on_every_row(self):
        width = 30
        # The second question starts on row 1. With its suffix and letter
        # it takes 80 columns (the letter on its third row), or exactly 60
        # (the letter in the last column of its second row, which moves the
        # cursor on to the start of the third).
        for question in ["a-rather-long-file-name-that-wraps-over-rows-here.txt: Overwrite?",
                         "x" * 33 + ": Overwrite?"]:
            asked = question + SUFFIX + "n"
            with self.subTest(columns=len(asked)):
                console = self.start("/hold", "first: Overwrite?", question,
                                     width=width, height=8)
                console.wait_for("first: Overwrite?" + SUFFIX.rstrip())
                console.send_keys("y", "Enter", "z")
                console.wait_for("(Yes/No/All)")
                console.send_keys("n")

                def rows_1_to_3():
                    return "".join(row.ljust(width) for row in console.screen()[1:4]).rstrip()
                console.wait_until(lambda: rows_1_to_3() == asked, what="the wrapped question")
                self.assertEqual(console.cursor(), (len(asked) % width, 1 + len(asked) // width))

                console.send_keys("Enter")
                console.wait_until(lambda: blank(console.screen()[1:]), what="blank rows")
                self.assertEqual(console.screen()[0], "answer=1 flag=0")
                self.assertEqual(console.cursor(), (0, 1))
                console.send_keys("z")
                self.assertEqual(console.wait_exit(), 0)
                self.assertEqual(console.screen(),
                                 ["answer=1 flag=0", "answer=0 flag=0"] + [""] * 6)

    def test_standard_error_redirected_asks_nothing(self):
        console = self.start(QUESTION, "b.txt: Overwrite?", redirect="2>err.txt")
        # No key is sent: the probe must end by itself.
        self.assertEqual(console.wait_exit(), 0)
        self.assertEqual(console.screen()[:3], ["answer=0 flag=0", "answer=0 flag=0", ""])
        self.assertEqual((Path(console.work) / "err.txt").read_bytes(), b"")


if __name__ == "__main__":
    unittest.main()
