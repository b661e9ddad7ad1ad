#!/usr/bin/env bash
# Runs with an X server of its own (with_xserver.sh); see window_download_test.sh.
#   window_download_steps.sh PROGRAM.exe WINDOW_CONTROLS.exe WINE_RUN URL RUN_DIR ARTIFACT_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../gui/x11_helpers.sh"
. "$here/window_helpers.sh"
program=$1
window_controls=$2
wine_run=$3
url=$4
run=$5
artifacts=$6
name=${url##*/}
pid=""
fail() {
    echo "FAILED: $*"
    if [ -n "$pid" ]; then
        kill -CONT "$pid" 2>/dev/null
        kill -KILL "$pid" 2>/dev/null
    fi
    echo "program output:"
    cat "$run/program.out" 2>/dev/null
    exit 1
}
# Waits (at most $2 s) until the caption's percentage satisfies test $1 (on $t); the caption
# in $caption.
wait_caption() {
    local deadline=$(($(date +%s) + $2))
    while [ "$(date +%s)" -lt "$deadline" ]; do
        caption=$(xdotool getwindowname "$main" 2>/dev/null) || fail "the window went away"
        t=$(tenths "$caption")
        [ -n "$t" ] && (( $1 )) && return 0
        sleep 0.05
    done
    fail "no caption with $1 within $2 s (last: \"$caption\")"
}
# "R G B" of the bar at client x $2 in screenshot $1, and whether it is the bar's colour.
bar_at() { client_pixel "$1" "$2" 14; }
is_filled() {
    local r g b
    read -r r g b < <(bar_at "$1" "$2")
    ((b > r + 60 && b > 150))
}
# The filled width of the bar (client x 66 to 403) in screenshot $1, in pixels.
bar_width() {
    convert "$1" -crop "337x1+$((66 + frame_x))+$((14 + frame_y))" -depth 8 txt:- |
        awk -F'[(),]' 'NR > 1 && $5 > $3 + 60 && $5 > 150 { n++ } END { print n + 0 }'
}

windows_out="Z:${run//\//\\}\\out"
# The window stays after the completion (the file is checked and named in a moment, too soon to
# photograph the full bar), and is closed with its Close button, as a user would.
"$wine_run" "$program" "$url" "ProductName:Pelko" "OutputDirectory:$windows_out" \
    DeleteAfterDownloading:1 CompletionClose:0 </dev/null >"$run/program.out" 2>&1 &
pid=$!
main=$(wait_shown "Download Pelko") || fail "no window captioned \"Download Pelko\""
measure_frame "$main" 410 92 || fail "the main window is not a client area of 410 x 76 in a frame"

# The progress shows several times a second (the session reports it every 100 ms): the
# caption, read every 100 ms for 4 s from the first bytes on, takes at least five rising
# percentages and changes at least twice a second (a window that moved once a second would
# show about four), and the bar grows meanwhile.
wait_caption 't > 0 && t < 300' 40
import -window "$main" "$artifacts/win-progress-start.png" || fail "no screenshot at the start"
sampled=$(date +%s%N)
percentages=("$t")
for _ in $(seq 1 40); do
    caption=$(xdotool getwindowname "$main" 2>/dev/null) || fail "the window went away"
    t=$(tenths "$caption")
    [ -z "$t" ] || [ "$t" = 1000 ] && break
    [ "$t" != "${percentages[-1]}" ] && percentages+=("$t")
    (($(date +%s%N) - sampled < 4000000000)) || break
    sleep 0.1
done
elapsed=$((($(date +%s%N) - sampled) / 1000000))
import -window "$main" "$artifacts/win-progress-later.png" || fail "no screenshot later"
echo "in $elapsed ms the caption showed (tenths of a percent): ${percentages[*]}"
previous=-1
for t in "${percentages[@]}"; do
    ((t > previous)) || fail "the percentage fell: ${percentages[*]}"
    previous=$t
done
[ "${#percentages[@]}" -ge 5 ] && ((${#percentages[@]} * 1000 >= 2 * elapsed)) ||
    fail "${#percentages[@]} captions in $elapsed ms: the window does not keep up with the bytes"
[ "$(bar_width "$artifacts/win-progress-later.png")" -gt \
    "$(bar_width "$artifacts/win-progress-start.png")" ] || fail "the bar did not grow"

# While downloading: the caption's figures, a partly filled bar, and the status line with the
# long file name, shortened on the screen, whole in the label's text.
wait_caption 't >= 100 && t <= 600' 40
sleep 0.2
shot="$artifacts/win-downloading.png"
import -window "$main" "$shot" || fail "no screenshot while downloading"
echo "while downloading: $caption"
is_filled "$shot" 70 || fail "the bar's left end is $(bar_at "$shot" 70) while downloading"
is_filled "$shot" 400 && fail "the bar is full at $caption"
check_controls "Downloading Pelko"
grep -q "^Static.*Downloading $name from 127.0.0.1" <<<"$controls" ||
    fail "no label with the whole status line: $controls"

# Pause: the attempts in progress are aborted; the bytes that came stay (the bar never runs
# backwards), and nothing moves until Resume.
before=$t
click_client "$main" 205 75
sleep 1
caption=$(xdotool getwindowname "$main")
paused=$(tenths "$caption")
[ -n "$paused" ] && [ "$paused" -ge "$before" ] || fail "the bar ran back from $before to $caption"
shot="$artifacts/win-paused.png"
import -window "$main" "$shot" || fail "no screenshot while paused"
echo "paused: $caption (from $before tenths of a percent)"
[[ $caption == "Download of Pelko paused ("* ]] || fail "the caption does not say paused: $caption"
xdotool search --name "^Pelko download paused at [0-9]+%\$" >/dev/null ||
    fail "no task bar title \"Pelko download paused at N%\""
sleep 1
[ "$(xdotool getwindowname "$main")" = "$caption" ] || fail "the progress moved while paused"

# Resume: the transfer goes on. The workers' reports keep coming while the options dialog is
# open (its own message loop runs): the caption moves on behind it.
click_client "$main" 205 75
wait_caption "t > $paused" 30
click_client "$main" 285 75
options=$(wait_shown "Download options") || fail "Options did not open the dialog while downloading"
caption=$(xdotool getwindowname "$main")
opened=$(tenths "$caption")
[ -n "$opened" ] || fail "the caption is \"$caption\" when the dialog opened"
[ "$opened" -lt 900 ] || fail "the download was nearly done before the dialog opened ($caption)"
wait_caption "t >= $opened + 50" 30
xdotool search --onlyvisible --name "^Download options\$" >/dev/null ||
    fail "the dialog closed while the progress moved"
echo "behind the open dialog: from $opened to $t tenths of a percent"
keys_to "$options" Escape
wait_hidden "Download options" || fail "Escape did not close the dialog"
wait_caption 't == 1000' 60
# Held while the window is photographed (the last repaint may still be on its way).
full=""
for _ in $(seq 1 20); do
    kill -STOP "$pid" 2>/dev/null || break
    import -window "$main" "$artifacts/win-complete.png" 2>/dev/null
    kill -CONT "$pid" 2>/dev/null
    if [ -s "$artifacts/win-complete.png" ] && is_filled "$artifacts/win-complete.png" 400; then
        full=yes
        break
    fi
    sleep 0.05
done
[ -n "$full" ] || fail "no screenshot with a full bar at $caption"
echo "complete: $caption"

# The completion runs the batch file, waits for it and deletes it; then Close ends the program.
for _ in $(seq 1 300); do
    [ -e "$run/out/marker.txt" ] && [ ! -e "$run/out/$name" ] && break
    sleep 0.1
done
[ ! -e "$run/out/$name" ] || fail "the batch file was not deleted after it ran"
click_client "$main" 365 75
wait_end "the completion" 30
[ "$code" = 0 ] || fail "the program ended with code $code"
