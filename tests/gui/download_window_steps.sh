#!/usr/bin/env bash
# Runs with an X server of its own (with_xserver.sh); see download_window_test.sh.
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
    [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
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
# The window stays open after the completion actions (CompletionClose:0), so that the finished
# window can be photographed at leisure however fast the join and the run were; the test then
# closes it with its Close button, as a user would.
TMPDIR="$work/tmp" "$program" "$url" "ProductName:Pelko" "CompletionClose:0" </dev/null \
    >"$work/program.out" 2>&1 &
pid=$!
main=$(wait_window "Download Pelko") || fail "no window captioned \"Download Pelko\""

# The caption follows the progress up to 100.0%.
caption=""
changed=$(date +%s)
deadline=$((changed + 30))
while [ "$(date +%s)" -lt "$deadline" ]; do
    now=$(xdotool getwindowname "$main" 2>/dev/null) ||
        fail "the window closed before 100.0% (last caption: \"$caption\")"
    [ "$now" != "$caption" ] && { caption=$now; changed=$(date +%s); }
    case "$caption" in *", 100.0%)") break ;; esac
    sleep 0.01
done
case "$caption" in
"Download"*" Pelko ("*" of "*" MB, 100.0%)") ;;
*) fail "no caption at 100.0% within 30 s (last: \"$caption\", unchanged for" \
        "$(($(date +%s) - changed)) s)" ;;
esac
echo "caption at completion: $caption"

# The join, the verification and the run of the file follow; the run leaves its mark.
for _ in $(seq 1 200); do
    [ -e "$(dirname "$program")/setup.sh.ran" ] && break
    kill -0 "$pid" 2>/dev/null || fail "the program ended although CompletionClose:0 keeps it"
    sleep 0.1
done
[ -e "$(dirname "$program")/setup.sh.ran" ] || fail "the downloaded file was not run within 20 s"

# The finished window shows the full bar. The last repaint may
# still be on its way, so a few pictures are taken until one shows it.
shot="$artifacts/download-complete.png"
rm -f "$shot"
for _ in $(seq 1 50); do
    import -window "$main" "$shot" 2>/dev/null && [ -s "$shot" ] && bar_full "$shot" && break
    sleep 0.1
done
[ -s "$shot" ] || fail "no screenshot of the finished window"
bar_full "$shot" || fail "the bar is not full at completion: its right end is $(pixel "$shot" 400 14)"
read -r r g b < <(pixel "$shot" 100 14)
(( b > r + 100 && b > 150 )) || fail "the bar's left part is $r $g $b, not the bar colour"

# Close.
xdotool mousemove --window "$main" 365 75 click 1
wait_end "Close"
end=$(date +%s%N)
[ "$code" = 0 ] || fail "the program ended with code $code"
echo "program ran $(((end - start) / 1000000)) ms; screenshot: $shot"
