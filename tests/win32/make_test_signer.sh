#!/usr/bin/env bash
# Makes a throwaway code-signing key for the release checks, at test time
# (nothing secret is committed):
#
#   make_test_signer.sh FOLDER
#
# FOLDER/ca.pem          a self-signed CA certificate (two days)
# FOLDER/signer.p12      a PKCS#12 file: an RSA key and its certificate, signed
#                        by that CA for code signing (extendedKeyUsage
#                        codeSigning), with the CA certificate
# FOLDER/password.txt    the PKCS#12 file's random password
# The CA's key is deleted once it has signed the certificate.
set -euo pipefail
dir=${1:?usage: make_test_signer.sh FOLDER}
mkdir -p "$dir"
cd "$dir"
umask 077
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
  -subj "/CN=ZEV release test CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr \
  -subj "/CN=ZEV release test signer" 2>/dev/null
printf '%s\n' 'basicConstraints=CA:FALSE' 'keyUsage=critical,digitalSignature' \
  'extendedKeyUsage=codeSigning' >signer.ext
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
  -extfile signer.ext -out signer.pem 2>/dev/null
openssl rand -hex 16 >password.txt
openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem -out signer.p12 \
  -passout file:password.txt
rm -f ca.key ca.srl signer.key signer.csr signer.ext
echo "throwaway signer: $(openssl x509 -in signer.pem -noout -subject), signed by $(openssl x509 -in ca.pem -noout -subject)"
