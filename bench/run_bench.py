#!/usr/bin/env python3
"""Benchmarks tolvi.exe under Wine, side by side with its references.

Every scenario runs each of its commands once per round, interleaved
(A, B, C, A, B, C, ...), so that the load of the machine falls on all of
them alike; the report gives the median time of each command and the
median of the per-round ratios tool / reference.

Scenarios (--scenarios picks some; SRC and DST are the two folders; the
file count, 2,000 by default, is set by --files):
  new     copy of 2,000 files of 1 KiB into an empty folder;
  over    the same over copies whose times are an hour older;
  same    the same over copies that carry the source's times (/f: every
          file is replaced);
  rerun   /u over copies that carry the source's times: nothing to do;
  half    /u over copies where every other source is an hour newer: that
          half is replaced, the other half left alone;
  move    move of the files into an empty folder;
  nonew   "over" in a destination folder where no file may be made
          (chattr +i, as root): the copies are written in place, against
          the floor, which writes them in place too;
  large   copy of one large file.
In new, over, rerun and move, "tolvi, report lines" is tolvi without /q
(/f over older copies, /u in the re-run), its report lines going to a
file; --no-report-lines leaves it out.

References:
  * Wine's xcopy with the nearest options (/y /q, and /d for the /u runs;
    every destination ends in a backslash, so it never asks whether it is a
    file or a folder); for the move, which xcopy cannot do, Wine's cmd
    "move /y";
  * the floor: bare_loop.exe in its floor mode, which makes per file only
    the calls that the tool's decisions need (the source and an existing
    destination opened for their times, the attributes of both by path, the
    stored-name lookup of a replaced destination, one CopyFileW or
    MoveFileW), with no output;
  * in the new-file and both overwrite scenarios (over, same) also the
    staged floor: the floor with each copy going to a staging name, a new
    file then renamed to its name (no replace), an existing one replaced
    by the staged copy (ReplaceFileW), as the tool stages its copies; the
    report gives tolvi / staged floor, staged floor / floor (what staging
    costs) and staged floor / peer;
  * the bare loop: bare_loop.exe listing the same files and calling
    CopyFileW / MoveFileW for each with no checks; only where it does the
    same work as the tool (not for the /u scenarios);
  * for the large file, native "cp --reflink=never": the storage floor.

With --count-calls the script also runs each command under a Wine relay
trace (WINEDEBUG=+relay) for two sizes of the same folder and reports, per
file, the difference divided by the difference in files, so that start-up
and per-run work cancel out:
  * the calls that the program itself makes into KERNEL32, ntdll and
    msvcrt (those whose return address lies inside its image), for
    tolvi.exe and bare_loop.exe;
  * the NT system calls (ntdll Nt*) of the whole process, for every
    command alike. Wine's default relay settings do not trace calls that
    KERNEL32 itself makes, so these counts are a lower bound.

With --call-costs it runs call_costs.exe, which times each single call of
the per-file decision on every file of a folder of copies.

Every run is checked on the files it leaves behind (which were replaced,
which were left alone) and on its exit code (tolvi gives 1 when /u skipped
a file). Exit code 0 when every run did what it should, 1 otherwise.
"""

import argparse
import collections
import datetime
import os
import platform
import re
import shutil
import statistics
import struct
import subprocess
import sys
import threading
import time

WINE = "/usr/lib/wine/wine64"
ALL_SCENARIOS = ("new", "over", "same", "rerun", "half", "move", "nonew", "large")
CALL_SCENARIOS = ("new", "over", "same", "rerun", "half", "move")

# The targets: tool / peer, and tool / floor in every scenario.
PEER_TARGETS = {"new": 0.95, "over": 1.15, "rerun": 1.3, "move": 1.0}
FLOOR_TARGET = 1.1
# Where no file may be made, the copy in place against the in-place floor.
FLOOR_TARGETS = {"nonew": 1.2}
STAGED_FLOOR = "staged floor"


