#!/usr/bin/env bash
# The real Windows program under wine, on the console (no display), against servers on this
# machine's loopback: a file from nginx exact in five ranges (or more, with takeovers); the
# same through tinyproxy as the proxy of the options; Ctrl+C in the middle of a transfer (exit 2
# at once, no output file and no working file left); a bad option or a URL without a host (exit 2 before any request); --help and
# --version (exit 0); no location answering (exit 2); a paced download on a terminal of 80
# columns (a pseudo-terminal, through wine's console), its progress rewritten on one line
# several times a second, with no escape sequence of its own and the product's name beyond
# ASCII shown as written (terminal_progress.py); a server's reason phrase with escape sequences
# told without them; a run killed in the middle of the transfer, continued by the next run; an
# IPv6 literal and a name of both families; a URL path and an output folder in Japanese.
#   program_test.sh PROGRAM.exe WINE_RUN NGINX_SERVE DEMO_MIRROR WORK_DIR
# NGINX_SERVE and DEMO_MIRROR are the Linux build's test servers. The wine prefix is WORK_DIR's
# own and is kept between runs (made once, about 15 s). Exits 77 (skipped) when wine, nginx or
# the Linux servers are missing.
set -uo pipefail
program=$1
wine_run=$2
serve=$3
mirror=$4
work=$5
for tool in wine "$serve" "$mirror"; do
    command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is missing"; exit 77; }
done
export WINEPREFIX=$work/prefix
rm -rf "$work/run"
mkdir -p "$work/run/www/d" "$work/run/out"
run=$work/run
source "$(dirname "${BASH_SOURCE[0]}")/../support/started.sh"
fail() { echo "FAILED: $*"; [ -f "$run/program.out" ] && tail -5 "$run/program.out"; exit 1; }
since() { echo $((($(date +%s%N) - $1) / 1000000)); }
# The Windows name of a path of this machine (wine's drive Z: is the root).
windows_path() { echo "Z:${1//\//\\}"; }
# The prefix's temporary folder (nothing of a download goes there), and the files being written
# under a working name: in the output folder, or anywhere in the temporary one.
temp_dir() { echo "$WINEPREFIX/drive_c/users/$(id -un)/Temp"; }
working_files() {
    find "$(temp_dir)" "$run/out" -maxdepth 1 -name 'tlv*.tmp' 2>/dev/null | wc -l
}

# Runs the program in the background with the URL and options; its pid in $program_pid.
start_program() {
    "$wine_run" "$program" "$@" </dev/null >"$run/program.out" 2>&1 &
    program_pid=$!
}
# The prefix is made (or started) before anything is timed.
"$wine_run" cmd.exe /c exit >/dev/null 2>&1 </dev/null
mkdir -p "$(temp_dir)"
rm -f "$(temp_dir)"/tlv*.tmp

head -c 20000000 /dev/urandom >"$run/www/d/f.bin"
# Alive for the whole test (its time limit is 300 s): on a loaded machine the steps up to the
# reading of its log took more than 120 s.
start_nginx "$serve" "$run/www" 280
port=$nginx_port
downloads=1
out=$(windows_path "$run/out")

# 1. A bad option: the syntax message and exit 2, nothing asked of the server.
start_program "http://127.0.0.1:$port/d/f.bin" "OutputDirectory:$(windows_path "$run/none")"
wait_program 30
[ "$code" = 2 ] || fail "a bad output directory gave exit code $code, not 2"
grep -q "Incorrect command line syntax" "$run/program.out" || fail "no syntax message"
# A URL that names no host: the syntax message and exit 2, nothing asked.
start_program "127.0.0.1:$port/d/f.bin" "OutputDirectory:$out"
wait_program 30
[ "$code" = 2 ] || fail "a URL without \"://\" gave exit code $code, not 2"
grep -q "Protocol is missing" "$run/program.out" || fail "no syntax message for the URL"
grep -q "Retrieving" "$run/program.out" && fail "a URL without a host was asked for"
# Help and version: exit 0, the text on standard output.
for help in --help /?; do
    start_program "$help"
    wait_program 30
    [ "$code" = 0 ] || fail "$help gave exit code $code, not 0"
    grep -q "^Correct syntax:" "$run/program.out" || fail "$help printed: $(cat "$run/program.out")"
