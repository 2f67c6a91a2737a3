#!/usr/bin/env bash
# Times the two download paths on a 200 MiB package served by the loopback nginx, under Wine,
# beside minimal transfers over the same APIs, and a whole run's download stage over a good link
# and over one that drops every 25 MiB, and prints a table of medians:
#   curl-path / curl-ref        DownloadURLByHTTPS against a bare libcurl transfer (HTTPS)
#   winhttp-path / winhttp-ref  SafeDownloadFile with its log against a bare WinHTTP loop,
#                               over HTTPS and over plain HTTP
#   winhttp-path-nolog          SafeDownloadFile with the trace log made unwritable
#   run/good, run/cut-25MiB     the worker's download stage (six attempts at most, each try
#                               resuming what the last one left, with the prescribed waits) and the
#                               decoding: the time to a decoded installer, for a packed 200 MiB
#                               package served by nginx whole, and by the fault server, which nginx
#                               hands it to, closing each connection after 25 MiB
# Every run is a fresh process (bench/download_bench/download_bench.exe MODE URL FILE), so that
# its peak working set is its own; the rounds interleave the modes. The log's share of the
# WinHTTP path is given twice: its lines written again alone, one WinHTTPLibLogLine call each,
# after the download (the calls' aggregate cost), and the time saved when no line can be written.
# Targets, printed and not enforced: each path's peak working set at most 16 MiB above the idle
# process's; the libcurl path within 1.1x its reference, the WinHTTP path within 1.3x its own.
# Usage: bench/download_bench.sh [BUILD_DIR] [ROUNDS]   (BUILD_DIR: a Windows build with the
# download_bench target built; default build/windows where Wine runs 32-bit code, else
# build/windows-x64 (scripts/wine-arch.sh); ROUNDS default 5, at most 3 of them for the whole
# runs). The whole runs need the publisher's tool of the host-release build to pack the package.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "$("$root/scripts/wine-arch.sh")" = 32 ]; then default=windows; else default=windows-x64; fi
build=$(cd "${1:-$root/build/$default}" && pwd)
rounds=${2:-5}
exe=$build/bench/download_bench/download_bench.exe
pack_tool=${QERV_HOST_BUILD:-$root/build/host-release}/tools/qerv-pack/qerv-pack
if [ ! -f "$exe" ]; then
  echo "download_bench: build the download_bench target in $build first" >&2
  exit 2
fi
export QERV_WINEPREFIX=${QERV_WINEPREFIX:-$build/wineprefix-bench}
if [ -z "${QERV_TEST_WWW:-}" ]; then
  exec "$root/scripts/with-servers.sh" "$0" "$build" "$rounds"
fi

