#!/usr/bin/env bash
# Prints the pin of every key here: Base64 of SHA-256 over the DER SubjectPublicKeyInfo.
set -euo pipefail
cd "$(dirname "$0")"
for k in *.key; do
  printf '%-14s %s\n' "${k%.key}" "$(openssl pkey -in "$k" -pubout -outform DER | openssl dgst -sha256 -binary | base64)"
done
