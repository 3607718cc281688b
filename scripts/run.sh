#!/usr/bin/env bash
# Builds the shipped tolvi.exe (Release, the tool alone) when it is not up
# to date and runs it under Wine with the given arguments, in the Wine
# prefix $WINEPREFIX when set, else build/wineprefix. Before the tool's own
# output, standard error gets at most a line "Installing: ..." and a line
# "Building tolvi.exe ...", each only when that is done; a failed step
# shows its own output. A wineserver it starts ends a few seconds after
# the tool.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/setup.sh"
tolvi_install_missing
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
# A short persistence keeps the server from ending between wineboot and
# the tool and lets runs close together share it; Wine then takes about
# two seconds more to stop its own services, so the server ends some five
# seconds after the tool.
persist_seconds=3
# A fresh Wine prefix takes seconds to make; it is made while the tool
# builds, and the second start only sets up this shell's environment (and
# starts the server again if it has ended during a long build).
tolvi_start_wine_in_prefix "$persist_seconds" &
wine_starting=$!
built=0
tolvi_build_tool "$root" || built=$?
wait "$wine_starting"
((built == 0)) || exit "$built"
tolvi_start_wine_in_prefix "$persist_seconds"
exec /usr/lib/wine/wine64 "$root/build/release/bin/tolvi.exe" "$@"
