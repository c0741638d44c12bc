#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the benchmarks need, when missing.
# Idempotent and quiet when everything is already there.
set -euo pipefail
pkgs=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  googletest libgtest-dev libbenchmark-dev
  g++-mingw-w64-x86-64-posix wine64 xvfb xauth
  libturbojpeg0-dev libjpeg-dev libpng-dev libtiff-dev
  libx11-dev libxext-dev libxfixes-dev x11-utils x11-xserver-utils xdotool
  libgif-dev imagemagick libjpeg-turbo-progs fonts-dejavu-core python3
  ffmpeg gifsicle time
)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq >/dev/null
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
