#!/usr/bin/env bash
# The 32-bit product's runtime: 32-bit Wine, which runs only where the kernel runs 32-bit programs
# (machines of the same kind differ; a kernel without ia32 emulation refuses them).
#   scripts/wine32.sh packages    lists the i386 packages to install where the kernel runs 32-bit
#                                 programs (install-deps.sh installs them); nothing elsewhere
#   scripts/wine32.sh status      exits 0 where the 32-bit product can run; otherwise says why not
#   scripts/wine32.sh run CMD...  runs CMD where it can; otherwise says why and exits 77, which
#                                 the 32-bit tests declare as their skip code
set -euo pipefail

# As measured: without libgl1:i386 Wine's 32-bit Direct3D has no device and Media Foundation's
# video renderer crashes the process; the GStreamer plugins decode the movies. Installed with their
# recommends (Wine's X extensions among them), as in the run that was measured. Among those,
# libasound2-plugins:i386 wants a JACK library: named here, the flavour that matches the amd64 one
# libmpv-dev pulls in, so apt does not pick the other and remove libmpv-dev to make room.
packages=(wine32:i386 libgl1:i386 libgl1-mesa-dri:i386 gstreamer1.0-plugins-base:i386
          gstreamer1.0-plugins-good:i386 gstreamer1.0-plugins-ugly:i386 gstreamer1.0-libav:i386
          libjack0:i386)

# The reason the 32-bit product can't run here, or nothing.
why_not() {
  local status=0
  /lib/ld-linux.so.2 --version >/dev/null 2>&1 || status=$?
  case $status in
    0) ;;
    127) echo "no 32-bit C library (libc6-i386) to try this kernel with"; return ;;
    *) echo "this kernel runs no 32-bit program"; return ;;
  esac
  local p
  for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      echo "32-bit Wine is not installed ($p missing)"
      return
    fi
  done
}

case ${1:-} in
  packages)
    case $(why_not) in
      "" | "32-bit Wine is not installed"*) printf '%s\n' "${packages[@]}" ;;
    esac
    ;;
  status)
    reason=$(why_not)
    [ -z "$reason" ] || { echo "$reason"; exit 1; }
    ;;
  run)
    shift
    reason=$(why_not)
    [ -z "$reason" ] || { echo "SKIP: 32-bit product: not run here ($reason)"; exit 77; }
    exec "$@"
    ;;
  *)
    echo "usage: $0 packages | status | run CMD..." >&2
    exit 2
    ;;
esac
