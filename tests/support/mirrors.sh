# Sourced by the scripts that run the real program against demo_mirror in a network namespace
# of their own, where the built-in mirrors of download_loopback (127.0.0.2:9, 127.0.0.3:9,
# 127.0.0.4:9) can listen. The sourcing script sets `mirror` (demo_mirror) and `work` (its
# folder, made afresh) and defines `fail MESSAGE`.

# Runs the script again in a new network namespace, unless it runs in one already; then the
# loopback device is up, the folder `work` is empty, and the children started with
# `start_mirror` (or added to `pids`) are killed at the exit, the folder removed. Exits 77
# (skipped) when no namespace can be made.
#   in_network_namespace "$0" "$@"
in_network_namespace() {
    if [ -z "${MIRRORS_NAMESPACE:-}" ]; then
        . "$(dirname "${BASH_SOURCE[0]}")/namespaces.sh"
        namespace_command n
        MIRRORS_NAMESPACE=1 exec "${namespace[@]}" "$@"
    fi
    ip link set lo up
    . "$(dirname "${BASH_SOURCE[0]}")/children.sh"
    rm -rf "$work"
    mkdir -p "$work"
    pids=()
    trap stop_children EXIT
}

stop_children() {
    for p in "${pids[@]}"; do
        is_child "$p" && kill -KILL "$p" 2>/dev/null && wait "$p" 2>/dev/null
    done
    rm -rf "$work"
}

# Starts a mirror of $work/file.bin whose answers to HEAD come DELAY ms late, with
# demo_mirror's options; its log (each request) in LOG, its port in $port.
#   start_mirror LOG DELAY OPTIONS...
start_mirror() {
    local log=$1 delay=$2
    shift 2
    "$mirror" "$@" "$work/file.bin" "$delay" >"$log.port" 2>"$log" &
    local pid=$!
    pids+=("$pid")
    # Up to 30 s: a loaded machine may take a while to start it.
    for _ in $(seq 1 600); do
        [ -s "$log.port" ] || ! is_child "$pid" && break
        sleep 0.05
    done
    port=$(cat "$log.port")
    [ -n "$port" ] || fail "a mirror did not start (it $(is_child "$pid" && echo runs ||
        echo ended)): $(cat "$log")"
}
