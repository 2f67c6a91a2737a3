#!/usr/bin/env bash
# The last step of a release build (cmake/release_sign.cmake says what it makes and which
# environment it reads):
#   finish-release.sh SOURCE_DIR PROGRAM FACTS OUT_DIR
# copies the program as linked to OUT_DIR/QervSetupOnline-unsigned.exe, signs it into
# OUT_DIR/QervSetupOnline.exe when the environment gives a key (else says plainly that it is not
# signed and leaves no QervSetupOnline.exe there), and writes the record
# OUT_DIR/QervSetupOnline-release.txt from FACTS and what it finds.
#
# The password reaches osslsigncode and openssl through a pipe and their environment, never on a
# command line; nothing of the key is written anywhere.
set -euo pipefail

source_dir=$1
program=$2
facts=$3
out=$4
osslsigncode=${QERV_OSSLSIGNCODE:-osslsigncode}
openssl=${QERV_OPENSSL:-openssl}

unsigned=$out/QervSetupOnline-unsigned.exe
signed=$out/QervSetupOnline.exe
record=$out/QervSetupOnline-release.txt
mkdir -p "$out"
cp "$program" "$unsigned"
# A program signed in an earlier build is not this build's.
rm -f "$signed" "$signed.part" "$record"

say() { echo "release: $*"; }

# The signer's certificate (PEM) on standard output, from the PKCS#12 file or the certificate file.
signer_certificate() {
  if [ -n "${QERV_SIGN_PKCS12:-}" ]; then
    local password=(-passin pass:)
    if [ -n "${QERV_SIGN_PASSWORD:-}" ]; then password=(-passin env:QERV_SIGN_PASSWORD); fi
    # Files made with older tools use ciphers that OpenSSL 3 keeps in its legacy provider.
    "$openssl" pkcs12 -in "$QERV_SIGN_PKCS12" -clcerts -nokeys "${password[@]}" 2>/dev/null ||
      "$openssl" pkcs12 -legacy -in "$QERV_SIGN_PKCS12" -clcerts -nokeys "${password[@]}"
  else
    "$openssl" x509 -in "$QERV_SIGN_CERT" 2>/dev/null ||
      "$openssl" x509 -inform DER -in "$QERV_SIGN_CERT"
  fi
}

# The subject as qerv-pack shows it (most specific part first), and the pin: the SHA-256 of the
# DER SubjectPublicKeyInfo, what QERV_INSTALLER_SIGNERS takes.
signer_subject() {
  "$openssl" x509 -noout -subject -nameopt esc_2253,utf8,sep_comma_plus_space,dn_rev,sname |
    sed 's/^subject=//'
}
signer_pin() {
  "$openssl" x509 -noout -pubkey | "$openssl" pkey -pubin -outform DER |
    sha256sum | cut -d' ' -f1
}

key=()
if [ -n "${QERV_SIGN_PKCS12:-}" ]; then
  key=(-pkcs12 "$QERV_SIGN_PKCS12")
elif [ -n "${QERV_SIGN_KEY:-}" ] || [ -n "${QERV_SIGN_CERT:-}" ]; then
  if [ -z "${QERV_SIGN_KEY:-}" ] || [ -z "${QERV_SIGN_CERT:-}" ]; then
    say "QERV_SIGN_KEY and QERV_SIGN_CERT go together: give both, or QERV_SIGN_PKCS12" >&2
    exit 1
  fi
  key=(-certs "$QERV_SIGN_CERT" -key "$QERV_SIGN_KEY")
fi

signature="none: no signing key was given, and this program is NOT SIGNED"
if [ ${#key[@]} -eq 0 ]; then
  say "QervSetupOnline.exe is NOT SIGNED: no signing key was given (QERV_SIGN_PKCS12, or" \
    "QERV_SIGN_KEY and QERV_SIGN_CERT). Only $unsigned was made."
else
  options=(-h sha256)
  if [ -n "${QERV_SIGN_DESCRIPTION:-}" ]; then options+=(-n "$QERV_SIGN_DESCRIPTION"); fi
  if [ -n "${QERV_SIGN_URL:-}" ]; then options+=(-i "$QERV_SIGN_URL"); fi
  stamp="no time stamp"
  if [ -n "${QERV_SIGN_TIMESTAMP:-}" ]; then
    options+=(-ts "$QERV_SIGN_TIMESTAMP")
    stamp="time-stamped by $QERV_SIGN_TIMESTAMP"
  fi
  password=()
  if [ -n "${QERV_SIGN_PASSWORD:-}" ]; then password=(-readpass /dev/stdin); fi
  if ! printf '%s' "${QERV_SIGN_PASSWORD:-}" |
    "$osslsigncode" sign "${key[@]}" "${password[@]}" "${options[@]}" \
      -in "$unsigned" -out "$signed.part" >/dev/null; then
    rm -f "$signed.part"
    say "signing QervSetupOnline.exe failed" >&2
    exit 1
  fi
  # The signed program is the unsigned one plus the signature, and nothing else.
  "$osslsigncode" remove-signature -in "$signed.part" -out "$out/removed.part" >/dev/null
  if ! cmp -s "$out/removed.part" "$unsigned"; then
    rm -f "$signed.part" "$out/removed.part"
    say "the signed program without its signature differs from the unsigned one" >&2
    exit 1
  fi
  rm -f "$out/removed.part"
  mv "$signed.part" "$signed"
  certificate=$(signer_certificate)
  subject=$(signer_subject <<<"$certificate")
  pin=$(signer_pin <<<"$certificate")
  version=$("$osslsigncode" --version 2>&1 | sed -n '1s/,.*//p')
  signature="$(basename "$signed"), $(stat -c %s "$signed") bytes
                   SHA-256 $(sha256sum "$signed" | cut -d' ' -f1)
signer:            $subject
signer pin:        $pin
signed with:       $version, SHA-256 digest, $stamp"
  say "QervSetupOnline.exe signed by $subject ($stamp)"
fi

commit=$(git -C "$source_dir" rev-parse HEAD 2>/dev/null || echo "unknown: not a git checkout")
if [ -n "$(git -C "$source_dir" status --porcelain --untracked-files=no 2>/dev/null)" ]; then
  commit="$commit, WITH UNCOMMITTED CHANGES that the commit does not reproduce"
  say "the source has uncommitted changes: this program cannot be rebuilt from the commit" >&2
fi
{
  echo "QervSetupOnline.exe release record"
  echo
  echo "commit:            $commit"
  echo "PE time stamp:     $QERV_SOURCE_DATE_EPOCH ($(date -u -d "@$QERV_SOURCE_DATE_EPOCH" \
    '+%Y-%m-%d %H:%M:%S UTC'), $QERV_SOURCE_DATE_EPOCH_ORIGIN)"
  cat "$facts"
  echo "unsigned program:  $(basename "$unsigned"), $(stat -c %s "$unsigned") bytes"
  echo "                   SHA-256 $(sha256sum "$unsigned" | cut -d' ' -f1)"
  echo "signed program:    $signature"
} >"$record.part"
mv "$record.part" "$record"
say "record: $record"
