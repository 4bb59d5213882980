#!/usr/bin/env bash
# Builds the certificate material of the local reference platform: test roots,
# intermediates and leaves made for this project only. The keys are committed so
# that the pins compiled into the default configuration stay valid; run this
# script again only when the whole set should be replaced (then update the pins
# in config/corvel.json with tools/pki/print-pins.sh).
set -euo pipefail
cd "$(dirname "$0")"
days=7300
subj() { printf '/O=Corvel Test PKI/CN=%s' "$1"; }

key() { [ -f "$1.key" ] || openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1.key" 2>/dev/null; }

ca_ext=$(mktemp); leaf_ext=$(mktemp); bare_leaf_ext=$(mktemp)
trap 'rm -f "$ca_ext" "$leaf_ext" "$bare_leaf_ext" *.csr *.srl' EXIT
printf 'basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid\n' > "$ca_ext"
printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\nsubjectAltName=IP:127.0.0.1,DNS:localhost\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid\n' > "$leaf_ext"
# A leaf without an authority key identifier: only its issuer name points at its issuer.
printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\nsubjectAltName=IP:127.0.0.1,DNS:localhost\nauthorityKeyIdentifier=none\n' > "$bare_leaf_ext"

selfsigned() { # name cn
  key "$1"
  openssl req -x509 -new -key "$1.key" -subj "$(subj "$2")" -days $days -sha256 \
    -addext 'basicConstraints=critical,CA:TRUE' -addext 'keyUsage=critical,keyCertSign,cRLSign' \
    -out "$1.pem"
}
issue() { # name keyname cn issuer-cert issuer-key ext
  key "$2"
  openssl req -new -key "$2.key" -subj "$(subj "$3")" -out "$1.csr"
  openssl x509 -req -in "$1.csr" -CA "$4.pem" -CAkey "$5.key" -CAcreateserial -days $days -sha256 \
    -extfile "$6" -out "$1.pem" 2>/dev/null
}

selfsigned root-a "Corvel Test Root A"
issue inter-a inter-a "Corvel Test Intermediate A" root-a root-a "$ca_ext"
issue leaf-a leaf-a "127.0.0.1" inter-a inter-a "$leaf_ext"
issue leaf-b leaf-b "127.0.0.1 rotated" inter-a inter-a "$leaf_ext"
issue inter-d inter-d "Corvel Test Intermediate D" root-a root-a "$ca_ext"
issue leaf-d leaf-d "127.0.0.1 via D" inter-d inter-d "$leaf_ext"
selfsigned root-c "Corvel Test Root C"
issue inter-a-by-c inter-a "Corvel Test Intermediate A" root-c root-c "$ca_ext"
issue leaf-e leaf-e "127.0.0.1 via A under C" inter-a-by-c inter-a "$leaf_ext"
selfsigned root-x "Intercepting Proxy Root"
issue leaf-x leaf-x "127.0.0.1" root-x root-x "$leaf_ext"
# An interception root whose name holds a product word of the known-inspector table.
selfsigned root-k "Kaspersky Test Interception Root"
issue leaf-k leaf-k "127.0.0.1" root-k root-k "$leaf_ext"
# A forged issuer with the name of Intermediate A and a key of its own, and its leaf: the leaf's
# issuer name leads to the real Intermediate A, its signature does not.
selfsigned inter-f "Corvel Test Intermediate A"
issue leaf-f leaf-f "127.0.0.1 forged" inter-f inter-f "$bare_leaf_ext"
key backup

# Leaves that Intermediate A signed but that must not serve 127.0.0.1 or localhost: one for
# another name, one that lapsed in 2020, one for client authentication only. A pin stands in for
# the anchor of a chain, never for these checks.
printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\nsubjectAltName=DNS:evil.example\nauthorityKeyIdentifier=keyid\n' > "$bare_leaf_ext"
issue leaf-n leaf-n "evil.example" inter-a inter-a "$bare_leaf_ext"
printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=clientAuth\nsubjectAltName=IP:127.0.0.1,DNS:localhost\nauthorityKeyIdentifier=keyid\n' > "$bare_leaf_ext"
issue leaf-u leaf-u "127.0.0.1 client only" inter-a inter-a "$bare_leaf_ext"
# openssl x509 cannot date a certificate in the past; openssl ca can.
ca_dir=$(mktemp -d)
trap 'rm -rf "$ca_dir"; rm -f "$ca_ext" "$leaf_ext" "$bare_leaf_ext" *.csr *.srl' EXIT
touch "$ca_dir/index.txt"
printf '[ca]\ndefault_ca=test\n[test]\ndatabase=%s/index.txt\nnew_certs_dir=%s\nserial=%s/serial\ndefault_md=sha256\npolicy=any\ncopy_extensions=none\n[any]\norganizationName=optional\ncommonName=supplied\n' \
  "$ca_dir" "$ca_dir" "$ca_dir" > "$ca_dir/ca.cnf"
echo 01 > "$ca_dir/serial"
key leaf-t
openssl req -new -key leaf-t.key -subj "$(subj "127.0.0.1 expired")" -out leaf-t.csr
openssl ca -batch -config "$ca_dir/ca.cnf" -cert inter-a.pem -keyfile inter-a.key -in leaf-t.csr \
  -startdate 20190101000000Z -enddate 20200101000000Z -extfile "$leaf_ext" -notext -out leaf-t.pem 2>/dev/null

# Chains as a server presents them: leaf first, root last.
cat leaf-a.pem inter-a.pem root-a.pem > chain-main.pem
cat leaf-b.pem inter-a.pem root-a.pem > chain-rotated-leaf.pem
cat leaf-d.pem inter-d.pem root-a.pem > chain-root-only.pem
cat leaf-e.pem inter-a-by-c.pem root-c.pem > chain-intermediate-only.pem
cat leaf-x.pem root-x.pem > chain-interceptor.pem
cat leaf-k.pem root-k.pem > chain-product-root.pem
cat leaf-f.pem inter-a.pem root-a.pem > chain-spliced.pem
cat leaf-a.pem inter-a.pem > chain-without-root.pem
cat leaf-n.pem inter-a.pem root-a.pem > chain-wrong-name.pem
cat leaf-t.pem inter-a.pem root-a.pem > chain-expired.pem
cat leaf-u.pem inter-a.pem root-a.pem > chain-client-only.pem
