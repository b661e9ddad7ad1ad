#!/usr/bin/env bash
# A download through the Windows program's own window under wine on a virtual X server, from
# a paced mirror on loopback: the caption "Downloading Pelko (x of y MB, z%)" moving several
# times a second and the bar growing, the status line naming a long file name (its label
# keeps the whole name for screen readers), Pause ending the attempts in progress while
# their bytes stay (the bar holds),
# Resume, the progress going on behind the open options dialog, the full bar at 100.0%, then
# the completion: the downloaded batch file runs (it writes a marker beside itself), the
# program waits for it and deletes it, its Close button ends it with exit code 0, and no working
# file is left. Screenshots go to the artifact folder.
#   window_download_test.sh PROGRAM.exe WINDOW_CONTROLS.exe WINE_RUN DEMO_MIRROR WORK_DIR
#                           ARTIFACT_DIR
# The wine prefix is WORK_DIR's own, kept between runs; its server is ended before and after.
# Exits 77 (skipped) when wine, Xvfb, xdotool, ImageMagick or the mirror is missing.
set -uo pipefail
program=$1
window_controls=$2
wine_run=$3
mirror=$4
work=$5
artifacts=$6
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

# A batch file with a long name that leaves a marker beside itself and ends; comment lines
# that it never reaches make it 10 MiB, so that the paced transfer takes about 13 s.
name=Pelko_Suite_2024_Professional_Edition_x64_multilingual_offline_setup.bat
batch=$work/run/$name
size=$((10 * 1024 * 1024))
printf '@echo off\r\necho ran> "%%~dp0marker.txt"\r\nexit /b 0\r\n' >"$batch"
padding=$((size - $(stat -c %s "$batch")))
yes "rem $(printf '%.0s0123456789' $(seq 1 12))"$'\r' | head -c "$padding" >>"$batch"
[ "$(stat -c %s "$batch")" = "$size" ] || { echo "FAILED: payload size"; exit 1; }

# Each range goes out in slices of 16 KiB every 100 ms: about 160 KB/s per connection.
coproc MIRROR {
    exec "$mirror" --pace 16384:100 --lifetime 150 "$batch" 0 2>/dev/null
}
mirror_pid=$MIRROR_PID
read -r -t 10 port <&"${MIRROR[0]}" || { echo "FAILED: the mirror printed no port"; exit 1; }

timeout 150 "$here/../support/with_xserver.sh" 800x600x24 "$here/window_download_steps.sh" \
    "$program" "$window_controls" "$wine_run" "http://127.0.0.1:$port/d/$name" "$work/run" \
    "$artifacts" ||
    exit $?

fail() { echo "FAILED: $*"; exit 1; }
[ -e "$work/run/out/marker.txt" ] || fail "the downloaded batch file did not run"
[ -e "$work/run/out/$name" ] && fail "the batch file was not deleted after it ran"
leftover=$(find "$temp" "$work/run/out" -name 'tlv*.tmp')
[ -z "$leftover" ] || fail "working files left: $leftover"
echo "PASSED: caption and bar moving several times a second, the long name's status line," \
    "Pause holds the bar, Resume, progress behind the options dialog, full bar, batch file run" \
    "and deleted, exit 0"
