#!/usr/bin/env bash
# Between its checks and its run, the downloaded file cannot be changed: under wine, a Windows
# program (replace_file) tries again and again to open the file being written and then the
# verified one for writing, and to move another file over it, from the start of the download
# until the downloaded batch file has run. Every try fails, the batch file that runs is the
# one served (its mark, not the other's), and it is deleted after it ran
# (DeleteAfterDownloading). The file is large and pinned, so that its digest takes a while.
#   check_to_run_test.sh PROGRAM.exe REPLACE_FILE.exe WINE_RUN DEMO_MIRROR WORK_DIR
# Exits 77 (skipped) when wine or the mirror is missing.
set -uo pipefail
program=$1
replace_file=$2
wine_run=$3
mirror=$4
work=$5
for tool in wine "$mirror"; do
    command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is missing"; exit 77; }
done
export WINEPREFIX=$work/prefix WINEDEBUG=-all
run=$work/run
rm -rf "$run"
mkdir -p "$run/out"
source "$(dirname "${BASH_SOURCE[0]}")/../support/started.sh"
fail() { echo "FAILED: $*"; tail -n 8 "$run/program.out" 2>/dev/null; exit 1; }
windows_path() { echo "Z:${1//\//\\}"; }

"$wine_run" cmd.exe /c exit >/dev/null 2>&1 </dev/null # the prefix, before anything is timed
# The served batch file leaves "served" beside itself; the other one "replaced".
printf '@echo off\r\necho served> "%%~dp0marker.txt"\r\nexit /b 0\r\n' >"$run/setup.bat"
awk 'BEGIN { for (i = 1; i <= 2000000; i++) printf "rem padding line %07d\r\n", i }' \
    >>"$run/setup.bat"
printf '@echo off\r\necho replaced> "%%~dp0marker.txt"\r\nexit /b 0\r\n' >"$run/other.bat"
"$mirror" --lifetime 200 --pace 262144:20 "$run/setup.bat" 0 >"$run/port" 2>/dev/null &
pids+=($!)
for _ in $(seq 1 100); do
    [ -s "$run/port" ] && break
    sleep 0.05
done
port=$(cat "$run/port")
[ -n "$port" ] || fail "the mirror did not start"

"$wine_run" "$replace_file" "$(windows_path "$run/out")" setup.bat "$(windows_path "$run/other.bat")" \
    marker.txt 120 </dev/null >"$run/replace.out" 2>&1 &
pids+=($!)
replacer=$!
timeout 120 "$wine_run" "$program" "http://127.0.0.1:$port/d/setup.bat" \
    "OutputDirectory:$(windows_path "$run/out")" "Sha256:$(sha256sum "$run/setup.bat" | cut -c1-64)" \
    DeleteAfterDownloading:1 </dev/null >"$run/program.out" 2>&1
code=$?
[ "$code" = 0 ] || fail "exit code $code"
wait "$replacer"
tries=$(tr -d '\r' <"$run/replace.out")
[ "$tries" = "writes 0 replaces 0" ] || fail "the file could be changed before it ran: $tries"
[ "$(tr -d '\r ' <"$run/out/marker.txt")" = served ] || fail "what ran: $(cat "$run/out/marker.txt")"
[ ! -e "$run/out/setup.bat" ] || fail "the file was not deleted after it ran"
echo "PASSED: no write, rename or deletion between the checks and the run; the served file ran"
