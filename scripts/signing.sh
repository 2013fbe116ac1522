# Authenticode signing of the release, as the SVCENTRY_SIGN_* variables ask
# (docs/development.md, "Signing"). Signatures are SHA-256 and carry the time
# SOURCE_DATE_EPOCH, so an RSA key gives the same bytes, save with a time stamp.
# shellcheck shell=bash

# signing_requested: whether a certificate and a key are set; stops when only one is.
signing_requested() {
  local cert=${SVCENTRY_SIGN_CERT:-} key=${SVCENTRY_SIGN_KEY:-}
  [ -n "$cert$key" ] || return 1
  [ -n "$cert" ] && [ -n "$key" ] || fail "set both SVCENTRY_SIGN_CERT and SVCENTRY_SIGN_KEY" \
    "to sign, or neither for an unsigned release"
  [ -r "$cert" ] || fail "SVCENTRY_SIGN_CERT: cannot read $cert"
  if [[ $key != pkcs11:* ]]; then
    [ -r "$key" ] || fail "SVCENTRY_SIGN_KEY: cannot read $key"
  elif [ ! -r "${SVCENTRY_SIGN_PKCS11_MODULE:-}" ]; then
    fail "SVCENTRY_SIGN_KEY is a PKCS#11 URI: set SVCENTRY_SIGN_PKCS11_MODULE to the" \
      "token's module, a file to read"
  fi
}

# sign_file IN OUT PRIVATE_DIRECTORY: IN signed to OUT; the passphrase goes in a private file.
sign_file() {
  local options=(-h sha256 -time "$SOURCE_DATE_EPOCH" -n svcentry
    -certs "$SVCENTRY_SIGN_CERT" -key "$SVCENTRY_SIGN_KEY") status=0
  # OpenSSL's pkcs11 engine (libengine-pkcs11-openssl) loads the module.
  [[ $SVCENTRY_SIGN_KEY != pkcs11:* ]] || options+=(-pkcs11module "$SVCENTRY_SIGN_PKCS11_MODULE")
  if [ -n "${SVCENTRY_SIGN_PASSWORD:-}" ]; then
    (umask 077 && printf '%s' "$SVCENTRY_SIGN_PASSWORD" >"$3/password")
    options+=(-readpass "$3/password")
  fi
  [ -z "${SVCENTRY_SIGN_TIMESTAMP_URL:-}" ] || options+=(-ts "$SVCENTRY_SIGN_TIMESTAMP_URL")
  osslsigncode sign "${options[@]}" -in "$1" -out "$2" >"$3/log" 2>&1 || status=$?
  rm -f "$3/password"
  [ $status -eq 0 ] && return
  cat "$3/log" >&2
  fail "osslsigncode could not sign $(basename "$1"). Is SVCENTRY_SIGN_KEY the key of the" \
    "certificate in SVCENTRY_SIGN_CERT, and SVCENTRY_SIGN_PASSWORD its passphrase or PIN?" \
    "Nothing was released."
}
