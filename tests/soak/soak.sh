#!/usr/bin/env bash
# Fault-injection soak: many downloads of random sizes through the real program (console
# backend, launching off, unlimited attempts, an output directory and a TMPDIR of their own),
# each against a fault_mirror whose four locations inject faults drawn from the run's seed
# (among them locations that die during the run and a slow lane among the first ranges).
# After each run: exit 0 and the file byte-identical, or a non-zero exit and no output file;
# no working file ("tlv*.tmp") left in the output directory and nothing in the TMPDIR; the run
# ended within the bound (else it is killed and counted as a hang).
#
#   soak.sh [--runs N] [--parallel P] [--seed S] [--max-size BYTES] [--bound SECONDS]
#           [--program PATH] [--mirror PATH] [--work DIR] [--mode auto|netns|loopback]
#
# Mode netns (the default when unshare and ip work, as root): each run gets a network and a
# mount namespace of its own, with an /etc/hosts that puts the program's three built-in
# mirror hosts on loopback addresses, so all four locations take part in the selection (one
# may answer HEAD fastest and then trickle, one may die, and the workers move to another that
# agreed on the size). Mode loopback: only the primary location, on an ephemeral port of
# 127.0.0.1; the built-in hosts then do not resolve (and no location dies).
# Exits 1 when any run hung, left a corrupt or stray file, a working file or anything in its
# TMPDIR, or crashed.
#
# --kills K: each download is first started and killed with SIGKILL at a random moment (2 to
# 14 s in: the program asks for the size after 2 s and for ranges 5 s later) K times, then
# run to its end: the last run goes on from what the killed ones kept.
# Besides the above, a run that ends exact must leave no record ("tlv*.resume") behind.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

runs=20 parallel=3 seed=1 max_size=$((64 * 1024 * 1024)) bound=600 mode=auto kills=0
program=$root/build/app/download
mirror=$root/build/tests/support/fault_mirror
work=$root/build/soak

# --- one run, inside its namespaces (the script calls itself) -------------------------------
if [ "${1:-}" = "--inside" ]; then
    # --inside DIR SEED MODE PROGRAM MIRROR MAX_SIZE BOUND NAME KILLS BUILTIN...
    dir=$2 run_seed=$3 mode=$4 program=$5 mirror=$6 max_size=$7 bound=$8 name=$9 kills=${10}
    shift 10
    builtins=("$@")
    if [ "$mode" = netns ]; then
        mount --bind "$dir/hosts" /etc/hosts || exit 90
        ip link set lo up || exit 90
        primary=127.0.0.2:80
    else
        primary=127.0.0.1:0
    fi
    args=(--seed "$run_seed" --max-size "$max_size" --content "$dir/content" --log "$dir/mirror.log"
          --lifetime $((bound + 120)) --primary "$primary")
    for b in "${builtins[@]}"; do args+=(--builtin "$b"); done
    "$mirror" "${args[@]}" >"$dir/mirror.port" 2>"$dir/mirror.stderr" </dev/null &
    mirror_pid=$!
    port=""
    for _ in $(seq 1 300); do # up to 30 s: a 64 MiB file is written first
        port=$(head -n 1 "$dir/mirror.port" 2>/dev/null) # not yet created: try again
        [[ $port =~ ^[0-9]+$ ]] && break
        kill -0 "$mirror_pid" 2>/dev/null || break
        sleep 0.1
    done
    if ! [[ $port =~ ^[0-9]+$ ]]; then
        kill "$mirror_pid" 2>/dev/null
        exit 91
    fi
    host=${primary%:*}
    [ "$port" = 80 ] || host=$host:$port
    # The killed runs: each ends at a moment drawn from the run's seed.
    RANDOM=$run_seed
    for _ in $(seq 1 "$kills"); do
        env -u DISPLAY -u WAYLAND_DISPLAY TMPDIR="$dir/tmp" "$program" "http://$host/soak/$name" \
            "OutputDirectory:$dir/out" CompletionLaunchApplication:0 \
            MaximumNumberOfAttempts:Unlimited </dev/null >>"$dir/killed.stdout" 2>&1 &
        killed_pid=$!
        sleep "$((RANDOM % 12 + 2)).$((RANDOM % 10))"
        kill -KILL "$killed_pid" 2>/dev/null
        wait "$killed_pid" 2>/dev/null
    done
    # A killed run may have finished first: the last run fetches the file again (its location
    # may have died meanwhile: then it fails, as any run whose locations died does).
    rm -f "$dir/out/$name"
    started=$(date +%s%N)
    env -u DISPLAY -u WAYLAND_DISPLAY TMPDIR="$dir/tmp" \
        timeout -k 5 "$bound" "$program" "http://$host/soak/$name" "OutputDirectory:$dir/out" \
        CompletionLaunchApplication:0 MaximumNumberOfAttempts:Unlimited \
        </dev/null >"$dir/stdout" 2>"$dir/stderr"
    rc=$?
    ended=$(date +%s%N)
    kill "$mirror_pid" 2>/dev/null
    wait "$mirror_pid" 2>/dev/null
    echo "$rc $(((ended - started) / 1000000))" >"$dir/exit"
    exit 0