done
start_program --version
wait_program 30
[ "$code" = 0 ] || fail "--version gave exit code $code, not 0"
grep -q "^Talvex download application [0-9]" "$run/program.out" || fail "--version printed no version"

# 2. The file from nginx, five ranges, exact.
started=$(date +%s%N)
start_program "http://127.0.0.1:$port/d/f.bin" "OutputDirectory:$out" CompletionLaunchApplication:0
wait_program 60
[ "$code" = 0 ] || fail "the download from nginx ended with code $code"
cmp -s "$run/www/d/f.bin" "$run/out/f.bin" || fail "the downloaded file differs from nginx's"
echo "20 MB from nginx in $(since "$started") ms"
[ "$(working_files)" = 0 ] || fail "working files left: $(ls "$(temp_dir)" "$run/out")"

# 3. The same through tinyproxy as the proxy of the options.
if command -v tinyproxy >/dev/null || [ -x /usr/sbin/tinyproxy ] || [ -x /usr/bin/tinyproxy ]; then
    proxy_port=$((20000 + RANDOM % 20000))
    cat >"$run/tinyproxy.conf" <<EOF
User $(id -un)
Group $(id -gn)
Port $proxy_port
Listen 127.0.0.1
Timeout 30
LogFile "$run/tinyproxy.log"
LogLevel Info
MaxClients 20
Allow 127.0.0.1
EOF
    tinyproxy=$(command -v tinyproxy || echo /usr/sbin/tinyproxy)
    [ -x "$tinyproxy" ] || tinyproxy=/usr/bin/tinyproxy
    "$tinyproxy" -d -c "$run/tinyproxy.conf" >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 1 50); do
        grep -q "listening on\|Listening on" "$run/tinyproxy.log" 2>/dev/null && break
        sleep 0.1
    done
    rm -f "$run/out/f.bin"
    start_program "http://127.0.0.1:$port/d/f.bin" "OutputDirectory:$out" \
        CompletionLaunchApplication:0 ProxyServer:127.0.0.1 "ProxyPort:$proxy_port"
    wait_program 60
    [ "$code" = 0 ] || fail "the download through tinyproxy ended with code $code"
    cmp -s "$run/www/d/f.bin" "$run/out/f.bin" || fail "the file through tinyproxy differs"
    grep -q "f.bin" "$run/tinyproxy.log" || fail "tinyproxy saw no request"
    downloads=2
else
    echo "tinyproxy is missing: the proxy case is left out"
fi

# 4. Ctrl+C in the middle of a paced transfer: exit 2 within a second, nothing left behind.
coproc MIRROR { exec "$mirror" --pace 32768:100 --lifetime 120 "$run/www/d/f.bin" 0 2>/dev/null; }
pids+=("$MIRROR_PID")
read -r -t 10 mirror_port <&"${MIRROR[0]}" || fail "the mirror printed no port"
rm -f "$run/out/f.bin"
start_program "http://127.0.0.1:$mirror_port/d/f.bin" "OutputDirectory:$out" \
    CompletionLaunchApplication:0
for _ in $(seq 1 200); do
    [ "$(working_files)" -ge 1 ] && break
    sleep 0.05
done
[ "$(working_files)" -ge 1 ] || fail "no transfer began within 10 s"
sleep 1
stopped=$(date +%s%N)
kill -INT "$program_pid"
wait_program 5
took=$(since "$stopped")
[ "$code" = 2 ] || fail "Ctrl+C gave exit code $code, not 2"
((took < 1000)) || fail "Ctrl+C took $took ms to end the program"
echo "Ctrl+C ended the transfer in $took ms"
[ -e "$run/out/f.bin" ] && fail "Ctrl+C left the output file"
[ "$(working_files)" = 0 ] || fail "Ctrl+C left working files: $(ls "$(temp_dir)" "$run/out")"

