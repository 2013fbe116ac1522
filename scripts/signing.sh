# Authenticode signing for the release, set up by the environment:
#
#   SVCENTRY_SIGN_CERT           the PEM certificate chain
#   SVCENTRY_SIGN_KEY            a PEM key file, or a PKCS#11 URI
#                                (pkcs11:token=...;object=...;type=private)
#   SVCENTRY_SIGN_PKCS11_MODULE  the PKCS#11 module, when the key is a URI
#   SVCENTRY_SIGN_PASSWORD       the key's passphrase or the token's PIN
#   SVCENTRY_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamping service (optional)
#
# Signatures are SHA-256 and carry the signing time SOURCE_DATE_EPOCH, so an
# RSA key gives the same bytes every time, unless a time stamp is asked for.
# shellcheck shell=bash

# signing_requested: whether a certificate and a key are set. Stops the
# release, before anything is built, when only one is, or when what they
# name cannot be used.
signing_requested() {
  local cert=${SVCENTRY_SIGN_CERT:-} key=${SVCENTRY_SIGN_KEY:-}
  [ -z "$cert" ] && [ -z "$key" ] && return 1
  if [ -z "$cert" ] || [ -z "$key" ]; then
    fail "set both SVCENTRY_SIGN_CERT and SVCENTRY_SIGN_KEY to sign, or" \
      "neither for an unsigned release"
  fi
  [ -r "$cert" ] || fail "SVCENTRY_SIGN_CERT: cannot read $cert"
  if [[ $key == pkcs11:* ]]; then
    local module=${SVCENTRY_SIGN_PKCS11_MODULE:-}
    [ -n "$module" ] || fail "SVCENTRY_SIGN_KEY is a PKCS#11 URI: set" \
      "SVCENTRY_SIGN_PKCS11_MODULE to the token's module"
    [ -r "$module" ] || fail "SVCENTRY_SIGN_PKCS11_MODULE: cannot read $module"
  else
    [ -r "$key" ] || fail "SVCENTRY_SIGN_KEY: cannot read $key"
  fi
}

# sign_file IN OUT PRIVATE_DIRECTORY: writes IN signed to OUT. The
# passphrase reaches osslsigncode in a file of PRIVATE_DIRECTORY, not on its
# command line, where other users could read it.
sign_file() {
  local options=(-h sha256 -time "$SOURCE_DATE_EPOCH" -n svcentry
    -certs "$SVCENTRY_SIGN_CERT" -key "$SVCENTRY_SIGN_KEY")
  if [[ $SVCENTRY_SIGN_KEY == pkcs11:* ]]; then
    # OpenSSL's pkcs11 engine, from libp11 (libengine-pkcs11-openssl),
    # loads the module.
    options+=(-pkcs11module "$SVCENTRY_SIGN_PKCS11_MODULE")
  fi
  if [ -n "${SVCENTRY_SIGN_PASSWORD:-}" ]; then
    (umask 077 && printf '%s' "$SVCENTRY_SIGN_PASSWORD" >"$3/password")
    options+=(-readpass "$3/password")
  fi
  if [ -n "${SVCENTRY_SIGN_TIMESTAMP_URL:-}" ]; then
    options+=(-ts "$SVCENTRY_SIGN_TIMESTAMP_URL")
  fi
  local status=0
  osslsigncode sign "${options[@]}" -in "$1" -out "$2" >"$3/log" 2>&1 ||
    status=$?
  rm -f "$3/password"
  if [ $status -ne 0 ]; then
    cat "$3/log" >&2
    fail "osslsigncode could not sign $(basename "$1"). Is SVCENTRY_SIGN_KEY" \
      "the key of the certificate in SVCENTRY_SIGN_CERT, and" \
      "SVCENTRY_SIGN_PASSWORD its passphrase or PIN? Nothing was released."
  fi
}
