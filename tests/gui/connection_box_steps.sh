#!/usr/bin/env bash
# One run of connection_box_test.sh, inside a network namespace of its own (only loopback, so
# port 8000 is this run's and host names cannot be looked up anywhere) and a mount namespace
# (a /tmp of its own), with an X server of its own. Prints what failed; exits 0 when the program
# completed the download.
#   connection_box_steps.sh VARIANT PROGRAM MIRROR CLOSE_WINDOW WORK_DIR
# VARIANT: how the "Connection error" box is answered
#   focus-key     focused with windowfocus --sync, then Return sent to it (xdotool then
#                 fails with BadWindow, and the X server goes on repeating Return)
#   early-key     Return sent as soon as the box exists, before it is mapped
#   mapped-key    Return sent once the box is mapped
#   close-button  the box's close button (WM_DELETE_WINDOW)
set -uo pipefail
. "$(dirname "$0")/x11_helpers.sh"
. "$(dirname "$0")/../support/namespaces.sh"
variant=$1
program=$2
mirror=$3
close_window=$4
work=$5

xvfb="" pid="" mirror_pid=""
cleanup() {
    for p in $pid $mirror_pid; do
        kill -KILL "$p" 2>/dev/null
        wait "$p" 2>/dev/null
    done
    # Ended so that it removes its lock file: the X servers of other runs choose their display
    # numbers by those files.
    [ -n "$xvfb" ] && kill -TERM "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
}
trap cleanup EXIT
fail() {
    echo "FAILED ($variant): $*"
    echo "program output:"
    cat "$work/program.out" 2>/dev/null
    echo "X server: $(tail -5 "$work/xvfb.log" 2>/dev/null)"
    exit 1
}
since() { echo "$(( ($(date +%s%N) - start) / 1000000 )) ms"; }

ip link set lo up || fail "no loopback in the namespace"
# The X server keeps its socket and lock in /tmp and its compiled keyboard map in
# /var/lib/xkb, named after the display number; the runs side by side all use display :0.
private_tmp "$(dirname "$0")" "$program" "$mirror" "$close_window" "$work" ||
    fail "no /tmp of its own"
mkdir -p "$work/program" "$work/out" "$work/tmp"
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>"$work/xvfb.log" &
xvfb=$!
exec 3>&-
for _ in $(seq 1 200); do
    [ -s "$work/display" ] && break
    sleep 0.05
done
[ -s "$work/display" ] || fail "the X server did not start: $(tail -3 "$work/xvfb.log")"
export DISPLAY=":$(cat "$work/display")"
for _ in $(seq 1 200); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && break
    sleep 0.05
done
xdotool getdisplaygeometry >/dev/null 2>&1 || fail "the X server does not answer on $DISPLAY"

cp "$program" "$work/program/download"
head -c 1000 /dev/urandom >"$work/f.bin"
start=$(date +%s%N)
(cd "$work/program" && TMPDIR="$work/tmp" exec ./download http://127.0.0.1:8000/d/f.bin \
    "OutputDirectory:$work/out" CompletionLaunchApplication:0) >"$work/program.out" 2>&1 &
pid=$!

main=""
for _ in $(seq 1 400); do # the machine may be busy with other runs: up to 20 s
    main=$(xdotool search --name '^Download f.bin from 127.0.0.1:8000/d$' 2>/dev/null | head -1)
    [ -n "$main" ] && break
    kill -0 "$pid" 2>/dev/null || fail "the program ended before its window showed"
    sleep 0.05
done
[ -n "$main" ] || fail "no main window within 20 s"
sleep 0.5
import -window "$main" "$work/start.png" 2>/dev/null
box=""
for _ in $(seq 1 500); do
    box=$(xdotool search --name '^Connection error$' 2>/dev/null | head -1)
    [ -n "$box" ] && break
    kill -0 "$pid" 2>/dev/null || fail "the program ended before the box"
    sleep 0.02
done
[ -n "$box" ] || fail "no \"Connection error\" box within 10 s"
echo "box after $(since)"
visible() {
    for _ in $(seq 1 250); do
        xdotool search --onlyvisible --name '^Connection error$' >/dev/null 2>&1 && return 0
        sleep 0.02
    done
    return 1
}
case "$variant" in
focus-key)
    xdotool windowfocus --sync "$box" 2>/dev/null
    xdotool key --window "$box" Return 2>/dev/null ;;
early-key)
    xdotool key --window "$box" Return 2>/dev/null ;;
mapped-key)
    visible || fail "the box was never mapped"
    xdotool key --window "$box" Return 2>/dev/null ;;
close-button)
    visible || fail "the box was never mapped"
    "$close_window" "$box" || fail "close_window failed" ;;
*) fail "unknown variant" ;;
esac
sleep 0.5
"$mirror" --port 8000 --lifetime 120 "$work/f.bin" 0 >/dev/null 2>"$work/mirror.log" &
mirror_pid=$!
sleep 0.5
kill -0 "$pid" 2>/dev/null || fail "the program ended after the box was answered"
import -window "$main" "$work/paused.png" 2>/dev/null
xdotool mousemove --window "$main" 205 75 click 1
echo "Resume clicked after $(since)"

wait_end "Resume" 30
[ "$code" = 0 ] || fail "exit code $code"
cmp -s "$work/f.bin" "$work/out/f.bin" || fail "the downloaded file differs"
[ -z "$(find "$work/tmp" -name 'tlv*')" ] || fail "piece files were left"
echo "completed after $(since)"