# 5. On a terminal: the progress line rewritten in place with carriage returns (no new line per
# update, no "[K" or other escape sequence written by the program), several times a second; the
# product's name beyond ASCII shown as written (a console is given characters, not bytes).
if command -v python3 >/dev/null; then
    rm -f "$run/out/f.bin"
    python3 "$(dirname "${BASH_SOURCE[0]}")/terminal_progress.py" 80 90 --shows "Grüße" \
        env -u DISPLAY LC_ALL=C.UTF-8 "$wine_run" "$program" \
        "http://127.0.0.1:$mirror_port/d/f.bin" "ProductName:Pelko Grüße" \
        "OutputDirectory:$out" CompletionLaunchApplication:0 >"$run/terminal.out" 2>&1 ||
        fail "on a terminal: $(cat "$run/terminal.out")"
    echo "on a terminal: $(cat "$run/terminal.out")"
    cmp -s "$run/www/d/f.bin" "$run/out/f.bin" || fail "the file downloaded on a terminal differs"
else
    echo "python3 is missing: the terminal case is left out"
fi

# 6. No location answers: the connection-error text and exit 2.
start_program "http://127.0.0.1:9/d/f.bin" "OutputDirectory:$out"
wait_program 60
[ "$code" = 2 ] || fail "no answering location gave exit code $code, not 2"
grep -q "Could not connect" "$run/program.out" || fail "no connection-error text"

# 7. A reason phrase with escape sequences (retitle the terminal, clear it, a fake bold line):
# told on the console with its control characters replaced, none of them written.
coproc HOSTILE { exec "$mirror" --get-status 503 --reason $'\e]0;pwned\a\e[2J\e[1mFile verified\e[0m' \
    --lifetime 120 "$run/www/d/f.bin" 0 2>/dev/null; }
pids+=("$HOSTILE_PID")
read -r -t 10 hostile_port <&"${HOSTILE[0]}" || fail "the hostile mirror printed no port"
start_program "http://127.0.0.1:$hostile_port/d/f.bin" "OutputDirectory:$out" \
    MaximumNumberOfAttempts:1
wait_program 60
[ "$code" = 2 ] || fail "the failing download gave exit code $code, not 2"
grep -q "HTTP 503 ?]0;pwned" "$run/program.out" || fail "the reason was not told"
grep -q $'[\e\a]' "$run/program.out" && fail "an escape code from the server was printed"

# 8. Killed in the middle of a paced transfer from a server that gives a date: the working file
# and its record stay, and the next run goes on from there to the exact file, leaving nothing.
coproc DATED { exec "$mirror" --pace 32768:100 --last-modified "Tue, 01 Jul 2025 10:00:00 GMT" \
    --lifetime 120 "$run/www/d/f.bin" 0 2>/dev/null; }
pids+=("$DATED_PID")
read -r dated_port <&"${DATED[0]}" || fail "the dated mirror printed no port"
rm -f "$run/out/f.bin"
start_program "http://127.0.0.1:$dated_port/d/f.bin" "OutputDirectory:$out" \
    CompletionLaunchApplication:0
for _ in $(seq 1 300); do
    grep -qs "^done " "$run"/out/tlv*.resume && break
    sleep 0.1
done
grep -qs "^done " "$run"/out/tlv*.resume || fail "no record of the transfer within 30 s"
kill -KILL "$program_pid"
wait "$program_pid" 2>/dev/null
[ "$(find "$run/out" -name 'tlv*' | wc -l)" = 2 ] || fail "the kill left: $(ls "$run/out")"
start_program "http://127.0.0.1:$dated_port/d/f.bin" "OutputDirectory:$out" \
    CompletionLaunchApplication:0
