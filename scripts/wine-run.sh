#!/usr/bin/env bash
# Runs a Windows program under Wine in a 64-bit prefix that a build owns (never ~/.wine), making
# the prefix first when it is missing. The program's exit code is passed through.
# The loader is chosen here, not by Debian's wine wrapper, which picks the 32-bit loader whenever
# its file exists even where the kernel will not run it: "wine" where 32-bit code runs (32-bit
# programs then run under WOW64), else /usr/lib/wine/wine64, which runs 64-bit programs only.
#   wine-run.sh --keep-server SECONDS   starts the prefix's Wine server (making the prefix first)
#                                       so that it stays up SECONDS after its last program ends:
#                                       many short programs in a row then start in a fraction of
#                                       the time; wineserver -k stops it.
#   wine-run.sh --gtest-env PROGRAM [--gtest_OPTION[=VALUE]...]
#                                       runs a GoogleTest program with its options moved into the
#                                       environment (GTEST_OPTION=VALUE), so that a case that runs
#                                       gets no argument; only listing, which GoogleTest takes from
#                                       the command line alone, stays an argument.
# QERV_SERVERS_ENV, when it names an existing file, is sourced first: the loopback servers that
# scripts/test-servers.sh keeps running leave their addresses there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${QERV_WINEPREFIX:-$root/build/wineprefix}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko download prompts: the program needs neither.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

if [ -n "${QERV_SERVERS_ENV:-}" ] && [ -f "$QERV_SERVERS_ENV" ]; then
  # shellcheck disable=SC1090
  . "$QERV_SERVERS_ENV"
fi

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
if [ "${1:-}" = --gtest-env ]; then
  program=$2
  shift 2
  arguments=()
  for option in "$@"; do
    case $option in
      --gtest_list_tests) arguments+=("$option") ;;
      --gtest_*=*) name=${option%%=*}; name=${name#--gtest_}; export "GTEST_${name^^}=${option#*=}" ;;
      --gtest_*) name=${option#--gtest_}; export "GTEST_${name^^}=1" ;;
      *) echo "wine-run.sh: not a GoogleTest option: $option" >&2; exit 2 ;;
    esac
  done
  set -- "$program" "${arguments[@]}"
  # Wine now and then fails to start a program at all ("ShellExecuteEx failed"), most often
  # right after the previous one ended: the case never ran, so its start is tried once more.
  errors=$(mktemp)
  for attempt in 1 2; do
    set +e
    "$loader" "$@" 2>"$errors"
    rc=$?
    set -e
    cat "$errors" >&2
    if [ "$attempt" = 2 ] || ! grep -q "ShellExecuteEx failed" "$errors"; then break; fi
    sleep 1
  done
  rm -f "$errors"
  exit "$rc"
fi
if [ "${1:-}" = --keep-server ]; then
  wineserver -k 2>/dev/null || true
  # Detached from the caller's output, so that ctest does not wait for the server to end. The
  # first program starts the prefix's own services; later ones find them running.
  wineserver -p"${2:?seconds}" </dev/null >/dev/null 2>&1
  exec "$loader" cmd.exe /c exit </dev/null >/dev/null 2>&1
fi
exec "$loader" "$@"
