#!/usr/bin/env bash
# Every test: installs what is missing, builds the host and Windows presets, runs the host tests
# (ASan/UBSan) with the fuzz smoke runs, the Windows tests under Wine, the cross-platform package
# check and the end-to-end tests, then prints one summary line.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh || exit 1

passed=0
failed=0
log=$(mktemp)
trap 'rm -f "$log"; WINEPREFIX=$root/build/wineprefix wineserver -k >/dev/null 2>&1 || true' EXIT

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

echo "== host build"
if build host; then
  ctest --preset host 2>&1 | tee "$log"
  tally_ctest
else
  failed=$((failed + 1))
fi

echo "== host release build"
build host-release || failed=$((failed + 1))

echo "== windows build"
windows_built=0
if build windows; then
  windows_built=1
  # The dialog's tests need a display: a private Xvfb for the run.
  xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" ctest --preset windows 2>&1 | tee "$log"
  tally_ctest
else
  failed=$((failed + 1))
fi

if [ -x tests/cross/package_cross.sh ]; then
  check "package made on one platform decodes on the other" \
    tests/cross/package_cross.sh build/host-release/tools/qerv-pack/qerv-pack \
    build/windows/tools/qerv-pack/qerv-pack.exe
fi

if [ $windows_built -eq 1 ] && ls tests/e2e/test_*.py >/dev/null 2>&1; then
  echo "== end-to-end tests under Wine and Xvfb"
  /usr/bin/python3 -m pytest -p no:cacheprovider -v tests/e2e 2>&1 | tee "$log"
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
fi

echo
echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