wait_program 120
[ "$code" = 0 ] || fail "the continued run ended with code $code"
grep -q "Resuming: " "$run/program.out" || fail "the second run did not resume"
cmp -s "$run/www/d/f.bin" "$run/out/f.bin" || fail "the continued file differs"
[ "$(find "$run/out" -name 'tlv*' | wc -l)" = 0 ] || fail "left behind: $(ls "$run/out")"

# The requests nginx saw: the bad option asked nothing, each download came in five ranges (and
# the later halves of remainders that idle workers took over).
kill -TERM "$serve_pid"
wait "$serve_pid"
heads=$(grep -c '"HEAD /d/f.bin ' "$run/www.nginx.log")
ranges=$(grep -c '"GET /d/f.bin HTTP/1.[01]" 206 .* "bytes=' "$run/www.nginx.log")
[ "$heads" = "$downloads" ] || fail "$heads size requests for $downloads downloads"
[ "$ranges" -ge $((downloads * 5)) ] || fail "$ranges ranges for $downloads downloads of five"

# 9. IPv6: the literal http://[::1]:PORT/... and localhost, a name of both families, from an
# nginx listening on 127.0.0.1 and ::1.
if python3 -c 'import socket; socket.socket(socket.AF_INET6).bind(("::1", 0))' 2>/dev/null; then
    mkdir -p "$run/www6"
    head -c 3000000 /dev/urandom >"$run/www6/f6.bin"
    start_nginx "$serve" "$run/www6" 120 "listen [::1]:@PORT@;"
    for url in "http://[::1]:$nginx_port/f6.bin" "http://localhost:$nginx_port/f6.bin"; do
        rm -f "$run/out/f6.bin"
        start_program "$url" "OutputDirectory:$out" CompletionLaunchApplication:0
        wait_program 60
        [ "$code" = 0 ] || fail "$url ended with code $code"
        cmp -s "$run/www6/f6.bin" "$run/out/f6.bin" || fail "the file of $url differs"
    done
    kill -TERM "$serve_pid"
    wait "$serve_pid"
    grep -q '^::1 "GET /f6.bin' "$run/www6.nginx.log" || fail "nothing was fetched over IPv6"
else
    echo "::1 cannot be bound here: the IPv6 case is left out"
fi

# 10. Names beyond the ANSI code page: a URL path in Japanese (sent percent-encoded as UTF-8)
# into an output folder named in Japanese, the file saved under its name as written; what the
# program writes to a file is UTF-8. Wine reads the command line and file names in the locale's
# character set.
folder=ダウンロード
wire=/%E3%83%87%E3%83%BC%E3%82%BF/%E3%83%95%E3%82%A1%E3%82%A4%E3%83%AB.bin
mkdir -p "$run/wwwj/データ" "$run/$folder"
head -c 3000000 /dev/urandom >"$run/wwwj/データ/ファイル.bin"
start_nginx "$serve" "$run/wwwj" 120
LC_ALL=C.UTF-8 start_program "http://127.0.0.1:$nginx_port/データ/ファイル.bin" \
    "OutputDirectory:$(windows_path "$run/$folder")" "ProductName:Grüße $folder" \
    CompletionLaunchApplication:0
wait_program 60
[ "$code" = 0 ] || fail "the download into $folder ended with code $code"
cmp -s "$run/wwwj/データ/ファイル.bin" "$run/$folder/ファイル.bin" ||
    fail "$folder/ファイル.bin differs from nginx's file"
grep -q "Downloading ファイル.bin from" "$run/program.out" || fail "the output names no file"
grep -q "Grüße $folder" "$run/program.out" || fail "the product's name is lost"
kill -TERM "$serve_pid"
wait "$serve_pid"
grep -q "\"GET $wire HTTP/1.[01]\" 20[06] " "$run/wwwj.nginx.log" ||
    fail "the file was not asked as $wire: $(head -3 "$run/wwwj.nginx.log")"
echo "PASSED"
