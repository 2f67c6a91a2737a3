#!/usr/bin/env bash
# Runs a Windows program under Wine in a 64-bit prefix that a build owns (never ~/.wine), making
# the prefix first when it is missing. The program's exit code is passed through.
# The loader is chosen here, not by Debian's wine wrapper, which picks the 32-bit loader whenever
# its file exists even where the kernel will not run it: "wine" where 32-bit code runs (32-bit
# programs then run under WOW64), else /usr/lib/wine/wine64, which runs 64-bit programs only.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${QERV_WINEPREFIX:-$root/build/wineprefix}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko download prompts: the program needs neither.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

if [ "$("$root/scripts/wine-arch.sh")" = 32 ]; then
  loader=wine
else
  loader=/usr/lib/wine/wine64
  # Programs that Wine starts in turn use the same loader.
  export WINELOADER=$loader
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$loader" wineboot.exe -i >/dev/null 2>&1
      wineserver -w
    fi
  ) 9>"$WINEPREFIX.lock"
fi
exec "$loader" "$@"