def windows_path(path):
    """The Z: form Wine gives a Linux path."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine_env(debug="-all"):
    env = dict(os.environ)
    env["WINEDEBUG"] = debug
    env["WINEDLLOVERRIDES"] = "winedbg.exe=d"
    env.setdefault("LANG", "C.UTF-8")
    return env


class Command:
    """One command of a comparison: a label, an argv, whether it runs under
    Wine, the program file whose own calls are counted, the exit codes that
    count as success, and its role (tool, peer, floor, bare, native)."""

    def __init__(self, label, argv, role, wine=True, exe=None, codes=(0,)):
        self.label = label
        self.argv = argv
        self.role = role
        self.wine = wine
        self.exe = exe
        self.codes = codes

    def full_argv(self):
        return [WINE] + self.argv if self.wine else self.argv


def run_once(command, log_dir, timeout, debug="-all"):
    """Runs a command with standard output and error in files; returns
    (seconds, exit code, stderr path). A run past the timeout is killed and
    counts as failed (exit code None). The wait blocks until the process
    ends (a timer does the killing), since a wait with a timeout polls and
    would round the times up to its polling step (50 ms)."""
    out_path = os.path.join(log_dir, "stdout.txt")
    err_path = os.path.join(log_dir, "stderr.txt")
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        start = time.perf_counter()
        process = subprocess.Popen(command.full_argv(), stdin=subprocess.DEVNULL,
                                   stdout=out, stderr=err, env=wine_env(debug))
        timer = threading.Timer(timeout, process.kill)
        timer.start()
        code = process.wait()
        seconds = time.perf_counter() - start
        timed_out = not timer.is_alive()
        timer.cancel()
    return seconds, None if timed_out else code, err_path


def run_problem(command, code, check, timeout):
    """None when the run did what it should, else what went wrong."""
    if code is None:
        return "timed out after %d s" % timeout
    if code not in command.codes:
        return "exit code %d, expected %s" % (code, " or ".join(str(c) for c in command.codes))
    return check()


# ---------------------------------------------------------------------------
# Files


def fill_folder(folder, count, size):
    """count files of size bytes, names f00000.dat and on, random contents."""
    empty_folder(folder)
    block = os.urandom(size)
    for index in range(count):
        with open(os.path.join(folder, "f%05d.dat" % index), "wb") as handle:
            handle.write(block)


def empty_folder(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)


def file_names(folder):
    return sorted(entry.name for entry in os.scandir(folder) if entry.is_file())


def copy_with_times(src, dst):
    """dst: copies of every file of src with the source's times."""
    empty_folder(dst)
    for name in file_names(src):
        shutil.copy2(os.path.join(src, name), os.path.join(dst, name))


def seconds_of(path):
    return os.stat(path).st_mtime_ns // 10**9


def state_of(path):
    """What changes when a file is written or replaced."""
    info = os.stat(path)
    return info.st_ino, info.st_ctime_ns, info.st_mtime_ns, info.st_size


def newer_half(names):
    """Every other file, the first included."""
    return set(names[::2])


class Snapshot:
    """The state of a folder's files, taken before a run, so that a check
    can tell the files replaced from the files left alone."""

    def __init__(self):
        self.states = {}

    def take(self, folder):
        self.states = {name: state_of(os.path.join(folder, name)) for name in file_names(folder)}


# ---------------------------------------------------------------------------
# Scenarios


class Scenario:
    """A comparison: commands, a set-up before the rounds, a preparation
    before every run, and a check of the files after it."""

    def __init__(self, key, name, files, commands, setup, prepare, check, timeout=600):
        self.key = key
        self.name = name
        self.files = files
        self.commands = commands
        self.setup = setup
        self.prepare = prepare
        self.check = check
        self.timeout = timeout


