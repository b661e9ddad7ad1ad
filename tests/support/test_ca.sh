# Sourced by test scripts that make certificates with openssl: `new_ca NAME SUBJECT` makes a
# CA in the working folder (NAME.pem, NAME.key, and NAME.cnf for `openssl ca -config`, which
# signs with SHA-256 and copies no extension from a request). Needs `ossl`, the script's own
# wrapper of openssl that fails the test.
new_ca() { # NAME SUBJECT
    ossl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 30 \
        -subj "$2" -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign"
    mkdir -p "$1.db"
    : >"$1.db/index.txt"
    openssl rand -hex 8 >"$1.db/serial"
    cat >"$1.cnf" <<CONFIG
[ca]
default_ca = this
[this]
database = $1.db/index.txt
new_certs_dir = $1.db
serial = $1.db/serial
certificate = $1.pem
private_key = $1.key
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
[any]
commonName = supplied
CONFIG
}
