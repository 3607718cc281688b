#!/usr/bin/env bash
# scripts/test.sh in a Wine prefix of the user's: when it ends, after a
# failed test too, the letters of the test drives hold what the user had
# on them (a link of the user's, or nothing), T: has its drive type of
# before in the registry (here none) and W:'s tmpfs is off; while it runs,
# W: is a folder of the checkout on a file system of its own, and the
# end-to-end test that makes a helper prefix makes it in the build folder:
# nothing appears beside the user's prefix. Runs the script's own mapping
# and exit trap, and that test, in a subshell that fails, in a copy of the
# suite's prefix (hard links, registry files of its own) alone in a folder,
# with a wineserver of its own, and a checkout folder of its own for the
# scratch folders and the test programs, so the suite's prefix,
# wineserver, drives and build folder are left alone. Everything it makes
# is under build/.
#
#   user_prefix_left_as_found.sh <source folder>    exit 77: cannot run here
set -euo pipefail
source "$1/scripts/setup.sh"
bin="$1/build/cross/bin"  # scripts/test.sh's build
if [ -z "${WINEPREFIX:-}" ] || [ ! -f "$WINEPREFIX/system.reg" ] || [ ! -x /usr/lib/wine/wine64 ] ||
    [ ! -f "$bin/e2e_tests.exe" ]; then
    echo "skipped: needs Wine, the suite's prefix in WINEPREFIX and the test programs in $bin"
    exit 77
fi
work="$(mktemp -d "$1/build/prefix_check.XXXXXX")"
user_prefix="$work/parent/prefix"
checkout="$work/checkout"
helper="$checkout/build/cross/wineprefix_unreadable_root"
cleanup() {
    local prefix name
    for prefix in "$helper" "$user_prefix"; do
        WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
        # Wine's folder for the server of a prefix made here, named in it.
        name="$(cat "$prefix/wineserver" 2>/dev/null)" || continue
        if [[ "$name" == wine-* && "$name" != */* ]]; then
            rm -rf "${TMPDIR:-/tmp}/$name"
        fi
    done
    tolvi_unmount_other_fs "$checkout"
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/parent"
if ! cp -al "$WINEPREFIX" "$user_prefix" 2>/dev/null; then
    echo "skipped: the suite's prefix is on another file system than build/"
    exit 77
fi
rm -f "$user_prefix"/*.reg "$user_prefix/wineserver"
cp "$WINEPREFIX"/*.reg "$user_prefix/"
unset WINESERVERSOCKET
export WINEPREFIX="$user_prefix"

# The user's prefix: S: a folder of the user's, no T:, W: or X:, and no
# drive type for T:.
mkdir -p "$work/mine" "$checkout/build/cross/bin"
cp "$bin/e2e_tests.exe" "$bin/tolvi.exe" "$checkout/build/cross/bin/"
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
    if [ "$(stat -c %d "$checkout/build/scratch_other/")" != "$(stat -c %d "$checkout/build/scratch/")" ]; then
        echo "W: another file system"
    fi
    status=0
    /usr/lib/wine/wine64 "$checkout/build/cross/bin/e2e_tests.exe" \
        --gtest_filter=RunDriver.VolumeRootThatCannotBeOpenedKeepsItsFileSystem >"$work/e2e.txt" 2>&1 ||
        status=$?
    echo "end-to-end test: exit $status"
    false  # a test failed
)" || true
after="$(state)"

failed=0
if [[ "$mapped" != *"t: -> $checkout/build/scratch_cd"* || "$mapped" != *'"t:"="cdrom"'* ||
      "$mapped" != *"type of T: REG_SZ cdrom"* ]]; then
    printf 'the test drives were not mapped:\n%s\n' "$mapped"
    failed=1
fi
# As root a tmpfs can always be mounted; elsewhere W: may be left out.
if [ "$(id -u)" -eq 0 ] &&
    [[ "$mapped" != *"w: -> $checkout/build/scratch_other"* || "$mapped" != *"W: another file system"* ]]; then
    printf 'W: is not a folder of the checkout on a file system of its own:\n%s\n' "$mapped"
    failed=1
fi
if mountpoint -q "$checkout/build/scratch_other"; then
    echo "W:'s tmpfs is still mounted after the run"
    failed=1
fi
if [[ "$mapped" != *"end-to-end test: exit 0"* ]]; then
    tr -d '\r' <"$work/e2e.txt"
    failed=1
fi
beside="$(ls -A "$work/parent")"
if [ "$beside" != prefix ]; then
    printf 'beside the prefix:\n%s\n' "$beside"
    failed=1
fi
if [ "$after" != "$before" ]; then
    printf 'before:\n%s\nafter:\n%s\n' "$before" "$after"
    failed=1
fi
exit "$failed"