class Bench:
    """The programs and folders that the scenarios share."""

    def __init__(self, args):
        bin_dir = os.path.abspath(args.bin)
        self.tolvi = os.path.abspath(args.tolvi) if args.tolvi else os.path.join(bin_dir, "tolvi.exe")
        self.bare = os.path.join(bin_dir, "bare_loop.exe")
        self.others = []
        for item in args.also:
            label, _, exe = item.partition("=")
            self.others.append((label, os.path.abspath(exe)))
        self.report_lines = args.report_lines
        self.large_mib = args.large_mib
        data = os.path.abspath(args.data)
        self.data = data
        self.src = os.path.join(data, "src")
        self.dst = os.path.join(data, "dst")
        self.w_dst = windows_path(self.dst)
        self.pattern = windows_path(self.src) + "\\*.dat"

    def programs(self):
        return [self.tolvi, self.bare] + [exe for _, exe in self.others]

    def tools(self, options, codes=(0,)):
        """tolvi and every --also build, with the same options."""
        commands = [Command("tolvi", [self.tolvi] + options + [self.pattern, self.w_dst], "tool",
                            exe=self.tolvi, codes=codes)]
        for label, exe in self.others:
            commands.append(Command(label, [exe] + options + [self.pattern, self.w_dst], "tool",
                                    exe=exe, codes=codes))
        return commands

    def report_line_variant(self, options, codes=(0,)):
        """tolvi without /q, its report lines going to a file."""
        if not self.report_lines:
            return []
        return [Command("tolvi, report lines", [self.tolvi] + options + [self.pattern, self.w_dst],
                        "tool", exe=self.tolvi, codes=codes)]

    def xcopy(self, options):
        return Command("xcopy " + " ".join(options),
                       ["xcopy", self.pattern, self.w_dst + "\\"] + options, "peer")

    def floor(self, mode, label="floor"):
        return Command(label, [self.bare, "floor"] + mode + [self.pattern, self.w_dst + "\\"],
                       "floor", exe=self.bare)

    def bare_loop(self, mode):
        return Command("bare loop", [self.bare, mode, self.pattern, self.w_dst + "\\"], "bare",
                       exe=self.bare)

    # -- checks ------------------------------------------------------------

    def all_copied(self, files):
        """Every source has a copy with its last-write second."""
        def check():
            names = file_names(self.dst)
            if len(names) != files:
                return "%d files in %s, expected %d" % (len(names), self.dst, files)
            for name in names:
                if seconds_of(os.path.join(self.dst, name)) != seconds_of(os.path.join(self.src, name)):
                    return "%s does not carry the source's time" % name
            return None
        return check

    def replaced_exactly(self, snapshot, replaced):
        """The files named in replaced() were written, every other one left
        alone."""
        def check():
            names = file_names(self.dst)
            if names != sorted(snapshot.states):
                return "%d files in %s, expected %d" % (len(names), self.dst, len(snapshot.states))
            chosen = replaced()
            for name in names:
                path = os.path.join(self.dst, name)
                written = state_of(path) != snapshot.states[name]
                if name in chosen:
                    if not written:
                        return "%s was not replaced" % name
                    if seconds_of(path) != seconds_of(os.path.join(self.src, name)):
                        return "%s does not carry the source's time" % name
                elif written:
                    return "%s was touched" % name
            return None
        return check

    def all_moved(self, files):
        def check():
            moved = len(file_names(self.dst))
            left = len(file_names(self.src))
            if moved != files or left != 0:
                return "%d files moved, %d left, expected %d and 0" % (moved, left, files)
            return None
        return check

    # -- scenarios -----------------------------------------------------------

    def scenario(self, key, files):
        src, dst = self.src, self.dst
        size_text = "%d x 1 KiB" % files

        def fresh_sources():
            fill_folder(src, files, 1024)

        def sources_and_copies():
            fill_folder(src, files, 1024)
            copy_with_times(src, dst)

        if key == "new":
            return Scenario(
                key, "copy %s, new" % size_text, files,
                self.tools(["/q"]) + self.report_line_variant([]) + [
                    self.xcopy(["/y", "/q"]), self.floor(["copy"]),
                    self.floor(["staged", "copy"], STAGED_FLOOR), self.bare_loop("copy")],
                fresh_sources, lambda: empty_folder(dst), self.all_copied(files))

        def older_copies():
            # Every run leaves the destinations with the source's times;
            # here they are made an hour older again, as copies made at
            # another time would be.
            for name in file_names(dst):
                stamp = os.stat(os.path.join(src, name)).st_mtime_ns - 3600 * 10**9
                os.utime(os.path.join(dst, name), ns=(stamp, stamp))

        if key == "nonew":
            def frozen_copies():
                sources_and_copies()
                subprocess.run(["chattr", "+i", dst], check=True)

            return Scenario(
                key, "copy %s, over older copies, no file may be made" % size_text, files,
                self.tools(["/q"]) + [self.floor(["copy"])],
                frozen_copies, older_copies, self.all_copied(files))

        if key == "over":
            return Scenario(
                key, "copy %s, over older copies" % size_text, files,
                self.tools(["/q"]) + self.report_line_variant(["/f"]) + [
                    self.xcopy(["/y", "/q"]), self.floor(["copy"]),
                    self.floor(["staged", "copy"], STAGED_FLOOR), self.bare_loop("copy")],
                sources_and_copies, older_copies, self.all_copied(files))

        if key == "same":
            snapshot = Snapshot()
            return Scenario(
                key, "copy %s, over copies with the same times" % size_text, files,
                self.tools(["/q"]) + [
                    self.xcopy(["/y", "/q"]), self.floor(["copy"]),
                    self.floor(["staged", "copy"], STAGED_FLOOR), self.bare_loop("copy")],
                sources_and_copies, lambda: snapshot.take(dst),
                self.replaced_exactly(snapshot, lambda: set(snapshot.states)))

        if key == "rerun":
            snapshot = Snapshot()
            return Scenario(
                key, "re-run /u %s, copies with the same times" % size_text, files,
                self.tools(["/u", "/q"], codes=(1,)) +
                self.report_line_variant(["/u"], codes=(1,)) + [
                    self.xcopy(["/d", "/y", "/q"]), self.floor(["u", "copy"])],
                sources_and_copies, lambda: snapshot.take(dst),
                self.replaced_exactly(snapshot, set))

        if key == "half":
            snapshot = Snapshot()
            base = (int(time.time()) - 86400) * 10**9 + 5 * 10**8
            newer = set()

            def half_newer_sources():
                fill_folder(src, files, 1024)
                for name in file_names(src):
                    os.utime(os.path.join(src, name), ns=(base, base))
                copy_with_times(src, dst)
                newer.clear()
                newer.update(newer_half(file_names(src)))
                for name in newer:
                    stamp = base + 3600 * 10**9
                    os.utime(os.path.join(src, name), ns=(stamp, stamp))

            def older_again():
                for name in newer:
                    os.utime(os.path.join(dst, name), ns=(base, base))
                snapshot.take(dst)

            return Scenario(
                key, "/u %s, half of the sources newer" % size_text, files,
                self.tools(["/u", "/q"], codes=(1,)) + [
                    self.xcopy(["/d", "/y", "/q"]), self.floor(["u", "copy"])],
                half_newer_sources, older_again,
                self.replaced_exactly(snapshot, lambda: newer))

        if key == "move":
            def sources_back():
                # After a move the files are all in dst: the folders swap.
                if not file_names(src):
                    shutil.rmtree(src)
                    os.rename(dst, src)
                empty_folder(dst)

            def sources_for_move():
                fill_folder(src, files, 1024)
                empty_folder(dst)

            return Scenario(
                key, "move %s, new" % size_text, files,
                self.tools(["/m", "/q"]) + self.report_line_variant(["/m"]) + [
                    Command("cmd move /y", ["cmd", "/c", "move", "/y", self.pattern,
                                            self.w_dst + "\\"], "peer"),
                    self.floor(["move"]), self.bare_loop("move")],
                sources_for_move, sources_back, self.all_moved(files))

        if key == "large":
            return self.large_scenario()
        raise ValueError(key)

    def large_scenario(self):
        big_src = os.path.join(self.data, "big_src")
        big_dst = os.path.join(self.data, "big_dst")
        big_file = os.path.join(big_src, "big.bin")
        w_big, w_big_dst = windows_path(big_file), windows_path(big_dst)
        commands = [Command("tolvi", [self.tolvi, "/q", w_big, w_big_dst], "tool", exe=self.tolvi)]
        for label, exe in self.others:
            commands.append(Command(label, [exe, "/q", w_big, w_big_dst], "tool", exe=exe))
        commands += [
            Command("xcopy /y /q", ["xcopy", w_big, w_big_dst + "\\", "/y", "/q"], "peer"),
            Command("floor", [self.bare, "floor", "copy", w_big, w_big_dst + "\\"], "floor",
                    exe=self.bare),
            Command("bare loop", [self.bare, "copy", w_big, w_big_dst + "\\"], "bare",
                    exe=self.bare),
            Command("cp --reflink=never", ["cp", "--reflink=never", big_file,
                                           os.path.join(big_dst, "big.bin")], "native",
                    wine=False)]
        size = self.large_mib * 2**20

        def big_source():
            empty_folder(big_src)
            with open(big_file, "wb") as handle:
                chunk = os.urandom(2**20)
                for _ in range(self.large_mib):
                    handle.write(chunk)

        def check_big():
            copied = os.path.join(big_dst, "big.bin")
            if not os.path.isfile(copied):
                return "no copy"
            if os.path.getsize(copied) != size:
                return "copy has %d bytes" % os.path.getsize(copied)
            return None

        return Scenario("large", "copy one %d MiB file" % self.large_mib, 1, commands,
                        big_source, lambda: empty_folder(big_dst), check_big, 1800)

    def commands_text(self, scenario):
        """The scenario's commands with SRC and DST for the folders."""
        rows = []
        for command in scenario.commands:
            argv = [os.path.basename(part) if part in self.programs() else part
                    for part in command.argv]
            text = " ".join(argv)
            for path, short in ((windows_path(os.path.join(self.data, "big_src")), "SRC"),
                                (windows_path(os.path.join(self.data, "big_dst")), "DST"),
                                (windows_path(self.src), "SRC"), (self.w_dst, "DST"),
                                (os.path.join(self.data, "big_src"), "SRC"),
                                (os.path.join(self.data, "big_dst"), "DST")):
                text = text.replace(path, short)
            rows.append("| %s | %s | `%s` |" % (scenario.name, command.label, text))
        return rows


