#!/usr/bin/env bash
# The "Connection error" box of a failed selection answered in four ways, then Resume clicked
# once a server has started: the program must neither crash nor stall, and it must complete
# the download (exit 0, the file exact, no piece left). Each run has a network namespace and an
# X server of its own (connection_box_steps.sh); the runs go several at a time. Screenshots of
# each variant's first run go to the artifact folder.
#   connection_box_test.sh PROGRAM MIRROR CLOSE_WINDOW WORK_DIR ARTIFACT_DIR [RUNS_PER_VARIANT]
# Exits 77 (skipped) when Xvfb, xdotool or ImageMagick is missing or no network namespace can
# be made.
set -uo pipefail
program=$1
mirror=$2
close_window=$3
work=$4
artifacts=$5
runs=${6:-20}
parallel=${CONNECTION_BOX_PARALLEL:-8}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/x11_helpers.sh"
require_tools Xvfb xdotool import cmp ip unshare
mkdir -p "$artifacts"

# A network namespace (loopback only) and a mount namespace, in which the run's X server gets
# folders of its own for its socket, lock and keyboard map: the X servers of runs side by side
# would otherwise all take display :0 and replace each other's files.
. "$here/../support/namespaces.sh"
. "$here/../support/children.sh"
namespace_command nm
rm -rf "$work"
mkdir -p "$work"
jobs=()
cleanup() {
    for p in "${jobs[@]}"; do
        is_child "$p" && kill -TERM "$p" 2>/dev/null
    done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
export LSAN_OPTIONS="suppressions=$here/lsan-suppressions.txt${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

variants=(focus-key early-key mapped-key close-button)
for variant in "${variants[@]}"; do
    for run in $(seq 1 "$runs"); do
        while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do
            wait -n
        done
        timeout 90 "${namespace[@]}" "$here/connection_box_steps.sh" "$variant" "$program" \
            "$mirror" "$close_window" "$work/$variant-$run" >"$work/$variant-$run.log" 2>&1 &
        jobs+=($!)
    done
done
wait

failed=0
for variant in "${variants[@]}"; do
    passed=0
    for run in $(seq 1 "$runs"); do
        if grep -q "^completed after" "$work/$variant-$run.log"; then
            passed=$((passed + 1))
        else
            failed=$((failed + 1))
            echo "--- $variant, run $run:"
            cat "$work/$variant-$run.log"
        fi
    done
    for shot in start paused; do
        cp "$work/$variant-1/$shot.png" "$artifacts/connection-box-$variant-$shot.png" 2>/dev/null
    done
    echo "$variant: $passed of $runs runs completed ($(grep -h '^completed after' \
        "$work/$variant"-*.log | head -1))"
done
[ "$failed" = 0 ] || { echo "FAILED: $failed runs"; exit 1; }
echo "PASSED: every run answered the box, resumed and completed the download"
