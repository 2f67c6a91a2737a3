#!/usr/bin/env bash
# The main job: installs what is missing, builds, packs a sample installer with the host's
# qerv-pack and unpacks it with the Windows build under Wine, then reports what happened.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh
cmake --preset host-release >/dev/null && cmake --build --preset host-release
cmake --preset windows >/dev/null && cmake --build --preset windows

out=${QERV_DEMO_DIR:-$root/artifacts/demo}
rm -rf "$out"
mkdir -p "$out"
trap 'WINEPREFIX=$root/build/wineprefix wineserver -k >/dev/null 2>&1 || true' EXIT

# A sample installer: a real Windows program of this build, so the bytes are those of a PE file.
cp build/windows/tools/qerv-pack/qerv-pack.exe "$out/SampleInstaller.exe"
host_pack=build/host-release/tools/qerv-pack/qerv-pack
win_pack=build/windows/tools/qerv-pack/qerv-pack.exe

echo "== packing on Linux"
"$host_pack" pack "$out/SampleInstaller.exe" "$out/Setup.dat"
"$host_pack" inspect "$out/Setup.dat"
echo "== unpacking with the Windows build under Wine"
scripts/wine-run.sh "$win_pack" unpack "Z:${out//\//\\}\\Setup.dat" "Z:${out//\//\\}\\SetupB.exe"
if cmp -s "$out/SampleInstaller.exe" "$out/SetupB.exe"; then
  echo "== result: the installer came back byte for byte ($(stat -c %s "$out/SetupB.exe") bytes) in $out"
else
  echo "== result: the unpacked installer differs from the original" >&2
  exit 1
fi
