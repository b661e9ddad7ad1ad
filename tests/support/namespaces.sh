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
