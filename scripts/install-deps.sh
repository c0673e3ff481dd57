#!/usr/bin/env bash
# Installs every Debian 12 package the launcher's builds, tests, example and benchmark need.
# Packages already there are left as they are; nothing is downloaded outside apt.
set -euo pipefail

packages=(
  # toolchains and build
  cmake ninja-build g++ pkg-config clang-format clang-tidy googletest shellcheck flake8
  clang-14 libfuzzer-14-dev  # the fuzz preset
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  # Linux build: window, pictures, movie
  libsdl2-dev libsdl2-image-dev libmpv-dev
  # tests: virtual display, input, screenshots, media, Windows runtime and its media stack
  xvfb xauth xdotool x11-utils imagemagick ffmpeg file python3 procps libxtst-dev locales unzip
  wine64 gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly
  gstreamer1.0-libav pulseaudio
  # the SWF rasterizer's tests and benchmark: cairo draws the reference frames (never linked
  # into the product)
  libcairo2-dev
  # tests as players run them and the clean-exit count: a window manager; the 32-bit C library
  # that tells whether this kernel runs 32-bit programs (scripts/wine32.sh installs 32-bit Wine
  # where it does)
  openbox libc6-i386
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]} == 0)); then
  echo "install-deps: all packages present"
else
  echo "install-deps: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get -o DPkg::Lock::Timeout=900 update -q
  $sudo apt-get -o DPkg::Lock::Timeout=900 install -y -q --no-install-recommends "${missing[@]}"
fi
"$(dirname "$0")/wine32.sh" install
