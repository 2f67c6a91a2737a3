#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12. Safe to run again: each step
# checks first and does nothing when its work is already done.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive

root=$(cd "$(dirname "$0")/.." && pwd)
cache=${QERV_DEPS_CACHE:-$root/build/deps}

packages=(
  cmake ninja-build g++ pkg-config git
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine32:i386 wine64
  googletest libgtest-dev libssl-dev openssl
  clang-14 libclang-rt-14-dev
  nginx-light tinyproxy xvfb xdotool x11-utils imagemagick
  python3 python3-pytest
  dpkg-dev osslsigncode time
)

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_update=1
fi

# The curl source package comes from Debian's source index, so the sources entry needs deb-src.
src=/etc/apt/sources.list.d/debian.sources
if [ -f "$src" ] && grep -q '^Types: deb$' "$src"; then
  $SUDO sed -i 's/^Types: deb$/Types: deb deb-src/' "$src"
  need_update=1
elif [ ! -f "$src" ] && ! grep -rqs '^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  echo 'deb-src http://deb.debian.org/debian bookworm main' | $SUDO tee /etc/apt/sources.list.d/qerv-src.list >/dev/null
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  need_update=1
fi
if [ $need_update -eq 1 ]; then
  $SUDO apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The distribution's nginx and tinyproxy services are not used: tests start their own on loopback.
for svc in nginx tinyproxy; do
  if command -v systemctl >/dev/null 2>&1; then systemctl disable --now "$svc" >/dev/null 2>&1 || true; fi
  service "$svc" stop >/dev/null 2>&1 || true
done

# curl's source, for the static Schannel libcurl of the Windows build: Debian's current revision,
# which carries its latest security fixes. The package index is refreshed when it is a day old, a
# newer revision replaces the one kept, and the folder holds that one alone: the build refuses a
# folder with two. QERV_CURL_SOURCE_VERSION asks for a given revision instead, such as the one a
# release's record names (reproducing that release).
mkdir -p "$cache"
if [ $need_update -eq 0 ] && [ -z "$(find "$cache/index-refreshed" -mmin -1440 2>/dev/null)" ]; then
  if $SUDO apt-get update -qq; then
    need_update=1
  else
    echo "install-deps: the package index could not be refreshed; it stays as it is" >&2
  fi
fi
if [ $need_update -eq 1 ]; then touch "$cache/index-refreshed"; fi
newest_curl_source() {
  local newest="" version
  for version in $(apt-cache showsrc --only-source curl 2>/dev/null | sed -n 's/^Version: //p'); do
    if [ -z "$newest" ] || dpkg --compare-versions "$version" gt "$newest"; then
      newest=$version
    fi
  done
  echo "$newest"
}
curl_version=${QERV_CURL_SOURCE_VERSION:-$(newest_curl_source)}
if [ -z "$curl_version" ]; then
  echo "install-deps: Debian's package index lists no curl source package" >&2
  exit 1
fi
# The .dsc is named without the epoch, if a version ever has one.
if [ ! -f "$cache/curl-src/curl_${curl_version#*:}.dsc" ] ||
  [ "$(find "$cache/curl-src" -name 'curl_*.dsc' 2>/dev/null | wc -l)" -ne 1 ]; then
  rm -rf "$cache/curl-src.new"
  mkdir -p "$cache/curl-src.new"
  if ! (cd "$cache/curl-src.new" &&
    apt-get source --download-only "curl=$curl_version" >/dev/null); then
    rm -rf "$cache/curl-src.new"
    echo "install-deps: curl's source $curl_version could not be fetched (revisions that Debian" \
      "has replaced are on snapshot.debian.org)" >&2
    exit 1
  fi
  rm -rf "$cache/curl-src"
  mv "$cache/curl-src.new" "$cache/curl-src"
  echo "curl source: $curl_version"
fi
echo "dependencies ready"
