#!/usr/bin/env bash
# Stopping the real program at each moment of a download: during the wait before the
# selection, while a size request is held by the server, while the workers wait before their
# first attempt, during the transfer, at its end (the file checked and named) and (on the
# console) while the file's pinned digest is computed. Ctrl+C on the console (also while it
# asks a question at a terminal), and with a window its close box, its Cancel button and
# Ctrl+C; SIGTERM while a box is open before the download (a syntax error, a proxy setting
# that cannot be read). Each stop must end the program within half a second with exit code 2,
# with no request after the stop and nothing left behind (no working file, no output file).
# Runs in a network namespace of its own (loopback only) and a mount namespace (a /tmp of its
# own for the X server).
#   stop_test.sh PROGRAM DEMO_MIRROR NGINX_SERVE CLOSE_WINDOW WORK_DIR [LIMIT_MS]
# LIMIT_MS (default 500) is the time allowed from the stop to the program's end.
# Exits 77 (skipped) when no network namespace can be made, or Xvfb or xdotool is missing.
set -uo pipefail
program=$1
mirror=$2
nginx=$3
close_window=$4
work=$5
limit_ms=${6:-500}

here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/namespaces.sh"
if [ -z "${STOP_TEST_NAMESPACE:-}" ]; then
    namespace_command nm
    for tool in Xvfb xdotool; do
        command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
    done
    STOP_TEST_NAMESPACE=1 exec "${namespace[@]}" "$0" "$@"
fi

ip link set lo up
# The X server's socket, lock and keyboard map: this run's own.
private_tmp "$here" "$program" "$mirror" "$nginx" "$close_window" "$work" ||
    { echo "FAILED: no /tmp of its own"; exit 1; }
rm -rf "$work"
mkdir -p "$work/out" "$work/tmp" "$work/www/d"
export LSAN_OPTIONS="suppressions=$here/../gui/lsan-suppressions.txt${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
. "$here/../gui/x11_helpers.sh"

