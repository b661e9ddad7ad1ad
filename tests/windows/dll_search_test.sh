#!/usr/bin/env bash
# Libraries planted beside the Windows program (a web page can drop files into a Downloads
# folder) are never loaded: copies of the system libraries it loads by hand (secur32, crypt32,
# winhttp, bcrypt) that leave a mark when they are loaded lie beside download.exe, and wine is
# told to prefer such copies (WINEDLLOVERRIDES=NAME=n,b; by default it never takes them). A
# download that needs all four (the system's proxy settings, an https handshake, a pinned
# digest) leaves no mark; a plain load by name from that folder (the control) takes the copy.
#   dll_search_test.sh PROGRAM.exe PLANTED.dll PLAIN_LOAD.exe WINE_RUN DEMO_MIRROR WORK_DIR
# Exits 77 (skipped) when wine or the mirror is missing.
set -uo pipefail
program=$1
planted=$2
plain_load=$3
wine_run=$4
mirror=$5
work=$6
for tool in wine "$mirror"; do
    command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is missing"; exit 77; }
done
export WINEPREFIX=$work/prefix WINEDEBUG=-all
run=$work/run
rm -rf "$run"
mkdir -p "$run/downloads"
source "$(dirname "${BASH_SOURCE[0]}")/../support/started.sh"
fail() { echo "FAILED: $*"; tail -n 8 "$run/program.out" 2>/dev/null; exit 1; }

"$wine_run" cmd.exe /c exit >/dev/null 2>&1 </dev/null # the prefix, before anything is timed
downloads=$run/downloads
cp "$program" "$downloads/download.exe"
cp "$plain_load" "$downloads/plain_load.exe"
libraries="secur32 crypt32 winhttp bcrypt"
for name in $libraries; do
    cp "$planted" "$downloads/$name.dll"
done
export WINEDLLOVERRIDES="secur32,crypt32,winhttp,bcrypt=n,b"
marks() { find "$downloads" -name 'planted-*' | sort | xargs -r -n1 basename | paste -sd' '; }

# The control: a plain load by name takes the planted copy.
"$wine_run" "$downloads/plain_load.exe" secur32.dll >/dev/null 2>&1 </dev/null
[ -e "$downloads/planted-secur32.dll.txt" ] ||
    fail "a plain load did not take the planted copy: the test shows nothing"
rm -f "$downloads"/planted-*

# A plain HTTP server spoken to over https: the handshake loads Schannel and fails.
head -c 1000 /dev/urandom >"$run/file.bin"
"$mirror" --lifetime 120 "$run/file.bin" 0 >"$run/port" 2>/dev/null &
pids+=($!)
for _ in $(seq 1 100); do
    [ -s "$run/port" ] && break
    sleep 0.05
done
port=$(cat "$run/port")
[ -n "$port" ] || fail "the mirror did not start"
pin=$(printf 'x' | sha256sum | cut -c1-64)
(cd "$downloads" && timeout 60 "$wine_run" download.exe "https://127.0.0.1:$port/d/file.bin" \
    "Sha256:$pin" "OutputDirectory:Z:${run//\//\\}" </dev/null >"$run/program.out" 2>&1)
[ -z "$(marks)" ] || fail "planted libraries were loaded: $(marks)"
grep -q "TLS\|handshake\|Could not connect" "$run/program.out" || fail "no TLS session was tried"

# The http download with a pin: the proxy settings and the digest.
(cd "$downloads" && timeout 60 "$wine_run" download.exe "http://127.0.0.1:$port/d/file.bin" \
    "Sha256:$(sha256sum "$run/file.bin" | cut -c1-64)" "OutputDirectory:Z:${run//\//\\}" \
    CompletionLaunchApplication:0 </dev/null >"$run/program.out" 2>&1)
code=$?
[ "$code" = 0 ] || fail "the download ended with code $code"
[ -z "$(marks)" ] || fail "planted libraries were loaded: $(marks)"
echo "PASSED: no planted library was loaded ($libraries); a plain load takes one"
