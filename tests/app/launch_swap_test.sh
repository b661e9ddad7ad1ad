#!/usr/bin/env bash
# A neighbour with rename rights in the output folder swaps a program of its own in under the
# downloaded file's name while the program checks and runs it: swap_names exchanges the two
# names (renameat2, RENAME_EXCHANGE) again and again from the moment the final name appears.
# Through the real program on the console, against a mirror on loopback, RUNS downloads of a
# "#!/bin/sh" script without a pin and RUNS with a Sha256 pin (every third with
# DeleteAfterDownloading, so that the run is waited for). The neighbour's program never runs.
# The downloaded one runs (its mark beside its name, "$0.ran": a shell script keeps its name),
# unless the program saw the name taken at the launch and said so.
# The downloads take 7 s each (the program's waits before the selection and the first
# attempt), so they overlap, started 0.4 s apart: their launches come one after another.
#   launch_swap_test.sh PROGRAM DEMO_MIRROR SWAP_NAMES WORK_DIR [RUNS]
set -uo pipefail
program=$1
mirror=$2
swapper=$3
work=$4
runs=${5:-50}
here=$(dirname "$0")
. "$here/../support/started.sh"
fail() { echo "FAILED: $*"; exit 1; }

rm -rf "$work"
mkdir -p "$work"
# The served script, padded so that each of the five ranges carries a part of it.
printf '#!/bin/sh\ntouch "$0.ran"\nexit 0\n' >"$work/setup.sh"
awk 'BEGIN { for (i = 1; i <= 2000; i++) printf "# padding line %06d\n", i }' >>"$work/setup.sh"
digest=$(sha256sum "$work/setup.sh" | cut -c1-64)

coproc MIRROR { exec "$mirror" --lifetime 600 "$work/setup.sh" 0 2>"$work/mirror.log"; }
pids+=("$MIRROR_PID")
read -r -t 10 port <&"${MIRROR[0]}" || fail "the mirror printed no port"
url="http://127.0.0.1:$port/d/setup.sh"

# One download with the neighbour at work; its outcome in RUN_DIR/outcome: ran, refused,
# SWAPPED (the neighbour's program ran) or NONE (nothing ran, nothing said).
one_run() { # RUN_DIR PARAMETERS...
    local dir=$1 swap_pid code outcome
    shift
    trap '[ -n "${swap_pid:-}" ] && is_child "$swap_pid" && kill "$swap_pid" && wait "$swap_pid"' EXIT
    mkdir -p "$dir"
    printf '#!/bin/sh\ntouch "%s/swapped.ran"\n' "$dir" >"$dir/other.sh"
    chmod 755 "$dir/other.sh"
    "$swapper" "$dir" setup.sh other.sh "$dir/setup.sh.ran" "$dir/swapped.ran" \
        >"$dir/swaps" 2>&1 &
    swap_pid=$!
    env -u DISPLAY -u WAYLAND_DISPLAY timeout 60 "$program" "$url" "OutputDirectory:$dir" "$@" \
        </dev/null >"$dir/stdout" 2>"$dir/stderr"
    code=$?
    if grep -q "was replaced after it was checked" "$dir/stdout" "$dir/stderr"; then
        outcome=refused
    else
        for _ in $(seq 1 100); do # a launch does not wait for the script's end
            [ -e "$dir/setup.sh.ran" ] || [ -e "$dir/swapped.ran" ] && break
            sleep 0.1
        done
        outcome=NONE
        [ -e "$dir/setup.sh.ran" ] && outcome=ran
    fi
    is_child "$swap_pid" && kill "$swap_pid" 2>/dev/null
    wait "$swap_pid" 2>/dev/null
    swap_pid=""
    [ -e "$dir/swapped.ran" ] && outcome=SWAPPED
    [ "$code" = 0 ] || outcome="$outcome exit=$code"
    echo "$outcome" >"$dir/outcome"
}

started=$(date +%s)
for ((i = 1; i <= 2 * runs; i++)); do
    parameters=()
    [ "$i" -gt "$runs" ] && parameters+=("Sha256:$digest")
    [ $((i % 3)) = 0 ] && parameters+=(DeleteAfterDownloading:1)
    one_run "$work/run$i" "${parameters[@]}" &
    pids+=($!)
    sleep 0.4
done
for ((i = 1; i < ${#pids[@]}; i++)); do # after the mirror
    wait "${pids[$i]}"
done
pids=("${pids[0]}") # the runs ended: only the mirror is left to stop

declare -A counts=()
bad=()
for ((i = 1; i <= 2 * runs; i++)); do
    outcome=$(cat "$work/run$i/outcome" 2>/dev/null || echo "no outcome")
    counts[$outcome]=$((${counts[$outcome]:-0} + 1))
    [ "$outcome" = ran ] || [ "$outcome" = refused ] || bad+=("run $i: $outcome")
done
summary=""
for outcome in "${!counts[@]}"; do summary+=" $outcome=${counts[$outcome]}"; done
swapped_at_all=$(grep -l "^swaps [1-9]" "$work"/run*/swaps | wc -l)
echo "$((2 * runs)) downloads in $(($(date +%s) - started)) s:$summary;" \
    "the neighbour exchanged the names in $swapped_at_all of them"
[ "${#bad[@]}" = 0 ] || fail "${bad[*]}"
[ "${counts[ran]:-0}" -gt 0 ] || fail "the downloaded script never ran"
echo "PASSED: the neighbour's program never ran"
