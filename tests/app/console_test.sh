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

run_until_caption "Download Tool" "http://127.0.0.1:1/file.exe" "ProductName:Tool" "Bogus:1"
grep -q "^Unknown parameter name Bogus.$" "$work/err" || fail "no syntax message: $(cat "$work/err")"
grep -q "^Correct syntax:$" "$work/err" || fail "no correct syntax: $(cat "$work/err")"

# Runs the program to its end (it must end by itself within 5 s); sets `code`.
run_to_end() {
    timeout -k 1 5 env -u DISPLAY -u WAYLAND_DISPLAY "$program" "$@" >"$work/out" 2>"$work/err" \
        </dev/null
    code=$?
}
# A URL that names no host is no download: the syntax message, exit 2, nothing asked.
for url in "server/file.exe" "http:///file.exe" "http://server" "--hepl"; do
    run_to_end "$url" "ProductName:Tool"
    [ "$code" = 2 ] || fail "$url: exit code $code"
    grep -q "^Incorrect command line syntax.$" "$work/err" || fail "$url: $(cat "$work/err")"
    grep -qE "Retrieving|Could not connect|Download Tool" "$work/out" &&
        fail "$url: the program went on: $(cat "$work/out")"
done
# Help and version: on standard output, exit 0, nothing asked.
for help in --help -h "/?"; do
    run_to_end "$help"
    [ "$code" = 0 ] || fail "$help: exit code $code; $(cat "$work/err")"
    grep -q "^Correct syntax:$" "$work/out" || fail "$help: no syntax in: $(cat "$work/out")"
    grep -q "^ProxyPort: " "$work/out" || fail "$help: no options in: $(cat "$work/out")"
    grep -qE "Incorrect|Retrieving|Download Pelko" "$work/out" && fail "$help: $(cat "$work/out")"
    [ -s "$work/err" ] && fail "$help: standard error: $(cat "$work/err")"
done
run_to_end --version
[ "$code" = 0 ] || fail "--version: exit code $code"
grep -qE "^Talvex download application [0-9]+\.[0-9]+\.[0-9]+$" "$work/out" ||
    fail "--version printed: $(cat "$work/out")"
run_until_caption "Download file.exe" "http://127.0.0.1:1/file.exe"
[ -s "$work/maps" ] || fail "no memory map of the running program"
mapped=$(grep -oE '(libfltk|libX11|libxcb|libssl|libcrypto|download-display)[^ ]*' "$work/maps" | sort -u)
[ -z "$mapped" ] || fail "the console run mapped: $mapped"
echo "PASSED: console front end, syntax message, help, version, interrupt, libraries mapped"
