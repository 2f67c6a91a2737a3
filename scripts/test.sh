#!/usr/bin/env bash
# Every test: installs what is missing, builds the host and both Windows presets, runs the host
# tests (ASan/UBSan) with the fuzz smoke runs, checks the shape of the shipped program, runs the
# Windows tests under Wine, the cross-platform package check and the end-to-end tests, then prints
# one summary line.
#
# scripts/wine-arch.sh decides what runs under Wine. Where Wine's 32-bit loader runs, both Windows
# suites run, and the cross-platform check and the end-to-end tests use the shipped 32-bit
# program. Where the kernel refuses 32-bit code, the 64-bit build stands in for it: its suite, the
# check and the end-to-end tests run, and the 32-bit programs are built but not run (and not
# counted). QERV_WIN_BUILD still names the build that the end-to-end tests use.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh || exit 1

passed=0
failed=0
log=$(mktemp)
stop_wine() {
  local prefix
  for prefix in build/windows/wineprefix build/windows-x64/wineprefix; do
    WINEPREFIX=$root/$prefix wineserver -k >/dev/null 2>&1 || true
  done
}
trap 'rm -f "$log"; stop_wine' EXIT

# Adds a ctest run's counts to the totals (a run that did not finish counts as one failure).
tally_ctest() {
  local line
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$line" ]; then
    failed=$((failed + 1))
    return
  fi
  local bad total
  bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

# Runs one named check that is not a ctest run.
check() {
  local name=$1
  shift
  echo "== $name"
  if "$@"; then passed=$((passed + 1)); else echo "FAILED: $name"; failed=$((failed + 1)); fi
}

build() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1"
}

# The Windows suite of one preset under Wine; the dialog's tests need a display, a private Xvfb.
windows_suite() {
  echo "== $1 tests under Wine"
  xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" ctest --preset "$1" 2>&1 | tee "$log"
  tally_ctest
}

arch=$(scripts/wine-arch.sh)
if [ "$arch" = 32 ]; then
  echo "== Wine runs 32-bit programs here: the shipped 32-bit program is tested"
else
  echo "== Wine cannot run 32-bit programs here: the 64-bit build stands in for the 32-bit one"
fi

echo "== host build"
if build host; then
  ctest --preset host 2>&1 | tee "$log"
  tally_ctest
else
  failed=$((failed + 1))
fi

echo "== host release build"
build host-release || failed=$((failed + 1))

declare -A built=()
for preset in windows windows-x64; do
  echo "== $preset build"
  if build "$preset"; then built[$preset]=1; else failed=$((failed + 1)); fi
done

if [ -n "${built[windows]:-}" ]; then
  check "the shipped program is a static 32-bit GUI program that imports only what Vista has" \
    tests/pe/pe_shape.py build/windows/src/app/QervSetupOnline.exe x86 tests/pe/vista_functions.txt
fi
if [ -n "${built[windows-x64]:-}" ]; then
  check "the 64-bit build is a static 64-bit GUI program that imports only what Vista has" \
    tests/pe/pe_shape.py build/windows-x64/src/app/QervSetupOnline.exe x64 \
    tests/pe/vista_functions.txt
fi

if [ "$arch" = 32 ]; then
  run_presets=(windows windows-x64)
  main_preset=windows
else
  run_presets=(windows-x64)
  main_preset=windows-x64
fi
for preset in "${run_presets[@]}"; do
  if [ -n "${built[$preset]:-}" ]; then windows_suite "$preset"; fi
done

if [ -n "${built[$main_preset]:-}" ]; then
  check "package made on one platform decodes on the other ($main_preset)" \
    tests/cross/package_cross.sh build/host-release/tools/qerv-pack/qerv-pack \
    "build/$main_preset/tools/qerv-pack/qerv-pack.exe"
fi

e2e_build=${QERV_WIN_BUILD:-$root/build/$main_preset}
if [ -f "$e2e_build/src/app/QervSetupOnline.exe" ]; then
  echo "== end-to-end tests under Wine and Xvfb, against $e2e_build"
  QERV_WIN_BUILD=$e2e_build /usr/bin/python3 -m pytest -p no:cacheprovider -v tests/e2e 2>&1 |
    tee "$log"
  summary=$(grep -E '^=+ .*(passed|failed|error).* in [0-9.]+s' "$log" | tail -n 1)
  if [ -z "$summary" ]; then
    failed=$((failed + 1))
  else
    for kind in passed failed error; do
      n=$(grep -oE "[0-9]+ $kind" <<<"$summary" | grep -oE '^[0-9]+' || true)
      n=${n:-0}
      if [ $kind = passed ]; then passed=$((passed + n)); else failed=$((failed + n)); fi
    done
  fi
else
  echo "FAILED: no setup to test end to end in $e2e_build"
  failed=$((failed + 1))
fi

echo
if [ "$arch" != 32 ]; then
  echo "note: the 32-bit programs were built (and their shape checked) but not run on this" \
    "machine, whose kernel refuses 32-bit code; the 64-bit build ran in their place."
fi
echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
