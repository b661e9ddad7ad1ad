# Shell functions of the window tests, sourced by their scripts.

# Exits 77 (skipped) when one of the tools is missing.
require_tools() {
    local tool
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null; then
            echo "SKIPPED: $tool is not installed (scripts/setup installs it)"
            exit 77
        fi
    done
}

# Waits (at most 20 s: the machine may be busy with other tests) until a window with exactly
# this name exists; prints its id. Further arguments are xdotool search options.
#   wait_window NAME [OPTIONS...]
wait_window() {
    local id name=$1
    shift
    for _ in $(seq 1 200); do
        id=$(xdotool search "$@" --name "^$name\$" 2>/dev/null | head -1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}

# Waits (at most 5 s) until no window has this name.
#   wait_gone NAME [OPTIONS...]
wait_gone() {
    local name=$1
    shift
    for _ in $(seq 1 50); do
        xdotool search "$@" --name "^$name\$" >/dev/null 2>&1 || return 0
        sleep 0.1
    done
    return 1
}

# Waits up to SECONDS (default 10) for the program $pid to end; its exit code in $code. The
# caller defines `fail`.
#   wait_end WHAT [SECONDS]
wait_end() {
    local limit=${2:-10}
    for _ in $(seq 1 $((limit * 10))); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && fail "$1 did not end the program within $limit s"
    wait "$pid"
    code=$?
    pid=""
}

# The colour of one pixel of a screenshot as "R G B" (0-255).
pixel() {
    convert "$1" -format "%[fx:int(255*p{$2,$3}.r)] %[fx:int(255*p{$2,$3}.g)] %[fx:int(255*p{$2,$3}.b)]" info:
}

# The percentage of a caption "Downloading Pelko (3 of 24 MB, 12.5%)" (or "Download of Pelko
# paused (...)") as tenths (125); empty for any other caption.
tenths() {
    case "$1" in
    *"Pelko"*" ("*" of "*" MB, "*"%)")
        local p=${1##*, }
        p=${p%\%)}
        echo $((10#${p%.*} * 10 + 10#${p#*.}))
        ;;
    esac
}
