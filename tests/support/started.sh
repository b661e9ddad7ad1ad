# Sourced by test scripts: the processes a test starts (`pids+=($!)`) are stopped by their own
# ids, with SIGTERM, when the script ends, however it ends. Only those that are still this
# shell's children: the id of one that ended and was reaped may be another process's by then.
pids=()
stop_started() {
    local p
    for p in "${pids[@]}"; do
        [ "$(ps -o ppid= -p "$p" 2>/dev/null | tr -d ' ')" = "$BASHPID" ] || continue
        kill -TERM "$p" 2>/dev/null && wait "$p" 2>/dev/null
    done
}
trap stop_started EXIT
