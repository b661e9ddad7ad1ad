#!/usr/bin/env bash
# The program without a display: it runs on the console, shows its caption, explains a
# faulty command line on standard error, and ends with code 2 (not downloaded) when
# interrupted. A console run over plain HTTP maps neither the window toolkit nor the TLS
# library (they cost about 4.5 MB of resident memory).
#   console_test.sh PROGRAM WORK_DIR
set -uo pipefail
program=$1
work=$2
mkdir -p "$work"
fail() { echo "FAILED: $*"; exit 1; }

run_until_caption() { # expected-caption args...
    local expected=$1
    shift
    env -u DISPLAY -u WAYLAND_DISPLAY "$program" "$@" >"$work/out" 2>"$work/err" </dev/null &
    local pid=$!
    for _ in $(seq 1 50); do
        grep -qF "$expected" "$work/out" && break
        sleep 0.1
    done
    cp "/proc/$pid/maps" "$work/maps" 2>/dev/null
    kill -INT "$pid" 2>/dev/null
    for _ in $(seq 1 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill -KILL "$pid"
        fail "the program did not end on SIGINT"
    fi
    wait "$pid"
    local code=$?
    [ "$code" = 2 ] || fail "exit code $code; stderr: $(cat "$work/err")"
    grep -qF "$expected" "$work/out" || fail "no \"$expected\" in: $(cat "$work/out")"
}

run_until_caption "Download Pelko"
[ -s "$work/err" ] && fail "unexpected standard error: $(cat "$work/err")"

run_until_caption "Download Tool" "server/file.exe" "ProductName:Tool"
grep -q "^Protocol is missing$" "$work/err" || fail "no syntax message: $(cat "$work/err")"
grep -q "^Correct syntax:$" "$work/err" || fail "no correct syntax: $(cat "$work/err")"
run_until_caption "Download file.exe" "http://127.0.0.1:1/file.exe"
[ -s "$work/maps" ] || fail "no memory map of the running program"
mapped=$(grep -oE '(libfltk|libX11|libxcb|libssl|libcrypto|download-display)[^ ]*' "$work/maps" | sort -u)
[ -z "$mapped" ] || fail "the console run mapped: $mapped"
echo "PASSED: console front end, syntax message, interrupt, libraries mapped"