fi

usage() {
    sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || usage
    case "$1" in
    --runs) runs=$2 ;;
    --parallel) parallel=$2 ;;
    --seed) seed=$2 ;;
    --max-size) max_size=$2 ;;
    --bound) bound=$2 ;;
    --program) program=$2 ;;
    --mirror) mirror=$2 ;;
    --work) work=$2 ;;
    --mode) mode=$2 ;;
    --kills) kills=$2 ;;
    *) usage ;;
    esac
    shift 2
done
for n in "$runs" "$parallel" "$seed" "$max_size" "$bound" "$kills"; do
    [[ $n =~ ^[0-9]+$ ]] || usage
done
[ "$runs" -ge 1 ] && [ "$parallel" -ge 1 ] && [ "$max_size" -ge 1 ] && [ "$bound" -ge 10 ] || usage
for f in "$program" "$mirror"; do
    [ -x "$f" ] || { echo "soak: $f is missing; build it first" >&2; exit 2; }
done
if [ "$mode" = auto ]; then
    mode=loopback
    if [ "$(id -u)" = 0 ] && command -v unshare >/dev/null && command -v ip >/dev/null &&
        unshare --net --mount true 2>/dev/null; then
        mode=netns
    fi
fi
case "$mode" in netns | loopback) ;; *) usage ;; esac

