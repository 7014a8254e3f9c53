#!/bin/bash
# Makes the certificates of the TLS tests with openssl, once per folder:
#   test-ca.sh OUT_DIR
#   ca.pem ca.der         the test root, which tls-fixture.sh adds to the
#                         Wine prefix's machine Root store
#   good.pem/.key         localhost, from the test root
#   expired.pem/.key      localhost, from the test root, valid 2020 only
#   wronghost.pem/.key    wrong-host.invalid, from the test root
#   selfsigned.pem/.key   localhost, signed by itself
#   unknown.pem/.key      localhost, from a root nobody trusts
# Certificates name DNS names only: Wine matches the host a client asked for
# against DNS names, never IP addresses, so the tests connect to localhost.
# Key files are readable by their owner only (INN insists on it).
set -eu
out=$1
mkdir -p "$out"
exec 9>"$out/.lock"
flock 9
[ -s "$out/ready" ] && exit 0
work=$(mktemp -d "$out/work.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

cat >ca.cnf <<'CNF'
[ca]
default_ca = test_ca
[test_ca]
dir = .
database = index.txt
serial = serial
new_certs_dir = .
default_md = sha256
policy = any
copy_extensions = copy
unique_subject = no
[any]
commonName = supplied
[server]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
[root]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
CNF

root() {  # name subject
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 3650 -subj "/CN=$2" \
        -addext "basicConstraints=critical,CA:true" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}

# issue NAME HOST CA START END: a server certificate from a root.
issue() {
    rm -f index.txt index.txt.attr && : >index.txt
    [ -f serial ] || echo 1000 >serial
    openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$2" \
        -addext "subjectAltName=DNS:$2" 2>/dev/null
    openssl ca -batch -config ca.cnf -extensions server -cert "$3.pem" -keyfile "$3.key" -in "$1.csr" \
        -out "$1.pem" -startdate "$4" -enddate "$5" -notext 2>/dev/null
}

root ca "Quillnet Test Root"
root other "Quillnet Unknown Root"
issue good localhost ca 20240101000000Z 20450101000000Z
issue expired localhost ca 20200101000000Z 20210101000000Z
issue wronghost wrong-host.invalid ca 20240101000000Z 20450101000000Z
issue unknown localhost other 20240101000000Z 20450101000000Z
openssl req -x509 -newkey rsa:2048 -nodes -keyout selfsigned.key -out selfsigned.pem -days 3650 \
    -subj "/CN=localhost" -addext "subjectAltName=DNS:localhost" 2>/dev/null
openssl x509 -in ca.pem -outform DER -out ca.der

for n in ca good expired wronghost selfsigned unknown; do
    cp "$n.pem" "$out/$n.pem"
    [ "$n" = ca ] || install -m 600 "$n.key" "$out/$n.key"
done
cp ca.der "$out/ca.der"
openssl x509 -in ca.der -inform DER -noout -fingerprint -sha1 | sed 's/.*=//; s/://g' >"$out/ca.sha1"
echo ok >"$out/ready"
