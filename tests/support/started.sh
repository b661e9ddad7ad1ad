# Sourced by test scripts: the processes a test starts (`pids+=($!)`) are stopped by their own
# ids, with SIGTERM, when the script ends, however it ends; only those that are still its
# children (is_child).
source "$(dirname "${BASH_SOURCE[0]}")/children.sh"
pids=()
stop_started() {
    local p
    for p in "${pids[@]}"; do
        is_child "$p" || continue
        kill -TERM "$p" 2>/dev/null && wait "$p" 2>/dev/null
    done
}
trap stop_started EXIT

# Waits up to $1 seconds for $program_pid to end, its exit code then in $code; a program that
# runs on is killed by its id and the test fails (the script's own `fail`).
wait_program() {
    for _ in $(seq 1 $(($1 * 20))); do
        kill -0 "$program_pid" 2>/dev/null || break
        sleep 0.05
    done
    if kill -0 "$program_pid" 2>/dev/null; then
        kill -KILL "$program_pid"
        wait "$program_pid" 2>/dev/null
        fail "the program did not end within $1 s"
    fi
    wait "$program_pid"
    code=$?
}

# Starts nginx_serve ($1) on the folder $2 for $3 seconds, with nginx server lines $4, its
# files (port, log) beside the folder: its port in $nginx_port, its id in $serve_pid. Exits 77
# (skipped) when nginx is missing; fails when it does not start within 30 s.
start_nginx() {
    local files=$2.nginx
    rm -f "$files.port"
    "$1" "$2" "$files.port" "$3" "${4:-}" >"$files.log" 2>"$files.err" &
    serve_pid=$!
    pids+=("$serve_pid")
    for _ in $(seq 1 300); do
        [ -s "$files.port" ] && break
        kill -0 "$serve_pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ ! -s "$files.port" ]; then
        wait "$serve_pid"
        [ $? = 77 ] && { echo "SKIPPED: $(cat "$files.err")"; exit 77; }
        fail "nginx did not start: $(cat "$files.err")"
    fi
    nginx_port=$(cat "$files.port")
}
