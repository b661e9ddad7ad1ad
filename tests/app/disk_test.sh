#!/usr/bin/env bash
# Small and full disks through the real program on the console, in a mount namespace of its
# own (file systems of the test's own size), against demo_mirror on loopback:
#   - a temporary folder of 4 MiB does not matter: nothing of the download goes there;
#   - an output folder too small for the file: exit 1 before any range is asked, with the room
#     needed and the room free, and nothing left;
#   - an output folder that a second writer fills during the transfer: the room was reserved
#     before the first range, so the download completes and the other writer finds the disk
#     full;
#   - the same where room cannot be reserved (ext2, through a loop device, as root only; and
#     under wine, whose files are sparse): the write that fails ends the download at once with
#     exit 1, saying what happened, with nothing left and no range asked again.
# With --wine the program is the Windows build's, run under wine with a wine server of the
# test's own inside the namespace (it opens the files); the temporary folder case is the
# Windows one (%TEMP% on the small file system).
#   disk_test.sh PROGRAM DEMO_MIRROR WORK_DIR [--wine]
# Exits 77 (skipped) when no mount namespace can be made, or wine is missing with --wine.
set -uo pipefail
program=$1
mirror=$2
work=$3
wine=${4:-}

here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${DISK_TEST_NAMESPACE:-}" ]; then
    . "$here/../support/namespaces.sh"
    namespace_command m
    if [ -n "$wine" ] && ! command -v wine >/dev/null; then
        echo "SKIPPED: wine is not installed"
        exit 77
    fi
    DISK_TEST_NAMESPACE=1 exec "${namespace[@]}" "$0" "$@"
fi

