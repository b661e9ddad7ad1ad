#!/usr/bin/env bash
# Runs with an X server of its own (with_xserver.sh); see progress_window_test.sh.
#   progress_window_steps.sh PROGRAM URL WORK_DIR ARTIFACT_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/x11_helpers.sh"
program=$1
url=$2
work=$3
artifacts=$4
pid=""
fail() {
    echo "FAILED: $*"
    [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
    echo "captions seen: ${seen[*]:-none}"
    echo "program output:"
    cat "$work/program.out" 2>/dev/null
    exit 1
}
icon_name() { xprop -id "$main" WM_ICON_NAME 2>/dev/null | sed -n 's/.*= "\(.*\)"$/\1/p'; }
# How many of the bar's pixel columns are filled (the bar's colour: far more blue than red).
bar_filled() {
    convert "$1" -crop 333x1+68+14 +repage txt:- 2>/dev/null |
        awk -F'[(),]' 'NR > 1 && $5 + 0 > $3 + 100 && $5 + 0 > 150 { n++ } END { print n + 0 }'
}
seen=()

"$program" "$url" "ProductName:Pelko" "OutputDirectory:$work/out" CompletionClose:0 \
    CompletionLaunchApplication:0 </dev/null >"$work/program.out" 2>&1 &
pid=$!
main=$(wait_window "Download Pelko") || fail "no window captioned \"Download Pelko\""

# While the bytes arrive the caption counts up: at least five increasing percentages before
# 100.0%, read as a user would see them, every 100 ms. The bar grows with it.
last=-1
rising=0
shots=0
deadline=$(($(date +%s) + 60))
while [ "$(date +%s)" -lt "$deadline" ]; do
    caption=$(xdotool getwindowname "$main" 2>/dev/null) || fail "the window closed"
    t=$(tenths "$caption")
    if [ -n "$t" ] && [ "$t" -gt "$last" ]; then
        seen+=("$caption")
        [ "$t" -lt 1000 ] && rising=$((rising + 1))
        last=$t
        # Two pictures of the bar on the way, some seconds apart.
        if { [ "$shots" = 0 ] && [ "$t" -ge 100 ]; } || { [ "$shots" = 1 ] && [ "$t" -ge 300 ]; }; then
            shots=$((shots + 1))
            import -window "$main" "$artifacts/progress-$shots.png" 2>/dev/null
            filled[$shots]=$(bar_filled "$artifacts/progress-$shots.png")
        fi
    fi
    [ -n "$t" ] && [ "$t" -lt 1000 ] && title=$(icon_name)
    [ "$rising" -ge 5 ] && [ "$shots" = 2 ] && break
    [ "$last" -ge 1000 ] && break
    sleep 0.1
done
[ "$rising" -ge 5 ] || fail "fewer than five increasing percentages before 100.0% ($rising)"
[ "$shots" = 2 ] || fail "the caption did not reach 30.0% within 60 s"
[ "${filled[2]}" -gt "${filled[1]}" ] && [ "${filled[1]}" -gt 0 ] ||
    fail "the bar does not grow: ${filled[1]} then ${filled[2]} filled columns"
case "$title" in "Pelko download "*"%") ;; *) fail "the task bar title is \"$title\"" ;; esac
echo "during the transfer: \"${seen[-1]}\", title \"$title\"; bar ${filled[1]} then ${filled[2]} columns"

# Pause: caption and title say so, and nothing moves while paused.
xdotool key --window "$main" alt+p
paused=""
for _ in $(seq 1 50); do
    caption=$(xdotool getwindowname "$main" 2>/dev/null)
    case "$caption" in *paused*) paused=$caption; break ;; esac
    sleep 0.1
done
[ -n "$paused" ] || fail "the caption does not say paused: \"$caption\""
case "$(icon_name)" in *paused*) ;; *) fail "the title does not say paused: \"$(icon_name)\"" ;; esac
# What was on its way when Pause was pressed still lands; then nothing moves.
sleep 1
paused=$(xdotool getwindowname "$main")
sleep 1.5
import -window "$main" "$artifacts/progress-paused.png" 2>/dev/null
now=$(xdotool getwindowname "$main")
[ "$now" = "$paused" ] || fail "the caption moved while paused: \"$paused\", then \"$now\""
echo "paused: \"$paused\", title \"$(icon_name)\""

# Resume: the percentages go on rising.
xdotool key --window "$main" alt+r
resumed=""
for _ in $(seq 1 100); do
    t=$(tenths "$(xdotool getwindowname "$main" 2>/dev/null)")
    [ -n "$t" ] && [ "$t" -gt "$last" ] && { resumed=$t; break; }
    sleep 0.1
done
[ -n "$resumed" ] || fail "the caption did not move on after Resume"

# Escape is Cancel: the program ends with exit code 2 and leaves nothing.
xdotool key --window "$main" Escape
wait_end "Escape"
[ "$code" = 2 ] || fail "Escape ended the program with code $code, not 2"
[ -z "$(ls -A "$work/out")" ] || fail "files left behind: $(ls -A "$work/out")"
echo "PASSED: ${#seen[@]} captions rising, paused, resumed, Escape ends with 2"
