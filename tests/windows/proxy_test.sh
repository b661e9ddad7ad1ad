#!/usr/bin/env bash
# The Windows program under wine follows the current user's proxy settings, as WinHTTP reads
# them: wine's WinHttpGetIEProxyConfigForCurrentUser reads the binary value
# DefaultConnectionSettings of HKCU\Software\Microsoft\Windows\CurrentVersion\Internet
# Settings\Connections (not ProxyEnable and ProxyServer beside it), which this test writes with
# `wine reg add`:
#   - a static proxy: the URL's host refuses connections, the proxy (a mirror that serves the
#     file for any URL) gives it;
#   - the same with the URL's host on the bypass list: reached directly, the proxy unasked;
#   - an automatic configuration script (PAC) served on loopback, resolved for each location
#     by WinHTTP: "PROXY" for the URL's host, "DIRECT" for another.
# The wine prefix is WORK_DIR's own (its registry is changed), made once and kept.
#   proxy_test.sh PROGRAM.exe WINE_RUN DEMO_MIRROR WORK_DIR
# Exits 77 (skipped) when wine, python3 or the mirror is missing.
set -uo pipefail
program=$1
wine_run=$2
mirror=$3
work=$4
for tool in wine python3 "$mirror"; do
    command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is missing"; exit 77; }
done
export WINEPREFIX=$work/prefix WINEDEBUG=-all
run=$work/run
rm -rf "$run"
mkdir -p "$run/out" "$run/pac"
source "$(dirname "${BASH_SOURCE[0]}")/../support/started.sh"
what="setting up"
fail() {
    echo "FAILED ($what): $*"
    tail -n 15 "$run/program.out" 2>/dev/null
    exit 1
}
windows_path() { echo "Z:${1//\//\\}"; }

# Starts a mirror of the file; its port in $port and its log in $1.
start_mirror() { # log
    "$mirror" --lifetime 200 "$run/file.bin" 0 >"$1.port" 2>"$1" &
    pids+=($!)
    for _ in $(seq 1 100); do
        [ -s "$1.port" ] && break
        sleep 0.05
    done
    port=$(cat "$1.port")
    [ -n "$port" ] || fail "a mirror did not start"
}
# The setting as the Internet options write it: a header, the flags (1 direct, 2 proxy, 4
# configuration script), then the proxy, the bypass list and the script's URL, each after its
# length.
little_endian() { printf '%02x%02x%02x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) \
    $((($1 >> 16) & 255)) $((($1 >> 24) & 255)); }
counted() { little_endian ${#1}; printf '%s' "$1" | od -An -tx1 | tr -d ' \n'; }
set_proxy() { # FLAGS PROXY BYPASS SCRIPT_URL
    local value
    value="$(little_endian 0x46)$(little_endian 1)$(little_endian "$1")$(counted "$2")"
    value+="$(counted "$3")$(counted "$4")$(printf '0%.0s' $(seq 1 56))"
    wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections' \
        /v DefaultConnectionSettings /t REG_BINARY /d "$value" /f >/dev/null 2>&1 ||
        fail "wine reg add failed"
}
download() { # URL
    rm -f "$run/out/file.bin"
    timeout 120 "$wine_run" "$program" "$1" "OutputDirectory:$(windows_path "$run/out")" \
        CompletionLaunchApplication:0 MaximumDetailToDisplay:2 </dev/null 2>&1 |
        tr -d '\r' >"$run/program.out"
    code=${PIPESTATUS[0]}
    [ "$code" = 0 ] || fail "exit code $code"
    cmp -s "$run/file.bin" "$run/out/file.bin" || fail "the file differs"
}
gets() { grep -c '^GET' "$1"; }

"$wine_run" cmd.exe /c exit >/dev/null 2>&1 </dev/null # the prefix, before anything is timed
head -c 300000 /dev/urandom >"$run/file.bin"
start_mirror "$run/proxy.log"
proxy=127.0.0.1:$port
start_mirror "$run/origin.log"
origin=127.0.0.1:$port

what="a static proxy"
set_proxy 3 "$proxy" "" ""
download "http://127.0.0.1:1/d/file.bin"
grep -q "Through the proxy $proxy, from the Internet settings." "$run/program.out" ||
    fail "the proxy was not named"
[ "$(gets "$run/proxy.log")" -ge 1 ] || fail "the proxy served no range"

what="a host on the bypass list"
before=$(gets "$run/proxy.log")
set_proxy 3 "$proxy" "other.example;127.*" ""
download "http://$origin/d/file.bin"
[ "$(gets "$run/proxy.log")" = "$before" ] || fail "the proxy was asked for a bypassed host"
[ "$(gets "$run/origin.log")" -ge 1 ] || fail "the origin was not asked"

what="an automatic configuration script"
cat >"$run/pac/proxy.pac" <<EOF
function FindProxyForURL(url, host) {
    if (host == "127.0.0.3") return "DIRECT";
    return "PROXY $proxy; DIRECT";
}
EOF
python3 -I -u -m http.server --bind 127.0.0.1 --directory "$run/pac" 0 >"$run/pac.log" 2>&1 &
pids+=($!)
pac_port=""
for _ in $(seq 1 100); do
    pac_port=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$run/pac.log" | head -1)
    [ -n "$pac_port" ] && break
    sleep 0.05
done
[ -n "$pac_port" ] || fail "the script's server did not start"
set_proxy 5 "" "" "http://127.0.0.1:$pac_port/proxy.pac"
download "http://127.0.0.1:1/d/file.bin"
grep -q "Through the proxy $proxy, from the automatic configuration script." "$run/program.out" ||
    fail "the script's proxy was not named"
grep -q "GET /proxy.pac" "$run/pac.log" || fail "the script was not fetched"
[ "$(grep -c "Through the proxy $proxy, from" "$run/program.out")" = 3 ] ||
    fail "the script's DIRECT for 127.0.0.3 was not followed"
set_proxy 1 "" "" ""
echo "PASSED: a static proxy, its bypass list, a configuration script"