# ---------------------------------------------------------------------------
# Timing


def measure(scenario, rounds, log_dir):
    """Interleaved rounds; returns {label: [seconds per round]} or raises
    on a failed run. Each round starts one command later than the round
    before, so that no command always follows the same one; before every
    run the page cache is written back, so that no run pays for the
    writes of the run before it."""
    times = collections.OrderedDict((c.label, []) for c in scenario.commands)
    count = len(scenario.commands)
    scenario.setup()
    for round_index in range(rounds):
        for position in range(count):
            command = scenario.commands[(round_index + position) % count]
            scenario.prepare()
            os.sync()
            seconds, code, err_path = run_once(command, log_dir, scenario.timeout)
            problem = run_problem(command, code, scenario.check, scenario.timeout)
            if problem:
                with open(err_path, "rb") as err:
                    tail = err.read()[-400:].decode("utf-8", "replace")
                raise RuntimeError("%s / %s, round %d: %s\n%s" %
                                   (scenario.name, command.label, round_index + 1, problem, tail))
            times[command.label].append(seconds)
        print("  %s: round %d of %d done" % (scenario.name, round_index + 1, rounds),
              file=sys.stderr, flush=True)
    return times


def median_ratio(times, subject, reference):
    return statistics.median(a / b for a, b in zip(times[subject], times[reference]))


