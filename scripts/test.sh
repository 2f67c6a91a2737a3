#!/usr/bin/env bash
# Every test: installs what is missing, builds the host and both Windows presets, runs the host
# tests (ASan/UBSan) with the fuzz smoke runs, checks the shape of the shipped program, builds the
# release configuration twice and compares, signs it and checks the release, runs the Windows
# tests under Wine, the cross-platform package check and the end-to-end tests, then prints one
# summary line. Test cases are counted from the JUnit files that ctest and pytest write.
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
results=$(mktemp -d)
stop_wine() {
  local prefix
  for prefix in build/windows/wineprefix build/windows-x64/wineprefix; do
    WINEPREFIX=$root/$prefix wineserver -k >/dev/null 2>&1 || true
  done
}
trap 'rm -rf "$results"; stop_wine' EXIT

# Prints "PASSED FAILED SKIPPED" for the test cases of a JUnit file (ctest --output-junit, pytest
# --junitxml); fails when there is no file or not one test case in it.
junit_counts() {
  /usr/bin/python3 - "$1" <<'EOF'
import sys
import xml.etree.ElementTree as ET

try:
    cases = list(ET.parse(sys.argv[1]).getroot().iter("testcase"))
except (OSError, ET.ParseError) as error:
    sys.exit(f"no test results: {error}")
if not cases:
    sys.exit(f"no test cases in {sys.argv[1]}")
passed = failed = skipped = 0
for case in cases:
    skip = case.find("skipped")
    broke = case.find("failure") is not None or case.find("error") is not None
    if case.get("name", "").startswith(("setup:", "cleanup:")) and not broke:
        continue  # ctest's fixtures that start and stop the servers count only when they fail
    if broke:
        failed += 1
    elif case.get("status") == "disabled":
        continue  # ctest leaves a disabled test out of its own counts too
    elif skip is not None:
        # ctest marks a test that could not run at all (no executable, a failed fixture) as
        # skipped as well; only its skip codes are skips. pytest's cases carry no status.
        if case.get("status") is None or (skip.get("message") or "").startswith("SKIP_"):
            skipped += 1
        else:
            failed += 1
    else:
        passed += 1
print(passed, failed, skipped)
EOF
}

# Adds the test cases of one run's JUnit file to the totals; a run that left no results counts as
# one failure.
tally() {
  local counts p f s
  if counts=$(junit_counts "$1"); then
    read -r p f s <<<"$counts"
    echo "-- $p passed, $f failed, $s skipped"
    passed=$((passed + p))
    failed=$((failed + f))
  else
    echo "FAILED: the run left no test results ($1)"
    failed=$((failed + 1))
  fi
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

# True when ctest's JUnit file holds a case of the program $2 (named "$2:Suite.Case").
has_cases_of() {
  /usr/bin/python3 - "$1" "$2" <<'EOF'
import sys
import xml.etree.ElementTree as ET

try:
    cases = ET.parse(sys.argv[1]).getroot().iter("testcase")
except (OSError, ET.ParseError):
    sys.exit(1)
sys.exit(0 if any(c.get("name", "").startswith(sys.argv[2] + ":") for c in cases) else 1)
EOF
}

# The Windows suite of one preset under Wine; the dialog's tests need a display, a private Xvfb.
# ctest runs each case of the three programs on its own; a program whose cases could not be
# listed counts as one failure.
windows_suite() {
  local program
  echo "== $1 tests under Wine"
  xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
    ctest --preset "$1" --output-junit "$results/$1.xml"
  tally "$results/$1.xml"
  for program in win_unit_tests win_net_tests win_ui_tests; do
    if ! has_cases_of "$results/$1.xml" "$program"; then
      echo "FAILED: no case of $program ran"
      failed=$((failed + 1))
    fi
  done
}

arch=$(scripts/wine-arch.sh)
if [ "$arch" = 32 ]; then
  echo "== Wine runs 32-bit programs here: the shipped 32-bit program is tested"
else
  echo "== Wine cannot run 32-bit programs here: the 64-bit build stands in for the 32-bit one"
fi

echo "== host build"
if build host; then
  ctest --preset host --output-junit "$results/host.xml"
  tally "$results/host.xml"
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

# The release configuration: two builds that share nothing but the source give the same bytes;
# then the release step signs one with throw-away keys and writes its record, and the tests read
# them as a publisher, a third party and Windows would.
release_work=$root/build/release-check
release_started=$SECONDS
check "two release builds in different folders are byte-identical" \
  tests/release/reproducible_build.sh "$release_work"
if [ -f "$release_work/one/build/release/QervSetupOnline-unsigned.exe" ]; then
  echo "== release signing and record"
  QERV_RELEASE_BUILD=$release_work/one/build QERV_HOST_BUILD=$root/build/host-release \
    /usr/bin/python3 -m pytest -v tests/release --junitxml="$results/release.xml"
  tally "$results/release.xml"
else
  echo "FAILED: no release build to sign"
  failed=$((failed + 1))
fi
rm -rf "$release_work"
echo "-- the release checks took $((SECONDS - release_started)) s"

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
  QERV_WIN_BUILD=$e2e_build /usr/bin/python3 -m pytest -v tests/e2e --junitxml="$results/e2e.xml"
  tally "$results/e2e.xml"
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
