#!/usr/bin/env bash
# The pinned SHA-256 digest through the real program on the console, in a network namespace of
# its own (loopback only), against demo_mirror:
#   - without a pin the file is run and no digest is computed (the file is not read again);
#   - a pin in lower case, and one in upper case under the name "SHA256": the file is kept and
#     run, exit 0, and the last line gives its digest as sha256sum --check reads it;
#   - a pin of another file: exit 1, the "Connection error" box with both digests, "Verification
#     failed.", no file left, the downloaded script never run;
#   - malformed digests: exit 2 with the syntax message, and no request made; so for a signer
#     pin on Linux, which only the Windows program can check;
#   - the built-in request of a program built with a pin (PINNED_PROGRAM, its primary host
#     127.0.0.1:8081): the file it was built for is kept, a changed one is deleted, exit 1.
# With --wine the programs are the Windows build's and run under wine (the file run is a batch
# file there). Windows Sockets are made by the wine server, so the test runs a server of its
# own in the namespace, for a prefix of its own (WORK_DIR.prefix, made once, kept).
#   digest_test.sh PROGRAM PINNED_PROGRAM PINNED_FILE DEMO_MIRROR WORK_DIR [--wine]
# Exits 77 (skipped) when no network namespace can be made or wine is missing.
set -uo pipefail
program=$1
pinned=$2
pinned_file=$3
mirror=$4
work=$5
wine=${6:-}

if [ -z "${DIGEST_TEST_NAMESPACE:-}" ]; then
    . "$(dirname "$0")/../support/namespaces.sh"
    namespace_command n
    if [ -n "$wine" ] && ! command -v wine >/dev/null; then
        echo "SKIPPED: wine is not installed"
        exit 77
    fi
    DIGEST_TEST_NAMESPACE=1 exec "${namespace[@]}" "$0" "$@"
fi
ip link set lo up

rm -rf "$work"
mkdir -p "$work/out" "$work/prog"
mirror_pid=""
server_pid=""
stop_mirror() {
    [ -n "$mirror_pid" ] && kill "$mirror_pid" 2>/dev/null && wait "$mirror_pid" 2>/dev/null
    mirror_pid=""
}
cleanup() {
    stop_mirror
    [ -n "$server_pid" ] || return 0
    # The server ends the prefix's programs (its services among them), then itself.
    wineserver -k 2>/dev/null
    for _ in $(seq 1 100); do
        kill -0 "$server_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
}
trap cleanup EXIT
fail() {
    echo "FAILED ($what): $*"
    echo "  standard output: $(tail -c 800 "$work/stdout" 2>/dev/null)"
    exit 1
}

# The file to download: a script that leaves a mark beside itself when run, padded with
# numbered comment lines so that a misplaced range shows.
if [ -n "$wine" ]; then
    export WINEPREFIX=$work.prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
    mkdir -p "$WINEPREFIX"
    wineserver -k 2>/dev/null # a server left by an earlier run, in its own namespace
    wineserver -f -p </dev/null >/dev/null 2>&1 &
    server_pid=$!
    # The programs never start a server of their own: they wait for this one (a new prefix is
    # made by the first of them, about 15 s).
    export WINESERVER=/bin/false
    what="the wine server"
    ready=""
    for _ in $(seq 1 120); do
        wine cmd.exe /c exit </dev/null >/dev/null 2>&1 && { ready=yes; break; }
        kill -0 "$server_pid" 2>/dev/null || fail "it ended"
        sleep 0.5
    done
    [ -n "$ready" ] || fail "no program ran under it within 60 s"
    name=setup.bat
    printf '@echo off\r\necho ran> "%%~f0.ran"\r\nexit /b 0\r\n' >"$work/source"
    comment=rem
    local_path() { echo "Z:${1//\//\\}"; } # wine's drive Z: is the root
else
    name=setup.sh
    printf '#!/bin/sh\ntouch "$0.ran"\nexit 0\n' >"$work/source"
    comment="#"
    local_path() { echo "$1"; }
fi
awk -v c="$comment" 'BEGIN { for (i = 1; i <= 40000; i++) printf "%s padding line %06d\n", c, i }' \
    >>"$work/source"
digest=$(sha256sum "$work/source" | cut -c1-64)
other=$(printf 'another file' | sha256sum | cut -c1-64)

start_mirror() { # args for demo_mirror; sets url
    stop_mirror
    coproc MIRROR { exec "$mirror" "$@" 2>"$work/mirror.log"; }
    mirror_pid=$MIRROR_PID
    read -r -t 10 port <&"${MIRROR[0]}" || fail "the mirror printed no port"
    url="http://127.0.0.1:$port/d/$name"
}

# Runs a program to its end (at most 60 s) with standard input closed; sets code.
run() { # program args...
    local prog=$1
    shift
    if [ -n "$wine" ]; then
        timeout 60 wine "$prog" "$@" </dev/null >"$work/stdout" 2>"$work/stderr"
    else
        env -u DISPLAY -u WAYLAND_DISPLAY timeout 60 "$prog" "$@" \
            </dev/null >"$work/stdout" 2>"$work/stderr"
    fi
    code=$?
    tr -d '\r' <"$work/stdout" >"$work/stdout.txt"
}
ran() { # file: whether the run left its mark (a launch does not wait for the file's end)
    for _ in $(seq 1 100); do
        [ -e "$1.ran" ] && return 0
        sleep 0.1
    done
    return 1
}
requests() { grep -cE '^(HEAD|GET)' "$work/mirror.log"; }

