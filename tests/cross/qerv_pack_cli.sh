#!/usr/bin/env bash
# The command line of qerv-pack: every bad input gets a message and a non-zero exit, the key is
# stored in the order it is written, inspect and unpack report what they find, pack --signer
# refuses an installer that none of the pins signed.
# usage: qerv_pack_cli.sh QERV_PACK [--wine]
#   --wine runs a Windows build through scripts/wine-run.sh and hands it Z: paths.
#   QERV_SIGNING_FIXTURES, when set, names a Windows build folder whose signed test programs
#   (fixtures/) and test publishers' pins (signing/) the signer checks use.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
tool=${1:?usage: qerv_pack_cli.sh QERV_PACK [--wine]}
wine=${2:-}

work=$(mktemp -d /tmp/qerv-cli.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A path as the tool sees it.
p() { if [ -n "$wine" ]; then echo "Z:${1//\//\\}"; else echo "$1"; fi; }

run() {
  if [ -n "$wine" ]; then
    "$root/scripts/wine-run.sh" "$tool" "$@" >"$work/stdout" 2>"$work/stderr"
  else
    "$tool" "$@" >"$work/stdout" 2>"$work/stderr"
  fi
}

# expect CODE TEXT ARGS...: the exit code, and TEXT somewhere in the output.
expect() {
  local code=$1 text=$2
  shift 2
  run "$@"
  local got=$?
  if [ "$got" -ne "$code" ] || ! grep -qF -- "$text" "$work/stdout" "$work/stderr"; then
    fail "qerv-pack $* gave $got (wanted $code with '$text')"
    sed 's/^/  | /' "$work/stdout" "$work/stderr"
  fi
}

head -c 5000 /dev/urandom >"$work/installer"
: >"$work/empty"
truncate -s 209715173 "$work/too-big"  # one byte more than a package can carry
in=$(p "$work/installer")
pkg=$(p "$work/pkg")

expect 0 "--key HEX8" --help
expect 2 "no command given"
expect 2 "unknown command: frob" frob
expect 2 "pack takes INSTALLER and PACKAGE" pack "$in"
expect 2 "pack takes INSTALLER and PACKAGE" pack "$in" "$pkg" extra
expect 2 "8 hexadecimal digits" pack "$in" "$pkg" --key 0102030
expect 2 "8 hexadecimal digits" pack "$in" "$pkg" --key 0x010203
expect 2 "8 hexadecimal digits" pack "$in" "$pkg" --key 0102030g
expect 2 "--key needs a value" pack "$in" "$pkg" --key
expect 2 "--key given twice" pack "$in" "$pkg" --key 01020304 --key 01020304
expect 2 "unknown option for pack: --frob" pack "$in" "$pkg" --frob
expect 2 "inspect takes PACKAGE" inspect
expect 2 "unpack takes PACKAGE and OUT" unpack "$pkg"
expect 1 "cannot open the installer" pack "$(p "$work/missing")" "$pkg"
expect 1 "is empty" pack "$(p "$work/empty")" "$pkg"
expect 1 "more than the 209715172 that fit" pack "$(p "$work/too-big")" "$pkg"
pin=$(printf '%064d' 0)
expect 2 "64 hexadecimal digits, not '${pin}0'" pack "$in" "$pkg" --signer "${pin}0"
expect 2 "64 hexadecimal digits, not ''" pack "$in" "$pkg" --signer ""
expect 2 "--signer needs a value" pack "$in" "$pkg" --signer
expect 1 "refused: not a program: no MZ header" pack "$in" "$pkg" --signer "$pin"
[ -e "$work/pkg" ] && fail "a refused installer left a package"

expect 0 "with key 01020304" pack --key 01020304 "$in" "$pkg"
[ "$(od -An -tx1 -j4 -N4 "$work/pkg" | tr -d ' \n')" = 01020304 ] ||
  fail "the key is not stored in the order it is written"
expect 0 "digest: matches" inspect "$pkg"
expect 0 "key:    01020304" inspect "$pkg"
expect 0 "signer: none (not a program: no MZ header)" inspect "$pkg"
expect 0 "result 0: installer written" unpack "$pkg" "$(p "$work/out")"
cmp -s "$work/installer" "$work/out" || fail "unpack differs"

# One changed payload byte.
cp "$work/pkg" "$work/bad"
printf '\x55' | dd of="$work/bad" bs=1 seek=2000 conv=notrunc status=none
expect 1 "digest: differs" inspect "$(p "$work/bad")"
expect 1 "result 6:" unpack "$(p "$work/bad")" "$(p "$work/out-bad")"
[ -e "$work/out-bad" ] && fail "a mismatch left an output"
head -c 10 "$work/pkg" >"$work/short"
expect 1 "too few for a package header" inspect "$(p "$work/short")"
expect 1 "cannot open the package" inspect "$(p "$work/missing")"
expect 1 "result -1:" unpack "$(p "$work/missing")" "$(p "$work/out-missing")"

# Signed, otherwise signed and unsigned builds of one test program.
fixtures=${QERV_SIGNING_FIXTURES:-}
if [ -z "$fixtures" ]; then
  echo "signer checks skipped: QERV_SIGNING_FIXTURES names no Windows build with signed fixtures"
elif [ ! -f "$fixtures/fixtures/fixture_recorder_unsigned.exe" ] ||
     [ ! -f "$fixtures/signing/other.pin" ]; then
  fail "QERV_SIGNING_FIXTURES=$fixtures holds no signed fixtures or pins"
else
  fixtures=$(cd "$fixtures" && pwd)
  publisher=$(cat "$fixtures/signing/publisher.pin")
  other=$(cat "$fixtures/signing/other.pin")
  signed=$(p "$fixtures/fixtures/fixture_recorder.exe")
  signed_other=$(p "$fixtures/fixtures/fixture_recorder_other.exe")
  unsigned=$(p "$fixtures/fixtures/fixture_recorder_unsigned.exe")
  subject="signer: CN=Qerv Test Publisher, O=Qerv Test, C=XX"
  expect 0 "$subject" inspect "$signed"
  expect 0 "signer pin: $publisher" inspect "$signed"
  expect 0 "signer: none (the program is not signed)" inspect "$unsigned"

  expect 0 "packed" pack "$signed" "$(p "$work/signed.pkg")" --signer "$publisher"
  expect 0 "$subject" inspect "$(p "$work/signed.pkg")"
  expect 0 "signer pin: $publisher" inspect "$(p "$work/signed.pkg")"
  expect 0 "packed" pack "$signed" "$(p "$work/either.pkg")" --signer "$other" --signer "$publisher"
  [ -s "$work/either.pkg" ] || fail "a package signed by the second --signer was not written"

  expect 1 "CN=Qerv Other Publisher, O=Qerv Test, C=XX has the key pin $other" \
    pack "$signed_other" "$(p "$work/other.pkg")" --signer "$publisher"
  expect 1 "refused: the program is not signed" \
    pack "$unsigned" "$(p "$work/unsigned.pkg")" --signer "$publisher"
  for refused in other unsigned; do
    [ -e "$work/$refused.pkg" ] && fail "the refused $refused installer left a package"
  done
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures command-line check(s) failed for $tool"
  exit 1
fi
echo "command line of $tool: all checks passed"