def summarise(scenario, times):
    """Markdown rows: median, fastest and slowest time, and the median
    per-round ratio of the first command (tolvi) to each other command."""
    labels = list(times)
    subject = labels[0]
    rows = []
    for label in labels:
        ratio = "1.00" if label == subject else "%.2f" % median_ratio(times, subject, label)
        rows.append("| %s | %s | %.3f | %.3f-%.3f | %s |" % (
            scenario.name, label, statistics.median(times[label]), min(times[label]),
            max(times[label]), ratio))
    return rows


def verdict(ratio, target):
    return "met" if ratio <= target else "missed"


def target_rows(scenario, times):
    """Per tool: ratio to the peer and to the floor (the staged floor where
    the scenario has one), beside the targets."""
    peer = next((c.label for c in scenario.commands if c.role == "peer"), None)
    floor = STAGED_FLOOR if STAGED_FLOOR in times else "floor"
    rows = []
    for command in scenario.commands:
        if command.role != "tool":
            continue
        cells = [scenario.name, command.label]
        if peer:
            ratio = median_ratio(times, command.label, peer)
            target = PEER_TARGETS.get(scenario.key)
            cells += ["%.2f" % ratio, "%.2f, %s" % (target, verdict(ratio, target)) if target else "-"]
        else:
            cells += ["-", "-"]
        ratio = median_ratio(times, command.label, floor)
        target = FLOOR_TARGETS.get(scenario.key, FLOOR_TARGET)
        cells += ["%.2f" % ratio, "%.2f, %s" % (target, verdict(ratio, target))]
        cells.append("%.2f" % median_ratio(times, floor, peer) if peer else "-")
        rows.append("| " + " | ".join(cells) + " |")
    return rows


