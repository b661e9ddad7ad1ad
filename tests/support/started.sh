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
