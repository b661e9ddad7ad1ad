#!/usr/bin/env bash
# Runs with an X server of its own (with_xserver.sh); see window_test.sh.
set -uo pipefail
. "$(dirname "$0")/x11_helpers.sh"
program=$1
artifacts=$2
pid=""
fail() {
    echo "FAILED: $*"
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    exit 1
}
expect_pixel() { # file x y what test(r,g,b)
    local r g b
    read -r r g b < <(pixel "$1" "$2" "$3")
    (( $5 )) || fail "$4: pixel ($2,$3) of $(basename "$1") is $r $g $b"
}
# A message box: no wider than a normal dialog, within the screen, its button at the bottom
# right. Leaves a screenshot.
check_box_shape() { # window file
    local WIDTH HEIGHT
    eval "$(xdotool getwindowgeometry --shell "$1")"
    (( WIDTH <= 640 && HEIGHT <= 600 )) || fail "$(basename "$2") is ${WIDTH}x$HEIGHT"
    import -window "$1" "$2" || fail "no screenshot $(basename "$2")"
    expect_pixel "$2" $((WIDTH - 30)) $((HEIGHT - 24)) "the button at the bottom right" \
        'r < 240 && r > 120'
}

# The usage text wraps to a dialog's width; Enter presses OK and the program ends with 0.
"$program" --help >/dev/null &
pid=$!
box=$(wait_window "Talvex download application") || fail "no box for --help"
sleep 0.3
check_box_shape "$box" "$artifacts/help-box.png"
xdotool key --window "$box" Return
wait_end "Enter in the --help box"
[ "$code" = 0 ] || fail "--help ended with code $code"

# A question's buttons take their access keys: Alt+N answers No, and the program ends.
"$program" "http://127.0.0.1:1/dir/setup.exe" "ProductName:Pelko" "OSPlatformId:2" \
    "MinimumOSAMajorVersion:99" "MinimumOSVersionDescription:Windows 99" &
pid=$!
box=$(wait_window "Prerequisites") || fail "no \"Prerequisites\" question"
sleep 0.3
check_box_shape "$box" "$artifacts/question.png"
xdotool key --window "$box" alt+n
wait_end "Alt+N in the question"
[ "$code" = 2 ] || fail "No to the question ended the program with code $code"

# A location that refuses at once, and no requirement: after its wait the program asks the
# locations, none answers, and it stays paused with the "Connection error" box. Without the
# launch, the Options dialog shows "Delete downloaded file" disabled.
"$program" "http://127.0.0.1:1/dir/setup.exe" "ProductName:Pelko" \
    "CompletionLaunchApplication:0" &
pid=$!
main=$(wait_window "Download Pelko") || fail "no window captioned \"Download Pelko\""
box=$(wait_window "Connection error") || fail "no \"Connection error\" box after the selection"
sleep 0.3
check_box_shape "$box" "$artifacts/connection-error.png"
xdotool key --window "$box" Return
wait_gone "Connection error" || fail "Enter did not close the connection error box"
xprop -id "$main" WM_ICON_NAME | grep -q '= "Pelko download paused"' ||
    fail "icon name is $(xprop -id "$main" WM_ICON_NAME)"
eval "$(xdotool getwindowgeometry --shell "$main")"
[ "$WIDTH" = 410 ] && [ "$HEIGHT" = 92 ] || fail "window is ${WIDTH}x$HEIGHT, not 410x92"
sleep 0.3
import -window "$main" "$artifacts/main-window.png" || fail "no screenshot of the main window"
shot="$artifacts/main-window.png"
expect_pixel "$shot" 8 30 "the picture's blue circle" 'b > r + 60 && b > 150'
expect_pixel "$shot" 200 14 "the empty progress bar" 'r > 240 && g > 240 && b > 240'
expect_pixel "$shot" 180 66 "the Resume button" 'r < 240 && r > 120'
expect_pixel "$shot" 260 66 "the Options button" 'r < 240 && r > 120'
expect_pixel "$shot" 340 66 "the Cancel button" 'r < 240 && r > 120'
expect_pixel "$shot" 100 76 "the hidden Run button's place" 'r > 240 && g > 240 && b > 240'

xdotool mousemove --window "$main" 285 75 click 1
options=$(wait_window "Download options") || fail "Options did not open \"Download options\""
eval "$(xdotool getwindowgeometry --shell "$options")"
[ "$WIDTH" = 357 ] && [ "$HEIGHT" = 340 ] || fail "dialog is ${WIDTH}x$HEIGHT, not 357x340"
sleep 0.3
import -window "$options" "$artifacts/options-dialog.png" || fail "no screenshot of the dialog"
shot="$artifacts/options-dialog.png"
expect_pixel "$shot" 200 321 "the OK button" 'r < 240 && r > 120'
for y in 77 95 113; do
    expect_pixel "$shot" 347 $y "the frame's right edge beside a check box" 'r < 200'
done
expect_pixel "$shot" 300 153 "the disabled check box's background" 'r > 240 && g > 240 && b > 240'
xprop -id "$options" WM_ICON_NAME >/dev/null || fail "dialog has no properties"

# Cancel closes the dialog; the main window stays.
xdotool mousemove --window "$options" 311 321 click 1
wait_gone "Download options" || fail "Cancel did not close the dialog"
xdotool search --name "^Download of Pelko paused\$" >/dev/null || fail "the main window went away"

# Alt+O opens it again; Escape closes it.
xdotool mousemove --window "$main" 200 30
xdotool key --window "$main" alt+o
options=$(wait_window "Download options") || fail "Alt+O did not open the dialog"
# An invalid number of attempts: OK shows the validation box and the dialog stays.
xdotool mousemove --window "$options" 282 205 click 1
sleep 0.2
xdotool key --window "$options" ctrl+a
xdotool type --window "$options" "0"
xdotool mousemove --window "$options" 231 321 click 1
box=$(wait_window "Validation errors") || fail "OK with 0 attempts showed no \"Validation errors\""
sleep 0.3
import -window "$box" "$artifacts/validation-errors.png" || fail "no screenshot of the box"
xdotool key --window "$box" Return
wait_gone "Validation errors" || fail "Enter did not close the message box"
xdotool search --name "^Download options\$" >/dev/null || fail "the dialog closed after errors"

xdotool mousemove --window "$options" 150 150
xdotool key --window "$options" Escape
wait_gone "Download options" || fail "Escape did not close the dialog"

# Cancel ends the program with exit code 2: nothing was downloaded.
xdotool mousemove --window "$main" 365 75 click 1
for _ in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "Cancel did not end the program"
wait "$pid"
code=$?
[ "$code" = 2 ] || fail "the program ended with code $code"
echo "PASSED: --help box, question's access key, window, icon name, screenshots, Options" \
    "(frame, disabled check box), Cancel, Alt+O, validation box, Escape, exit"
