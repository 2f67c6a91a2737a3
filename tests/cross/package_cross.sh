#!/usr/bin/env bash
# Packages are the same on both platforms: the host and Windows builds of qerv-pack make the same
# package from the same installer and key, and a package made by either decodes byte-exact with
# the other (the Windows build under Wine). Both builds' command lines are checked as well.
# usage: package_cross.sh HOST_QERV_PACK WIN_QERV_PACK_EXE
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 HOST_QERV_PACK WIN_QERV_PACK_EXE" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
host=$1
win=$2
for tool in "$host" "$win"; do
  [ -x "$tool" ] || { echo "not built: $tool" >&2; exit 2; }
done

work=$(mktemp -d /tmp/qerv-cross.XXXXXX)
trap 'rm -rf "$work"' EXIT

winpath() { echo "Z:${1//\//\\}"; }
win_pack() { "$root/scripts/wine-run.sh" "$win" "$@" >/dev/null; }
same() { cmp "$1" "$2" || { echo "FAIL: $3"; exit 1; }; }

# Sizes around the 16-byte masking pattern and the 40,960-byte pieces; key bytes that are
# multiples of 8 (no rotation), all ones, mixed.
for size in 1 17 40933 300001; do
  head -c "$size" /dev/urandom >"$work/installer"
  for key in 08101820 ffffffff 9e3779b9; do
    what="$size bytes, key $key"
    "$host" pack "$work/installer" "$work/host.pkg" --key "$key" >/dev/null
    win_pack pack "$(winpath "$work/installer")" "$(winpath "$work/win.pkg")" --key "$key"
    same "$work/host.pkg" "$work/win.pkg" "packages differ ($what)"

    win_pack unpack "$(winpath "$work/host.pkg")" "$(winpath "$work/from-host")"
    same "$work/installer" "$work/from-host" "host -> Windows ($what)"
    "$host" unpack "$work/win.pkg" "$work/from-win" >/dev/null
    same "$work/installer" "$work/from-win" "Windows -> host ($what)"
    rm -f "$work/win.pkg" "$work/from-host" "$work/from-win"
  done
  # A random key from the Windows build, decoded on the host.
  win_pack pack "$(winpath "$work/installer")" "$(winpath "$work/win.pkg")"
  "$host" unpack "$work/win.pkg" "$work/from-win" >/dev/null
  same "$work/installer" "$work/from-win" "Windows -> host ($size bytes)"
  rm -f "$work/from-host" "$work/from-win" "$work/win.pkg"
done
echo "packages: host and Windows builds agree"

# The Windows build (<build>/tools/qerv-pack/qerv-pack.exe) holds the signed test programs.
QERV_SIGNING_FIXTURES=${QERV_SIGNING_FIXTURES:-$(cd "$(dirname "$win")/../.." && pwd)}
export QERV_SIGNING_FIXTURES
"$here/qerv_pack_cli.sh" "$host"
"$here/qerv_pack_cli.sh" "$win" --wine
