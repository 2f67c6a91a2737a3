#!/usr/bin/env bash
# Builds the release configuration twice and checks that both give the same bytes:
#   reproducible_build.sh WORK_DIR
# The two builds share nothing but the source (the checkout and Debian's curl source package):
# each has its own build folder, at a different depth under WORK_DIR, and its own libcurl build;
# the second starts when the first has ended, in another time zone, locale and umask. Compared:
# the program as linked and as released unsigned, the Windows qerv-pack.exe and the release
# records; a differing PE file names its first differing part (pe_compare.py). None of the
# programs may hold the path of the source folder or of either build folder.
#
# The builds stay in WORK_DIR/one/build and WORK_DIR/second/build-two for the release tests
# (tests/release/test_release.py); the caller removes WORK_DIR.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=${1:?usage: reproducible_build.sh WORK_DIR}
curl_source=${QERV_DEPS_DIR:-$root/build/deps}/curl-src
server=https://update.example.com/qerv/
pin=0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
if ! ls "$curl_source"/curl_*.dsc >/dev/null 2>&1; then
  echo "no curl source package in $curl_source: run scripts/install-deps.sh"
  exit 1
fi

# build DIR TZ LOCALE UMASK: one release build in DIR, unsigned, with its own libcurl.
build() {
  local dir=$1 zone=$2 locale=$3 mask=$4 started=$SECONDS
  echo "-- release build in $dir (TZ=$zone, LC_ALL=$locale, umask $mask)"
  mkdir -p "$dir/deps"
  cp -a "$curl_source" "$dir/deps/"
  if ! (
    cd "$root" && umask "$mask" &&
      env -u QERV_SIGN_PKCS12 -u QERV_SIGN_KEY -u QERV_SIGN_CERT TZ="$zone" LC_ALL="$locale" \
        cmake --preset windows-release -B "$dir/build" -DQERV_DEPS_DIR="$dir/deps" \
        -DQERV_UPDATE_SERVER="$server" -DQERV_INSTALLER_SIGNERS="$pin" \
        -DQERV_MIN_INSTALLER_VERSION=12.1 &&
      env -u QERV_SIGN_PKCS12 -u QERV_SIGN_KEY -u QERV_SIGN_CERT TZ="$zone" LC_ALL="$locale" \
        cmake --build "$dir/build" --target release qerv-pack
  ) >"$dir/build.log" 2>&1; then
    tail -n 30 "$dir/build.log"
    echo "FAILED: the release build in $dir"
    return 1
  fi
  echo "   built in $((SECONDS - started)) s"
}

one=$work/one
two=$work/second/build-two
build "$one" UTC C 022 || exit 1
build "$two" Asia/Kathmandu C.UTF-8 077 || exit 1

status=0
for file in src/app/QervSetupOnline.exe release/QervSetupOnline-unsigned.exe \
  tools/qerv-pack/qerv-pack.exe; do
  echo "-- $file"
  if ! /usr/bin/python3 "$here/pe_compare.py" "$one/build/$file" "$two/build/$file"; then
    status=1
  fi
  for path in "$root" "$one" "$two"; do
    if grep -a -q -F "$path" "$one/build/$file" "$two/build/$file"; then
      echo "FAILED: $file holds the path $path"
      status=1
    fi
  done
done
echo "-- release/QervSetupOnline-release.txt"
if ! diff "$one/build/release/QervSetupOnline-release.txt" \
  "$two/build/release/QervSetupOnline-release.txt"; then
  echo "FAILED: the two records differ"
  status=1
fi
if [ $status -eq 0 ]; then
  echo "the two release builds are byte-identical"
fi
exit $status
