#!/usr/bin/env bash
# The location that serves a download dies in the middle of it, through the real program on
# the console, in a network namespace of its own: the program's built-in mirrors are
# 127.0.0.2:9, 127.0.0.3:9 and 127.0.0.4:9, and two of them serve the same file here (a little
# slower to answer the size request, so that the URL's location is taken). That location is
# killed once the transfer runs; the workers move to the next location that agreed on the
# size, the status line names it, and the file arrives exact with exit 0 and nothing left.
#   failover_test.sh PROGRAM DEMO_MIRROR WORK_DIR
# Exits 77 (skipped) when no network namespace can be made.
set -uo pipefail
program=$1
mirror=$2
work=$3

if [ -z "${FAILOVER_TEST_NAMESPACE:-}" ]; then
    . "$(dirname "$0")/../support/namespaces.sh"
    namespace_command n
    FAILOVER_TEST_NAMESPACE=1 exec "${namespace[@]}" "$0" "$@"
fi
ip link set lo up
. "$(dirname "$0")/../support/children.sh"

rm -rf "$work"
mkdir -p "$work/out"
pids=()
cleanup() {
    for p in "${pids[@]}"; do
        is_child "$p" && kill -KILL "$p" 2>/dev/null && wait "$p" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*"
    echo "  standard output: $(tail -c 1500 "$work/stdout.txt" 2>/dev/null)"
    exit 1
}
requests() { grep -c '^GET' "$1" 2>/dev/null; }

head -c $((24 << 20)) /dev/urandom >"$work/file.bin"
# Starts a mirror; its pid in $started, its port in $port.
start_mirror() { # log head-delay-ms demo_mirror-options...
    local log=$1 delay=$2
    shift 2
    "$mirror" "$@" "$work/file.bin" "$delay" >"$log.port" 2>"$log" &
    started=$!
    pids+=("$started")
    for _ in $(seq 1 100); do
        [ -s "$log.port" ] && break
        sleep 0.05
    done
    port=$(cat "$log.port")
    [ -n "$port" ] || fail "a mirror did not start: $(cat "$log")"
}
# The URL's location: answers first, then sends each range at about 2 MB/s.
start_mirror "$work/taken.log" 0 --pace 65536:30
taken=$started
url="http://127.0.0.1:$port/d/file.bin"
# Two built-in mirrors with the same file, slower to answer the size request.
start_mirror "$work/ireland.log" 300 --address 127.0.0.2 --port 9
start_mirror "$work/singapore.log" 400 --address 127.0.0.3 --port 9

env -u DISPLAY -u WAYLAND_DISPLAY TMPDIR="$work/out" timeout 120 "$program" "$url" \
    "OutputDirectory:$work/out" CompletionLaunchApplication:0 MaximumNumberOfAttempts:2 \
    </dev/null >"$work/stdout" 2>&1 &
program_pid=$!
pids+=("$program_pid")
# Killed once every range is under way and some of the file has come.
for _ in $(seq 1 400); do
    [ "$(requests "$work/taken.log")" -ge 5 ] && break
    sleep 0.05
done
[ "$(requests "$work/taken.log")" -ge 5 ] || fail "the taken location was not asked for ranges"
sleep 1
kill -KILL "$taken"
wait "$taken" 2>/dev/null
wait "$program_pid"
code=$?
tr -d '\r' <"$work/stdout" >"$work/stdout.txt"
[ "$code" = 0 ] || fail "exit code $code"
cmp -s "$work/file.bin" "$work/out/file.bin" || fail "the file differs from the served one"
grep -q -- "- Using server 127.0.0.2:9\." "$work/stdout.txt" ||
    fail "the status line did not name the next location"
grep -q "The server has disconnected" "$work/stdout.txt" &&
    fail "the attempts were counted though another location served"
[ "$(requests "$work/ireland.log")" -ge 1 ] || fail "the next location served nothing"
[ "$(ls -A "$work/out")" = "file.bin" ] || fail "left in the output folder: $(ls "$work/out")"
echo "PASSED: the taken location killed mid-transfer, the file from the next one"
