#!/usr/bin/env bash
# Builds Tolvi and runs every test (unit, end-to-end, console) under Wine,
# in the Wine prefix $WINEPREFIX when set, else build/wineprefix; the test
# drives (S:, T:, W:, X:) are mapped in that prefix, and a prefix of the
# user's gets back what it had on those letters at the end. Works from a
# fresh Debian machine: installs what is missing first.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/setup.sh"

tolvi_install_missing
tolvi_make_japanese_locale
export LANG=C.UTF-8
unset LC_ALL LC_MESSAGES LC_CTYPE || true

tolvi_start_wine "$root"
tolvi_map_test_drives_until_exit "$root"

tolvi_build "$root"
cd "$root/build/cross"
# ctest prints the list of tests that did not run after its summary line
# ("100% tests passed, ..."); that line is held back and printed last,
# where CI and a reader look for it. Standard error joins the stream so
# that nothing of ctest's comes after it; ctest's status stays the
# script's (pipefail).
ctest --output-on-failure -j2 "$@" 2>&1 |
    awk '/^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+$/ { summary = $0; next }
         { print; fflush() }
         END { if (summary != "") print "\n" summary }'
