#!/usr/bin/env bash
# The real window under a virtual X server: the --help box's size and button place, Alt+N in
# a question, caption and icon name, a screenshot of the main window (picture, empty bar,
# buttons), Options opens the dialog (check boxes inside their frame, a disabled one without a
# grey block), Cancel, Alt+O, a validation error box, Escape, then Cancel ends the program.
# Screenshots go to the artifact folder.
#   window_test.sh PROGRAM ARTIFACT_DIR
# Exits 77 (skipped) when Xvfb, xdotool, xprop or ImageMagick is missing.
set -euo pipefail
program=$1
artifacts=$2

. "$(dirname "$0")/x11_helpers.sh"
require_tools Xvfb xdotool xprop import convert
mkdir -p "$artifacts"
here=$(cd "$(dirname "$0")" && pwd)
# FLTK, Xlib and fontconfig keep caches until the process ends; only our code is checked.
export LSAN_OPTIONS="suppressions=$here/lsan-suppressions.txt${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
exec timeout 50 "$here/../support/with_xserver.sh" 800x600x24 "$here/window_steps.sh" \
    "$program" "$artifacts"
