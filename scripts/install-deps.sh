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

# curl's source, for the static Schannel libcurl of the Windows build.
mkdir -p "$cache/curl-src"
if ! ls "$cache"/curl-src/curl_*.orig.tar.* >/dev/null 2>&1; then
  (cd "$cache/curl-src" && apt-get source --download-only curl >/dev/null)
fi
echo "dependencies ready"
