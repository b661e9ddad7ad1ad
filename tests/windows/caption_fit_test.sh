#!/usr/bin/env bash
# Every text of the windows fits its control in every language, measured by the Win32 backend
# under wine on a virtual X server, in a prefix of the test's own whose dialog faces are linked
# to a face with Chinese, Japanese and Korean characters.
#   caption_fit_test.sh CAPTION_FIT_TESTS.exe WINE_RUN WORK_DIR
set -uo pipefail
tests=$1
wine_run=$2
work=$3
here=$(cd "$(dirname "$0")" && pwd)
command -v wine >/dev/null || { echo "SKIP: no wine"; exit 77; }
rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX=$work/prefix
trap 'wineserver -k >/dev/null 2>&1' EXIT
env -u DISPLAY "$wine_run" cmd.exe /c exit >/dev/null 2>&1 </dev/null
# shellcheck source=cjk_fonts.sh
. "$here/cjk_fonts.sh"
link_cjk_fonts
# A server started without a display keeps the desktop it made then: the next one takes the
# virtual X server's.
wineserver -k >/dev/null 2>&1
timeout 240 "$here/../support/with_xserver.sh" 1024x768x24 "$wine_run" "$tests" </dev/null