# The built-in mirror hosts of this build, for the namespaces' /etc/hosts: each host name
# gets an address of its own (127.0.0.3 and on); a host given as an address keeps it.
builtins=()
hosts_lines=""
if [ "$mode" = netns ]; then
    # The program's built-in hosts, as its build generated them.
    header=$(dirname "$program")/hosts/builtin_hosts.cpp
    [ "$(basename "$program")" = download_loopback ] &&
        header=$(dirname "$program")/hosts/builtin_hosts_loopback.cpp
    [ -f "$header" ] || { echo "soak: $header is missing" >&2; exit 2; }
    next=3
    for var in kIrelandMirrorHost kSingaporeMirrorHost kCaliforniaMirrorHost; do
        value=$(sed -n "s/.*$var = \"\\(.*\\)\";.*/\\1/p" "$header")
        name=${value%%:*}
        port=80
        [[ $value == *:* ]] && port=${value##*:}
        if [[ $name =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]]; then
            builtins+=("$name:$port")
        elif [ -n "$name" ]; then
            builtins+=("127.0.0.$next:$port")
            hosts_lines+="127.0.0.$next $name"$'\n'
            next=$((next + 1))
        fi
    done
fi

rm -rf "$work"
mkdir -p "$work/results"

# run_and_check I: one download, then its verdict in results/I:
#   "I SEED SIZE RC MS VERDICT" with VERDICT exact, failed, hang, corrupt, stray-output,
#   working-left (a working file in the output directory), kept-left (an exact run that left a
#   record), tmpdir-left, crash or setup-error
#   (the mirror or the namespace could not start).
run_and_check() {
    local i=$1 run_seed=$((seed * 1000003 + $1)) dir=$work/run-$1 name verdict rc ms size
    case $((i % 3)) in
    0) name=file-$i.bin ;;
    1) name=setup_$i.exe ;;
    *) name=tool$i ;;
    esac
    mkdir -p "$dir/out" "$dir/tmp"
    printf '127.0.0.1 localhost\n%s' "$hosts_lines" >"$dir/hosts"
    local inside=(bash "$0" --inside "$dir" "$run_seed" "$mode" "$program" "$mirror" "$max_size"
                  "$bound" "$name" "$kills" "${builtins[@]}")
    if [ "$mode" = netns ]; then
        timeout -k 5 $((bound + 90)) unshare --net --mount "${inside[@]}"
    else
        timeout -k 5 $((bound + 90)) "${inside[@]}"
    fi
    size=$(sed -n 's/^size //p' "$dir/mirror.log" 2>/dev/null)
    if [ ! -f "$dir/exit" ]; then
        echo "$i $run_seed ${size:-0} - 0 setup-error" >"$work/results/$i"
        return
    fi
    read -r rc ms <"$dir/exit"
    local outputs working kept leftover
    # The file is written under a working name in the output directory and renamed once
    # verified, beside the record of what it holds: those are counted apart from the output.
    working=$(find "$dir/out" -mindepth 1 -name 'tlv*.tmp' | wc -l)
    kept=$(find "$dir/out" -mindepth 1 -name 'tlv*.resume' | wc -l)
    outputs=$(($(find "$dir/out" -mindepth 1 | wc -l) - working - kept))
    leftover=$(find "$dir/tmp" -mindepth 1 | wc -l)
    if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
        verdict=hang
    elif grep -qE 'AddressSanitizer|LeakSanitizer|ThreadSanitizer|runtime error:' "$dir/stderr"; then
        verdict=crash
    elif [ "$rc" -gt 2 ]; then
        verdict=crash
    elif [ "$rc" = 0 ]; then
        if [ "$outputs" = 1 ] && cmp -s "$dir/content" "$dir/out/$name"; then
            verdict=exact
        else
            verdict=corrupt
        fi
    elif [ "$outputs" != 0 ]; then
        verdict=stray-output
    else
        verdict=failed
    fi
    if [ "$verdict" = exact ] && [ "$kept" != 0 ]; then
        verdict=kept-left
    elif [ "$verdict" = exact ] || [ "$verdict" = failed ]; then
        if [ "$working" != 0 ] && [ "$kept" = 0 ]; then
            verdict=working-left
        elif [ "$leftover" != 0 ]; then
            verdict=tmpdir-left
        fi
    fi
    echo "$i $run_seed ${size:-0} $rc $ms $verdict" >"$work/results/$i"
    # Keep what explains a bad run; drop the big files of good ones.
    if [ "$verdict" = exact ] || [ "$verdict" = failed ]; then
        rm -rf "$dir/out" "$dir/tmp" "$dir/content"
    fi
}

echo "soak: $runs runs, seed $seed, $parallel at once, sizes 1 .. $max_size bytes, bound ${bound} s," \
    "$kills kills before each, mode $mode, work $work"
started=$(date +%s)
for i in $(seq 1 "$runs"); do
    while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do
        wait -n
    done
    run_and_check "$i" &
done
wait
elapsed=$(($(date +%s) - started))

# --- the figures -------------------------------------------------------------------------
cat "$work"/results/* | sort -n >"$work/results.txt"
count() { awk -v v="$1" '$6 == v' "$work/results.txt" | wc -l; }
exact=$(count exact) failed=$(count failed) hangs=$(count hang) corrupt=$(count corrupt)
stray=$(count stray-output) working=$(count working-left) leftover=$(count tmpdir-left)
kept_left=$(count kept-left)
crashes=$(count crash)
setup=$(count setup-error)
done_runs=$(wc -l <"$work/results.txt")
cat "$work"/run-*/mirror.log 2>/dev/null >"$work/mirrors.log"
# Faults drawn per request; what the roles, the deaths and the slow lane do is counted apart.
injected='$1 == "request" && $NF != "none" && $NF != "trickle-mirror" && $NF != "error-mirror" &&
    $NF != "died" && $NF != "dead-reset" && $NF != "slow-lane"'
