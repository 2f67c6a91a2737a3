#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own 64-bit prefix (never ~/.wine), making the
# prefix first when it is missing. The program's exit code is passed through.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${QERV_WINEPREFIX:-$root/build/wineprefix}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko download prompts: the program needs neither.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      wineboot -i >/dev/null 2>&1
      wineserver -w
    fi
  ) 9>"$WINEPREFIX.lock"
fi
exec wine "$@"
