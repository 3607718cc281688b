#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine, quickly
# when everything is already there. Sourced by run.sh and test.sh.
set -euo pipefail

tolvi_packages=(g++-mingw-w64-x86-64-posix wine64 cmake ninja-build googletest tmux locales python3)

# Runs a command with its output held back; shows that output on standard
# error only when the command fails, and then fails too.
tolvi_quietly() {
    local output
    if ! output="$("$@" 2>&1)"; then
        printf '%s\n' "$output" >&2
        return 1
    fi
}

tolvi_install_missing() {
    local missing=()
    local package
    for package in "${tolvi_packages[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed'; then
            missing+=("$package")
        fi
    done
    if ((${#missing[@]})); then
        echo "Installing: ${missing[*]}" >&2
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        tolvi_quietly $sudo apt-get update -qq
        tolvi_quietly $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
    fi
}

tolvi_build() {
    local root="$1"
    cmake --preset cross -S "$root" >/dev/null
    cmake --build --preset cross
}

# Passes a build's output on, without ninja's explanations; at the first
# sign of work beyond ninja's check of the globbed source folders (a target
# found out of date, or a step done), says so once on standard error.
tolvi_announce_build() {
    local line announced=0
    while IFS= read -r line; do
        if ((!announced)) && [[ "$line" == *" is dirty" || "$line" == "["*"] "* ]] &&
            [[ "$line" != *VerifyGlobs* && "$line" != *verify_globs* && "$line" != *"Re-checking globbed"* ]]; then
            echo "Building tolvi.exe ..." >&2
            announced=1
        fi
        [[ "$line" == "ninja explain: "* ]] || printf '%s\n' "$line"
    done
}

# Builds the shipped tolvi.exe (Release, the tool alone, in build/release
# as the package is) when it is not up to date, saying so in one line on
# standard error before the work starts (ninja explains what is out of date
# before it runs anything); the build's own output is shown only when it
# fails.
tolvi_build_tool() {
    local root="$1"
    local build="$root/build/release"
    if [ ! -f "$build/build.ninja" ]; then
        echo "Building tolvi.exe ..." >&2
        tolvi_quietly cmake --preset release -S "$root" &&
            tolvi_quietly cmake --build "$build" --target tolvi
        return
    fi
    local output
    if ! output="$(cmake --build "$build" --target tolvi -- -d explain 2>&1 | tolvi_announce_build)"; then
        printf '%s\n' "$output" >&2
        return 1
    fi
}

# Sets this shell up for Wine in the prefix $WINEPREFIX (made when
# missing) and starts its wineserver, unless one runs already. The server
# stays SECONDS after the last Windows program ends, or for ever when no
# SECONDS are given; while it runs, each start of a Windows program takes
# milliseconds rather than seconds.
tolvi_start_wine_in_prefix() {
    local seconds="${1:-}"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="winedbg.exe=d"
    mkdir -p "$WINEPREFIX"
    /usr/lib/wine/wineserver -p"$seconds" 2>/dev/null || true
    /usr/lib/wine/wine64 wineboot >/dev/null 2>&1 </dev/null || true
}

# The Wine prefix $WINEPREFIX when set, else one of the build's own, with
# a wineserver kept running until tolvi_stop_wine.
tolvi_start_wine() {
    local root="$1"
    export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
    tolvi_start_wine_in_prefix
}

tolvi_stop_wine() {
    /usr/lib/wine/wineserver -k 2>/dev/null || true
}

# Console tests show Japanese text in a terminal; that needs the locale.
tolvi_make_japanese_locale() {
    if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
        localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 2>/dev/null ||
            sudo localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
    fi
}

# The folder behind drive W: of a checkout. W: must be another Linux file
# system than S:, so a tmpfs is mounted on it for the run (as root, or
# through sudo without a password) and taken off when the run ends: a
# mount left behind would stop `rm -rf build`. The mount is lazily
# detached, so a file still open there cannot keep it.
tolvi_other_fs_folder() {
    echo "$1/build/scratch_other"
}

tolvi_sudo() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo -n "$@"; fi
}

tolvi_mount_other_fs() {
    local folder="$(tolvi_other_fs_folder "$1")"
    mkdir -p "$folder"
    mountpoint -q "$folder" ||
        tolvi_sudo mount -t tmpfs -o mode=0755 tolvi_scratch "$folder" 2>/dev/null
}

tolvi_unmount_other_fs() {
    local folder="$(tolvi_other_fs_folder "$1")"
    if mountpoint -q "$folder"; then
        tolvi_sudo umount -l "$folder" 2>/dev/null || true
    fi
}

# The drive type of T: in the prefix's registry, as "TYPE DATA", or
# nothing when it has none.
tolvi_drive_type_of_t() {
    /usr/lib/wine/wine64 reg query 'HKLM\Software\Wine\Drives' /v t: 2>/dev/null | tr -d '\r' |
        sed -n 's/^ *[tT]: *\(REG_[A-Z_]*\) *\(.*\)$/\1 \2/p' || true
}

# What the test drives take over in a prefix that is not the build's own:
# each letter's link ("" when there was none) and T:'s drive type, put
# back by tolvi_unmap_test_drives. The build's own prefix keeps the
# mapping from run to run: mapping T: anew restarts the wineserver, which
# costs seconds.
declare -gA tolvi_saved_links=()
tolvi_saved_t_type=""
tolvi_saved_drives=0

tolvi_save_test_drives() {
    local root="$1"
    local devices="$WINEPREFIX/dosdevices"
    if ((tolvi_saved_drives)) || [ "$WINEPREFIX" -ef "$root/build/wineprefix" ]; then
        return 0
    fi
    local letter
    for letter in s t w x; do
        if [ -L "$devices/$letter:" ]; then
            tolvi_saved_links[$letter]="$(readlink "$devices/$letter:")"
        elif [ -e "$devices/$letter:" ]; then
            echo "$devices/$letter: is not a link; the test drives are not mapped over it" >&2
            return 1
        else
            tolvi_saved_links[$letter]=""
        fi
    done
    tolvi_saved_t_type="$(tolvi_drive_type_of_t)"
    tolvi_saved_drives=1
}

# Test drives: S: is a scratch folder of the build (file system NTFS); T:
# is a second scratch folder typed as a CD drive, so its file system is
# CDFS and copies between S: and T: cross two file systems; X: is S:'s
# folder again, a second drive letter for the same files; W: is a
# scratch folder on another Linux file system (a tmpfs of its own), so a
# move from S: to W: copies and deletes, as a move to another volume does.
tolvi_map_test_drives() {
    local root="$1"
    tolvi_save_test_drives "$root"
    local scratch="$root/build/scratch"
    local scratch_cd="$root/build/scratch_cd"
    local scratch_other="$(tolvi_other_fs_folder "$root")"
    mkdir -p "$scratch" "$scratch_cd"
    local devices="$WINEPREFIX/dosdevices"
    local changed=0
    if [ "$(readlink "$devices/s:" 2>/dev/null)" != "$scratch" ]; then
        ln -sfn "$scratch" "$devices/s:"
        changed=1
    fi
    if [ "$(readlink "$devices/t:" 2>/dev/null)" != "$scratch_cd" ]; then
        ln -sfn "$scratch_cd" "$devices/t:"
        /usr/lib/wine/wine64 reg add 'HKLM\Software\Wine\Drives' /v t: /d cdrom /f >/dev/null 2>&1
        changed=1
    fi
    if [ "$(readlink "$devices/x:" 2>/dev/null)" != "$scratch" ]; then
        ln -sfn "$scratch" "$devices/x:"
        changed=1
    fi
    # A plain drive (no type in the registry) is seen at once, without a
    # restart of the wineserver.
    if tolvi_mount_other_fs "$root"; then
        ln -sfn "$scratch_other" "$devices/w:"
        export TOLVI_TEST_OTHER_FS_ROOT='W:\'
    else
        echo "No tmpfs could be mounted on $scratch_other: no drive W:, its tests skip" >&2
        unset TOLVI_TEST_OTHER_FS_ROOT
    fi
    if ((changed)); then
        # The drive table is read when the wineserver starts.
        tolvi_stop_wine
        tolvi_start_wine "$root"
    fi
    export TOLVI_TEST_ROOT='S:\' TOLVI_TEST_CD_ROOT='T:\' TOLVI_TEST_ALIAS_ROOT='X:\'
}

# Empties the scratch folders and, in a prefix that is not the build's
# own, puts back what the test drives took over. W:'s folder empties when
# its tmpfs is taken off, after the wineserver has ended.
tolvi_unmap_test_drives() {
    local root="$1"
    rm -rf "$root/build/scratch"/* "$root/build/scratch_cd"/* 2>/dev/null || true
    if ((!tolvi_saved_drives)); then
        return 0
    fi
    local devices="$WINEPREFIX/dosdevices"
    local letter
    for letter in "${!tolvi_saved_links[@]}"; do
        rm -f "$devices/$letter:"
        if [ -n "${tolvi_saved_links[$letter]}" ]; then
            ln -s "${tolvi_saved_links[$letter]}" "$devices/$letter:"
        fi
    done
    local key='HKLM\Software\Wine\Drives'
    if [ -n "$tolvi_saved_t_type" ]; then
        /usr/lib/wine/wine64 reg add "$key" /v t: /t "${tolvi_saved_t_type%% *}" \
            /d "${tolvi_saved_t_type#* }" /f >/dev/null 2>&1 || true
    else
        /usr/lib/wine/wine64 reg delete "$key" /v t: /f >/dev/null 2>&1 || true
    fi
    tolvi_saved_drives=0
}

# Maps the test drives for the rest of this shell; when it exits, after a
# failed test too, puts back what the prefix had, stops the wineserver and
# takes W:'s tmpfs off.
tolvi_map_test_drives_until_exit() {
    local root="$(printf '%q' "$1")"
    trap "tolvi_unmap_test_drives $root; tolvi_stop_wine; tolvi_unmount_other_fs $root" EXIT
    tolvi_map_test_drives "$1"
}
