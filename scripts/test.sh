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
ctest --output-on-failure -j2 "$@"
