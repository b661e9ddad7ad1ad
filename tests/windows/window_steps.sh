#!/usr/bin/env bash
# Runs with an X server of its own (with_xserver.sh); see window_test.sh.
#   window_steps.sh PROGRAM.exe WINDOW_CONTROLS.exe WINE_RUN ARTIFACT_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../gui/x11_helpers.sh"
. "$here/window_helpers.sh"
program=$1
window_controls=$2
wine_run=$3
artifacts=$4
pid=""
fail() {
    echo "FAILED: $*"
    [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
    exit 1
}
expect_pixel() { # file x y what test(r,g,b): client coordinates
    local r g b
    read -r r g b < <(client_pixel "$1" "$2" "$3")
    (( $5 )) || fail "$4: pixel ($2,$3) of $(basename "$1") is $r $g $b"
}
# Answers the "Connection error" box of a selection where no location answers.
answer_connection_box() {
    local box
    box=$(wait_shown "Connection error") || fail "no \"Connection error\" box after the selection"
    [ -n "${1:-}" ] && { sleep 0.3; import -window "$box" "$1" || fail "no screenshot of the box"; }
    keys_to "$box" Return
    wait_hidden "Connection error" || fail "Enter did not close the connection error box"
}
# Starts the program with --help: its usage box in $box, its place and size in X, Y, WIDTH and
# HEIGHT.
show_usage_box() {
    "$wine_run" "$program" --help </dev/null >/dev/null 2>&1 &
    pid=$!
    box=$(wait_shown "Talvex download application") || fail "no usage box for --help"
    eval "$(xdotool getwindowgeometry --shell "$box")"
}

# 1. No URL: the built-in request (its loopback locations refuse). The caption and the title.
"$wine_run" "$program" </dev/null >/dev/null 2>&1 &
pid=$!
main=$(wait_shown "Download Pelko") || fail "no window captioned \"Download Pelko\""
xdotool search --name "^Pelko download\$" >/dev/null || fail "no task bar title \"Pelko download\""
# Alt+O during the wait before the selection (the window's keys pass the dialog manager there
# too): the selection waits while the dialog is open, and starts once Escape has closed it.
keys_to "$main" alt+o
options=$(wait_shown "Download options") || fail "Alt+O during the wait did not open the dialog"
sleep 3
xdotool search --onlyvisible --name "^Connection error\$" >/dev/null &&
    fail "the selection ran while the options dialog was open"
keys_to "$options" Escape
wait_hidden "Download options" || fail "Escape did not close the dialog"
answer_connection_box
measure_frame "$main" 410 92 || fail "the main window is not a client area of 410 x 92 in a frame"
# The close box at the caption's right end (drawn by wine) ends the program as Cancel does.
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove --window "$main" $((WIDTH - frame_x - 9)) $(((frame_x + frame_y) / 2)) click 1
wait_end "The close box"
[ "$code" = 2 ] || fail "the program without a URL ended with code $code"

# A system below the requirement: the "Prerequisites" question with Yes and No; No (its
# accelerator) ends the program before any request.
"$wine_run" "$program" "http://127.0.0.1:1/dir/setup.exe" "ProductName:Pelko" OSPlatformId:2 \
    MinimumOSAMajorVersion:99 </dev/null >/dev/null 2>&1 &
pid=$!
box=$(wait_shown "Prerequisites") || fail "no \"Prerequisites\" box for a requirement of 99.0"
sleep 0.3
import -window "$box" "$artifacts/win-prerequisites.png" || fail "no screenshot of the box"
keys_to "$box" n
wait_end "No in the \"Prerequisites\" box"
[ "$code" = 2 ] || fail "No in the \"Prerequisites\" box ended the program with code $code"

# 2. A URL without a product name: both derived from it.
"$wine_run" "$program" "http://127.0.0.1:1/dir/setup.exe" </dev/null >/dev/null 2>&1 &
pid=$!
main=$(wait_shown "Download setup.exe from 127.0.0.1:1/dir") || fail "no window captioned" \
    "\"Download setup.exe from 127.0.0.1:1/dir\""
xdotool search --name "^setup.exe from 127.0.0.1:1/dir download\$" >/dev/null ||
    fail "no task bar title \"setup.exe from 127.0.0.1:1/dir download\""
answer_connection_box "$artifacts/win-connection-error.png"

# The window at start, paused after the failed selection.
measure_frame "$main" 410 92 || fail "the main window is not a client area of 410 x 92 in a frame"
sleep 0.3
shot="$artifacts/win-main-window.png"
import -window "$main" "$shot" || fail "no screenshot of the main window"
expect_pixel "$shot" 8 30 "the picture's blue circle" 'b > r + 60 && b > 150'
expect_pixel "$shot" 200 14 "the empty progress bar" 'r > 240 && g > 240 && b > 240'
# The buttons are white inside (the form's colour): their frames are checked.
expect_pixel "$shot" 200 63 "the Resume button's frame" 'r < 200 || b < 200'
expect_pixel "$shot" 280 63 "the Options button's frame" 'r < 200 || b < 200'
expect_pixel "$shot" 360 63 "the Cancel button's frame" 'r < 200 || b < 200'
expect_pixel "$shot" 120 63 "the hidden Run button's place" 'r > 240 && g > 240 && b > 240'
check_controls "Download of setup.exe from"

# Options opens the dialog; its Cancel closes it and the main window stays.
click_client "$main" 285 75
options=$(wait_shown "Download options") || fail "Options did not open \"Download options\""
measure_frame "$options" 357 340 || fail "the dialog is not a client area of 357 x 340 in a frame"
sleep 0.3
import -window "$options" "$artifacts/win-options-dialog.png" || fail "no screenshot of the dialog"
shot="$artifacts/win-options-dialog.png"
expect_pixel "$shot" 232 309 "the OK button's frame" 'r < 200 || b < 200'
expect_pixel "$shot" 4 150 "the white dialog" 'r > 240 && g > 240 && b > 240'
check_controls "Download options"
# One font size in the dialog: the field labels and the check boxes, the long ones too.
heights=""
for place in "16 24 293 16" "28 68 288 18" "28 86 288 18" "38 144 273 18" "16 197 203 16" \
    "16 221 203 16"; do
    heights+=" $(ink_height "$shot" $place)"
done
[ "$(tr ' ' '\n' <<<"$heights" | sort -u | grep -c .)" = 1 ] ||
    fail "the dialog's captions are drawn in several sizes (heights$heights)"
click_client "$options" 311 321
wait_hidden "Download options" || fail "Cancel did not close the dialog"
# Waited for: on a loaded machine the window was once not found at once after the dialog.
wait_shown "Download of setup.exe from 127.0.0.1:1/dir paused" >/dev/null ||
    fail "the main window went away"

# Alt+O opens it again. No attempts at all is refused: Enter in the combo box presses OK, the
# default button, and the validation box comes; the dialog stays; Escape then closes it.
keys_to "$main" alt+o
options=$(wait_shown "Download options") || fail "Alt+O did not open the dialog"
measure_frame "$options" 357 340 || fail "the dialog's frame"
click_client "$options" 282 205
keys_to "$options" Home shift+End 0 Return
box=$(wait_shown "Validation errors") || fail "Enter with 0 attempts showed no \"Validation errors\""
sleep 0.3
import -window "$box" "$artifacts/win-validation-errors.png" || fail "no screenshot of the box"
keys_to "$box" Return
wait_hidden "Validation errors" || fail "Enter did not close the validation box"
xdotool search --onlyvisible --name "^Download options\$" >/dev/null ||
    fail "the dialog closed after the validation errors"
keys_to "$options" Escape
wait_hidden "Download options" || fail "Escape did not close the dialog"

# Escape, with the focus on a button of the main window, presses Cancel: the program ends with
# exit code 2, nothing was downloaded.
keys_to "$main" Escape
wait_end "Escape in the main window"
[ "$code" = 2 ] || fail "the program ended with code $code"

# --help: the usage text in a box of the program's own, inside the screen and as wide as a
# normal dialog (the system's box wrapped it at about 350 pixels and grew taller than the
# screen, its first lines and its OK button out of reach); its text field scrolls (Ctrl+End
# moves the text) and Enter presses OK, which ends the program with exit code 0.
show_usage_box
read -r screen_width screen_height < <(xdotool getdisplaygeometry)
((X >= 0 && Y >= 0 && X + WIDTH <= screen_width && Y + HEIGHT <= screen_height)) ||
    fail "the usage box (${WIDTH} x $HEIGHT at $X,$Y) is not inside the screen"
((WIDTH >= 560)) || fail "the usage box is $WIDTH pixels wide"
controls=$("$wine_run" "$window_controls" "Talvex download application" 2>/dev/null | tr -d '\r')
grep -q $'^Edit\t' <<<"$controls" && grep -q $'^Button\t[0-9]*\tOK$' <<<"$controls" ||
    fail "the usage box has no text field and OK button: $controls"
sleep 0.3
import -window "$box" "$artifacts/win-usage-box.png" || fail "no screenshot of the usage box"
keys_to "$box" ctrl+End
sleep 0.5
import -window "$box" "$artifacts/win-usage-box-end.png" || fail "no screenshot of the usage box"
# The caret alone changes a few pixels; a scrolled text thousands.
moved=$(compare -metric AE "$artifacts/win-usage-box.png" "$artifacts/win-usage-box-end.png" \
    null: 2>&1)
((${moved%%[^0-9]*} > 1000)) || fail "Ctrl+End did not scroll the usage text ($moved pixels)"
keys_to "$box" Return
wait_end "Enter in the usage box"
[ "$code" = 0 ] || fail "Enter in the usage box ended the program with code $code"
# A click on OK, at the box's bottom right (its client area: no frame is drawn around it
# without a window manager), does the same.
show_usage_box
sleep 0.3
xdotool mousemove --window "$box" $((WIDTH - 48)) $((HEIGHT - 22)) click 1
wait_end "A click on OK in the usage box"
[ "$code" = 0 ] || fail "a click on OK in the usage box ended the program with code $code"

echo "PASSED: caption and title with and without a URL, the wait held by the dialog, close" \
    "box, prerequisites question, connection box, main window, Options, Cancel, Alt+O," \
    "Enter into the validation box, Escape, the controls' font and labels, exit 2, the usage" \
    "box inside the screen, scrolled, Enter and a click on OK"
