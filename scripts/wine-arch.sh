#!/usr/bin/env bash
# Tells which Windows build this machine can run under Wine: prints "32" when Wine's 32-bit loader
# actually starts (the shipped 32-bit program then runs under WOW64 in a 64-bit prefix), else "64"
# (the kernel refuses 32-bit code, so only 64-bit Wine and the 64-bit build run).
# QERV_WINE_ARCH=32 or 64 overrides the answer, to try the other machine kind's path here.
set -euo pipefail
case "${QERV_WINE_ARCH:-}" in
  32 | 64) echo "$QERV_WINE_ARCH"; exit 0 ;;
  "") ;;
  *) echo "QERV_WINE_ARCH must be 32 or 64" >&2; exit 2 ;;
esac
if [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo 32
else
  echo 64
fi
