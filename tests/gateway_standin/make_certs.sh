#!/usr/bin/env bash
# Makes a test certificate authority and the certificates the tests need, in folder $1:
#   ca.pem                 the test CA (given to the module through SSL_CERT_FILE)
#   gateway.pem/.key       signed by the CA for 127.0.0.1, localhost and the gateway host
#   otherhost.pem/.key     signed by the CA, but for another host name only
#   selfsigned.pem/.key    self-signed for 127.0.0.1 and the gateway host: untrusted
set -euo pipefail
out=${1:?usage: make_certs.sh OUTDIR [gateway-host]}
host=${2:-passerelle.valmora.fr}
mkdir -p "$out"
out=$(cd "$out" && pwd)
cd "$out"
if [ -s gateway.pem ] && [ -s ca.pem ] && grep -q "$host" names.txt 2>/dev/null; then
  exit 0
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
quiet() { "$@" >/dev/null 2>&1; }

quiet openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Valmora Test CA" \
  -keyout "$tmp/ca.key" -out "$tmp/ca.pem" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"

sign() { # name san
  quiet openssl req -newkey rsa:2048 -nodes -subj "/CN=$1" -keyout "$tmp/$1.key" -out "$tmp/$1.csr"
  printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' "$2" > "$tmp/$1.ext"
  quiet openssl x509 -req -in "$tmp/$1.csr" -CA "$tmp/ca.pem" -CAkey "$tmp/ca.key" -CAcreateserial \
    -days 30 -extfile "$tmp/$1.ext" -out "$tmp/$1.pem"
}
sign gateway "DNS:localhost,DNS:$host,IP:127.0.0.1"
sign otherhost "DNS:autre-hote.example"
quiet openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=$host" \
  -keyout "$tmp/selfsigned.key" -out "$tmp/selfsigned.pem" \
  -addext "subjectAltName=DNS:localhost,DNS:$host,IP:127.0.0.1"

echo "$host" > "$tmp/names.txt"
# Move into place last, so that a concurrent reader never sees half a set.
for f in ca.pem gateway.pem gateway.key otherhost.pem otherhost.key selfsigned.pem selfsigned.key names.txt; do
  mv "$tmp/$f" "$out/$f.new.$$"
  mv "$out/$f.new.$$" "$out/$f"
done
