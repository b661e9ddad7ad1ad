# Shell function of the tests that run in namespaces of their own, sourced by their scripts.

# Sets the array `namespace` to the command that runs a command in new namespaces of the kinds
# given as unshare's letters ("n" network, "m" mount): as root directly, otherwise inside a user
# namespace of its own. Exits 77 (skipped) when they cannot be made here.
namespace_command() {
    namespace=(unshare "-$1")
    [ "$(id -u)" = 0 ] || namespace=(unshare "-r$1")
    if ! "${namespace[@]}" true 2>/dev/null; then
        echo "SKIPPED: no network namespace can be made here (${namespace[*]})"
        exit 77
    fi
}

# Inside a mount namespace: gives it a /tmp of its own (and a /var/lib/xkb, where an X server
# keeps its compiled keyboard maps), so that X servers of runs side by side each find their
# display free. The given paths stay reachable where they are: a checkout, a build tree or a
# work folder under /tmp is bound back into the new /tmp. Returns non-zero when a mount fails.
#   private_tmp PATH...
private_tmp() {
    local path top old keep=()
    # Each path as given and with its links resolved: a link under /tmp may lead under /tmp.
    for path in "$@"; do
        for path in "$(realpath -ms "$path")" "$(realpath -m "$path")"; do
            case $path in
            /tmp/?*) top=${path#/tmp/}; keep+=("${top%%/*}") ;;
            esac
        done
    done
    # The old /tmp stays open through a descriptor while the new one covers it.
    exec {old}</tmp || return 1
    if ! mount -t tmpfs tmpfs /tmp; then
        exec {old}<&-
        return 1
    fi
    local status=0
    for top in "${keep[@]}"; do
        [ -e "/tmp/$top" ] || [ -L "/tmp/$top" ] && continue # bound already
        if [ -L "/proc/self/fd/$old/$top" ]; then
            # A link is made again as it was; what it leads to is kept by its own name.
            ln -s "$(readlink "/proc/self/fd/$old/$top")" "/tmp/$top" || status=1
            continue
        elif [ -f "/proc/self/fd/$old/$top" ]; then
            touch "/tmp/$top"
        else
            mkdir -p "/proc/self/fd/$old/$top" "/tmp/$top"
        fi
        # Not canonicalized: mount would resolve the descriptor's path to the new /tmp.
        mount --no-canonicalize --bind "/proc/self/fd/$old/$top" "/tmp/$top" || status=1
    done
    exec {old}<&-
    mount -t tmpfs tmpfs /var/lib/xkb || status=1
    return $status
}
