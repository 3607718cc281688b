#!/usr/bin/env python3
"""Benchmarks tolvi.exe under Wine, side by side with its references.

Every scenario runs each of its commands once per round, interleaved
(A, B, C, A, B, C, ...), so that the load of the machine falls on all of
them alike; the report gives the median time of each command and the
median of the per-round ratios tolvi / reference.

References:
  * Wine's xcopy with the nearest options (/y; every destination ends in a
    backslash, so it never asks whether it is a file or a folder); for the
    move, which xcopy cannot do, Wine's cmd "move /y";
  * bare_loop.exe: lists the same files and calls CopyFileW / MoveFileW for
    each, with no checks and no output: the floor for this design;
  * for the large file, native "cp --reflink=never": the storage floor.

With --count-calls the script also runs each command under a Wine relay
trace (WINEDEBUG=+relay) for two sizes of the same folder and reports, per
file, the difference divided by the difference in files, so that start-up
and per-run work cancel out:
  * the calls that tolvi.exe itself makes into KERNEL32 and msvcrt (those
    whose return address lies inside tolvi.exe);
  * the NT system calls (ntdll Nt*) of the whole process, for every
    command alike. Wine's default relay settings do not trace calls that
    KERNEL32 itself makes, so these counts are a lower bound.

Exit code 0 when every run did what it should (checked after each run on
the files left behind), 1 otherwise.
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
import time

WINE = "/usr/lib/wine/wine64"


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
    """One command of a comparison: a label, an argv, and whether it runs
    under Wine."""

    def __init__(self, label, argv, wine=True, exe=None):
        self.label = label
        self.argv = argv
        self.wine = wine
        self.exe = exe  # the program file, for the relay count of own calls

    def full_argv(self):
        return [WINE] + self.argv if self.wine else self.argv


def run_once(command, log_dir, timeout, debug="-all"):
    """Runs a command with standard output and error in files; returns
    (seconds, exit code, stderr path). A run past the timeout counts as
    failed (exit code None)."""
    out_path = os.path.join(log_dir, "stdout.txt")
    err_path = os.path.join(log_dir, "stderr.txt")
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        start = time.perf_counter()
        try:
            completed = subprocess.run(command.full_argv(), stdin=subprocess.DEVNULL,
                                       stdout=out, stderr=err, env=wine_env(debug),
                                       timeout=timeout)
            code = completed.returncode
        except subprocess.TimeoutExpired:
            code = None
        seconds = time.perf_counter() - start
    return seconds, code, err_path


def fill_folder(folder, count, size):
    """count files of size bytes, names f00000.dat and on, random contents."""
    os.makedirs(folder, exist_ok=True)
    block = os.urandom(size)
    for index in range(count):
        with open(os.path.join(folder, "f%05d.dat" % index), "wb") as handle:
            handle.write(block)


def empty_folder(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)


def file_count(folder):
    return sum(1 for entry in os.scandir(folder) if entry.is_file())


class Scenario:
    """A comparison: commands, a preparation before every run, and a check
    of the files afterwards."""

    def __init__(self, name, files, commands, prepare, check, timeout):
        self.name = name
        self.files = files
        self.commands = commands
        self.prepare = prepare
        self.check = check
        self.timeout = timeout


def measure(scenario, rounds, log_dir):
    """Interleaved rounds; returns {label: [seconds per round]} or raises
    on a failed run. Each round starts one command later than the round
    before, so that no command always follows the same one; before every
    run the page cache is written back, so that no run pays for the
    writes of the run before it."""
    times = collections.OrderedDict((c.label, []) for c in scenario.commands)
    count = len(scenario.commands)
    for round_index in range(rounds):
        for position in range(count):
            command = scenario.commands[(round_index + position) % count]
            scenario.prepare()
            os.sync()
            seconds, code, err_path = run_once(command, log_dir, scenario.timeout)
            problem = None
            if code is None:
                problem = "timed out after %d s" % scenario.timeout
            elif code != 0:
                problem = "exit code %d" % code
            else:
                problem = scenario.check()
            if problem:
                with open(err_path, "rb") as err:
                    tail = err.read()[-400:].decode("utf-8", "replace")
                raise RuntimeError("%s / %s, round %d: %s\n%s" %
                                   (scenario.name, command.label, round_index + 1, problem, tail))
            times[command.label].append(seconds)
        print("  %s: round %d of %d done" % (scenario.name, round_index + 1, rounds),
              file=sys.stderr, flush=True)
    return times


def summarise(scenario, times):
    """Markdown rows: median, fastest and slowest time, and the median
    per-round ratio of the first command (tolvi) to each other command."""
    labels = list(times)
    subject = labels[0]
    rows = []
    for label in labels:
        median = statistics.median(times[label])
        if label == subject:
            ratio = "1.00"
        else:
            ratios = [a / b for a, b in zip(times[subject], times[label])]
            ratio = "%.2f" % statistics.median(ratios)
        rows.append("| %s | %s | %.3f | %.3f-%.3f | %s |" % (
            scenario.name, label, median, min(times[label]), max(times[label]), ratio))
    return rows


def overhead_per_file(scenario, times, subject, floor):
    """Median over rounds of (subject - floor) / files, in microseconds."""
    differences = [(a - b) / scenario.files * 1e6 for a, b in zip(times[subject], times[floor])]
    return statistics.median(differences)


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


# ---------------------------------------------------------------------------


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", required=True, help="folder with tolvi.exe and bare_loop.exe")
    parser.add_argument("--data", required=True, help="scratch folder for the benchmark files "
                        "(made, then removed)")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--large-mib", type=int, default=256)
    parser.add_argument("--scenarios", default="new,over,move,large",
                        help="which of new, over, move, large to run (comma list)")
    parser.add_argument("--count-calls", action="store_true")
    parser.add_argument("--relay-files", default="20,60",
                        help="the two folder sizes of the relay count")
    parser.add_argument("--also", action="append", default=[], metavar="LABEL=EXE",
                        help="another tolvi.exe to measure beside the first (e.g. a build "
                        "from before a change)")
    args = parser.parse_args()

    bin_dir = os.path.abspath(args.bin)
    tolvi = os.path.join(bin_dir, "tolvi.exe")
    bare = os.path.join(bin_dir, "bare_loop.exe")
    for program in (tolvi, bare):
        if not os.path.isfile(program):
            sys.exit("missing %s" % program)
    others = []
    for item in args.also:
        label, _, exe = item.partition("=")
        others.append((label, os.path.abspath(exe)))

    data = os.path.abspath(args.data)
    chosen = set(args.scenarios.split(","))
    unknown = chosen - {"new", "over", "move", "large"}
    if unknown:
        sys.exit("unknown scenarios: %s" % ", ".join(sorted(unknown)))
    needed = (2 * args.large_mib * 2**20 if "large" in chosen else 0) + 64 * 2**20
    os.makedirs(data, exist_ok=True)
    free = shutil.disk_usage(data).free
    if free < needed * 2:
        sys.exit("not enough free space in %s: %d MiB free, %d MiB wanted" %
                 (data, free // 2**20, needed * 2 // 2**20))

    log_dir = os.path.join(data, "logs")
    os.makedirs(log_dir, exist_ok=True)
    src = os.path.join(data, "src")
    dst = os.path.join(data, "dst")
    w_src, w_dst = windows_path(src), windows_path(dst)
    pattern = w_src + "\\*.dat"

    def tolvi_commands(options):
        commands = [Command("tolvi " + " ".join(options + ["PATTERN", "DEST"]).strip(),
                            [tolvi] + options + [pattern, w_dst], exe=tolvi)]
        for label, exe in others:
            commands.append(Command(label, [exe] + options + [pattern, w_dst], exe=exe))
        return commands

    lines = []
    load_before = os.getloadavg()
    lines.append("Machine: %s, %d cores, %s; Wine: %s; load average at start %.2f" % (
        cpu_model(), os.cpu_count(), platform.platform(),
        subprocess.run([WINE, "--version"], capture_output=True, text=True).stdout.strip(),
        load_before[0]))
    lines.append("Date: %s" % datetime.datetime.now().strftime("%Y-%m-%d %H:%M"))
    lines.append("Rounds: %d, interleaved; times in seconds (median); ratio = median over "
                 "rounds of tolvi / reference" % args.rounds)
    lines.append("")
    lines.append("| Scenario | Command | Median s | Range s | tolvi / this |")
    lines.append("|---|---|---:|---:|---:|")
    overheads = []
    failed = False

    def expect_files(folder, count):
        def check():
            found = file_count(folder)
            return None if found == count else "%d files in %s, expected %d" % (found, folder, count)
        return check

    try:
        if chosen & {"new", "over", "move"}:
            files = args.files
            empty_folder(src)
            fill_folder(src, files, 1024)

            def fresh_destination():
                empty_folder(dst)

            copy_new = Scenario(
                "copy %d x 1 KiB, new" % files, files,
                tolvi_commands([]) + [
                    Command("xcopy /y", ["xcopy", pattern, w_dst + "\\", "/y"]),
                    Command("bare loop", [bare, "copy", pattern, w_dst + "\\"])],
                fresh_destination, expect_files(dst, files), 600)

            def older_destinations():
                # Every run leaves the destinations with the source's times;
                # here they are made an hour older again, as copies made at
                # another time would be.
                for entry in os.scandir(dst):
                    stamp = entry.stat().st_mtime - 3600
                    os.utime(entry.path, (stamp, stamp))

            def over_commands():
                return tolvi_commands(["/f"]) + [
                    Command("xcopy /y", ["xcopy", pattern, w_dst + "\\", "/y"]),
                    Command("bare loop", [bare, "copy", pattern, w_dst + "\\"])]

            copy_over_older = Scenario(
                "copy %d x 1 KiB, over older copies" % files, files, over_commands(),
                older_destinations, expect_files(dst, files), 600)
            copy_over_same = Scenario(
                "copy %d x 1 KiB, over copies with the same times" % files, files,
                over_commands(), lambda: None, expect_files(dst, files), 600)

            def sources_back():
                # After a move the files are all in dst: the folders swap.
                if file_count(src) == 0:
                    shutil.rmtree(src)
                    os.rename(dst, src)
                empty_folder(dst)

            move_new = Scenario(
                "move %d x 1 KiB, new" % files, files,
                tolvi_commands(["/m"]) + [
                    Command("cmd move /y", ["cmd", "/c", "move", "/y", pattern, w_dst + "\\"]),
                    Command("bare loop", [bare, "move", pattern, w_dst + "\\"])],
                sources_back, expect_files(dst, files), 600)

            selected = [scenario for key, scenario in
                        (("new", copy_new), ("over", copy_over_older),
                         ("over", copy_over_same), ("move", move_new))
                        if key in chosen]
            for scenario in selected:
                if scenario in (copy_over_older, copy_over_same):
                    # Destinations in place for every run over existing files,
                    # with the source's times, as every run leaves them.
                    empty_folder(dst)
                    for entry in os.scandir(src):
                        shutil.copy2(entry.path, os.path.join(dst, entry.name))
                if scenario is move_new:
                    sources_back()
                times = measure(scenario, args.rounds, log_dir)
                lines.extend(summarise(scenario, times))
                overheads.append((scenario.name, "tolvi", overhead_per_file(
                    scenario, times, scenario.commands[0].label, "bare loop")))
                for label, _ in others:
                    overheads.append((scenario.name, label, overhead_per_file(
                        scenario, times, label, "bare loop")))
            sources_back()

        if "large" in chosen:
            big_src = os.path.join(data, "big_src")
            big_dst = os.path.join(data, "big_dst")
            empty_folder(big_src)
            big_file = os.path.join(big_src, "big.bin")
            with open(big_file, "wb") as handle:
                chunk = os.urandom(2**20)
                for _ in range(args.large_mib):
                    handle.write(chunk)
            w_big = windows_path(big_file)
            w_big_dst = windows_path(big_dst)
            commands = [Command("tolvi FILE DEST", [tolvi, w_big, w_big_dst], exe=tolvi)]
            for label, exe in others:
                commands.append(Command(label, [exe, w_big, w_big_dst], exe=exe))
            commands += [
                Command("xcopy /y", ["xcopy", w_big, w_big_dst + "\\", "/y"]),
                Command("bare loop", [bare, "copy", w_big, w_big_dst + "\\"]),
                Command("cp --reflink=never", ["cp", "--reflink=never", big_file,
                                               os.path.join(big_dst, "big.bin")], wine=False)]

            def check_big():
                copied = os.path.join(big_dst, "big.bin")
                if not os.path.isfile(copied):
                    return "no copy"
                if os.path.getsize(copied) != args.large_mib * 2**20:
                    return "copy has %d bytes" % os.path.getsize(copied)
                return None

            large = Scenario("copy one %d MiB file" % args.large_mib, 1, commands,
                             lambda: empty_folder(big_dst), check_big, 1800)
            times = measure(large, args.rounds, log_dir)
            lines.extend(summarise(large, times))
            shutil.rmtree(big_src, ignore_errors=True)
            shutil.rmtree(big_dst, ignore_errors=True)

        if overheads:
            lines.append("")
            lines.append("Per-file overhead over the bare loop, microseconds (median over rounds "
                         "of (tool - bare loop) / files):")
            lines.append("")
            lines.append("| Scenario | Tool | us per file |")
            lines.append("|---|---|---:|")
            for name, label, value in overheads:
                lines.append("| %s | %s | %.0f |" % (name, label, value))

        if args.count_calls:
            lines.append("")
            lines.extend(relay_counts(args, tolvi, bare, others, src, dst, pattern, w_dst, log_dir))
    except RuntimeError as error:
        print("benchmark failed: %s" % error, file=sys.stderr)
        failed = True
    finally:
        shutil.rmtree(data, ignore_errors=True)

    load_after = os.getloadavg()
    lines.append("")
    lines.append("Load average at the end: %.2f" % load_after[0])
    print("\n".join(lines))
    return 1 if failed else 0


def relay_counts(args, tolvi, bare, others, src, dst, pattern, w_dst, log_dir):
    small, large = (int(value) for value in args.relay_files.split(","))
    subjects = [("tolvi", tolvi)] + list(others)

    # Destinations: none; copies with other times; copies with the
    # source's times (as an earlier copy leaves them where the creation
    # time is not kept apart from the last-write time, as under Wine).
    def command_sets():
        yield "copy, new", lambda exe: [exe, pattern, w_dst], \
            ["xcopy", ["xcopy", pattern, w_dst + "\\", "/y"]], "copy", None
        yield "copy, over existing /f, other times", lambda exe: [exe, "/f", pattern, w_dst], \
            ["xcopy", ["xcopy", pattern, w_dst + "\\", "/y"]], "copy", shutil.copyfile
        yield "copy, over existing /f, same times", lambda exe: [exe, "/f", pattern, w_dst], \
            ["xcopy", ["xcopy", pattern, w_dst + "\\", "/y"]], "copy", shutil.copy2
        yield "move, new", lambda exe: [exe, "/m", pattern, w_dst], \
            ["cmd move", ["cmd", "/c", "move", "/y", pattern, w_dst + "\\"]], "move", None

    lines = ["Calls per file, from Wine relay traces of %d and %d files (difference / %d):" %
             (small, large, large - small), ""]
    lines.append("| Scenario | Program | NT system calls per file | Own KERNEL32 / msvcrt calls "
                 "per file |")
    lines.append("|---|---|---:|---|")
    for name, tool_argv, peer, bare_mode, over in command_sets():
        programs = [(label, Command(label, tool_argv(exe), exe=exe)) for label, exe in subjects]
        programs.append((peer[0], Command(peer[0], peer[1])))
        programs.append(("bare loop", Command("bare loop", [bare, bare_mode, pattern, w_dst + "\\"])))
        for label, command in programs:
            own_counts, system_counts = [], []
            for files in (small, large):
                empty_folder(src)
                fill_folder(src, files, 1024)
                empty_folder(dst)
                if over:
                    for entry in os.scandir(src):
                        over(entry.path, os.path.join(dst, entry.name))
                own_range = image_range(command.exe) if command.exe else None
                _, code, err_path = run_once(command, log_dir, 600, debug="+relay")
                if code != 0 or file_count(dst) != files:
                    raise RuntimeError("relay run of %s / %s failed" % (name, label))
                own, system = count_calls(err_path, own_range)
                own_counts.append(own)
                system_counts.append(system)
            system_per_file = per_file(system_counts[0], system_counts[1], small, large)
            own_text = "-"
            if command.exe:
                own_per_file = per_file(own_counts[0], own_counts[1], small, large)
                own_text = format_counts(own_per_file)
            lines.append("| %s | %s | %.2f (%s) | %s |" % (
                name, label, sum(system_per_file.values()), format_counts(system_per_file),
                own_text))
    return lines


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
