#!/usr/bin/env bash
# Makes the certificates of the TLS fault tests, once; the results are committed so that the tests
# need no openssl at run time. All of them are valid until 2126 and good for 127.0.0.1 only.
#   test-ca.pem            a certificate authority the tests trust for the length of one test
#   trusted.pem/.key       127.0.0.1, signed by test-ca: the backend as it should be
#   self-signed.pem/.key   127.0.0.1, signed by itself: the certificate no client may accept
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
days=36500
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$work/ca.key" -out test-ca.pem \
    -days $days -subj "/CN=Fennimar test CA" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout trusted.key -out "$work/trusted.csr" \
    -subj "/CN=127.0.0.1" 2>/dev/null
printf 'subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' >"$work/ext"
openssl x509 -req -in "$work/trusted.csr" -CA test-ca.pem -CAkey "$work/ca.key" -CAcreateserial -CAserial "$work/ca.srl" \
    -out trusted.pem -days $days -extfile "$work/ext" 2>/dev/null
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout self-signed.key -out self-signed.pem \
    -days $days -subj "/CN=127.0.0.1" -addext "subjectAltName=IP:127.0.0.1" 2>/dev/null
