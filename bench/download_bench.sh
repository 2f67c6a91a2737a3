#!/usr/bin/env bash
# Times the two download paths on a 100 MiB package served by the loopback nginx, under Wine,
# beside minimal transfers over the same APIs, and prints a table of medians:
#   curl-path / curl-ref        DownloadURLByHTTPS against a bare libcurl transfer (HTTPS)
#   winhttp-path / winhttp-ref  SafeDownloadFile with its log against a bare WinHTTP loop,
#                               over HTTPS and over plain HTTP
#   winhttp-path-nolog          SafeDownloadFile with the trace log made unwritable
# Every run is a fresh process (bench/download_bench/download_bench.exe MODE URL FILE), so that
# its peak working set is its own; the rounds interleave the modes. The log's share of the
# WinHTTP path is given twice: its lines written again alone, one WinHTTPLibLogLine call each,
# after the download (the calls' aggregate cost), and the time saved when no line can be written.
# Targets, printed and not enforced: libcurl path within 1.1x its reference; WinHTTP path's peak
# working set within the package size + 10%.
# Usage: bench/download_bench.sh [BUILD_DIR] [ROUNDS]   (BUILD_DIR: a Windows build with the
# download_bench target built; default build/windows where Wine runs 32-bit code, else
# build/windows-x64 (scripts/wine-arch.sh); ROUNDS default 5)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "$("$root/scripts/wine-arch.sh")" = 32 ]; then default=windows; else default=windows-x64; fi
build=$(cd "${1:-$root/build/$default}" && pwd)
rounds=${2:-5}
exe=$build/bench/download_bench/download_bench.exe
if [ ! -f "$exe" ]; then
  echo "download_bench: build the download_bench target in $build first" >&2
  exit 2
fi
export QERV_WINEPREFIX=${QERV_WINEPREFIX:-$build/wineprefix-bench}
if [ -z "${QERV_TEST_WWW:-}" ]; then
  exec "$root/scripts/with-servers.sh" "$0" "$build" "$rounds"
fi

package_bytes=104857600
head -c $package_bytes /dev/urandom >"$QERV_TEST_WWW/package.bin"
work=$(mktemp -d /tmp/qerv-download-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 777 "$work"
target="Z:${work//\//\\}\\Setup.dat"
https=https://127.0.0.1:$QERV_TEST_HTTPS_PORT/package.bin
http=http://127.0.0.1:$QERV_TEST_HTTP_PORT/package.bin

results=$work/results.txt
run() {  # run LABEL MODE URL
  local line
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
done

/usr/bin/python3 - "$results" "$package_bytes" <<'PY'
import statistics
import sys

MIB = 1024 * 1024
package = int(sys.argv[2])
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
for label in [l for l in runs if l != "idle"]:
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
curl_ratio = median("curl-path/https", "seconds") / median("curl-ref/https", "seconds")
print(f"target: libcurl path within 1.1x its reference: {curl_ratio:.2f}x"
      f" {'met' if curl_ratio <= 1.1 else 'NOT met'}")
for scheme in ("https", "http"):
    peak = median(f"winhttp-path/{scheme}", "peak_ws")
    limit = 1.1 * package
    print(f"target: WinHTTP path ({scheme}) peak within package + 10% ({limit / MIB:.0f} MiB):"
          f" {peak / MIB:.1f} MiB whole process"
          f" {'met' if peak <= limit else 'NOT met'},"
          f" {(peak - idle_peak) / MIB:.1f} MiB above the idle process"
          f" {'met' if peak - idle_peak <= limit else 'NOT met'}")
PY
