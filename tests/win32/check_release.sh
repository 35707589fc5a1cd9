#!/usr/bin/env bash
# Checks a signed package executable, as the build signed it, against the
# unsigned file it was signed from and the CA that signed the signing
# certificate (tests/win32/make_test_signer.sh):
#
#   check_release.sh SIGNED.exe UNSIGNED.exe CA.pem [FIRMWARE_IMAGE]
#
# - osslsigncode verify -CAfile CA accepts the signature (SHA-256);
# - a changed byte inside .text, or in the headers (the COFF header's
#   TimeDateStamp), makes the verification fail; a changed CheckSum does not
#   (Authenticode leaves the CheckSum and the certificate-table entry out of
#   its digest: the check that the offsets are read right);
# - remove-signature gives the unsigned file byte for byte, and the extracted
#   signature attached to the unsigned file gives the signed file byte for
#   byte (how a release's signature is compared with a rebuild);
# - the signed file passes tests/win32/check_package.sh under Wine.
# Exits 1 when any check fails.
set -uo pipefail

signed=${1:?usage: check_release.sh SIGNED.exe UNSIGNED.exe CA.pem [FIRMWARE_IMAGE]}
unsigned=${2:?usage: check_release.sh SIGNED.exe UNSIGNED.exe CA.pem [FIRMWARE_IMAGE]}
ca=${3:?usage: check_release.sh SIGNED.exe UNSIGNED.exe CA.pem [FIRMWARE_IMAGE]}
image=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/zev-win32-release.XXXXXX)
trap 'rm -rf "$work"' EXIT

failures=0
pass() { printf 'ok   %s\n' "$1"; }
fail() {
  printf 'FAIL %s\n' "$1"
  failures=$((failures + 1))
}
verify() { osslsigncode verify -CAfile "$ca" -in "$1" >"$work/verify.out" 2>&1; }

# The offsets the checks change, read from the file's own headers (PE32+):
# e_lfanew at 0x3c; the COFF header after the 4-byte signature, TimeDateStamp
# at +4; the optional header after the 20-byte COFF header, CheckSum at +64;
# the first section header whose name is .text, its PointerToRawData at +20.
read -r stamp_at checksum_at text_at < <(perl -e '
  open(my $f, "<:raw", $ARGV[0]) or die "$ARGV[0]: $!\n";
  local $/;
  my $d = <$f>;
  my $pe = unpack("V", substr($d, 0x3c, 4));
  die "not a PE file\n" unless substr($d, $pe, 4) eq "PE\0\0";
  my ($sections, $optional_size) = unpack("x2 v x12 v", substr($d, $pe + 4, 20));
  my $optional = $pe + 24;
  die "not PE32+\n" unless unpack("v", substr($d, $optional, 2)) == 0x20b;
  my $table = $optional + $optional_size;
  for my $i (0 .. $sections - 1) {
    my $h = substr($d, $table + 40 * $i, 40);
    next unless substr($h, 0, 8) eq ".text\0\0\0";
    my $raw = unpack("V", substr($h, 20, 4));
    printf "%d %d %d\n", $pe + 8, $optional + 64, $raw + 0x100;
    exit 0;
  }
  die "no .text section\n";
' "$signed")
if [[ -z "${text_at:-}" ]]; then
  echo "FAIL $signed: headers unreadable"
  exit 1
fi

if verify "$signed" && grep -q '^Signature verification: ok' "$work/verify.out" &&
  grep -q '^Message digest algorithm  : SHA256' "$work/verify.out"; then
  pass "signature (SHA-256) verified against the throwaway CA $(openssl x509 -in "$ca" -noout -subject)"
else
  fail "signature not verified against $ca"
  tail -20 "$work/verify.out"
fi

# tampered NAME OFFSET EXPECTATION(fails|passes): a copy with the byte at
# OFFSET inverted, verified.
tampered() {
  cp "$signed" "$work/tampered.exe"
  perl -e '
    open(my $f, "+<:raw", $ARGV[0]) or die;
    seek($f, $ARGV[1], 0); read($f, my $b, 1);
    seek($f, $ARGV[1], 0); print $f chr(ord($b) ^ 0xff);
  ' "$work/tampered.exe" "$2"
  if verify "$work/tampered.exe"; then result=passes; else result=fails; fi
  if [[ "$result" == "$3" ]]; then
    pass "a changed byte in $1 (offset $2): verification $result"
  else
    fail "a changed byte in $1 (offset $2): verification $result, expected it to $3"
    grep -E 'verification|digest' "$work/verify.out"
  fi
}
tampered ".text" "$text_at" fails
tampered "the COFF header's TimeDateStamp" "$stamp_at" fails
tampered "the CheckSum (outside the signed digest)" "$checksum_at" passes

if osslsigncode remove-signature -in "$signed" -out "$work/removed.exe" >/dev/null 2>&1 &&
  cmp -s "$work/removed.exe" "$unsigned"; then
  pass "remove-signature gives the unsigned file byte for byte ($(sha256sum "$unsigned" | cut -d' ' -f1))"
else
  fail "remove-signature does not give the unsigned file"
fi
if osslsigncode extract-signature -in "$signed" -out "$work/signature.der" >/dev/null 2>&1 &&
  osslsigncode attach-signature -sigin "$work/signature.der" -CAfile "$ca" -in "$unsigned" \
    -out "$work/attached.exe" >/dev/null 2>&1 && cmp -s "$work/attached.exe" "$signed"; then
  pass "the extracted signature attached to the unsigned file gives the signed file"
else
  fail "extract-signature and attach-signature do not give the signed file"
fi

echo "-- the signed executable under Wine (check_package.sh)"
if bash "$here/check_package.sh" "$signed" ${image:+"$image"}; then
  pass "the signed executable passes check_package.sh"
else
  fail "the signed executable fails check_package.sh"
fi

if ((failures)); then
  echo "$failures release check(s) of $(basename "$signed") failed"
  exit 1
fi
echo "all release checks of $(basename "$signed") passed"