rm -rf "$work"
mkdir -p "$work/small" "$work/tmp" "$work/out" "$work/loop"
mirror_pid="" server_pid="" writer_pid="" loop=""
stop_mirror() {
    [ -n "$mirror_pid" ] && kill "$mirror_pid" 2>/dev/null && wait "$mirror_pid" 2>/dev/null
    mirror_pid=""
}
cleanup() {
    stop_mirror
    [ -n "$writer_pid" ] && kill "$writer_pid" 2>/dev/null && wait "$writer_pid" 2>/dev/null
    if [ -n "$server_pid" ]; then
        wineserver -k 2>/dev/null
        for _ in $(seq 1 100); do
            kill -0 "$server_pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
    fi
    umount "$work/loop" 2>/dev/null
    [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null
    umount "$work/small" "$work/tmp" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
what="setting up"
fail() {
    echo "FAILED ($what): $*"
    echo "  standard output: $(tail -c 1200 "$work/stdout.txt" 2>/dev/null)"
    echo "  mirror: $(tail -n 12 "$work/mirror.log" 2>/dev/null)"
    exit 1
}

if [ -n "$wine" ]; then
    export WINEPREFIX=$work.prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
    mkdir -p "$WINEPREFIX"
    wineserver -k 2>/dev/null
    wineserver -f -p </dev/null >/dev/null 2>&1 &
    server_pid=$!
    export WINESERVER=/bin/false # the programs use the server above, in this namespace
    ready=""
    for _ in $(seq 1 120); do
        wine cmd.exe /c exit </dev/null >/dev/null 2>&1 && { ready=yes; break; }
        kill -0 "$server_pid" 2>/dev/null || fail "the wine server ended"
        sleep 0.5
    done
    [ -n "$ready" ] || fail "no program ran under wine within 60 s"
    local_path() { echo "Z:${1//\//\\}"; } # wine's drive Z: is the root
    temp_folder() { echo "$WINEPREFIX/drive_c/users/$(id -un)/Temp"; }
else
    local_path() { echo "$1"; }
    temp_folder() { echo "$work/tmp"; }
fi

size=$((40 << 20))
head -c "$size" /dev/urandom >"$work/file.bin"

start_mirror() { # demo_mirror's options
    stop_mirror
    coproc MIRROR { exec "$mirror" "$@" "$work/file.bin" 0 2>"$work/mirror.log"; }
    mirror_pid=$MIRROR_PID
    read -r -t 10 port <&"${MIRROR[0]}" || fail "the mirror printed no port"
    url="http://127.0.0.1:$port/d/file.bin"
}
# Runs the program to its end (at most 120 s) into the folder $1; sets code.
run() { # output-folder
    local out
    out=$(local_path "$1")
    if [ -n "$wine" ]; then
        timeout 120 wine "$program" "$url" "OutputDirectory:$out" CompletionLaunchApplication:0 \
            </dev/null >"$work/stdout" 2>&1
    else
        env -u DISPLAY -u WAYLAND_DISPLAY TMPDIR="$work/tmp" timeout 120 "$program" "$url" \
            "OutputDirectory:$out" CompletionLaunchApplication:0 </dev/null >"$work/stdout" 2>&1
    fi
    code=$?
    tr -d '\r' <"$work/stdout" >"$work/stdout.txt"
}
ranges() { grep -c '^GET' "$work/mirror.log"; }
# Fills the free room of folder $1 with a file while the download runs, from when the mirror
# has been asked for its ranges.
fill_during_transfer() { # folder
    (
        for _ in $(seq 1 200); do
            [ "$(ranges)" -ge 5 ] && break
            sleep 0.05
        done
        sleep 0.5
        dd if=/dev/zero of="$1/filler" bs=1M 2>"$work/filler.err"
    ) &
    writer_pid=$!
}
no_working_file() { # folder
    ! ls "$1" | grep -q '^tlv.*\.tmp$'
}

what="a temporary folder of 4 MiB"
if [ -n "$wine" ]; then
    mkdir -p "$(temp_folder)"
    mount -t tmpfs -o size=4m tmpfs "$(temp_folder)" || fail "no tmpfs on the temporary folder"
else
    mount -t tmpfs -o size=4m tmpfs "$work/tmp" || fail "no tmpfs on the temporary folder"
fi
start_mirror
run "$work/out"
[ "$code" = 0 ] || fail "exit code $code"
cmp -s "$work/file.bin" "$work/out/file.bin" || fail "the file differs"
[ -z "$(ls -A "$(temp_folder)")" ] || fail "left in the temporary folder: $(ls "$(temp_folder)")"
rm -f "$work/out/file.bin"
umount "$(temp_folder)"

what="an output folder too small"
mount -t tmpfs -o size=20m tmpfs "$work/small" || fail "no tmpfs of 20 MiB"
start_mirror
run "$work/small"
[ "$code" = 1 ] || fail "exit code $code, not 1"
grep -q "not enough room" "$work/stdout.txt" || fail "no word of the room"
grep -q "needs $size bytes, and [0-9]* bytes are free" "$work/stdout.txt" ||
    fail "the room needed and free are not named"
[ "$(ranges)" = 0 ] || fail "ranges were asked: $(grep GET "$work/mirror.log")"
[ -z "$(ls -A "$work/small")" ] || fail "left behind: $(ls "$work/small")"
umount "$work/small"

# The download into folder $1 while another writer fills it, with no room reserved: exit 1,
# the reason, nothing left, no range asked again.
expect_full_disk() { # folder
    start_mirror --pace 65536:10
    fill_during_transfer "$1"
    run "$1"
    wait "$writer_pid"
    writer_pid=""
    [ "$code" = 1 ] || fail "exit code $code, not 1"
    grep -q "The file could not be written" "$work/stdout.txt" || fail "no word of the failure"
    grep -qE "No space left on device|There is not enough space on the disk" "$work/stdout.txt" ||
        fail "no word of the full disk"
    grep -q "Error communicating with server" "$work/stdout.txt" &&
        fail "the full disk was taken for a server error"
    no_working_file "$1" || fail "a working file was left: $(ls "$1")"
    [ -e "$1/file.bin" ] && fail "the file was left"
    local asked
    asked=$(grep '^GET' "$work/mirror.log" | sort | uniq -d)
    [ -z "$asked" ] || fail "ranges asked again: $asked"
}

what="an output folder that fills up"
mount -t tmpfs -o size=60m tmpfs "$work/small" || fail "no tmpfs of 60 MiB"
if [ -n "$wine" ]; then
    expect_full_disk "$work/small" # wine's files cannot reserve their room
else
    what="an output folder that fills up, its room reserved"
    start_mirror --pace 65536:10
    fill_during_transfer "$work/small"
    run "$work/small"
    wait "$writer_pid"
    writer_pid=""
    [ "$code" = 0 ] || fail "exit code $code"
    cmp -s "$work/file.bin" "$work/small/file.bin" || fail "the file differs"
    grep -q "No space left" "$work/filler.err" ||
        fail "the other writer found room: $(cat "$work/filler.err")"
fi
umount "$work/small"

what="an output folder that fills up, without a reservation"
if [ -n "$wine" ]; then
    : # the case above
elif [ "$(id -u)" != 0 ] || ! command -v mkfs.ext2 >/dev/null || ! command -v losetup >/dev/null; then
    echo "(skipped: $what needs root, mkfs.ext2 and losetup)"
else
    truncate -s 60M "$work/ext2.img"
    mkfs.ext2 -q -F "$work/ext2.img" >/dev/null 2>&1 || fail "mkfs.ext2 failed"
    loop=$(losetup --find --show "$work/ext2.img" 2>/dev/null)
    if [ -z "$loop" ] || ! mount -t ext2 "$loop" "$work/loop" 2>/dev/null; then
        echo "(skipped: $what: no loop device can be mounted here)"
    else
        chmod 777 "$work/loop"
        expect_full_disk "$work/loop"
    fi
fi

echo "PASSED: a small temporary folder, too little room, a folder filling up"
