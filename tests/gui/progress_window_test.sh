#!/usr/bin/env bash
# The real window during a paced download under a virtual X server: the caption, the task bar
# title and the bar move while the bytes arrive (several increasing percentages before
# 100.0%), Pause shows the paused state in the caption and the title, Resume moves on, and
# Escape ends the program as Cancel does. Screenshots go to the artifact folder.
#   progress_window_test.sh PROGRAM DEMO_MIRROR ARTIFACT_DIR
# Exits 77 (skipped) when Xvfb, xdotool, xprop or ImageMagick is missing.
set -euo pipefail
program=$1
mirror=$2
artifacts=$3

here=$(cd "$(dirname "$0")" && pwd)
. "$here/x11_helpers.sh"
. "$here/../support/started.sh"
require_tools Xvfb xdotool xprop import convert
mkdir -p "$artifacts"
work=$(mktemp -d "${TMPDIR:-/tmp}/progress-window-XXXXXX")
trap 'stop_started; rm -rf "$work"' EXIT

# 24 MiB in slices of 32 KiB every 50 ms on each of the five connections: about 8 s.
mkdir -p "$work/out"
head -c $((24 * 1024 * 1024)) /dev/urandom >"$work/file.bin"
"$mirror" --pace 32768:50 --lifetime 120 "$work/file.bin" 0 >"$work/port" 2>/dev/null &
pids+=($!)
for _ in $(seq 1 100); do
    [ -s "$work/port" ] && break
    sleep 0.1
done
[ -s "$work/port" ] || { echo "FAILED: the mirror gave no port within 10 s"; exit 1; }
url="http://127.0.0.1:$(head -1 "$work/port")/d/file.bin"

export LSAN_OPTIONS="suppressions=$here/lsan-suppressions.txt${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
timeout 100 "$here/../support/with_xserver.sh" 800x600x24 "$here/progress_window_steps.sh" \
    "$program" "$url" "$work" "$artifacts"