faults=$(awk "$injected" "$work/mirrors.log" | wc -l)
requests=$(awk '$1 == "request"' "$work/mirrors.log" | wc -l)
# Runs in which a location that answered HEAD fastest and then trickled got range requests.
trickled=$(grep -l ' fault trickle-mirror$' "$work"/run-*/mirror.log 2>/dev/null | wc -l)
ms_sorted=$(awk '$5 > 0 {print $5}' "$work/results.txt" | sort -n)
median=$(echo "$ms_sorted" | awk '{a[NR]=$1} END {if (NR) print int(a[int((NR+1)/2)]/1000); else print 0}')
longest=$(echo "$ms_sorted" | awk 'END {print int($1/1000)}')
failcodes=$(awk '$6 == "failed" {print $4}' "$work/results.txt" | sort | uniq -c |
    awk '{printf "%sexit %s: %s", sep, $2, $1; sep=", "}')

echo "soak: runs $done_runs of $runs in ${elapsed} s (per run: median ${median} s, longest ${longest} s)"
echo "soak: files exact $exact; failures reported $failed${failcodes:+ ($failcodes)}"
echo "soak: hangs $hangs; corrupt files $corrupt; output left after a failure $stray;" \
    "working files left $working; records left $kept_left; TMPDIR not empty $leftover;" \
    "crashes $crashes;" \
    "setup errors $setup"
[ "$kills" = 0 ] ||
    echo "soak: runs that went on from what killed ones kept $(grep -l 'Resuming: ' \
        "$work"/run-*/stdout 2>/dev/null | wc -l)"
echo "soak: requests $requests, faults injected $faults:"
awk "$injected"' {print $3 " " $NF}' "$work/mirrors.log" |
    sort | uniq -c | sort -k2,2 -k1,1nr | awk '{printf "soak:   %-5s %-22s %d\n", $2, $3, $1}'
roles() {
    awk -v primary="$1" '$1 == "mirror" && ($2 == "primary") == primary {print $4}' \
        "$work/mirrors.log" | sort | uniq -c |
        awk '{printf "%s%s %s", sep, $2, $1; sep=", "} END {if (!NR) printf "none"}'
}
echo "soak: locations by role: primary $(roles 1); built-in $(roles 0)"
echo "soak: requests answered by an error location $(grep -c ' fault error-mirror$' "$work/mirrors.log");" \
    "range requests trickled by a location that answered HEAD fastest" \
    "$(grep -c ' fault trickle-mirror$' "$work/mirrors.log"), in $trickled runs"
# The dying locations and the slow lanes, in runs.
runs_with() { grep -lE "$1" "$work"/run-*/mirror.log 2>/dev/null | wc -l; }
planned_deaths=$(runs_with '^death .* then (refuse|reset)$')
died=$(runs_with '^died ')
refusing=$(grep -c '^died .*: refuses connections$' "$work/mirrors.log")
resetting=$(grep -c '^died .*: resets connections$' "$work/mirrors.log")
died_primary=$(runs_with '^died primary ')
called_off=$(runs_with '^death .* called off')
# Workers moved from a dead location: a range that was last asked for there is asked for at
# another location after the death (a range keeps its last byte unless a takeover cuts it).
moved=0
for log in "$work"/run-*/mirror.log; do
    [ -f "$log" ] || continue
    awk '$1 == "died" { dead[$2] = 1 }
         $1 == "request" && $3 == "GET" && split($4, r, "-") == 2 {
             if ((r[2] in at) && (at[r[2]] in dead) && !($2 in dead)) moved = 1
             at[r[2]] = $2
         }
         END { exit !moved }' "$log" && moved=$((moved + 1))
done
echo "soak: runs with a dying location $planned_deaths; one died in $died (deaths: $refusing" \
    "refusing, $resetting resetting; the primary's in $died_primary runs), called off in" \
    "$called_off; workers moved from a dead location to another in $moved"
echo "soak: runs with a slow lane $(runs_with '^slow-lane '); its request paced in" \
    "$(runs_with ' fault slow-lane$'); its remainder asked for again (a takeover) in" \
    "$(runs_with '^takeover ')"
bad=$((hangs + corrupt + stray + working + kept_left + leftover + crashes + setup))
if [ "$bad" -ne 0 ]; then
    echo "soak: FAILED; the runs in question are kept in $work:"
    awk '$6 != "exact" && $6 != "failed"' "$work/results.txt" | sed 's/^/soak:   run /'
    exit 1
fi
if [ "$exact" -eq 0 ]; then
    echo "soak: FAILED; not one download completed"
    exit 1
fi
echo "soak: PASSED"
