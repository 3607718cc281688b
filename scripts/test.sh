#!/usr/bin/env bash
# Builds Tolvi and runs every test (unit, end-to-end, console) under Wine,
# in the Wine prefix $WINEPREFIX when set, else build/wineprefix; the test
# drives (S:, T:, W:, X:) are mapped in that prefix. Works from a fresh Debian
# machine: installs what is missing first.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/setup.sh"

tolvi_install_missing
tolvi_make_japanese_locale
export LANG=C.UTF-8
unset LC_ALL LC_MESSAGES LC_CTYPE || true

tolvi_start_wine "$root"
trap 'tolvi_unmap_test_drives "$root"; tolvi_stop_wine' EXIT
tolvi_map_test_drives "$root"

tolvi_build "$root"
cd "$root/build/cross"
ctest --output-on-failure -j2 "$@"
