#!/usr/bin/env bash
# Long robustness runs, kept out of the normal test suite:
#   1. command-line fuzzing: tests/fuzz/fuzz_driver.exe runs tolvi.exe on
#      generated argument lists (default 5,000, seed 1);
#   2. many files: a pattern run over 20,000 files (and 2,000 to compare),
#      as new files and again over existing ones; every file must be handled
#      exactly once and copied whole, and the peak memory must not grow
#      with the number of files.
#
#   scripts/fuzz.sh [cases [seed]]
#   TOLVI_BUILD_DIR=build/other scripts/fuzz.sh   use another build folder
#   TOLVI_STRESS_FILES=50000 scripts/fuzz.sh      size of the large run
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/setup.sh"
cases="${1:-5000}"
seed="${2:-1}"
files="${TOLVI_STRESS_FILES:-20000}"

tolvi_install_missing
export LANG=C.UTF-8
unset LC_ALL LC_MESSAGES LC_CTYPE || true
tolvi_start_wine "$root"
# Puts back a prefix of the user's, takes W:'s tmpfs off and empties the
# scratch folders (the stress folder too) when the script ends.
tolvi_map_test_drives_until_exit "$root"
if [ -n "${TOLVI_BUILD_DIR:-}" ]; then
    build="$root/$TOLVI_BUILD_DIR"
    cmake --build "$build" >/dev/null
else
    tolvi_build "$root" >/dev/null
    build="$root/build/cross"
fi
wine=/usr/lib/wine/wine64
bin="$build/bin"

failed=0
echo "== Command-line fuzzing: $cases cases, seed $seed"
"$wine" "$bin/fuzz_driver.exe" "$seed" "$cases" || failed=1

# Runs a command with its standard output to a file; prints the elapsed
# seconds and the peak resident memory (KiB) of the process.
measure() {
    local out="$1"
    shift
    python3 - "$out" "$@" <<'EOF'
import resource, subprocess, sys, time
start = time.monotonic()
with open(sys.argv[1], "wb") as out:
    status = subprocess.run(sys.argv[2:], stdout=out).returncode
elapsed = time.monotonic() - start
print("%.1f %d %d" % (elapsed, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss, status))
EOF
}

stress="$root/build/scratch/stress_$$"
declare -A seconds memory
echo "== Many files: 2000 and $files"
for count in 2000 "$files"; do
    folder="$stress/n$count"
    mkdir -p "$folder/src" "$folder/dst"
    (cd "$folder/src" && seq -f 'f%06g.txt' 0 $((count - 1)) | while read -r name; do
        echo "contents of $name" >"$name"
    done)
    src="S:\\stress_$$\\n$count\\src"
    dst="S:\\stress_$$\\n$count\\dst"
    # Listing order is by upper-cased name, which for these names is the
    # order of ls.
    ls "$folder/src" >"$folder/names"
    for pass in new over; do
        if [ "$pass" = new ]; then
            read -r time peak status < <(measure "$folder/out" "$wine" "$bin/tolvi.exe" "$src" "$dst")
            label="Copy: "
        else
            read -r time peak status < <(measure "$folder/out" "$wine" "$bin/tolvi.exe" /f "$src" "$dst")
            label="Update: "
        fi
        seconds[$pass$count]=$time
        memory[$pass$count]=$peak
        if [ "$status" != 0 ] || ! diff -q <(sed "s/^/$label/" "$folder/names") <(tr -d '\r' <"$folder/out") >/dev/null ||
            ! diff -rq "$folder/src" "$folder/dst" >/dev/null; then
            echo "FAILED: $count files ($pass): exit $status, or not every file handled once and whole"
            failed=1
        fi
    done
    read -r time peak status < <(measure /dev/null "$wine" "$bin/fuzz_driver.exe" list "$src")
    memory[list$count]=$peak
    rm -rf "$folder"
done

printf '%-28s %12s %12s\n' "run" "2000 files" "$files files"
printf '%-28s %11ss %11ss\n' "new files: time" "${seconds[new2000]}" "${seconds[new$files]}"
printf '%-28s %11ss %11ss\n' "over existing (/f): time" "${seconds[over2000]}" "${seconds[over$files]}"
printf '%-28s %9s KiB %9s KiB\n' "peak memory, tolvi" "${memory[new2000]}" "${memory[new$files]}"
printf '%-28s %9s KiB %9s KiB\n' "peak memory, listing alone" "${memory[list2000]}" "${memory[list$files]}"
# The tool keeps no list: beyond what the platform's own listing holds,
# its memory stays within 1 MiB whatever the number of files.
growth=$(((memory[new$files] - memory[list$files]) - (memory[new2000] - memory[list2000])))
if ((growth > 1024)); then
    echo "FAILED: memory grows with the number of files (${growth} KiB)"
    failed=1
fi
# Over existing files every lookup is direct, so the time must grow in
# proportion; new files also pay Wine's case-insensitive search of the
# growing destination folder for each name, which is not the tool's.
if ! python3 -c "import sys; sys.exit(0 if ${seconds[over$files]} <= 1.5 * ${seconds[over2000]} * $files / 2000 else 1)"; then
    echo "FAILED: time over existing files grows faster than the number of files"
    failed=1
fi
exit $failed