package_bytes=209715200
head -c $package_bytes /dev/urandom >"$QERV_TEST_WWW/package.bin"
work=$(mktemp -d /tmp/qerv-download-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 777 "$work"
target="Z:${work//\//\\}\\Setup.dat"
https=https://127.0.0.1:$QERV_TEST_HTTPS_PORT/package.bin
http=http://127.0.0.1:$QERV_TEST_HTTP_PORT/package.bin

# The same packed package twice: nginx serves the one, the fault server (through nginx) the other.
runs=0
if [ -x "$pack_tool" ]; then
  head -c $((package_bytes - 28)) /dev/urandom >"$work/installer.exe"
  "$pack_tool" pack "$work/installer.exe" "$QERV_TEST_WWW/good.dat" >/dev/null
  rm "$work/installer.exe"
  cp "$QERV_TEST_WWW/good.dat" "$QERV_TEST_WWW/cut.dat"
  echo "cut=26214400" >"$QERV_TEST_WWW/cut.dat.fault"
  runs=$((rounds < 3 ? rounds : 3))
else
  echo "download_bench: no $pack_tool (build the host-release preset): no whole runs" >&2
fi

results=$work/results.txt
run() {  # run LABEL MODE URL
  local line
  # Each run starts with no dirty pages from the one before, which the first mode of a round
  # would otherwise pay for in writes held up by the write-back.
  sync
  line=$("$root/scripts/wine-run.sh" "$exe" "$2" "$3" "$target" 2>/dev/null) || true
  echo "label=$1 $line" >>"$results"
}

run idle idle "$https"
for round in $(seq "$rounds"); do
  echo "download_bench: round $round of $rounds" >&2
  run curl-path/https curl-path "$https"
  run curl-ref/https curl-ref "$https"
  run winhttp-path/https winhttp-path "$https"
  run winhttp-path-nolog/https winhttp-path-nolog "$https"
  run winhttp-ref/https winhttp-ref "$https"
  run winhttp-path/http winhttp-path "$http"
  run winhttp-path-nolog/http winhttp-path-nolog "$http"
  run winhttp-ref/http winhttp-ref "$http"
  if [ "$round" -le "$runs" ]; then
    run run/good run "https://127.0.0.1:$QERV_TEST_HTTPS_PORT/good.dat"
    run run/cut-25MiB run "https://127.0.0.1:$QERV_TEST_HTTPS_PORT/cut.dat"
  fi
done
cut_requests=$(grep -c "^/file/cut.dat " "$QERV_TEST_FAULT_LOG" 2>/dev/null || true)

/usr/bin/python3 - "$results" "$package_bytes" "${cut_requests:-0}" "$runs" <<'PY'
import statistics
import sys

MIB = 1024 * 1024
package = int(sys.argv[2])
cut_requests, whole_runs = int(sys.argv[3]), int(sys.argv[4])
runs = {}
for line in open(sys.argv[1]):
    fields = dict(part.split("=", 1) for part in line.split() if "=" in part)
    runs.setdefault(fields["label"], []).append(fields)

def median(label, key):
    values = [float(r[key]) for r in runs.get(label, []) if r.get("ok") == "1"]
    return statistics.median(values) if values else float("nan")

def failures(label):
    return sum(1 for r in runs.get(label, []) if r.get("ok") != "1")

idle_peak = median("idle", "peak_ws")
print(f"package {package / MIB:.0f} MiB; medians of {len(runs.get('curl-ref/https', []))} runs;"
      f" idle process peak working set {idle_peak / MIB:.1f} MiB")
print(f"{'run':<26}{'seconds':>9}{'MiB/s':>8}{'vs ref':>8}{'peak WS MiB':>13}"
      f"{'above idle':>12}{'log lines':>11}{'failed':>8}")
for label in [l for l in runs if l != "idle" and not l.startswith("run/")]:
    seconds = median(label, "seconds")
    peak = median(label, "peak_ws")
    kind, scheme = label.split("/")
    reference = kind.split("-")[0] + "-ref/" + scheme
    ratio = seconds / median(reference, "seconds") if not kind.endswith("-ref") else 1.0
    lines = median(label, "log_lines")
    print(f"{label:<26}{seconds:>9.3f}{package / MIB / seconds:>8.1f}{ratio:>8.2f}"
          f"{peak / MIB:>13.1f}{(peak - idle_peak) / MIB:>12.1f}"
          f"{(f'{lines:.0f}' if lines > 0 else '-'):>11}{failures(label):>8}")

print()
for scheme in ("https", "http"):
    path = median(f"winhttp-path/{scheme}", "seconds")
    replay = median(f"winhttp-path/{scheme}", "log_seconds")
    nolog = median(f"winhttp-path-nolog/{scheme}", "seconds")
    print(f"WinHTTP path over {scheme}: log lines written alone {replay:.3f} s"
          f" = {100 * replay / path:.0f}% of the path's {path:.3f} s;"
          f" unwritable log saves {path - nolog:.3f} s ({100 * (path - nolog) / path:.0f}%)")
limit = 16 * MIB
for label in ("curl-path/https", "winhttp-path/https", "winhttp-path/http"):
    above = median(label, "peak_ws") - idle_peak
    print(f"target: {label} peak at most 16 MiB above the idle process: {above / MIB:.1f} MiB"
          f" {'met' if above <= limit else 'NOT met'}")
curl_ratio = median("curl-path/https", "seconds") / median("curl-ref/https", "seconds")
print(f"target: libcurl path within 1.1x its reference: {curl_ratio:.2f}x"
      f" {'met' if curl_ratio <= 1.1 else 'NOT met'}")
for scheme in ("https", "http"):
    ratio = median(f"winhttp-path/{scheme}", "seconds") / median(f"winhttp-ref/{scheme}",
                                                                 "seconds")
    print(f"target: WinHTTP path ({scheme}) within 1.3x its reference: {ratio:.2f}x"
          f" {'met' if ratio <= 1.3 else 'NOT met'}")
if whole_runs:
    good, cut = median("run/good", "seconds"), median("run/cut-25MiB", "seconds")
    print()
    print(f"time to a decoded installer, {package / MIB:.0f} MiB package, medians of"
          f" {whole_runs} runs: good link {good:.1f} s ({failures('run/good')} failed);"
          f" link that drops every 25 MiB {cut:.1f} s ({failures('run/cut-25MiB')} failed),"
          f" {cut_requests / whole_runs:.0f} requests a run; {cut / good:.2f}x")
PY