def staging_rows(scenario, times):
    """Where the scenario has the staged floor: per tool where it stands
    against it, and what staging costs the floor."""
    if STAGED_FLOOR not in times:
        return []
    peer = next((c.label for c in scenario.commands if c.role == "peer"), None)
    cost = ["%.2f" % median_ratio(times, STAGED_FLOOR, "floor"),
            "%.2f" % median_ratio(times, STAGED_FLOOR, peer) if peer else "-"]
    return ["| " + " | ".join([scenario.name, command.label,
                               "%.2f" % median_ratio(times, command.label, STAGED_FLOOR)] + cost)
            + " |" for command in scenario.commands if command.role == "tool"]


def overhead_rows(scenario, times):
    """Per tool: median over rounds of (tool - reference) / files, in
    microseconds, for the floor and the bare loop."""
    rows = []
    labels = set(times)
    for command in scenario.commands:
        if command.role != "tool":
            continue
        cells = [scenario.name, command.label]
        for reference in ("floor", "bare loop"):
            if reference in labels:
                cells.append("%.0f" % statistics.median(
                    (a - b) / scenario.files * 1e6
                    for a, b in zip(times[command.label], times[reference])))
            else:
                cells.append("-")
        rows.append("| " + " | ".join(cells) + " |")
    return rows


# ---------------------------------------------------------------------------
# Relay counts


def image_range(exe):
    """Preferred load address and size of a PE image."""
    with open(exe, "rb") as handle:
        data = handle.read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    if magic != 0x20B:
        raise RuntimeError("%s is not a 64-bit PE image" % exe)
    image_base = struct.unpack_from("<Q", data, optional + 24)[0]
    image_size = struct.unpack_from("<I", data, optional + 56)[0]
    return image_base, image_base + image_size


CALL_LINE = re.compile(r"^[0-9a-f]+:Call ([A-Za-z0-9_]+)\.([A-Za-z0-9_@]+)\(.*\) ret=([0-9a-f]+)$")


def count_calls(trace_path, own_range):
    """(own calls by name, NT system calls by name) of one relay trace."""
    own = collections.Counter()
    system = collections.Counter()
    with open(trace_path, "r", encoding="utf-8", errors="replace") as trace:
        for line in trace:
            match = CALL_LINE.match(line.rstrip("\n"))
            if not match:
                continue
            module, function, ret = match.group(1), match.group(2), int(match.group(3), 16)
            if own_range and own_range[0] <= ret < own_range[1]:
                own["%s.%s" % (module, function)] += 1
            if module == "ntdll" and (function.startswith("Nt") or function.startswith("Zw")):
                system[function] += 1
    return own, system


def per_file(counter_small, counter_large, files_small, files_large):
    names = set(counter_small) | set(counter_large)
    result = {}
    for name in names:
        value = (counter_large[name] - counter_small[name]) / (files_large - files_small)
        if abs(value) >= 0.005:
            result[name] = value
    return result


def format_counts(counts):
    return ", ".join("%s %.2f" % (name.split(".")[-1], value)
                     for name, value in sorted(counts.items(), key=lambda item: (-item[1], item[0])))


