#!/usr/bin/env bash
# Runs a command with DISPLAY set to a virtual X server of its own, then stops that server by
# its own id. The server picks a free display number itself (-displayfd), so that window
# tests running side by side never share one: `xvfb-run -a` guesses a number from the lock
# files, and two runs starting together could both take it, the later one then reaching the
# other's server without its cookie ("cannot open the display").
#   with_xserver.sh WIDTHxHEIGHTxDEPTH COMMAND [ARGS...]
# Exits with the command's exit code, or 1 when the server does not start.
set -uo pipefail
screen=$1
shift
work=$(mktemp -d)
xvfb=""
command=""
finish() {
    if [ -n "$command" ]; then
        kill -TERM "$command" 2>/dev/null && wait "$command" 2>/dev/null
    fi
    if [ -n "$xvfb" ]; then
        kill -TERM "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    fi
    rm -rf "$work"
}
trap finish EXIT
# A time-out's signal ends the command and the server too.
trap 'exit 143' TERM INT HUP
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset >/dev/null 2>"$work/xvfb.log" &
xvfb=$!
exec 3>&-
for _ in $(seq 1 200); do # at most 10 s
    [ -s "$work/display" ] && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.05
done
if ! [ -s "$work/display" ]; then
    echo "FAILED: the X server did not start: $(tail -3 "$work/xvfb.log")"
    exit 1
fi
export DISPLAY=":$(cat "$work/display")"
unset XAUTHORITY
for _ in $(seq 1 200); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && break
    sleep 0.05
done
# In the background, so that a signal is handled at once rather than after the command.
"$@" &
command=$!
wait "$command"
code=$?
command=""
exit "$code"
