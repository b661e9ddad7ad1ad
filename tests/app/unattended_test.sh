#!/usr/bin/env bash
# The real program, unattended: console backend, no terminal on either side, options given on
# the command line, against a local mirror. A download into a given directory with launching
# off (exit 0, the file exact, one line per status), the same into a Japanese folder from a
# Japanese URL path with the texts in German, bad option values (exit 2 before any
# request), Ctrl+C in the middle of a transfer (exit 2, no piece file
# and no output file left), and URLs whose file name is "..", empty or holds an encoded
# separator (exit 2 before any request, nothing written), and ranges that always fail with the
# default error action (the attempts used up end the run with exit 2).
#   unattended_test.sh PROGRAM DEMO_MIRROR WORK_DIR
set -uo pipefail
program=$1
mirror=$2
work=$3
rm -rf "$work"
mkdir -p "$work/out" "$work/tmp"
mirror_pid=""
source "$(dirname "${BASH_SOURCE[0]}")/../support/started.sh"
fail() { echo "FAILED: $*"; exit 1; }

# A file with distinct bytes at every offset, so that a misplaced range shows.
head -c 3000000 /dev/urandom >"$work/source.bin"

start_mirror() { # args for demo_mirror before FILE
    [ -n "$mirror_pid" ] && kill "$mirror_pid" 2>/dev/null && wait "$mirror_pid" 2>/dev/null
    coproc MIRROR { exec "$mirror" "$@" "$work/source.bin" 0 2>"$work/mirror.log"; }
    mirror_pid=$MIRROR_PID
    pids+=("$mirror_pid")
    read -r -t 10 port <&"${MIRROR[0]}" || fail "the mirror printed no port"
    url="http://127.0.0.1:$port/dir/setup.bin"
}

run() { # args after the URL; runs the program in the background
    env -u DISPLAY -u WAYLAND_DISPLAY TMPDIR="$work/tmp" \
        "$program" "$url" "$@" >"$work/stdout" 2>"$work/stderr" </dev/null &
    program_pid=$!
    pids+=("$program_pid")
}

pieces_left() { find "$work/tmp" -name 'tlv*.tmp' | wc -l; }

# 1. A download into the given directory, launching off.
start_mirror
run "OutputDirectory:$work/out" CompletionLaunchApplication:0 ProductName:Tool
wait_program 60
[ "$code" = 0 ] || fail "exit code $code; stderr: $(cat "$work/stderr")"
cmp -s "$work/source.bin" "$work/out/setup.bin" || fail "the downloaded file differs"
[ "$(pieces_left)" = 0 ] || fail "piece files left behind"
for line in "Using server 127.0.0.1:$port." "Finished downloading application." "Finished."; do
    grep -qF -- "- $line" "$work/stdout" || fail "no line for \"$line\" in: $(cat "$work/stdout")"
done
[ -s "$work/stderr" ] && fail "unexpected standard error: $(cat "$work/stderr")"

# 1b. A folder and a URL path beyond ASCII, in German: the file saved under its name as written
# in the folder, the lines in the language.
mkdir -p "$work/ダウンロード"
url="http://127.0.0.1:$port/データ/ファイル.bin"
run "OutputDirectory:$work/ダウンロード" CompletionLaunchApplication:0 ProductName:Grüße Language:de
wait_program 60
[ "$code" = 0 ] || fail "exit code $code with a Japanese folder; stderr: $(cat "$work/stderr")"
cmp -s "$work/source.bin" "$work/ダウンロード/ファイル.bin" || fail "the file in the Japanese folder differs"
grep -qF -- "- Fertig." "$work/stdout" || fail "no German line in: $(tail -3 "$work/stdout")"
url="http://127.0.0.1:$port/dir/setup.bin"

