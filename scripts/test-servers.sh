#!/usr/bin/env bash
# Keeps the loopback servers of scripts/with-servers.sh running across many test processes, for
# ctest's fixtures: "start DIR" starts them in the background and returns once they listen,
# leaving their environment in DIR/env (sourced by scripts/wine-run.sh when QERV_SERVERS_ENV
# names it); "stop DIR" stops them and waits until they are gone. They end by themselves after
# QERV_SERVER_LIFETIME seconds even if stop never comes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
action=${1:?start or stop}
state=${2:?state folder}

stop() {
  [ -d "$state" ] || return 0
  touch "$state/stop"
  if [ -f "$state/pid" ]; then
    local pid
    pid=$(cat "$state/pid")
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill "$pid" 2>/dev/null || true
  fi
  rm -rf "$state"
}

case $action in
  start)
    stop
    mkdir -p "$state"
    # Detached from the caller's output, so that ctest does not wait for the servers to end.
    QERV_SERVER_LIFETIME=${QERV_SERVER_LIFETIME:-1800} nohup "$root/scripts/with-servers.sh" \
      sh -c 'export -p | grep " QERV_TEST_" >"$1.tmp" && mv "$1.tmp" "$1"
             while [ ! -f "$2" ]; do sleep 0.2; done' sh "$state/env" "$state/stop" \
      >"$state/log" 2>&1 </dev/null &
    echo $! >"$state/pid"
    for _ in $(seq 300); do
      [ -f "$state/env" ] && exit 0
      kill -0 "$(cat "$state/pid")" 2>/dev/null || break
      sleep 0.1
    done
    cat "$state/log" >&2
    stop
    exit 1
    ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
