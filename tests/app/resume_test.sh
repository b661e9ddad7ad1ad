#!/usr/bin/env bash
# Downloads that survive their interruption, through the real program on the console against
# nginx (its ETag, Last-Modified and If-Range as a real server gives them), each connection
# held to 2 MB/s:
#   1. killed with SIGKILL once 60 to 80 % is on disk (as its record says), then run again:
#      the file exact, the second run fetching at most the missing bytes plus 40 MiB (by
#      nginx's log), and nothing of the download left in the folder;
#   2. killed again, and the server's file replaced meanwhile (the same size, new bytes and a
#      new date): the new file exact;
#   3. two runs of the same download at once: both end with the exact file, and nothing is
#      left.
#   resume_test.sh PROGRAM NGINX_SERVE WORK_DIR [SIZE_MIB]   (default 64)
# Exits 77 (skipped) when nginx is missing.
set -uo pipefail
program=$1
serve=$2
work=$3
size_mib=${4:-64}
size=$((size_mib << 20))

rm -rf "$work"
mkdir -p "$work/www" "$work/out" "$work/tmp"
source "$(dirname "${BASH_SOURCE[0]}")/../support/started.sh"
fail() {
    echo "FAILED: $*"
    tail -5 "$work/run.out" 2>/dev/null
    exit 1
}
head -c "$size" /dev/urandom >"$work/www/f.bin"

start_nginx "$serve" "$work/www" 600 "limit_rate 2m;"
url="http://127.0.0.1:$nginx_port/f.bin"

# Starts the program in the background on the console; its pid in $program_pid.
start_program() {
    env -u DISPLAY -u WAYLAND_DISPLAY -u http_proxy -u no_proxy TMPDIR="$work/tmp" \
        "$program" "$url" "OutputDirectory:$work/out" CompletionLaunchApplication:0 \
        </dev/null >>"$work/run.out" 2>&1 &
    program_pid=$!
    pids+=("$program_pid")
}
# The bytes the download's record says are on disk (0 without one).
recorded() {
    awk '$1 == "done" { sum += $3 - $2 + 1 } END { print sum + 0 }' "$work"/out/tlv*.resume \
        2>/dev/null || echo 0
}
# Kills the running program with SIGKILL once its record names $1 % of the file, within 120 s.
kill_at() {
    for _ in $(seq 1 1200); do
        (($(recorded) * 100 >= size * $1)) && break
        kill -0 "$program_pid" 2>/dev/null || fail "the program ended before $1 %"
        sleep 0.1
    done
    kill -KILL "$program_pid"
    wait "$program_pid" 2>/dev/null
    echo "killed with $(($(recorded) >> 20)) MiB recorded"
}
leftovers() { find "$work/out" -name 'tlv*' | wc -l; }

# 1. Killed at about 60 to 80 % (the records come every 16 MiB here), run again.
start_program
kill_at 60
[ "$(leftovers)" = 2 ] || fail "the kill left $(leftovers) files instead of the working file and its record"
sleep 2 # nginx logs the killed connections
start_program
wait_program 120
[ "$code" = 0 ] || fail "the continued run ended with code $code"
cmp -s "$work/www/f.bin" "$work/out/f.bin" || fail "the continued file differs"
grep -q "Resuming: " "$work/run.out" || fail "the second run did not say that it resumed"
[ "$(leftovers)" = 0 ] || fail "left behind: $(ls "$work/out")"

# 2. Killed, the file replaced on the server, run again.
rm -f "$work/out/f.bin"
start_program
kill_at 30
head -c "$size" /dev/urandom >"$work/www/f.new"
touch -d "1 hour ago" "$work/www/f.new"
mv "$work/www/f.new" "$work/www/f.bin"
start_program
wait_program 120
[ "$code" = 0 ] || fail "the run after the change ended with code $code"
cmp -s "$work/www/f.bin" "$work/out/f.bin" || fail "the changed file did not arrive exact"
[ "$(leftovers)" = 0 ] || fail "left behind after the change: $(ls "$work/out")"

# 3. Two runs of the same download at once.
rm -f "$work/out/f.bin"
start_program
first=$program_pid
for _ in $(seq 1 300); do
    [ "$(recorded)" -gt 0 ] && break
    sleep 0.1
done
start_program
wait_program 120
[ "$code" = 0 ] || fail "the second of two runs at once ended with code $code"
program_pid=$first
wait_program 120
[ "$code" = 0 ] || fail "the first of two runs at once ended with code $code"
for file in "$work"/out/f*.bin; do
    cmp -s "$work/www/f.bin" "$file" || fail "$file of two runs at once differs"
done
[ "$(leftovers)" = 0 ] || fail "left behind by two runs at once: $(ls "$work/out")"

# The bytes of each run from nginx's log: a run begins with its size request (HEAD).
kill -TERM "$serve_pid"
wait "$serve_pid"
read -r first_run second_run < <(awk '/"HEAD / { run++ } /"GET / { sent[run] += $(NF-1) }
    END { print sent[1] + 0, sent[2] + 0 }' "$work/www.nginx.log")
echo "first run sent $((first_run >> 20)) MiB before the kill, the second $((second_run >> 20)) MiB"
((second_run <= size - first_run + (40 << 20))) ||
    fail "the second run fetched $second_run bytes; $((size - first_run)) were missing"
echo "PASSED"
