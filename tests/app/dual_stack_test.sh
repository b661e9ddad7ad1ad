#!/usr/bin/env bash
# IPv6 and dual-stack networks through the real program on the console, in network and mount
# namespaces of its own. nginx listens on 10.77.0.1 and 2001:db8:77::1; every packet for
# 2001:db8:dead::/64 is dropped without a word, as on a broken IPv6 route. The names come from a private /etc/hosts:
#   v6only.test    2001:db8:77::1
#   v4only.test    10.77.0.1
#   dual.test      both (the system puts IPv6 first)
#   dropped.test   2001:db8:dead::1 and 10.77.0.1
# Each download must give the exact file:
#   1. each name; dual.test over IPv6, and dropped.test at most 1 s later than v4only.test
#      (without a race of the families the dead route would hold each connection for minutes);
#   2. the literal http://[2001:db8:77::1]:PORT/..., named in brackets in the status line;
#   3. through a proxy on IPv6 (http_proxy=http://[2001:db8:77::1]:PORT), and past it for a
#      host that no_proxy names by its IPv6 literal.
#   dual_stack_test.sh PROGRAM NGINX_SERVE WORK_DIR
# Exits 77 (skipped) when the namespaces, IPv6 or nginx are missing.
set -uo pipefail
program=$1
serve=$2
work=$3
here=$(dirname "${BASH_SOURCE[0]}")

if [ -z "${DUAL_STACK_NAMESPACE:-}" ]; then
    . "$here/../support/namespaces.sh"
    namespace_command nm
    DUAL_STACK_NAMESPACE=1 exec "${namespace[@]}" "$0" "$@"
fi

fail() {
    echo "FAILED: $*"
    tail -5 "$work/run.out" 2>/dev/null
    exit 1
}
rm -rf "$work"
mkdir -p "$work/www" "$work/tmp"
source "$here/../support/started.sh"

ip link set lo up
# The live addresses on the loopback link; a veth pair carries what is sent to the dead
# prefix, to a neighbour address nobody has, so that the other end drops it unanswered.
if ! { ip addr add 10.77.0.1/32 dev lo &&
    ip -6 addr add 2001:db8:77::1/128 dev lo nodad &&
    ip link add name dead0 type veth peer name dead1 &&
    ip link set dead0 up && ip link set dead1 up &&
    ip -6 route add 2001:db8:dead::/64 dev dead0 &&
    ip -6 neigh add 2001:db8:dead::1 lladdr 02:00:00:00:de:ad dev dead0 nud permanent; } \
    2>"$work/ip.err"; then
    echo "SKIPPED: no IPv6 addresses and links can be made here: $(cat "$work/ip.err")"
    exit 77
fi
cat >"$work/hosts" <<HOSTS
127.0.0.1 localhost
2001:db8:77::1 v6only.test dual.test
10.77.0.1 v4only.test dual.test dropped.test
2001:db8:dead::1 dropped.test
HOSTS
mount --bind "$work/hosts" /etc/hosts || fail "the namespace's /etc/hosts could not be made"

head -c $((3 << 20)) /dev/urandom >"$work/www/f.bin"
for name in v6only v4only dual dropped literal proxied direct; do
    ln "$work/www/f.bin" "$work/www/$name.bin"
done
start_nginx "$serve" "$work/www" 300 "listen 10.77.0.1:@PORT@; listen [2001:db8:77::1]:@PORT@;"
port=$nginx_port

# Downloads URL into its own folder with the environment given before it; the seconds it
# took in $took. The file must be exact.
#   fetch NAME URL [VARIABLE=VALUE...]
fetch() {
    local name=$1 url=$2
    shift 2
    mkdir -p "$work/out/$name"
    local start end
    start=$(date +%s%N)
    env -u DISPLAY -u WAYLAND_DISPLAY -u http_proxy -u https_proxy -u all_proxy -u no_proxy \
        TMPDIR="$work/tmp" "$@" "$program" "$url" "OutputDirectory:$work/out/$name" \
        CompletionLaunchApplication:0 </dev/null >>"$work/run.out" 2>&1 &
    program_pid=$!
    pids+=("$program_pid")
    wait_program 120
    end=$(date +%s%N)
    took=$(((end - start) / 1000000))
    [ "$code" = 0 ] || fail "$name: exit code $code"
    cmp -s "$work/www/f.bin" "$work/out/$name/$name.bin" || fail "$name: the file differs"
    echo "$name: exact in $took ms"
}

# 1. Names of each family, of both, and of both with a dead IPv6 route.
fetch v6only "http://v6only.test:$port/v6only.bin"
fetch v4only "http://v4only.test:$port/v4only.bin"
v4_took=$took
fetch dual "http://dual.test:$port/dual.bin"
fetch dropped "http://dropped.test:$port/dropped.bin"
((took - v4_took <= 1000)) ||
    fail "dropped.test took $took ms, $((took - v4_took)) ms more than v4only.test"

# 2. The IPv6 literal.
fetch literal "http://[2001:db8:77::1]:$port/literal.bin"
grep -qF "Downloading literal.bin from [2001:db8:77::1]." "$work/run.out" ||
    fail "the status line does not name the IPv6 host as a URL writes it"

# 3. A proxy on IPv6, and no_proxy naming an IPv6 literal.
python3 "$here/tools/forward_proxy.py" 2001:db8:77::1 "$work/proxy.port" "$work/proxy.log" \
    2>"$work/proxy.err" &
pids+=($!)
for _ in $(seq 1 600); do
    [ -s "$work/proxy.port" ] && break
    sleep 0.05
done
[ -s "$work/proxy.port" ] || fail "the proxy did not start: $(cat "$work/proxy.err")"
proxy="http://[2001:db8:77::1]:$(cat "$work/proxy.port")"
fetch proxied "http://v4only.test:$port/proxied.bin" http_proxy="$proxy"
grep -q "^http://v4only.test:$port/proxied.bin" "$work/proxy.log" ||
    fail "the proxy was not asked for proxied.bin"
fetch direct "http://[2001:db8:77::1]:$port/direct.bin" http_proxy="$proxy" \
    no_proxy="example.org,2001:db8:77::1"
# (The built-in mirrors, which no_proxy does not name, are asked through the proxy.)
grep -qF "[2001:db8:77::1]:$port/direct.bin" "$work/proxy.log" &&
    fail "the proxy was asked for the host no_proxy names"

# Who asked nginx: dual.test over IPv6, v4only.test over IPv4.
stop_started
pids=()
grep -q '^2001:db8:77::1 "GET /dual.bin' "$work/www.nginx.log" ||
    fail "dual.test was not fetched over IPv6: $(grep dual.bin "$work/www.nginx.log" | head -3)"
grep -q '^10.77.0.1 "GET /v4only.bin' "$work/www.nginx.log" ||
    fail "v4only.test was not fetched over IPv4"
echo PASSED
