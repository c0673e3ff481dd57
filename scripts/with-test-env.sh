#!/usr/bin/env bash
# Runs a command with the test environment up: an Xvfb display on a free number, a private Wine
# prefix with a persistent wineserver started after DISPLAY is set. Everything it starts is
# stopped when the command ends, also on failure or interruption.
#   scripts/with-test-env.sh ctest --preset linux
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
state=$(mktemp -d /tmp/launcher-test-env.XXXXXX)
xvfb_pid=""

own_wineserver=0

cleanup() {
  # Only a wineserver this script started is stopped: another run's server is left alone.
  if [ "$own_wineserver" = 1 ]; then
    WINEPREFIX=$WINEPREFIX /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  fi
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$state"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A display number that no X server holds (neither its lock file nor its socket).
display=""
for n in $(seq 90 199); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "with-test-env: no free X display number" >&2; exit 1; }
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >"$state/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -e "/tmp/.X11-unix/X$display" ] && break
  sleep 0.05
done
[ -e "/tmp/.X11-unix/X$display" ] || { cat "$state/xvfb.log" >&2; exit 1; }
export DISPLAY=":$display"

# LAUNCHER_TEST_WINE=0: a display only (the Linux example and benchmark need no Wine).
if [ "${LAUNCHER_TEST_WINE:-1}" != 0 ] && [ -x /usr/lib/wine/wine64 ]; then
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEPREFIX="${LAUNCHER_WINEPREFIX:-$root/build/windows-x64/wineprefix}"
  mkdir -p "$WINEPREFIX"
  # A server already running for this prefix (another run's) is used as it is.
  if /usr/lib/wine/wineserver -p 2>/dev/null; then own_wineserver=1; fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1 || true
  fi
  # Wine's background services start with the first program of a session and keep its output
  # open; let that be a quiet one, not a test whose output a runner waits on.
  /usr/lib/wine/wine64 cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
fi

"$@"
