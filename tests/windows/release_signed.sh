#!/usr/bin/env bash
# Signs the release with a throwaway key, once as a key file and once on a
# PKCS#11 token (SoftHSM2), and fails unless both give the same files; the
# program, the custom action and the MSI verify against the throwaway CA;
# removing the signatures gives back the tested binaries; the signed MSI
# and zip carry the signed binaries, the SBOM names the signed program's
# hash, and the MSI installs in the Wine prefix (its custom
# action signed and all), and leaves a program there that still verifies. A
# release asked to sign with half a configuration, or with a key that is not
# the certificate's, must stop and publish nothing.
#
#   release_signed.sh PROJECT_ROOT WORK_DIRECTORY TESTED_PROGRAM TESTED_ACTION
#                     WINE_PREFIX
set -euo pipefail
root=$1 work=$2 tested=$3 tested_action=$4 prefix=$5

rm -rf "$work"
mkdir -p "$work/keys" "$work/tokens"
cd "$work/keys"
status=0
failed() {
  echo "$*" >&2
  status=1
}

# A CA and a code-signing certificate it issued, valid since well before
# the commit's time, which the signatures carry.
cat >extensions.cnf <<'EOF'
[ca]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign
subjectKeyIdentifier = hash
[signer]
basicConstraints = critical,CA:false
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF
at_2000() {
  faketime -f "2000-01-01 00:00:00" "$@" 2>/dev/null
}
at_2000 openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem \
  -days 36500 -subj "/CN=svcentry test CA" -config extensions.cnf -extensions ca
at_2000 openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr \
  -subj "/CN=svcentry test signer"
at_2000 openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key \
  -set_serial 2 -days 36500 -extfile extensions.cnf -extensions signer \
  -out signer.pem
openssl genrsa -out stranger.key 2048 2>/dev/null
cat signer.pem ca.pem >chain.pem

# The same key on a token.
export SOFTHSM2_CONF=$work/softhsm2.conf
printf 'directories.tokendir = %s\nobjectstore.backend = file\n' \
  "$work/tokens" >"$SOFTHSM2_CONF"
softhsm2-util --init-token --free --label svcentry --pin 1234 \
  --so-pin 5678 >/dev/null
openssl pkcs8 -topk8 -nocrypt -in signer.key -out signer.p8
softhsm2-util --import signer.p8 --token svcentry --label signer --id 01 \
  --pin 1234 >/dev/null
module=/usr/lib/softhsm/libsofthsm2.so
uri="pkcs11:token=svcentry;object=signer;type=private"

unset SVCENTRY_SIGN_CERT SVCENTRY_SIGN_KEY SVCENTRY_SIGN_PKCS11_MODULE \
  SVCENTRY_SIGN_PASSWORD SVCENTRY_SIGN_TIMESTAMP_URL
# release NAME [VARIABLE=VALUE...]: releases into WORK_DIRECTORY/NAME with
# these settings.
release() {
  local name=$1
  shift
  (export "$@" && "$root/scripts/release" "$work/$name" \
    >"$work/$name.out" 2>"$work/$name.err")
}
# refused NAME MESSAGE [VARIABLE=VALUE...]: the release stops with MESSAGE
# and publishes nothing.
refused() {
  local name=$1 message=$2
  shift 2
  if release "$name" "$@"; then
    failed "$name: the release went on"
  elif ! grep -qF "$message" "$work/$name.err"; then
    failed "$name: it does not say \"$message\":" "$(cat "$work/$name.err")"
  fi
  local left
  left=$(ls -A "$work/$name" 2>/dev/null | grep -vx tree || true)
  [ -z "$left" ] || failed "$name: it left" $left
}
refused only-certificate "set both SVCENTRY_SIGN_CERT and SVCENTRY_SIGN_KEY" \
  SVCENTRY_SIGN_CERT="$PWD/chain.pem"
refused only-key "set both SVCENTRY_SIGN_CERT and SVCENTRY_SIGN_KEY" \
  SVCENTRY_SIGN_KEY="$PWD/signer.key"
refused stranger "Is SVCENTRY_SIGN_KEY the key of the certificate" \
  SVCENTRY_SIGN_CERT="$PWD/chain.pem" SVCENTRY_SIGN_KEY="$PWD/stranger.key"