# 2. A bad value of any download option ends the program before any request, with the syntax
# message naming it on standard error and exit code 2; nothing is written anywhere.
rm -f "$work/out/setup.bin"
start_mirror
for bad in "OutputDirectory:$work/missing" "OutputDirectory:" OverrideFile:yes \
    CompletionClose:2 CompletionOpenFolder: CompletionLaunchApplication:on \
    DeleteAfterDownloading:x MaximumNumberOfAttempts:often MaximumNumberOfAttempts:0 \
    ErrorAction:Stop ErrorAction:3 ProxyServer:proxy.local ProxyPort:8080 \
    "ProxyServer:   " "ProxyServer:127.0.0.1 ProxyPort:70000"; do
    # shellcheck disable=SC2086 # the proxy case is two parameters
    env -u DISPLAY -u WAYLAND_DISPLAY TMPDIR="$work/tmp" timeout 20 "$program" "$url" \
        "OutputDirectory:$work/out" CompletionLaunchApplication:0 $bad \
        >"$work/stdout" 2>"$work/stderr" </dev/null
    code=$?
    [ "$code" = 2 ] || fail "exit code $code for $bad"
    grep -q "^There are errors in the parameters:" "$work/stderr" &&
        grep -q "^Correct syntax:" "$work/stderr" ||
        fail "no syntax message naming the error for $bad: $(cat "$work/stderr")"
    [ -z "$(ls -A "$work/out")" ] || fail "files written for $bad: $(ls "$work/out")"
done
grep -qE '^(HEAD|GET)' "$work/mirror.log" && fail "requests made: $(cat "$work/mirror.log")"

# 3. Ctrl+C in the middle of a slow transfer.
rm -f "$work/out/setup.bin"
start_mirror --pace 16384:50
run "OutputDirectory:$work/out" CompletionLaunchApplication:0
for _ in $(seq 1 200); do
    grep -q "Downloading setup.bin from" "$work/stdout" && break
    sleep 0.1
done
grep -q "Downloading setup.bin from" "$work/stdout" || fail "the transfer did not start"
sleep 0.5
kill -INT "$program_pid"
wait_program 10
[ "$code" = 2 ] || fail "exit code $code after Ctrl+C"
[ "$(pieces_left)" = 0 ] || fail "piece files left after Ctrl+C"
[ -e "$work/out/setup.bin" ] && fail "an output file was left after Ctrl+C"

# 4. A URL whose file name is no plain name ends the program before any request, writing
# nothing, neither in the output directory nor beside it.
start_mirror
for name in "dir/.." "dir/" "dir/..%2F..%2Fescaped" "dir/a%5Cb"; do
    rm -rf "$work/out" && mkdir -p "$work/out/inner"
    url="http://127.0.0.1:$port/$name"
    env -u DISPLAY -u WAYLAND_DISPLAY TMPDIR="$work/tmp" timeout 20 "$program" "$url" \
        "OutputDirectory:$work/out/inner" OverrideFile:0 CompletionLaunchApplication:0 \
        >"$work/stdout" 2>"$work/stderr" </dev/null
    code=$?
    [ "$code" = 2 ] || fail "exit code $code for $name"
    grep -q "^File name" "$work/stderr" || fail "no file name error for $name: $(cat "$work/stderr")"
    [ -z "$(find "$work/out" -mindepth 1 ! -path "$work/out/inner")" ] ||
        fail "files written for $name: $(find "$work/out")"
    [ "$(pieces_left)" = 0 ] || fail "piece files left for $name"
done
# 5. Ranges that always fail, with the default error action (the retry question): nobody can
# answer it, so the used-up attempts end the download (never unlimited attempts).
start_mirror --get-status 503
rm -rf "$work/out" && mkdir -p "$work/out"
run "OutputDirectory:$work/out" MaximumNumberOfAttempts:1
wait_program 90
[ "$code" = 2 ] || fail "exit code $code when the attempts were used up unattended"
[ -z "$(ls -A "$work/out")" ] || fail "files left when the attempts were used up"
echo "PASSED: unattended download, bad option values, Ctrl+C, file names that are no plain names," \
    "used-up attempts end the run"