def relay_counts(bench, keys, relay_files, log_dir):
    small, large = relay_files
    lines = ["Calls per file, from Wine relay traces of %d and %d files (difference / %d); "
             "in the /u half-newer scenario half of the files are copied:" %
             (small, large, large - small), ""]
    retries = []
    lines.append("| Scenario | Program | NT system calls per file | Own calls per file |")
    lines.append("|---|---|---:|---|")
    for key in keys:
        sized = [bench.scenario(key, files) for files in (small, large)]
        for index, command in enumerate(sized[0].commands):
            if command.label == "tolvi, report lines":
                continue
            own_counts, system_counts = [], []
            for scenario in sized:
                traced = scenario.commands[index]
                for attempt in (1, 2):
                    scenario.setup()
                    scenario.prepare()
                    _, code, err_path = run_once(traced, log_dir, 600, debug="+relay")
                    problem = run_problem(traced, code, scenario.check, 600)
                    if not problem:
                        break
                    with open(os.path.join(log_dir, "stdout.txt"), "rb") as out:
                        tail = out.read()[-400:].decode("utf-8", "replace")
                    message = "relay run of %s / %s: %s\n%s" % (
                        scenario.name, traced.label, problem, tail)
                    if attempt == 2:
                        raise RuntimeError(message)
                    # Counted as said below the table: a traced run is
                    # slow, and a rare failure of it is run once more.
                    print("%s\nrunning it once more" % message, file=sys.stderr, flush=True)
                    retries.append("%s / %s (%s)" % (scenario.name, traced.label, problem))
                own_range = image_range(traced.exe) if traced.exe else None
                own, system = count_calls(err_path, own_range)
                own_counts.append(own)
                system_counts.append(system)
            system_per_file = per_file(system_counts[0], system_counts[1], small, large)
            own_text = "-"
            if command.exe:
                own_text = format_counts(per_file(own_counts[0], own_counts[1], small, large))
            lines.append("| %s | %s | %.2f (%s) | %s |" % (
                key, command.label, sum(system_per_file.values()),
                format_counts(system_per_file), own_text))
    if retries:
        lines += ["", "Traced runs that failed once and were run again: " + "; ".join(retries)]
    return lines


def call_costs(bench, files, log_dir, runs=3):
    """call_costs.exe over the scenario folder with copies in DST, run a few
    times after the page cache is written back; per call the median of the
    runs' medians and their range."""
    program = os.path.join(os.path.dirname(bench.bare), "call_costs.exe")
    command = Command("call costs", [program, bench.pattern, bench.w_dst + "\\"], "probe")
    medians = collections.OrderedDict()
    for _ in range(runs):
        fill_folder(bench.src, files, 1024)
        copy_with_times(bench.src, bench.dst)
        os.sync()
        _, code, _ = run_once(command, log_dir, 600)
        if code != 0:
            raise RuntimeError("call_costs.exe: exit code %s" % code)
        with open(os.path.join(log_dir, "stdout.txt"), encoding="utf-8") as out:
            for line in out:
                cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
                if len(cells) == 4 and cells[3] == "0":
                    medians.setdefault(cells[0], []).append(float(cells[1]))
                elif len(cells) == 4 and cells[3].isdigit():
                    raise RuntimeError("call_costs.exe: %s failed %s times" % (cells[0], cells[3]))
    lines = ["Single calls, timed by call_costs.exe on each of %d files (a destination folder "
             "of %d copies), %d runs; microseconds per call:" % (files, files, runs), "",
             "| Call | median | range of the runs' medians |", "|---|---:|---:|"]
    for label, values in medians.items():
        lines.append("| %s | %.1f | %.1f-%.1f |" % (label, statistics.median(values), min(values),
                                                     max(values)))
    return lines


