#!/usr/bin/env bash
# https in the real Windows program under wine, through Schannel, against nginx on loopback:
# a certificate of a test CA trusted in the prefix downloads the file exactly, by name and by
# address, directly and through tinyproxy; expired, wrong-name, untrusted, self-signed and
# address-less certificates each end the program with exit code 2, the reason on the console
# and no file. A fresh wine prefix per run: a trusted root cannot be taken out of one again.
#   tls_test.sh DOWNLOAD_LOOPBACK.exe TRUST_ROOT.exe WINE_RUN WORK_DIR
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/test_ca.sh"
# Absolute: the script changes directory.
program=$(realpath "$1")
trust_root=$(realpath "$2")
wine_run=$(realpath "$3")
work=$(realpath -m "$4")

for tool in wine wineserver openssl tinyproxy; do
    command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
nginx=$(PATH=$PATH:/usr/sbin:/usr/local/sbin command -v nginx) ||
    { echo "SKIPPED: nginx is not installed"; exit 77; }

rm -rf "$work"
mkdir -p "$work/www" "$work/certs" "$work/temp"
export WINEPREFIX=$work/wineprefix
nginx_pid=""
proxy_pid=""
cleanup() {
    [ -n "$proxy_pid" ] && kill "$proxy_pid" 2>/dev/null && wait "$proxy_pid" 2>/dev/null
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    # The prefix's own persistent server (wine-run starts it), and the 700 MB prefix (kept
    # for a look when TLS_TEST_KEEP is set).
    [ -d "$WINEPREFIX" ] && wineserver -k >/dev/null 2>&1
    [ -n "${TLS_TEST_KEEP:-}" ] || rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
fail() { echo "FAILED: $*"; exit 1; }
started=$SECONDS

# ---- certificates ----
cd "$work/certs" || exit 1
ossl() { openssl "$@" >>"$work/openssl.log" 2>&1 || fail "openssl $1 (see $work/openssl.log)"; }
# NAME CA SUBJECT_ALT_NAMES START END: a server certificate valid from START to END
# (YYYYMMDDhhmmssZ).
issue() {
    ossl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$1"
    printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' \
        "$3" >"$1.ext"
    ossl ca -batch -notext -config "$2.cnf" -in "$1.csr" -out "$1.pem" -extfile "$1.ext" \
        -startdate "$4" -enddate "$5"
}
now=$(date -u +%s)
stamp() { date -u -d "@$(($now + $1 * 86400))" +%Y%m%d%H%M%SZ; }
new_ca ca "/CN=Download Test ca"
new_ca stranger "/CN=Download Test stranger"
issue good ca "DNS:localhost" "$(stamp -1)" "$(stamp 30)"
issue address ca "IP:127.0.0.1" "$(stamp -1)" "$(stamp 30)"
issue expired ca "DNS:localhost" "$(stamp -60)" "$(stamp -1)"
issue wrongname ca "DNS:wrong.example" "$(stamp -1)" "$(stamp 30)"
issue untrusted stranger "DNS:localhost" "$(stamp -1)" "$(stamp 30)"
ossl req -x509 -newkey rsa:2048 -nodes -keyout selfsigned.key -out selfsigned.pem -days 30 \
    -subj "/CN=localhost" -addext "subjectAltName=DNS:localhost"
cd "$work" || exit 1

# A file with distinct bytes at every offset, so that a misplaced range shows.
head -c 3000000 /dev/urandom >"$work/www/f.bin"

# ---- nginx: one TLS port per certificate ----
certificates=(good address expired wrongname untrusted selfsigned)
declare -A port
start_nginx() {
    local base=$((20000 + RANDOM % 30000)) i=0 c
    {
        echo "daemon off; worker_processes 1; user $(id -un) $(id -gn);"
        echo "pid $work/nginx.pid; error_log $work/nginx-error.log;"
        echo "events { worker_connections 64; }"
        echo "http { log_format port '\$server_port \$request \$status';"
        echo "  access_log $work/nginx-access.log port; default_type application/octet-stream;"
        for p in client_body proxy fastcgi uwsgi scgi; do echo "${p}_temp_path $work/temp/$p;"; done
        for c in "${certificates[@]}"; do
            port[$c]=$((base + i))
            i=$((i + 1))
            echo "server { listen 127.0.0.1:${port[$c]} ssl; root $work/www;"
            echo "  ssl_certificate $work/certs/$c.pem; ssl_certificate_key $work/certs/$c.key; }"
        done
        echo "}"
    } >"$work/nginx.conf"
    "$nginx" -p "$work/" -c "$work/nginx.conf" -e "$work/nginx-error.log" \
        >>"$work/nginx.out" 2>&1 </dev/null &
    nginx_pid=$!
    local tries
    for ((tries = 0; tries < 50; tries++)); do
        kill -0 "$nginx_pid" 2>/dev/null || { nginx_pid=""; return 1; }
        (exec 3<>"/dev/tcp/127.0.0.1/${port[selfsigned]}") 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}
# Another base when a port is taken (nginx then ends at once).
for _ in 1 2 3 4 5; do
    start_nginx && break
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    nginx_pid=""
done
[ -n "$nginx_pid" ] || fail "nginx did not start: $(tail -3 "$work/nginx-error.log")"

# ---- tinyproxy, tunnelling to the good port only ----
for _ in 1 2 3 4 5; do
    proxy_port=$((20000 + RANDOM % 30000))
    cat >"$work/tinyproxy.conf" <<EOF
Port $proxy_port
Listen 127.0.0.1
Allow 127.0.0.1
ConnectPort ${port[good]}
User $(id -un)
Group $(id -gn)
LogFile "$work/tinyproxy.log"
LogLevel Info
MaxClients 16
EOF
    tinyproxy -d -c "$work/tinyproxy.conf" >>"$work/tinyproxy.out" 2>&1 </dev/null &
    proxy_pid=$!
    for ((tries = 0; tries < 50; tries++)); do
        kill -0 "$proxy_pid" 2>/dev/null || break
        (exec 3<>"/dev/tcp/127.0.0.1/$proxy_port") 2>/dev/null && break 2
        sleep 0.1
    done
    kill "$proxy_pid" 2>/dev/null && wait "$proxy_pid" 2>/dev/null
    proxy_pid=""
done
[ -n "$proxy_pid" ] || fail "tinyproxy did not start: $(tail -3 "$work/tinyproxy.out")"

# ---- the prefix, with the test CA trusted ----
"$wine_run" "$trust_root" "$work/certs/ca.pem" >"$work/trust.log" 2>&1 </dev/null ||
    fail "trusting the test CA: $(cat "$work/trust.log")"
setup_seconds=$((SECONDS - started))

# NAME URL [OPTIONS...]: runs the program unattended (console front end, no terminal), its
# output in NAME.log, the file in out-NAME/; sets `status`.
download() {
    local name=$1 url=$2
    shift 2
    mkdir -p "$work/out-$name"
    local dir="Z:${work//\//\\}\\out-$name"
    env -u DISPLAY -u WAYLAND_DISPLAY timeout 60 "$wine_run" "$program" "$url" \
        "OutputDirectory:$dir" CompletionLaunchApplication:0 "$@" \
        >"$work/$name.log" 2>&1 </dev/null
    status=$?
}
expect_file() { # NAME
    [ "$status" -eq 0 ] || fail "$1: exit code $status, not 0: $(tail -5 "$work/$1.log")"
    cmp -s "$work/www/f.bin" "$work/out-$1/f.bin" || fail "$1: the file differs or is missing"
    echo "ok: $1 downloaded exactly"
}
expect_refused() { # NAME TEXT
    [ "$status" -eq 2 ] || fail "$1: exit code $status, not 2: $(tail -5 "$work/$1.log")"
    tr -d '\r' <"$work/$1.log" | grep -qxF "Certificate verification failed: $2" ||
        fail "$1: no \"$2\" in the output: $(tail -5 "$work/$1.log")"
    [ -z "$(ls -A "$work/out-$1")" ] || fail "$1: files left: $(ls "$work/out-$1")"
    echo "ok: $1 refused: $2"
}

cases_started=$SECONDS
download good "https://localhost:${port[good]}/f.bin"
expect_file good
# By address: no SNI, and the certificate's IP entry is what names the server.
download address "https://127.0.0.1:${port[address]}/f.bin"
expect_file address
download proxy "https://localhost:${port[good]}/f.bin" ProxyServer:127.0.0.1 ProxyPort:$proxy_port
expect_file proxy
# The size request and the five ranges, each through a tunnel of its own.
tunnels=$(grep -c "CONNECT localhost:${port[good]} HTTP/1.0" "$work/tinyproxy.log")
[ "$tunnels" -ge 6 ] || fail "proxy: $tunnels tunnels to the server, not 6 or more"

download expired "https://localhost:${port[expired]}/f.bin"
expect_refused expired "certificate has expired"
download wrongname "https://localhost:${port[wrongname]}/f.bin"
expect_refused wrongname "hostname mismatch"
download untrusted "https://localhost:${port[untrusted]}/f.bin"
expect_refused untrusted "unable to get local issuer certificate"
download selfsigned "https://localhost:${port[selfsigned]}/f.bin"
expect_refused selfsigned "self-signed certificate"
# A certificate that names the host but not the address it is reached by.
download noaddress "https://127.0.0.1:${port[good]}/f.bin"
expect_refused noaddress "IP address mismatch"
# A refused certificate ends the connection before a request is sent.
for c in expired wrongname untrusted selfsigned; do
    ! grep -q "^${port[$c]} " "$work/nginx-access.log" || fail "$c: a request reached nginx"
done

echo "setup (certificates, servers, prefix): $setup_seconds s; cases: $((SECONDS - cases_started)) s"
exit 0
