#!/usr/bin/env bash
# A pinned signer under wine: a small program (payload.exe) signed with osslsigncode by
# certificates of a test CA that the test's own prefix trusts, and by others; served by nginx
# and downloaded with Signer:
#   - signed by the pinned name, and by either name of a "|" list: kept (and, built in, run);
#   - tampered, unsigned, self-signed, of an untrusted CA, expired, or by another name:
#     refused with exit code 1, the expected and the found signer shown, nothing left, not run;
#   - malformed values: exit code 2 before any request;
#   - the pin built into a program (DOWNLOAD_SIGNER), its primary host 127.0.0.61:8061.
# The prefix is made once and kept; each run's CAs have names of their own, so that the roots
# trusted by earlier runs never stand in for this run's.
#   signer_test.sh PROGRAM.exe SIGNED_PROGRAM.exe PAYLOAD.exe TRUST_ROOT.exe WINE_RUN
#                  NGINX_SERVE DEMO_MIRROR WORK_DIR
# Exits 77 (skipped) when wine, openssl, osslsigncode or a server is missing.
set -uo pipefail
program=$1
signed_program=$2
payload=$3
trust_root=$4
wine_run=$5
nginx_serve=$6
mirror=$7
work=$8
for tool in wine openssl osslsigncode "$nginx_serve" "$mirror"; do
    command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is missing"; exit 77; }
done
export WINEPREFIX=$work/prefix WINEDEBUG=-all
run=$work/run
rm -rf "$run"
mkdir -p "$run/www" "$run/certs" "$run/out" "$run/prog"
source "$(dirname "${BASH_SOURCE[0]}")/../support/started.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../support/test_ca.sh"
what="setting up"
fail() {
    echo "FAILED ($what): $*"
    tail -n 12 "$run/program.out" 2>/dev/null
    exit 1
}
windows_path() { echo "Z:${1//\//\\}"; }
started=$SECONDS

# ---- certificates and signed files ----
cd "$run/certs" || exit 1
ossl() { openssl "$@" >>"$run/openssl.log" 2>&1 || fail "openssl $1 (see $run/openssl.log)"; }
tag="$(date +%s)-$RANDOM"
now=$(date -u +%s)
stamp() { date -u -d "@$(($now + $1 * 86400))" +%Y%m%d%H%M%SZ; }
issue() { # FILE CA COMMON_NAME START_DAYS END_DAYS: a code-signing certificate
    ossl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$3"
    printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" \
        "extendedKeyUsage=codeSigning" "subjectKeyIdentifier=hash" \
        "authorityKeyIdentifier=keyid" >"$1.ext"
    ossl ca -batch -notext -config "$2.cnf" -in "$1.csr" -out "$1.pem" -extfile "$1.ext" \
        -startdate "$(stamp "$4")" -enddate "$(stamp "$5")"
}
new_ca ca "/CN=Signer Test ca $tag"
new_ca stranger "/CN=Signer Test stranger $tag"
issue vendor ca "Talvex Test Vendor" -1 30
issue renewed ca "Talvex Test Vendor 2027" -1 30
issue other ca "Other Vendor" -1 30
issue expired ca "Talvex Test Vendor" -60 -1
issue untrusted stranger "Talvex Test Vendor" -1 30
ossl req -x509 -newkey rsa:2048 -nodes -keyout selfsigned.key -out selfsigned.pem -days 30 \
    -subj "/CN=Talvex Test Vendor" -addext "extendedKeyUsage=codeSigning"
