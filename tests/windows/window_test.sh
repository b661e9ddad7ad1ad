#!/usr/bin/env bash
# The Windows program's own window under wine on a virtual X server: the caption and the task
# bar title with and without a URL, Alt+O during the wait before the selection (the selection
# waits while the dialog is open), the close box, the "Prerequisites" question (No ends the
# program), the connection-error box of a location that refuses, the main window at start
# (picture, empty bar, buttons, client area 410 x 92), the options dialog (357 x 340) opened
# by the button and by Alt+O, its Cancel and Escape, Enter pressing its default button into a
# validation error, the controls of both windows (one font, a label before each field and
# the bar), Escape in the main window ending the program as Cancel does, with exit code 2, and
# the usage box of --help (inside the screen, its text scrolled, Enter and a click on OK
# ending the program with code 0).
# Screenshots go to the artifact folder.
#   window_test.sh PROGRAM.exe WINDOW_CONTROLS.exe WINE_RUN WORK_DIR ARTIFACT_DIR
# The wine prefix is WORK_DIR's own, kept between runs; its server is ended before and after.
# Exits 77 (skipped) when wine, Xvfb, xdotool, xprop or ImageMagick is missing.
set -uo pipefail
program=$1
window_controls=$2
wine_run=$3
work=$4
artifacts=$5
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../gui/x11_helpers.sh"
require_tools wine wineserver Xvfb xdotool xprop import convert
mkdir -p "$work" "$artifacts"
export WINEPREFIX=$work/prefix
# A server of an earlier run may still hold the X display of that run.
wineserver -k >/dev/null 2>&1
trap 'wineserver -k >/dev/null 2>&1' EXIT
# The prefix is made (once) before the X server runs, so that its time is not the steps'.
env -u DISPLAY "$wine_run" cmd.exe /c exit >/dev/null 2>&1 </dev/null
wineserver -k >/dev/null 2>&1
timeout 150 "$here/../support/with_xserver.sh" 800x600x24 "$here/window_steps.sh" \
    "$program" "$window_controls" "$wine_run" "$artifacts"
