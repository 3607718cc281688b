#!/usr/bin/env bash
# Builds Tolvi and runs it under Wine with the given arguments.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/setup.sh"
tolvi_install_missing
tolvi_build "$root" >/dev/null
tolvi_start_wine "$root"
exec /usr/lib/wine/wine64 "$root/build/cross/bin/tolvi.exe" "$@"