sign() { # CERTIFICATE OUTPUT [CHAIN]
    local chain=()
    [ $# -gt 2 ] && chain=(-ac "$3")
    osslsigncode sign -certs "$1.pem" -key "$1.key" -n "Payload" "${chain[@]}" \
        -in "$payload" -out "$run/www/$2" >>"$run/osslsigncode.log" 2>&1 ||
        fail "osslsigncode for $2 (see $run/osslsigncode.log)"
}
sign vendor good.exe
sign renewed renewed.exe
sign other other.exe
sign expired expired.exe
sign untrusted untrusted.exe stranger.pem
sign selfsigned selfsigned.exe
cp "$payload" "$run/www/unsigned.exe"
# One byte of the code changed after signing: the signature no longer matches.
cp "$run/www/good.exe" "$run/www/tampered.exe"
printf '\x5a' | dd of="$run/www/tampered.exe" bs=1 seek=1100 conv=notrunc status=none
cmp -s "$run/www/good.exe" "$run/www/tampered.exe" && fail "the tampered copy is the same"
cd "$run" || exit 1

# ---- the prefix, with this run's CA trusted, and nginx ----
"$wine_run" cmd.exe /c exit >/dev/null 2>&1 </dev/null
"$wine_run" "$trust_root" "$run/certs/ca.pem" >"$run/trust.log" 2>&1 </dev/null ||
    fail "trusting the test CA: $(cat "$run/trust.log")"
"$nginx_serve" "$run/www" "$run/nginx.port" 200 >"$run/nginx.log" 2>&1 &
nginx_pid=$!
pids+=($nginx_pid)
for _ in $(seq 1 100); do
    [ -s "$run/nginx.port" ] && break
    sleep 0.05
done
port=$(cat "$run/nginx.port" 2>/dev/null)
if [ -z "$port" ]; then
    wait "$nginx_pid"
    [ $? = 77 ] && { echo "SKIPPED: nginx is not installed"; exit 77; }
    fail "nginx did not start: $(cat "$run/nginx.log")"
fi
echo "setup: $((SECONDS - started)) s"

# FILE SIGNER: downloads FILE with Signer:SIGNER, unattended; sets `code`.
download() {
    rm -f "$run/out"/*
    env -u DISPLAY -u WAYLAND_DISPLAY timeout 60 "$wine_run" "$program" \
        "http://127.0.0.1:$port/$1" "OutputDirectory:$(windows_path "$run/out")" "Signer:$2" \
        </dev/null >"$run/program.out" 2>&1
    code=$?
    tr -d '\r' <"$run/program.out" >"$run/program.txt"
}
ran() { # FILE: whether it left its mark (a launch does not wait for the program's end)
    for _ in $(seq 1 100); do
        [ -e "$1.ran" ] && return 0
        sleep 0.1
    done
    return 1
}

# Each download takes about 7 s (the wait before the first attempt): one run per case.
for case in "good.exe Talvex Test Vendor" \
    "renewed.exe Other Vendor | Talvex Test Vendor 2027|Talvex Test Vendor"; do
    file=${case%% *}
    pin=${case#* }
    what="$file with Signer:$pin"
    download "$file" "$pin"
    [ "$code" = 0 ] || fail "exit code $code"
    cmp -s "$run/www/$file" "$run/out/$file" || fail "the file differs or is missing"
    ran "$run/out/$file" || fail "the verified file was not run"
    grep -qF -- "- Checking the file's signature..." "$run/program.txt" ||
        fail "the status line did not say that the signature was checked"
    echo "ok: $what kept and run"
done

refused() { # FILE FOUND: FOUND ends the line that names the file's signer
    what="$1 refused"
    download "$1" "Talvex Test Vendor"
    [ "$code" = 1 ] || fail "exit code $code"
    for text in "== Connection error ==" "Signer expected: Talvex Test Vendor" \
        "- Verification failed."; do
        grep -qF -- "$text" "$run/program.txt" || fail "no \"$text\""
    done
    grep "^Signer of the file: " "$run/program.txt" | grep -qF -- "$2" ||
        fail "the signer found is not \"$2\""
    grep -qF "Executing downloaded application" "$run/program.txt" && fail "the file was run"
    [ -z "$(ls -A "$run/out")" ] || fail "left in the output folder: $(ls "$run/out")"
    echo "ok: $1 refused: $(grep -F "Signer of the file:" "$run/program.txt")"
}
refused renewed.exe ": Talvex Test Vendor 2027"
refused other.exe ": Other Vendor"
refused unsigned.exe ": none (the file is not signed)"
refused tampered.exe "(the file was changed after it was signed)"
refused expired.exe "Talvex Test Vendor (its certificate has expired)"
refused untrusted.exe "Talvex Test Vendor (its certificate does not lead to a trusted root)"
refused selfsigned.exe "Talvex Test Vendor (its certificate does not lead to a trusted root)"

for value in "" "|" " " "Talvex Test Vendor|" "|Talvex Test Vendor" "A||B" "A| |B"; do
    what="malformed Signer:\"$value\""
    download malformed.exe "$value"
    [ "$code" = 2 ] || fail "exit code $code"
    grep -qxF 'Invalid signer. Must be one or more subject names separated by "|".' \
        "$run/program.txt" || fail "no syntax message naming the signer"
    [ -z "$(ls -A "$run/out")" ] || fail "written: $(ls "$run/out")"
done
echo "ok: malformed values end the program with exit code 2"

# The built-in request of the program with a built-in signer: the program's folder is the
# output folder, and the verified file runs.
prog="$run/prog/$(basename "$signed_program")"
cp "$signed_program" "$prog"
for served in renewed.exe other.exe; do
    what="built-in signer, serving $served"
    rm -f "$run/prog/Pelko_setup.exe"*
    "$mirror" --lifetime 100 --address 127.0.0.61 --port 8061 "$run/www/$served" 0 \
        >"$run/mirror.port" 2>"$run/mirror.log" &
    mirror_pid=$!
    pids+=($mirror_pid)
    for _ in $(seq 1 100); do
        [ -s "$run/mirror.port" ] && break
        sleep 0.05
    done
    [ -s "$run/mirror.port" ] || fail "the mirror did not start: $(cat "$run/mirror.log")"
    env -u DISPLAY -u WAYLAND_DISPLAY timeout 60 "$wine_run" "$prog" </dev/null \
        >"$run/program.out" 2>&1
    code=$?
    kill -TERM "$mirror_pid" 2>/dev/null && wait "$mirror_pid" 2>/dev/null
    rm -f "$run/mirror.port"
    if [ "$served" = other.exe ]; then
        [ "$code" = 1 ] || fail "exit code $code"
        grep -qF "Signer of the file: Other Vendor" "$run/program.out" ||
            fail "the box does not name the file's signer"
        [ -e "$run/prog/Pelko_setup.exe" ] && fail "the file was left"
    else
        [ "$code" = 0 ] || fail "exit code $code"
        cmp -s "$run/www/$served" "$run/prog/Pelko_setup.exe" || fail "the file differs"
        ran "$run/prog/Pelko_setup.exe" || fail "the verified file was not run"
    fi
    echo "ok: $what"
done

# No request reached nginx for the malformed values.
kill -TERM "$nginx_pid" && wait "$nginx_pid"
grep -q "malformed.exe" "$run/nginx.log" && fail "a request was made for a malformed value"
echo "PASSED: kept when signed by a pinned name, refused otherwise, malformed values, built in" \
    "($((SECONDS - started)) s)"