server="" pid="" xvfb=""
stop_server() {
    [ -n "$server" ] || return 0
    kill -TERM "$server" 2>/dev/null
    wait "$server" 2>/dev/null
    server=""
}
cleanup() {
    [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
    stop_server
    [ -n "$xvfb" ] && kill -TERM "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    rm -rf "$work/www" "$work/out" "$work/tmp" # the large file above all
}
trap cleanup EXIT
failures=0
fail() {
    echo "FAILED ($how at $moment): $*"
    echo "  program output: $(tail -c 600 "$work/program.out" 2>/dev/null)"
    failures=$((failures + 1))
    [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    pid=""
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }
requests() { grep -c -E '^(HEAD|GET)' "$work/mirror.log" 2>/dev/null; }

# An X server for the window runs.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$!
exec 3>&-
for _ in $(seq 1 200); do
    [ -s "$work/display" ] && break
    sleep 0.05
done
[ -s "$work/display" ] || { echo "FAILED: the X server did not start"; exit 1; }
display=":$(cat "$work/display")"

head -c 3000000 /dev/urandom >"$work/small.bin"
# The end and the digest need a large file, so that they take a while: 256 MiB, sparse, served
# by nginx.
truncate -s 256M "$work/www/d/large.bin"
large_digest=$(sha256sum "$work/www/d/large.bin" | cut -c1-64)

start_mirror() { # HEAD_DELAY_MS [demo_mirror options]
    stop_server
    local delay=$1
    shift
    coproc MIRROR { exec "$mirror" --lifetime 300 "$@" "$work/small.bin" "$delay" 2>"$work/mirror.log"; }
    server=$MIRROR_PID
    read -r -t 10 port <&"${MIRROR[0]}" || { echo "FAILED: the mirror printed no port"; exit 1; }
    url="http://127.0.0.1:$port/d/small.bin"
}
start_nginx() {
    stop_server
    rm -f "$work/port"
    "$nginx" "$work/www" "$work/port" 300 2>"$work/nginx.err" &
    server=$!
    for _ in $(seq 1 100); do
        [ -s "$work/port" ] && break
        sleep 0.1
    done
    [ -s "$work/port" ] || { echo "FAILED: nginx: $(cat "$work/nginx.err")"; exit 1; }
    url="http://127.0.0.1:$(cat "$work/port")/d/large.bin"
    : >"$work/mirror.log"
}

# Starts the program; with a window when $how names one.
start_program() {
    rm -rf "$work/out"/* "$work/tmp"/*
    : >"$work/program.out"
    local pin=()
    [ "$moment" = digest ] && pin=("Sha256:$large_digest")
    if [ "$how" = ctrl-c ]; then
        env -u DISPLAY -u WAYLAND_DISPLAY TMPDIR="$work/tmp" "$program" "$url" \
            "OutputDirectory:$work/out" CompletionLaunchApplication:0 ProductName:Tool \
            "${pin[@]}" </dev/null >"$work/program.out" 2>&1 &
    else
        DISPLAY=$display TMPDIR="$work/tmp" "$program" "$url" "OutputDirectory:$work/out" \
            CompletionLaunchApplication:0 ProductName:Tool </dev/null >"$work/program.out" 2>&1 &
    fi
    pid=$!
    started=$(now_ms)
    main=""
    if [ "$how" != ctrl-c ]; then
        main=$(DISPLAY=$display wait_window "Download Tool") || fail "no window"
    fi
}

# Waits (bounded) until the moment has come; false when it never did.
wait_for_moment() {
    local i
    case "$moment" in
    wait) sleep 1; return 0 ;;
    held-size-request | worker-wait)
        for i in $(seq 1 500); do
            grep -q '^HEAD' "$work/mirror.log" && break
            sleep 0.01
        done
        grep -q '^HEAD' "$work/mirror.log" || return 1
        [ "$moment" = worker-wait ] && sleep 1
        return 0 ;;
    transfer)
        for i in $(seq 1 1000); do
            [ "$(grep -c '^GET' "$work/mirror.log")" -ge 5 ] && { sleep 0.3; return 0; }
            sleep 0.01
        done
        return 1 ;;
    end)
        # The last figure of the transfer comes just before the file is checked and named;
        # a program that has ended by then finished before the stop could arrive.
        for i in $(seq 1 6000); do
            if [ -n "$main" ]; then
                case "$(DISPLAY=$display xdotool getwindowname "$main" 2>/dev/null)" in
                *"100.0%)") return 0 ;;
                esac
            else
                grep -q "Finished downloading application." "$work/program.out" && return 0
            fi
            kill -0 "$pid" 2>/dev/null || return 0
            sleep 0.005
        done
        return 1 ;;
    digest)
        for i in $(seq 1 6000); do
            grep -q "Computing the file's SHA-256 digest" "$work/program.out" && return 0
            kill -0 "$pid" 2>/dev/null || return 1
            sleep 0.005
        done
        return 1 ;;
    esac
}

stop_program() {
    case "$how" in
    ctrl-c | window-ctrl-c) kill -INT "$pid" ;;
    sigterm) kill -TERM "$pid" ;;
    close-box) DISPLAY=$display "$close_window" "$main" ;;
    cancel) DISPLAY=$display xdotool mousemove --window "$main" 365 75 click 1 ;;
    esac
}

check_stop() {
    before=$(requests)
    stopped=$(now_ms)
    stop_program
    for _ in $(seq 1 500); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.01
    done
    ended=$(now_ms)
    if kill -0 "$pid" 2>/dev/null; then
        fail "still running 5 s after the stop"
        return
    fi
    wait "$pid"
    code=$?
    pid=""
    took=$((ended - stopped))
    if [ "$moment" = end ] || [ "$moment" = digest ] && [ "$code" = 0 ] &&
        cmp -s "$work/www/d/large.bin" "$work/out/large.bin"; then
        echo "note ($how at $moment): it had finished before the stop arrived"
    else
        [ "$code" = 2 ] || fail "exit code $code"
        [ -z "$(ls -A "$work/out")" ] || fail "left in the output folder: $(ls "$work/out")"
    fi
    [ "$took" -le "$limit_ms" ] || fail "ended $took ms after the stop"
    [ "$(requests)" = "$before" ] || fail "requests after the stop: $(tail -n +$((before + 1)) "$work/mirror.log")"
    [ -z "$(find "$work/tmp" "$work/out" -name 'tlv*')" ] || fail "working files left"
    echo "$how at $moment: ended $took ms after the stop ($(( stopped - started )) ms after the start), exit $code"
}

for how in ctrl-c close-box cancel window-ctrl-c; do
    for moment in wait held-size-request worker-wait transfer end digest; do
        # Cancel is disabled while the file is checked; Ctrl+C of a window is tried once; the
        # digest's moment is seen in the console's status lines.
        [ "$how" = cancel ] && [ "$moment" = end ] && continue
        [ "$how" = window-ctrl-c ] && [ "$moment" != transfer ] && continue
        [ "$how" != ctrl-c ] && [ "$moment" = digest ] && continue
        case "$moment" in
        held-size-request) start_mirror 20000 ;;
        transfer) start_mirror 0 --pace 16384:50 ;;
        end | digest) start_nginx ;;
        *) start_mirror 0 ;;
        esac
        start_program
        [ -n "$pid" ] || continue
        if ! wait_for_moment; then
            fail "the moment never came"
            continue
        fi
        check_stop
    done
done
# SIGTERM while a box is open before any request: the syntax error of a URL that names no
# location (shown before the window's loop runs) and a proxy setting that cannot be read.
how=sigterm
start_mirror 0
for moment in syntax-box proxy-box; do
    box="Talvex download application" target=notaurl
    [ "$moment" = proxy-box ] && box="Proxy error" target=$url
    env -u no_proxy -u NO_PROXY http_proxy=http://127.0.0.1: DISPLAY=$display \
        TMPDIR="$work/tmp" "$program" "$target" "OutputDirectory:$work/out" \
        </dev/null >"$work/program.out" 2>&1 &
    pid=$! started=$(now_ms)
    DISPLAY=$display wait_window "$box" >/dev/null || { fail "no box"; continue; }
    check_stop
done
# Ctrl+C while the console asks a question at a terminal (here a pseudo-terminal): the
# prerequisite question of a requirement this system does not meet.
how=ctrl-c moment=question
start_mirror 0
python3 - "$program" "$url" "OutputDirectory:$work/out" OSPlatformId:2 \
    MinimumOSAMajorVersion:5 "$limit_ms" <<'PYTHON' >"$work/question.out" 2>&1 || fail "$(cat "$work/question.out")"
import os, pty, select, signal, sys, time
pid, fd = pty.fork()
if pid == 0:
    os.environ.pop("DISPLAY", None)
    os.environ.pop("WAYLAND_DISPLAY", None)
    os.execv(sys.argv[1], sys.argv[1:-1])
seen, deadline = b"", time.time() + 10
while b"anyway?" not in seen and time.time() < deadline:
    if select.select([fd], [], [], 0.1)[0]:
        try:
            seen += os.read(fd, 4096)
        except OSError:
            break
if b"anyway?" not in seen:
    sys.exit("no question: " + seen.decode(errors="replace"))
time.sleep(0.3)
stopped = time.time()
os.kill(pid, signal.SIGINT)
while time.time() < stopped + 5:
    done, status = os.waitpid(pid, os.WNOHANG)
    if done:
        break
    try:
        if select.select([fd], [], [], 0.01)[0]:
            os.read(fd, 4096)
    except OSError:
        pass
else:
    os.kill(pid, signal.SIGKILL)
    sys.exit("still running 5 s after Ctrl+C")
took = int((time.time() - stopped) * 1000)
code = os.waitstatus_to_exitcode(status)
print(f"ended {took} ms after the stop, exit {code}")
sys.exit(0 if code == 2 and took <= int(sys.argv[-1]) else 1)
PYTHON
echo "ctrl-c at the question: $(cat "$work/question.out")"
grep -q '^GET' "$work/mirror.log" && fail "a range was requested after the question"

[ "$failures" = 0 ] || { echo "FAILED: $failures checks"; exit 1; }
echo "PASSED: every stop ended the program at once, with nothing requested after it or left behind"