# signed NAME [VARIABLE=VALUE...]: the release is made with these settings.
signed() {
  release "$@" || {
    cat "$work/$1.err" >&2
    exit 1
  }
}
signed file SVCENTRY_SIGN_CERT="$PWD/chain.pem" \
  SVCENTRY_SIGN_KEY="$PWD/signer.key"
signed token SVCENTRY_SIGN_CERT="$PWD/chain.pem" SVCENTRY_SIGN_KEY="$uri" \
  SVCENTRY_SIGN_PKCS11_MODULE="$module" SVCENTRY_SIGN_PASSWORD=1234 \
  SVCENTRY_SIGN_ENVIRONMENT=SOFTHSM2_CONF

cd "$work/file"
grep -q '^Built [^ ]*, signed, ' "$work/file.out" || failed "the release does not say it is signed"
for name in SHA256SUMS $(awk '{print $2}' SHA256SUMS); do
  cmp "$name" "../token/$name" ||
    failed "$name differs between the key file and the token"
done
sha256sum -c --quiet SHA256SUMS || failed "SHA256SUMS does not list the signed files"
msi=$(ls svcentry-*-x64.msi)
# Each verifies pinned to the signer's certificate, as the README shows, and
# none pinned to another one.
leaf_hash() {
  openssl x509 -in "$1" -outform DER | sha256sum | cut -d' ' -f1
}
signer_hash=$(leaf_hash ../keys/signer.pem)
other_hash=$(leaf_hash ../keys/ca.pem)
for name in svcentry.exe svcentry-msi.dll "$msi"; do
  osslsigncode verify -CAfile ../keys/ca.pem \
    -require-leaf-hash "sha256:$signer_hash" -in "$name" \
    >"$work/verify.out" 2>&1 ||
    failed "$name does not verify:" "$(cat "$work/verify.out")"
  if osslsigncode verify -CAfile ../keys/ca.pem \
    -require-leaf-hash "sha256:$other_hash" -in "$name" >/dev/null 2>&1; then
    failed "$name verifies pinned to a certificate that did not sign it"
  fi
done
osslsigncode remove-signature -in svcentry.exe -out "$work/unsigned.exe" >/dev/null
cmp "$work/unsigned.exe" "$tested" ||
  failed "svcentry.exe without its signature is not the tested program"
osslsigncode remove-signature -in svcentry-msi.dll -out "$work/unsigned.dll" \
  >/dev/null
cmp "$work/unsigned.dll" "$tested_action" ||
  failed "svcentry-msi.dll without its signature is not the tested one"
msiextract -C "$work" "$msi" >/dev/null
cmp svcentry.exe "$work/svcentry/svcentry.exe" ||
  failed "the signed MSI does not carry the signed program"
msiinfo extract "$msi" Binary.SvcentryMsi | cmp - svcentry-msi.dll ||
  failed "the signed MSI does not carry the signed custom action"
unzip -p svcentry-*-windows-x86_64.zip svcentry.exe | cmp - svcentry.exe ||
  failed "the signed zip does not carry the signed program"
grep -q "$(sha256sum <svcentry.exe | cut -d' ' -f1)" svcentry-*.cdx.json ||
  failed "the signed release's SBOM does not name the signed program"

# The signed MSI installs, its signed custom action registering the entry in
# the prefix's services file, and what it installs still verifies.
windows_msi="Z:$(realpath "$msi" | tr / '\\')"
wine() {
  "$root/scripts/wine" "$prefix" msiexec "$@" </dev/null >/dev/null 2>&1
}
wine /x "$windows_msi" /qn || true
if wine /i "$windows_msi" /qn; then
  installed="$prefix/drive_c/Program Files/svcentry/svcentry.exe"
  osslsigncode verify -CAfile ../keys/ca.pem -in "$installed" \
    >"$work/verify.out" 2>&1 ||
    failed "the installed program does not verify:" "$(cat "$work/verify.out")"
else
  failed "the signed MSI does not install"
fi
wine /x "$windows_msi" /qn || failed "the signed MSI does not uninstall"
exit $status
