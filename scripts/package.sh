#!/usr/bin/env bash
# Builds the release package build/release/Tolvi-2.01-win64.zip on a Debian
# machine (installing what is missing, as root) and checks it: the zip
# holds exactly tolvi.exe, README.md, README.ja.md and LICENSE; the packaged exe is
# stripped and imports only KERNEL32 and msvcrt; under Wine its /ver banner
# reads Tolvi 2.01, and its version resource, read back with
# GetFileVersionInfoW, names the product Tolvi, version 2.01.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/setup.sh"
tolvi_install_missing

cd "$root"
cmake --preset release >/dev/null
cmake --build --preset release
cmake --build --preset release --target package >/dev/null
zip_file="$root/build/release/Tolvi-2.01-win64.zip"
[ -f "$zip_file" ] || { echo "package.sh: $zip_file was not made" >&2; exit 1; }

check="$root/build/release/package-check"
rm -rf "$check"
mkdir -p "$check/unpacked"
trap 'rm -rf "$check"' EXIT
fail() { echo "package.sh: $*" >&2; exit 1; }

(cd "$check/unpacked" && cmake -E tar xf "$zip_file")
contents="$(cd "$check/unpacked" && find . -mindepth 1 | sort | tr '\n' ' ')"
[ "$contents" = "./LICENSE ./README.ja.md ./README.md ./tolvi.exe " ] || fail "zip holds: $contents"

exe="$check/unpacked/tolvi.exe"
imports="$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\tDLL Name: //p' | sort | tr '\n' ' ')"
[ "$imports" = "KERNEL32.dll msvcrt.dll " ] || fail "tolvi.exe imports: $imports"
if x86_64-w64-mingw32-objdump -h "$exe" | grep -q '\.debug'; then
    fail "tolvi.exe is not stripped"
fi

tolvi_start_wine "$root"
/usr/lib/wine/wine64 "$exe" /ver >"$check/banner" </dev/null
python3 - "$check/banner" <<'PY' || fail "unexpected /ver banner: $(od -c "$check/banner" | head -3)"
import re, sys
banner = open(sys.argv[1], "rb").read()
pattern = rb"\r\n Tolvi 2\.01 64bit - [A-Z][a-z]{2} [ 0-3][0-9] [0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-5][0-9] \r\n"
sys.exit(0 if re.fullmatch(pattern, banner) else 1)
PY

x86_64-w64-mingw32-g++-posix -std=c++17 -O1 -municode -static \
    -o "$check/version_probe.exe" "$root/tests/package/version_probe.cpp" -lversion
/usr/lib/wine/wine64 "$check/version_probe.exe" "$(/usr/lib/wine/wine64 winepath -w "$exe" 2>/dev/null)" \
    </dev/null | tr -d '\r' >"$check/version"
expected=$'ProductName: Tolvi\nProductVersion: 2.01\nFileVersion: 2.01\nFixed: 2.1.0.0'
[ "$(cat "$check/version")" = "$expected" ] || fail "version resource reads: $(cat "$check/version")"

echo "$zip_file: tolvi.exe, README.md, README.ja.md, LICENSE; banner and version resource 2.01 checked"
