"""Drives Windows console programs under Wine at a real terminal (tmux).

Each Console starts one command in a fresh, detached tmux session on a
tmux server of its own (a private socket), so nothing is shared with other
sessions or with the user's tmux set-up, and closing it ends exactly the
processes it started. Standard library only.

    with Console(wine_command(exe, "a.txt: Overwrite?"), width=80) as console:
        console.wait_for("(Yes/No/All) ")
        console.send_keys("y", "Enter")
        status = console.wait_exit()

How Wine delivers keys to _getwch from a terminal (tmux send-keys names):
  Enter            0x0D
  BSpace           0x7F at the terminal, delivered as 0x08
  Up/Down/Left/Right  0xE0 then 0x48 / 0x50 / 0x4B / 0x4D
  Home / End       0xE0 0x47 / 0xE0 0x4F, but only as the sequences ESC[H
                   and ESC[F (send_text("\\x1b[H"))
  Escape, F-keys   nothing at all: a lone Esc is swallowed
  C-c              nothing: the terminal raises SIGINT in the whole
                   foreground process group, which Wine passes to the
                   program's console control handlers; without one of
                   its own Wine ends the program with status 0
Wine also reports the cursor at (0,0) when the program starts, wherever the
terminal's cursor really is, so the screen is cleared before the command
runs. A bell character is not passed on to the terminal. Wine hides the
terminal's cursor while it draws and shows it again afterwards unless the
program has hidden it, so cursor_visible() tells what the program left.
"""

import os
import shlex
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
_serial = 0


def wine_program():
    """The wine64 loader: $WINE, wine64 on PATH, or Debian's location."""
    return (os.environ.get("WINE") or shutil.which("wine64")
            or "/usr/lib/wine/wine64")


def wine_prefix():
    return os.environ.get("WINEPREFIX") or str(REPO / "build" / "wineprefix")


def wine_command(exe, *args, redirect=""):
    """A shell command running `exe` with `args` under Wine; `redirect` is
    appended as written (for example "2>err.txt")."""
    words = [wine_program(), str(exe)] + [str(a) for a in args]
    command = " ".join(shlex.quote(w) for w in words)
    return command + (" " + redirect if redirect else "")


def scratch_folder():
    """build/console: the console tests' own folders, inside the checkout
    (reached through Z:, not a test drive)."""
    folder = REPO / "build" / "console"
    folder.mkdir(parents=True, exist_ok=True)
    return str(folder)


def drive_folder(letter):
    """The host folder a drive letter of the Wine prefix is mapped to, or
    None."""
    link = Path(wine_prefix()) / "dosdevices" / (letter.lower() + ":")
    return link.resolve() if link.is_symlink() else None


def ensure_japanese_locale():
    """Wine takes the language from LC_ALL=ja_JP.UTF-8 even where the locale
    is missing, but it then draws Japanese text as "?"; generate it."""
    listed = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout
    if not any(name.lower() in ("ja_jp.utf8", "ja_jp.utf-8") for name in listed.split()):
        subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8", "ja_JP.UTF-8"],
                       check=True, capture_output=True, timeout=120)


