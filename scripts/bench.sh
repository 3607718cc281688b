#!/usr/bin/env bash
# Measures tolvi.exe under Wine side by side with Wine's xcopy (and cmd's
# move), the floor (bare_loop.exe making only the calls the tool's
# decisions need), a bare CopyFileW / MoveFileW loop and native cp, and
# counts the calls made per file; prints the results as Markdown tables
# (bench/RESULTS.md records a run). Not part of the test suite.
#
#   scripts/bench.sh [--large-gib] [--no-count-calls] [bench/run_bench.py options]
#
# Options passed on, among others:
#   --scenarios new,over,same,rerun,half,move,large   which scenarios to time
#   --rounds N        interleaved rounds (7)
#   --also "tolvi before=PATH"   another tolvi.exe measured in the same rounds
#   --tolvi PATH      measure this tolvi.exe instead of the one just built
# --large-gib measures the large file at 1 GiB instead of 256 MiB;
# --no-count-calls leaves out the relay-trace counts of calls per file and
# the timing of single calls (bench/call_costs.cpp).
# The benchmark files live in build/bench_data and are removed at the end.
# The build folder is build/bench, or TOLVI_BENCH_BUILD when set.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/setup.sh"
tolvi_install_missing

build="${TOLVI_BENCH_BUILD:-$root/build/bench}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTOLVI_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target tolvi bare_loop call_costs >/dev/null
tolvi_start_wine "$root"

count_calls=(--count-calls --call-costs)
args=()
for arg in "$@"; do
    case "$arg" in
        --large-gib) args+=(--large-mib 1024) ;;
        --no-count-calls) count_calls=() ;;
        *) args+=("$arg") ;;
    esac
done
exec python3 "$root/bench/run_bench.py" --bin "$build/bin" --data "$root/build/bench_data" \
    "${count_calls[@]}" "${args[@]}"
