#!/usr/bin/env bash
# Runs inside xvfb-run; see download_window_test.sh.
#   download_window_steps.sh PROGRAM URL WORK_DIR ARTIFACT_DIR
set -uo pipefail
. "$(dirname "$0")/x11_helpers.sh"
program=$1
url=$2
work=$3
artifacts=$4
pid=""
fail() {
    echo "FAILED: $*"
    if [ -n "$pid" ]; then
        kill -CONT "$pid" 2>/dev/null
        kill -KILL "$pid" 2>/dev/null
    fi
    echo "program output:"
    cat "$work/program.out" 2>/dev/null
    exit 1
}
# True when the progress bar of the screenshot is filled up to its right end.
bar_full() {
    local r g b
    read -r r g b < <(pixel "$1" 400 14)
    (( b > r + 100 && b > 150 ))
}

start=$(date +%s%N)
TMPDIR="$work/tmp" "$program" "$url" "ProductName:Pelko" </dev/null >"$work/program.out" 2>&1 &
pid=$!
main=$(wait_window "Download Pelko") || fail "no window captioned \"Download Pelko\""

# The caption follows the progress; at 100.0% the program is held (SIGSTOP) while the window
# is photographed, until a screenshot shows the full bar (the last repaint may still be on
# its way), then let go.
shot="$artifacts/download-complete.png"
rm -f "$shot"
caption=""
changed=$(date +%s)
deadline=$((changed + 30))
while [ "$(date +%s)" -lt "$deadline" ]; do
    now=$(xdotool getwindowname "$main" 2>/dev/null) ||
        fail "the window closed before 100.0% (last caption: \"$caption\")"
    [ "$now" != "$caption" ] && { caption=$now; changed=$(date +%s); }
    case "$caption" in *", 100.0%)")
        # Held at once: the drawing that came with the caption is at the X server already.
        kill -STOP "$pid" 2>/dev/null
        break ;;
    esac
    sleep 0.01
done
case "$caption" in
"Downloading Pelko ("*" of "*" MB, 100.0%)") ;;
*) fail "no caption at 100.0% within 30 s (last: \"$caption\", unchanged for" \
        "$(($(date +%s) - changed)) s)" ;;
esac
echo "caption at completion: $caption"
full=""
for _ in $(seq 1 20); do
    kill -STOP "$pid" 2>/dev/null || break
    import -window "$main" "$shot" 2>/dev/null
    if [ -s "$shot" ] && bar_full "$shot"; then
        full=yes
        kill -CONT "$pid" 2>/dev/null
        break
    fi
    kill -CONT "$pid" 2>/dev/null
    sleep 0.01
done
if [ -z "$full" ]; then
    [ -s "$shot" ] && fail "the bar is not full at 100.0%: its right end is $(pixel "$shot" 400 14)"
    fail "no screenshot with a full progress bar before the window closed"
fi
read -r r g b < <(pixel "$shot" 100 14)
(( b > r + 100 && b > 150 )) || fail "the bar's left part is $r $g $b, not the bar colour"

# The join, the verification and the completion actions follow: photograph the window in the
# same way until it is gone, keeping the last picture (the status line of the end, the Pause
# button hidden once the file has been joined).
last="$artifacts/download-last.png"
rm -f "$last"
for _ in $(seq 1 100); do
    sleep 0.01
    kill -STOP "$pid" 2>/dev/null || break
    if xdotool getwindowname "$main" >/dev/null 2>&1 &&
        import -window "$main" "$work/last.png" 2>/dev/null; then
        mv "$work/last.png" "$last"
    else
        kill -CONT "$pid" 2>/dev/null
        break
    fi
    kill -CONT "$pid" 2>/dev/null
done
if [ -s "$last" ]; then
    bar_full "$last" || fail "the bar of the last picture before closing is not full"
    read -r r g b < <(pixel "$last" 180 50)
    if ((r > 240 && g > 240 && b > 240)); then
        echo "last picture: after the join (Pause hidden)"
    else
        echo "last picture: before the join"
    fi
fi

# The default completion actions: run the file and close.
for _ in $(seq 1 200); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "the program did not close by itself within 20 s"
wait "$pid"
code=$?
pid=""
end=$(date +%s%N)
[ "$code" = 0 ] || fail "the program ended with code $code"
echo "program ran $(((end - start) / 1000000)) ms; screenshot: $shot"