class Console:
    def __init__(self, command, width=80, height=24, language="C.UTF-8",
                 cwd=None):
        """Starts `command` (a shell command line) in a terminal of
        `width` x `height`, in `cwd` (default: a fresh folder of its own,
        `work`, removed by close). `language` is the locale of the command:
        LANG for "C.UTF-8", otherwise LC_ALL (for example "ja_JP.UTF-8")."""
        global _serial
        _serial += 1
        self.socket = "tolvi-console-%d-%d" % (os.getpid(), _serial)
        self.target = "main"
        self.work = tempfile.mkdtemp(prefix="tolvi-console-", dir=scratch_folder())
        self.status_file = os.path.join(self.work, "status")

        env = {"WINEPREFIX": wine_prefix(), "WINEDEBUG": "-all",
               "WINEDLLOVERRIDES": "winedbg.exe=d"}
        unset = ["LC_ALL", "LANG", "LC_MESSAGES", "LC_CTYPE"]
        env["LANG" if language == "C.UTF-8" else "LC_ALL"] = language
        prefix = "env " + " ".join("-u " + name for name in unset) + " " + \
            " ".join("%s=%s" % (k, shlex.quote(v)) for k, v in env.items())
        # Clear the screen, run, keep the exit status, and keep the pane
        # open so the screen can still be read after the command ended.
        # Ctrl+C at the terminal also sends SIGINT to the shell; bash, unlike
        # dash, carries on when its child was not itself ended by it.
        script = ("printf '\\033[H\\033[2J'; %s %s; echo $? > %s; exec sleep 300"
                  % (prefix, command, shlex.quote(self.status_file)))
        self.socket_path = None
        try:
            self._tmux("-f", os.devnull, "new-session", "-d", "-s", self.target,
                       "-x", str(width), "-y", str(height),
                       "-c", str(cwd or self.work), "bash -c " + shlex.quote(script))
            self.socket_path = self._format("#{socket_path}")
        except BaseException:
            self.close()
            raise

    def _tmux(self, *args):
        result = subprocess.run(["tmux", "-u", "-L", self.socket] + list(args),
                                 capture_output=True, text=True, timeout=30)
        if result.returncode != 0:
            raise RuntimeError("tmux %s failed: %s" % (" ".join(args), result.stderr.strip()))
        return result.stdout

    def send_keys(self, *keys):
        """tmux key names: "y", "Enter", "BSpace", "Left", "Escape", "C-c"."""
        self._tmux("send-keys", "-t", self.target, *keys)

    def send_text(self, text):
        """Literal text, sent as its bytes."""
        self._tmux("send-keys", "-l", "-t", self.target, text)

    def screen(self):
        """The visible rows, trailing blanks removed, one string each."""
        rows = self._tmux("capture-pane", "-p", "-t", self.target).split("\n")
        return [row.rstrip() for row in rows[:self.height()]]

    def _format(self, text):
        return self._tmux("display", "-p", "-t", self.target, text).strip()

    def height(self):
        return int(self._format("#{pane_height}"))

    def cursor(self):
        """(column, row) of the terminal's cursor."""
        x, y = self._format("#{cursor_x} #{cursor_y}").split()
        return int(x), int(y)

    def cursor_visible(self):
        return self._format("#{cursor_flag}") == "1"

    def program_pid(self):
        """The Unix process id of the command the pane's shell runs (for a
        Windows program, Wine's process of it), or None when none runs."""
        shell = self._format("#{pane_pid}")
        for stat in Path("/proc").glob("[0-9]*/stat"):
            try:
                if stat.read_text().rsplit(")", 1)[1].split()[1] == shell:
                    return int(stat.parent.name)
            except OSError:
                continue
        return None

    def exit_status(self):
        """The command's exit status, or None while it runs."""
        try:
            with open(self.status_file) as f:
                text = f.read().strip()
        except FileNotFoundError:
            return None
        return int(text) if text else None

    def wait_until(self, condition, timeout=20, what="condition"):
        """Waits until `condition()` holds; fails after `timeout` seconds,
        or at once when the command has ended without it holding (the
        screen cannot change any more)."""
        deadline = time.monotonic() + timeout
        while True:
            ended = self.exit_status() is not None
            if condition():
                return
            if ended or time.monotonic() > deadline:
                reason = ("the command ended with status %s" % self.exit_status() if ended
                          else "timed out after %ss" % timeout)
                raise AssertionError("%s waiting for %s; screen:\n%s"
                                     % (reason, what, "\n".join(self.screen())))
            time.sleep(0.05)

    def wait_for(self, text, timeout=20):
        """Waits until `text` stands on the screen; returns the screen."""
        self.wait_until(lambda: text in "\n".join(self.screen()), timeout,
                        repr(text))
        return self.screen()

    def wait_exit(self, timeout=20):
        """Waits until the command has ended; returns its exit status."""
        self.wait_until(lambda: self.exit_status() is not None, timeout,
                        "the command to end")
        return self.exit_status()

    def close(self):
        subprocess.run(["tmux", "-L", self.socket, "kill-server"],
                       capture_output=True, timeout=30)
        # A server that ended by itself (its only pane gone) may leave its
        # socket behind.
        if self.socket_path and os.path.exists(self.socket_path):
            os.remove(self.socket_path)
        shutil.rmtree(self.work, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