start_mirror "$work/source" 0
out=$(local_path "$work/out")
for what in "no pin" "Sha256:$digest" "SHA256:${digest^^}"; do
    rm -f "$work/out"/*
    pin=()
    [ "$what" = "no pin" ] || pin=("$what")
    run "$program" "$url" "OutputDirectory:$out" "${pin[@]}"
    [ "$code" = 0 ] || fail "exit code $code; standard error: $(cat "$work/stderr")"
    cmp -s "$work/source" "$work/out/$name" || fail "the file differs from the served one"
    ran "$work/out/$name" || fail "the downloaded file was not run"
    if [ "$what" = "no pin" ]; then
        # Without a pin no digest is computed: the file is not read once more.
        grep -qF -- "Computing the file's SHA-256 digest" "$work/stdout.txt" &&
            fail "a digest was computed without a pin"
        grep -q "^SHA256 (" "$work/stdout.txt" && fail "a digest line without a pin"
        continue
    fi
    grep -qF -- "- Computing the file's SHA-256 digest..." "$work/stdout.txt" ||
        fail "the status line did not say that the digest was computed"
    [ "$(tail -n 1 "$work/stdout.txt")" = "SHA256 ($(local_path "$work/out/$name")) = $digest" ] ||
        fail "the last line is not the file's digest"
done
if [ -z "$wine" ]; then
    tail -n 1 "$work/stdout.txt" | sha256sum --check --quiet ||
        fail "sha256sum --check does not accept the last line"
fi

what="a pin of another file"
rm -f "$work/out"/*
run "$program" "$url" "OutputDirectory:$out" "Sha256:$other"
[ "$code" = 1 ] || fail "exit code $code"
for text in "== Connection error ==" "SHA-256 digest expected: $other" \
    "SHA-256 digest of the file: $digest" "- Verification failed."; do
    grep -qF -- "$text" "$work/stdout.txt" || fail "no \"$text\""
done
grep -qF "Executing downloaded application" "$work/stdout.txt" && fail "the file was run"
sleep 0.5
[ -z "$(ls -A "$work/out")" ] || fail "left in the output folder: $(ls "$work/out")"

before=$(requests)
for value in "" abc "${digest:1}" "${digest}0" "${digest:1}g" " ${digest:1}" "0x${digest:2}"; do
    what="malformed digest \"$value\""
    run "$program" "$url" "OutputDirectory:$out" "Sha256:$value"
    [ "$code" = 2 ] || fail "exit code $code"
    tr -d '\r' <"$work/stderr" | grep -qx "Invalid SHA-256 digest. Must be 64 hexadecimal digits." ||
        fail "no syntax message naming the digest: $(cat "$work/stderr")"
    [ -z "$(ls -A "$work/out")" ] || fail "written: $(ls "$work/out")"
done
if [ -z "$wine" ]; then
    # A signer pin cannot be checked here: never dropped, it ends the program at once.
    what="a signer pin on Linux"
    run "$program" "$url" "OutputDirectory:$out" "Signer:Talvex Ltd"
    [ "$code" = 2 ] || fail "exit code $code"
    grep -qxF "A signer cannot be checked on this system: signatures are checked by the Windows program only." \
        <(tr -d '\r' <"$work/stderr") || fail "no syntax message naming the signer: $(cat "$work/stderr")"
    [ -z "$(ls -A "$work/out")" ] || fail "written: $(ls "$work/out")"
fi
[ "$(requests)" = "$before" ] || fail "requests were made: $(tail -n 3 "$work/mirror.log")"

# The built-in request of the pinned program: its file, then the same size with one byte
# changed. The program's folder is the output folder.
prog="$work/prog/$(basename "$pinned")"
cp "$pinned" "$prog"
changed="$work/changed"
cp "$pinned_file" "$changed"
printf 'X' | dd of="$changed" bs=1 seek=1000000 conv=notrunc status=none
for served in "$pinned_file" "$changed"; do
    what="built-in pin, serving $(basename "$served")"
    rm -f "$work/prog/Pelko_setup.exe"
    start_mirror --port 8081 "$served" 0
    run "$prog"
    if [ "$served" = "$pinned_file" ]; then
        [ "$code" = 0 ] || fail "exit code $code"
        cmp -s "$pinned_file" "$work/prog/Pelko_setup.exe" || fail "the file differs"
    else
        [ "$code" = 1 ] || fail "exit code $code"
        grep -qF "SHA-256 digest of the file: $(sha256sum "$changed" | cut -c1-64)" \
            "$work/stdout.txt" || fail "the box does not name the file's digest"
        [ -e "$work/prog/Pelko_setup.exe" ] && fail "the changed file was left"
    fi
done
echo "PASSED: no pin, pins in either case, a pin of another file, malformed pins, built-in pin"
