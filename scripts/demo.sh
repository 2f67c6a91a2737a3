#!/usr/bin/env bash
# The main job, end to end: installs what is missing, builds, packs a sample installer with the
# publisher's tool qerv-pack, serves it over HTTPS from nginx on 127.0.0.1, runs the real
# QervSetupOnline.exe under Wine (on a private Xvfb display when there is no DISPLAY) and reports
# what happened: the dialog's status line and screenshots, the trace lines, the download trace
# log, and the command line the installer was started with. Ends by itself; every server and Wine
# process it starts is stopped.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh
# The shipped 32-bit program where Wine runs 32-bit code; elsewhere the 64-bit build of the same
# sources, which behaves as the 32-bit program does on 64-bit Windows (scripts/wine-arch.sh).
if [ "$(scripts/wine-arch.sh)" = 32 ]; then preset=windows; else preset=windows-x64; fi
cmake --preset host-release >/dev/null && cmake --build --preset host-release
cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset"
export QERV_WIN_BUILD=${QERV_WIN_BUILD:-$root/build/$preset}

out=${QERV_DEMO_DIR:-$root/artifacts/demo}
rm -rf "$out"
mkdir -p "$out"
# Whatever happens, nothing of Wine stays behind.
trap 'WINEPREFIX=$QERV_WIN_BUILD/wineprefix-demo wineserver -k >/dev/null 2>&1 || true' EXIT

PYTHONPATH=$root/tests/e2e /usr/bin/python3 scripts/demo_run.py "$out"
