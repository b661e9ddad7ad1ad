#!/usr/bin/env bash
# The real window downloading a file from nginx on loopback under a virtual X server: the
# window "Download Pelko" appears, the download runs to "100.0%", the program runs the
# downloaded file, a screenshot shows the full progress bar at completion, the Close button
# ends the program with exit code 0, and the file next to the program is identical to the
# served one, with no piece file left in its temporary folder. The screenshot goes to the artifact folder.
#   download_window_test.sh PROGRAM NGINX_SERVE ARTIFACT_DIR
# Exits 77 (skipped) when Xvfb, xdotool, ImageMagick or nginx is missing.
set -euo pipefail
program=$1
serve=$2
artifacts=$3

. "$(dirname "$0")/x11_helpers.sh"
require_tools Xvfb xdotool import convert cmp
mkdir -p "$artifacts"
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/download-window-XXXXXX")
server=""
cleanup() {
    if [ -n "$server" ]; then
        kill -TERM "$server" 2>/dev/null || true
        for _ in $(seq 1 50); do
            kill -0 "$server" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$server" 2>/dev/null || true
        wait "$server" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# A file that is harmless to run: a script that leaves a mark beside itself, then random bytes
# that the shell never reaches. Large enough for the completion to be seen.
mkdir -p "$work/www/dir" "$work/program" "$work/tmp"
size=$((128 * 1024 * 1024))
printf '#!/bin/sh\ntouch "$0.ran"\nexit 0\n' >"$work/www/dir/setup.sh"
head -c $((size - $(stat -c %s "$work/www/dir/setup.sh"))) /dev/urandom >>"$work/www/dir/setup.sh"
[ "$(stat -c %s "$work/www/dir/setup.sh")" = "$size" ] || { echo "FAILED: payload size"; exit 1; }
cp "$program" "$work/program/download"

"$serve" "$work/www" "$work/port" 60 2>"$work/serve.err" &
server=$!
for _ in $(seq 1 100); do
    [ -s "$work/port" ] && break
    if ! kill -0 "$server" 2>/dev/null; then
        code=0
        wait "$server" || code=$?
        server=""
        if [ "$code" = 77 ]; then
            echo "SKIPPED: $(cat "$work/serve.err")"
            exit 77
        fi
        echo "FAILED: nginx did not start: $(cat "$work/serve.err")"
        exit 1
    fi
    sleep 0.1
done
[ -s "$work/port" ] || { echo "FAILED: nginx gave no port within 10 s"; exit 1; }
url="http://127.0.0.1:$(cat "$work/port")/dir/setup.sh"

# FLTK, Xlib and fontconfig keep caches until the process ends; only our code is checked.
export LSAN_OPTIONS="suppressions=$here/lsan-suppressions.txt${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
code=0
timeout 50 "$here/../support/with_xserver.sh" 800x600x24 "$here/download_window_steps.sh" \
    "$work/program/download" "$url" "$work" "$artifacts" || code=$?
[ "$code" = 0 ] || exit "$code"

cmp "$work/www/dir/setup.sh" "$work/program/setup.sh" || { echo "FAILED: the file differs"; exit 1; }
leftover=$(find "$work/tmp" -name 'tlv*.tmp')
[ -z "$leftover" ] || { echo "FAILED: piece files left: $leftover"; exit 1; }
echo "PASSED: window, download to 100.0%, screenshot at completion, run, close, exit 0, same file"