# ---------------------------------------------------------------------------


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", required=True, help="folder with tolvi.exe and bare_loop.exe")
    parser.add_argument("--tolvi", help="the tolvi.exe to measure (default: the one in --bin)")
    parser.add_argument("--data", required=True, help="scratch folder for the benchmark files "
                        "(made, then removed)")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--large-mib", type=int, default=256)
    parser.add_argument("--scenarios", default=",".join(ALL_SCENARIOS),
                        help="which of %s to run (comma list)" % ", ".join(ALL_SCENARIOS))
    parser.add_argument("--no-report-lines", dest="report_lines", action="store_false",
                        help="leave out the run of tolvi without /q (new, over, rerun, move)")
    parser.add_argument("--count-calls", action="store_true")
    parser.add_argument("--call-scenarios", default=",".join(CALL_SCENARIOS),
                        help="the scenarios of the relay count (comma list)")
    parser.add_argument("--call-costs", action="store_true",
                        help="time the single calls of the decision with call_costs.exe")
    parser.add_argument("--relay-files", default="20,60",
                        help="the two folder sizes of the relay count")
    parser.add_argument("--also", action="append", default=[], metavar="LABEL=EXE",
                        help="another tolvi.exe to measure beside the first (e.g. a build "
                        "from before a change)")
    args = parser.parse_args()

    bench = Bench(args)
    for program in bench.programs():
        if not os.path.isfile(program):
            sys.exit("missing %s" % program)

    chosen = [key for key in args.scenarios.split(",") if key]
    call_keys = [key for key in args.call_scenarios.split(",") if key] if args.count_calls else []
    unknown = (set(chosen) - set(ALL_SCENARIOS)) | (set(call_keys) - set(CALL_SCENARIOS))
    if unknown:
        sys.exit("unknown scenarios: %s" % ", ".join(sorted(unknown)))
    chosen = [key for key in ALL_SCENARIOS if key in chosen]
    needed = (2 * args.large_mib * 2**20 if "large" in chosen else 0) + 64 * 2**20
    os.makedirs(bench.data, exist_ok=True)
    free = shutil.disk_usage(bench.data).free
    if free < needed * 2:
        sys.exit("not enough free space in %s: %d MiB free, %d MiB wanted" %
                 (bench.data, free // 2**20, needed * 2 // 2**20))

    log_dir = os.path.join(bench.data, "logs")
    os.makedirs(log_dir, exist_ok=True)

    lines = []
    load_before = os.getloadavg()
    lines.append("Machine: %s, %d cores, %s; Wine: %s; load average at start %.2f" % (
        cpu_model(), os.cpu_count(), platform.platform(),
        subprocess.run([WINE, "--version"], capture_output=True, text=True).stdout.strip(),
        load_before[0]))
    lines.append("Date: %s" % datetime.datetime.now().strftime("%Y-%m-%d %H:%M"))
    lines.append("Rounds: %d, interleaved; times in seconds (median); ratio = median over "
                 "rounds of tolvi / that command" % args.rounds)
    lines.append("")
    command_rows, time_rows, targets, overheads, staging = [], [], [], [], []
    failed = False
    started = time.perf_counter()
    try:
        for key in chosen:
            scenario = bench.scenario(key, args.files)
            command_rows.extend(bench.commands_text(scenario))
            times = measure(scenario, args.rounds, log_dir)
            time_rows.extend(summarise(scenario, times))
            targets.extend(target_rows(scenario, times))
            staging.extend(staging_rows(scenario, times))
            if scenario.files > 1:
                overheads.extend(overhead_rows(scenario, times))
        if args.call_costs:
            cost_lines = call_costs(bench, args.files, log_dir)
        if call_keys:
            call_lines = relay_counts(bench, call_keys,
                                      tuple(int(v) for v in args.relay_files.split(",")), log_dir)
    except RuntimeError as error:
        print("benchmark failed: %s" % error, file=sys.stderr)
        failed = True
    finally:
        subprocess.run(["chattr", "-i", bench.dst], stderr=subprocess.DEVNULL)
        shutil.rmtree(bench.data, ignore_errors=True)

    if command_rows:
        lines += ["| Scenario | Command | Command line |", "|---|---|---|"] + command_rows + [""]
    if time_rows:
        lines += ["| Scenario | Command | Median s | Range s | tolvi / this |",
                  "|---|---|---:|---:|---:|"] + time_rows + [""]
    if targets:
        lines += ["Against the targets (median over rounds of the per-round ratio):", "",
                  "| Scenario | Tool | / peer | target | / floor | target | floor / peer |",
                  "|---|---|---:|---|---:|---|---:|"] + targets + [""]
    if staging:
        lines += ["Staging (median over rounds of the per-round ratio; the floor column of the "
                  "targets is the staged floor here):", "",
                  "| Scenario | Tool | tool / staged floor | staged floor / floor | "
                  "staged floor / peer |", "|---|---|---:|---:|---:|"] + staging + [""]
    if overheads:
        lines += ["Per-file cost over the floor and over the bare loop, microseconds (median "
                  "over rounds of (tool - reference) / files):", "",
                  "| Scenario | Tool | over the floor | over the bare loop |",
                  "|---|---|---:|---:|"] + overheads + [""]
    if call_keys and not failed:
        lines += call_lines + [""]
    if args.call_costs and not failed:
        lines += cost_lines + [""]
    lines.append("Load average at the end: %.2f; benchmark time %.0f s" % (
        os.getloadavg()[0], time.perf_counter() - started))
    print("\n".join(lines))
    return 1 if failed else 0


def cpu_model():
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


if __name__ == "__main__":
    sys.exit(main())
