#!/usr/bin/env bash
# Installs every Debian 12 package the launcher's builds, tests, example and benchmark need, and
# 32-bit Wine where the kernel runs 32-bit programs. Packages already there are left as they are;
# nothing is downloaded outside apt, and no step may remove what another installed.
set -euo pipefail

packages=(
  # toolchains and build
  cmake ninja-build g++ pkg-config clang-format clang-tidy googletest shellcheck flake8
  clang-14 libfuzzer-14-dev  # the fuzz preset
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  # Linux build: window, pictures, movie, the SWF player's inflate and MP3 frames
  libsdl2-dev libsdl2-image-dev libmpv-dev zlib1g-dev libmpg123-dev
  # Windows builds: the SWF player's inflate, linked statically
  libz-mingw-w64-dev
  # tests: virtual display, input, screenshots, media, Windows runtime and its media stack, the
  # reference renderer the SWF rasterizer is compared with
  xvfb xauth xdotool x11-utils imagemagick ffmpeg file python3 procps libxtst-dev locales unzip
  wine64 gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly
  gstreamer1.0-libav pulseaudio libcairo2-dev
  # the SWF conformance runner's frame comparison; the script machine's benchmark's reference
  python3-pil lua5.4
  # tests as players run them and the clean-exit count: a window manager; the 32-bit C library
  # that tells whether this kernel runs 32-bit programs
  openbox libc6-i386
)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing_of() {
  local p
  for p in "$@"; do installed "$p" || echo "$p"; done
}

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
apt_get() { $sudo apt-get -o DPkg::Lock::Timeout=900 "$@"; }
updated=""
update_once() { [ -n "$updated" ] || { apt_get update -q && updated=1; }; }

mapfile -t missing < <(missing_of "${packages[@]}")
if ((${#missing[@]} == 0)); then
  echo "install-deps: all packages present"
else
  echo "install-deps: installing ${missing[*]}"
  update_once
  apt_get install -y -q --no-install-recommends "${missing[@]}"
fi

# 32-bit Wine, where this kernel runs 32-bit programs (libc6-i386, above, is what tells).
# --no-remove: apt may otherwise trade an amd64 package for an i386 one it prefers (a JACK flavour
# that conflicts with the one libmpv-dev pulled in); the install then stops instead.
mapfile -t packages32 < <("$(dirname "$0")/wine32.sh" packages)
mapfile -t missing32 < <(missing_of "${packages32[@]}")
if ((${#missing32[@]} > 0)); then
  echo "install-deps: installing 32-bit Wine: ${missing32[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || { $sudo dpkg --add-architecture i386 && updated=""; }
  update_once
  apt_get install -y -q --no-remove "${missing32[@]}" ||
    { echo "install-deps: 32-bit Wine could not be installed beside the amd64 packages" >&2; exit 1; }
fi

mapfile -t lost < <(missing_of "${packages[@]}" "${packages32[@]}")
if ((${#lost[@]} > 0)); then
  echo "install-deps: not installed after the install: ${lost[*]}" >&2
  exit 1
fi
