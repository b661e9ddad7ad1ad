# Shell functions of the Windows window tests (the program under wine on a virtual X server),
# sourced by their scripts after tests/gui/x11_helpers.sh. Without a window manager wine
# draws the frame and caption itself, inside the X window: client coordinates are turned into
# window coordinates with the frame measured from the window's size.

# The frame of window $1 whose client area is $2 x $3: sets frame_x and frame_y (the client
# area's offset) and fails when the window is not the client area plus a plausible frame.
measure_frame() {
    local WIDTH HEIGHT X Y SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$1")"
    frame_x=$(((WIDTH - $2) / 2))
    frame_y=$((HEIGHT - $3 - frame_x))
    ((frame_x >= 0 && frame_x <= 10 && frame_y >= frame_x && frame_y <= 40))
}

# Clicks at client coordinates ($2, $3) of window $1 (frame measured with measure_frame).
click_client() {
    xdotool mousemove --window "$1" $(($2 + frame_x)) $(($3 + frame_y)) click 1
}

# Gives window $1 the keyboard focus, then types the keys ($2...) through the X server's
# test extension, as a keyboard would (wine ignores keys sent to a window directly).
keys_to() {
    local window=$1
    shift
    xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
    sleep 0.2
    xdotool key --delay 50 "$@"
}

# Types text into the focused control of window $1.
type_to() {
    xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"
    sleep 0.2
    xdotool type --delay 50 "$2"
}

# The colour of client pixel ($2, $3) of screenshot $1 of a framed window, as "R G B".
client_pixel() {
    pixel "$1" $(($2 + frame_x)) $(($3 + frame_y))
}

# The X window whose name is exactly $1 and that is mapped (wine keeps unmapped windows of
# the same name, such as a dialog's earlier showing); then the wait until none is mapped.
wait_shown() { wait_window "$1" --onlyvisible; }
wait_hidden() { wait_gone "$1" --onlyvisible; }

# The control windows of the shown window whose caption starts with $1, listed by
# window_controls.exe ($window_controls) into $controls as "class<TAB>height<TAB>text" lines in
# z-order. Fails (the caller's `fail`) unless every edit, combo box and progress bar comes
# right after a label (a static of one line, not the picture), which screen readers take as
# its name; for an edit or combo box one with an access key, which focuses it.
check_controls() {
    local unnamed
    controls=$("$wine_run" "$window_controls" "$1" 2>/dev/null | tr -d '\r') ||
        fail "no control list of \"$1\": $controls"
    unnamed=$(awk -F'\t' '
        { kind = tolower($1) }
        kind ~ /^(edit|combobox|msctls_progress32)$/ && (before != "static" || height > 30 ||
            (kind != "msctls_progress32" && label !~ /&[^&]/)) { print $1 " after " before }
        { before = kind; height = $2; label = $3 }' <<<"$controls")
    [ -z "$unnamed" ] || fail "controls of \"$1\" without a label before them: $unnamed"
}

# The height of the text drawn in client rectangle ($2, $3, $4 x $5) of screenshot $1 of a
# framed window, from the top of its tallest letter to the bottom of its lowest: captions with
# ascenders and descenders in one font size have the same.
ink_height() {
    convert "$1" -crop "$4x$5+$(($2 + frame_x))+$(($3 + frame_y))" -threshold 50% -negate \
        -trim -format %h info:
}
