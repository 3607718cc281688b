#!/usr/bin/env bash
# scripts/test.sh in a Wine prefix of the user's: when it ends, after a
# failed test too, the letters of the test drives hold what the user had
# on them (a link of the user's, or nothing) and T: has its drive type of
# before in the registry (here none). Runs the script's own mapping and
# exit trap in a subshell that fails, in a copy of the suite's prefix (hard
# links, registry files of its own) with a wineserver of its own, and a
# checkout folder of its own for the scratch folders, so the suite's
# prefix, wineserver and drives are left alone.
#
#   user_prefix_left_as_found.sh <source folder>    exit 77: cannot run here
set -euo pipefail
source "$1/scripts/setup.sh"
if [ -z "${WINEPREFIX:-}" ] || [ ! -f "$WINEPREFIX/system.reg" ] || [ ! -x /usr/lib/wine/wine64 ]; then
    echo "skipped: needs Wine and the suite's prefix in WINEPREFIX"
    exit 77
fi
work="$(mktemp -d)"
user_prefix="$work/prefix"
checkout="$work/checkout"
cleanup() {
    WINEPREFIX="$user_prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
    rm -rf "$work" "$(tolvi_other_fs_folder "$checkout")"
}
trap cleanup EXIT

cp -al "$WINEPREFIX" "$user_prefix"
rm -f "$user_prefix"/*.reg "$user_prefix/wineserver"
cp "$WINEPREFIX"/*.reg "$user_prefix/"
unset WINESERVERSOCKET
export WINEPREFIX="$user_prefix"

# The user's prefix: S: a folder of the user's, no T:, W: or X:, and no
# drive type for T:.
mkdir -p "$work/mine" "$checkout"
devices="$user_prefix/dosdevices"
rm -f "$devices/s:" "$devices/t:" "$devices/w:" "$devices/x:"
ln -s "$work/mine" "$devices/s:"
tolvi_start_wine_in_prefix 5
/usr/lib/wine/wine64 reg delete 'HKLM\Software\Wine\Drives' /v t: /f >/dev/null 2>&1 || true
tolvi_stop_wine

# The letters, their links and the prefix's drive types, as on disk.
state() {
    local entry
    for entry in "$devices"/?:; do
        [ -L "$entry" ] && printf '%s -> %s\n' "${entry##*/}" "$(readlink "$entry")"
    done
    sed -n '/^\[Software\\\\Wine\\\\Drives\]/,/^$/p' "$user_prefix/system.reg" | grep '^"' || true
}
before="$(state)"

mapped="$(
    tolvi_start_wine_in_prefix 5
    tolvi_map_test_drives_until_exit "$checkout"
    state
    # What would be put back for a prefix that had T: typed so.
    echo "type of T: $(tolvi_drive_type_of_t)"
    false  # a test failed
)" || true
after="$(state)"

failed=0
if [[ "$mapped" != *"t: -> $checkout/build/scratch_cd"* || "$mapped" != *'"t:"="cdrom"'* ||
      "$mapped" != *"type of T: REG_SZ cdrom"* ]]; then
    printf 'the test drives were not mapped:\n%s\n' "$mapped"
    failed=1
fi
if [ "$after" != "$before" ]; then
    printf 'before:\n%s\nafter:\n%s\n' "$before" "$after"
    failed=1
fi
exit "$failed"
