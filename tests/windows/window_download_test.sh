#!/usr/bin/env bash
# A download through the Windows program's own window under wine on a virtual X server, from
# a paced mirror on loopback: the caption "Downloading Pelko (x of y MB, z%)" with a partly
# filled bar, Pause ending the attempts in progress while their bytes stay (the bar holds),
# Resume, the progress going on behind the open options dialog, the full bar at 100.0%, then
# the completion: the downloaded batch file runs (it writes a marker beside itself), the
# program waits for it and deletes it, its Close button ends it with exit code 0, and no working
# file is left. Screenshots go to the artifact folder.
#   window_download_test.sh PROGRAM.exe WINE_RUN DEMO_MIRROR WORK_DIR ARTIFACT_DIR
# The wine prefix is WORK_DIR's own, kept between runs; its server is ended before and after.
# Exits 77 (skipped) when wine, Xvfb, xdotool, ImageMagick or the mirror is missing.
set -uo pipefail
program=$1
wine_run=$2
mirror=$3
work=$4
artifacts=$5
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../gui/x11_helpers.sh"
require_tools wine wineserver Xvfb xdotool import convert "$mirror"
mkdir -p "$work" "$artifacts"
export WINEPREFIX=$work/prefix
rm -rf "$work/run"
mkdir -p "$work/run/out"
mirror_pid=""
cleanup() {
    [ -n "$mirror_pid" ] && kill -TERM "$mirror_pid" 2>/dev/null && wait "$mirror_pid" 2>/dev/null
    wineserver -k >/dev/null 2>&1
}
trap cleanup EXIT
wineserver -k >/dev/null 2>&1 # a server of an earlier run may still hold its X display
env -u DISPLAY "$wine_run" cmd.exe /c exit >/dev/null 2>&1 </dev/null
wineserver -k >/dev/null 2>&1
temp=$WINEPREFIX/drive_c/users/$(id -un)/Temp
mkdir -p "$temp"
rm -f "$temp"/tlv*.tmp

# A batch file that leaves a marker beside itself and ends; comment lines that it never
# reaches make it 6 MiB, so that the paced transfer takes seconds.
size=$((6 * 1024 * 1024))
printf '@echo off\r\necho ran> "%%~dp0marker.txt"\r\nexit /b 0\r\n' >"$work/run/setup.bat"
padding=$((size - $(stat -c %s "$work/run/setup.bat")))
yes "rem $(printf '%.0s0123456789' $(seq 1 12))"$'\r' | head -c "$padding" >>"$work/run/setup.bat"
[ "$(stat -c %s "$work/run/setup.bat")" = "$size" ] || { echo "FAILED: payload size"; exit 1; }

# Each range goes out in slices of 16 KiB every 100 ms: about 160 KB/s per connection.
coproc MIRROR {
    exec "$mirror" --pace 16384:100 --lifetime 150 "$work/run/setup.bat" 0 2>/dev/null
}
mirror_pid=$MIRROR_PID
read -r -t 10 port <&"${MIRROR[0]}" || { echo "FAILED: the mirror printed no port"; exit 1; }

timeout 150 "$here/../support/with_xserver.sh" 800x600x24 "$here/window_download_steps.sh" \
    "$program" "$wine_run" "http://127.0.0.1:$port/d/setup.bat" "$work/run" "$artifacts" ||
    exit $?

fail() { echo "FAILED: $*"; exit 1; }
[ -e "$work/run/out/marker.txt" ] || fail "the downloaded batch file did not run"
[ -e "$work/run/out/setup.bat" ] && fail "the batch file was not deleted after it ran"
leftover=$(find "$temp" "$work/run/out" -name 'tlv*.tmp')
[ -z "$leftover" ] || fail "working files left: $leftover"
echo "PASSED: caption and bar while downloading, Pause holds the bar, Resume, progress behind" \
    "the options dialog, full bar, batch file run and deleted, exit 0"
