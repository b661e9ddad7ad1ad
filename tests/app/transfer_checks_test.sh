#!/usr/bin/env bash
# Servers that would hold the program for ever or have it keep bytes that are not the file's,
# through the real program on the console, unattended, in a network namespace of its own: the
# program's built-in mirrors are 127.0.0.2:9, 127.0.0.3:9 and 127.0.0.4:9, and the URL's
# location is on 127.0.0.1. One case a run:
#   size-mirror   a built-in mirror sends its answer to the size request one byte every 10 s
#                 (its header alone would take minutes): the selection goes on after 5 s, the
#                 file comes from the URL's location
#   size-primary  the URL's location does so: its size request ends after 30 s, and the file
#                 comes from a built-in mirror
#   range-once    the URL's location sends the answer to one range request so: the idle
#                 workers take that range over, and the run ends with the exact file, also
#                 with MaximumNumberOfAttempts:1 ErrorAction:Close
#   range-all     the only location sends every range so: each attempt stalls after the
#                 time-out (60 s) as a failure that counts, and MaximumNumberOfAttempts:1
#                 ErrorAction:Close ends the run (exit 2, nothing left)
#   coded         the URL's location answers every range with a 206 coded with gzip (the right
#                 Content-Range, bytes of the right length): alone it never gives the file
#                 (exit 2), with a built-in mirror beside it the file comes exact from there
#   no-range      the same with a 206 without a Content-Range that holds the file's first bytes
#   transfer_checks_test.sh CASE PROGRAM DEMO_MIRROR WORK_DIR
# Exits 77 (skipped) when no network namespace can be made.
set -uo pipefail
case_name=$1
program=$2
mirror=$3
work=$4

. "$(dirname "$0")/../support/mirrors.sh"
in_network_namespace "$0" "$@"
fail() {
    echo "FAILED ($case_name): $*"
    echo "  standard output: $(tail -c 2000 "$work/stdout.txt" 2>/dev/null)"
    exit 1
}
head -c $((6 << 20)) /dev/urandom >"$work/file.bin"

# Runs the program for the URL's location (the last `start_mirror`) into a fresh folder,
# unattended, with the options given, for at most `limit` seconds; sets $code and $took.
run_program() { # limit options...
    local limit=$1
    shift
    rm -rf "$work/out"
    mkdir -p "$work/out"
    local start=$SECONDS
    env -u DISPLAY -u WAYLAND_DISPLAY TMPDIR="$work/out" timeout -s KILL "$limit" "$program" \
        "http://127.0.0.1:$port/d/file.bin" "OutputDirectory:$work/out" \
        CompletionLaunchApplication:0 "$@" </dev/null >"$work/stdout" 2>&1 &
    local pid=$!
    pids+=("$pid")
    wait "$pid"
    code=$?
    took=$((SECONDS - start))
    tr -d '\r' <"$work/stdout" >"$work/stdout.txt"
    [ "$code" = 137 ] && fail "still running after $limit s"
}
expect_file() {
    [ "$code" = 0 ] || fail "exit code $code after $took s"
    cmp -s "$work/file.bin" "$work/out/file.bin" || fail "the file differs from the served one"
    [ "$(ls -A "$work/out")" = "file.bin" ] || fail "left in the output folder: $(ls "$work/out")"
}
expect_no_file() {
    [ "$code" = 2 ] || fail "exit code $code after $took s"
    [ -z "$(ls -A "$work/out")" ] || fail "left in the output folder: $(ls "$work/out")"
}
asked() { grep -c "^$2" "$work/$1" 2>/dev/null; } # mirror method

case $case_name in
size-mirror)
    start_mirror "$work/ireland" 0 --address 127.0.0.2 --port 9 --trickle head:10000
    start_mirror "$work/singapore" 0 --address 127.0.0.3 --port 9
    start_mirror "$work/primary" 0
    run_program 120
    expect_file
    [ "$(asked singapore HEAD)" = 1 ] || fail "the mirror after the slow one was not asked"
    # 5 s for the slow mirror, 5 s before the first attempt, the transfer: far less than
    # the minutes the slow answer would take.
    [ "$took" -lt 40 ] || fail "took $took s"
    ;;
size-primary)
    start_mirror "$work/ireland" 0 --address 127.0.0.2 --port 9
    start_mirror "$work/primary" 0 --trickle head:10000
    run_program 120
    expect_file
    grep -q -- "- Using server 127.0.0.2:9\." "$work/stdout.txt" || fail "not from the mirror"
    [ "$(asked primary GET)" = 0 ] || fail "the slow location was asked for ranges"
    [ "$took" -ge 29 ] && [ "$took" -lt 70 ] || fail "took $took s (the bound is 30 s)"
    ;;
range-once)
    start_mirror "$work/ireland" 300 --address 127.0.0.2 --port 9
    start_mirror "$work/primary" 0 --trickle range:10000
    run_program 120 MaximumNumberOfAttempts:1 ErrorAction:Close
    expect_file
    [ "$took" -lt 40 ] || fail "took $took s"
    ;;
range-all)
    start_mirror "$work/primary" 0 --trickle ranges:10000
    run_program 150 MaximumNumberOfAttempts:1 ErrorAction:Close
    expect_no_file
    # 5 s before the attempts, 60 s of trickle each: the attempts allow no more.
    [ "$took" -lt 100 ] || fail "took $took s"
    grep -q "Only [0-9]* bytes came in 60 s" "$work/stdout.txt" || fail "no stall was reported"
    ;;
coded | no-range)
    fault=coded
    [ "$case_name" = no-range ] && fault=no-content-range
    start_mirror "$work/primary" 0 --get-fault $fault
    run_program 120 MaximumNumberOfAttempts:1 ErrorAction:Close
    expect_no_file
    [ "$(asked primary GET)" -ge 5 ] || fail "not every worker asked"
    grep -q "Content-Encoding: gzip\|without a Content-Range" "$work/stdout.txt" ||
        fail "the wrong answers were not named"
    # With a location that serves the file right beside it: the workers move there.
    start_mirror "$work/ireland" 300 --address 127.0.0.2 --port 9
    start_mirror "$work/primary" 0 --get-fault $fault
    run_program 120
    expect_file
    grep -q -- "- Using server 127.0.0.2:9\." "$work/stdout.txt" || fail "not from the mirror"
    ;;
*)
    fail "unknown case"
    ;;
esac
echo "PASSED ($case_name) in $took s"
