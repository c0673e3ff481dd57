#!/usr/bin/env bash
# Runs a command with the test environment up: an Xvfb display that already answers, and Wine
# prefixes that are booted, each with a persistent wineserver started after DISPLAY is set and a
# desktop kept up for the whole run:
#   build/windows-x64/wineprefix  for wine64 (exported as WINEPREFIX; LAUNCHER_WINEPREFIX overrides)
#   build/windows/wineprefix      for the 32-bit /usr/lib/wine/wine, only where it runs
#                                 (scripts/wine32.sh status)
# Crashes in these prefixes end the process: Wine's automatic debugger is off. Window managers are
# the end-to-end drivers' business (per scenario). Everything started here is stopped when the
# command ends, also when it fails, times out or is interrupted.
#   scripts/with-test-env.sh ctest --preset linux
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
state=$(mktemp -d /tmp/launcher-test-env.XXXXXX)
xvfb_pid=""
own_servers=() # prefixes whose wineserver this script started
keepers=()     # the programs that keep each prefix's desktop up

cleanup() {
  local pid
  for pid in ${keepers[@]+"${keepers[@]}"}; do kill "$pid" 2>/dev/null || true; done
  # Only wineservers this script started are stopped (with every Wine process of their prefix,
  # a hung launcher's too): another run's server is left alone.
  local prefix
  for prefix in ${own_servers[@]+"${own_servers[@]}"}; do
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  done
  # Whatever still holds the display (a window manager a killed test left) loses it with Xvfb.
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$state"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Xvfb picks a free display number itself and writes it once it accepts clients: two runs side by
# side can't take the same number, and nothing connects before the server is up.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$state/display" >"$state/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 400); do
  [ -s "$state/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.05
done
display=$(cat "$state/display")
[ -n "$display" ] || { cat "$state/xvfb.log" >&2; echo "with-test-env: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$display"
for _ in $(seq 100); do
  xdpyinfo >/dev/null 2>&1 && break
  sleep 0.05
done
xdpyinfo >/dev/null 2>&1 || { echo "with-test-env: display $DISPLAY does not answer" >&2; exit 1; }

# Boots a prefix for a Wine loader and leaves it ready: its own persistent wineserver, Wine's
# background services up, crashes ending the process. Says why and returns 1 if it can't.
prepare_prefix() {
  local prefix=$1 loader=$2
  mkdir -p "$prefix"
  # wineserver returns once its socket listens; a server already running for this prefix (another
  # run's) is used as it is.
  if WINEPREFIX=$prefix /usr/lib/wine/wineserver -p 2>/dev/null; then own_servers+=("$prefix"); fi
  if [ ! -f "$prefix/system.reg" ]; then
    WINEPREFIX=$prefix /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1 || true
  fi
  # A crash starts `winedbg --auto`, which can wait forever. Neither Auto="0" (Wine then asks
  # "Do you wish to debug it?" in a message box: a GUI program hung) nor removing Debugger (Wine
  # falls back to winedbg) stops it; a debugger that can't start does: the process ends at once.
  # For the 64-bit and the 32-bit registry views.
  cat >"$state/aedebug.reg" <<'EOF'
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Auto"="1"
"Debugger"="no-debugger-in-test-prefixes"

[HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Auto"="1"
"Debugger"="no-debugger-in-test-prefixes"
EOF
  # Wine's background services start with the first program of a session and keep its output
  # open: let that be this one, not a test whose output a runner waits on.
  WINEPREFIX=$prefix /usr/lib/wine/wine64 regedit /s "Z:${state//\//\\}\\aedebug.reg" \
    </dev/null >/dev/null 2>&1 || { echo "with-test-env: regedit fails in $prefix" >&2; return 1; }
  # Wine closes the desktop one second after its last program ends, and the next program that
  # touches a window starts explorer.exe again: 3 to 7 s of every Windows adapter test went
  # there. A command interpreter reading a pipe that stays silent keeps the desktop in use; it
  # reads its end when this script ends.
  mkfifo "$state/keeper-${#keepers[@]}"
  local keep
  exec {keep}<>"$state/keeper-${#keepers[@]}"
  WINEPREFIX=$prefix /usr/lib/wine/wine64 cmd.exe <&"$keep" >/dev/null 2>&1 &
  keepers+=($!)
  # The desktop starts now, through the loader the tests use (rundll32 makes a hidden window).
  WINEPREFIX=$prefix "$loader" rundll32.exe </dev/null >/dev/null 2>&1 ||
    { echo "with-test-env: $loader runs no program in $prefix" >&2; return 1; }
}

# LAUNCHER_TEST_WINE=0: a display only (the Linux example and benchmark need no Wine).
if [ "${LAUNCHER_TEST_WINE:-1}" != 0 ] && [ -x /usr/lib/wine/wine64 ]; then
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEPREFIX="${LAUNCHER_WINEPREFIX:-$root/build/windows-x64/wineprefix}"
  prepare_prefix "$WINEPREFIX" /usr/lib/wine/wine64 || exit 1
  if "$root/scripts/wine32.sh" status >/dev/null; then
    prefix32=$root/build/windows/wineprefix
    # A prefix made before 32-bit Wine was installed has an empty syswow64: make it again.
    [ -f "$prefix32/drive_c/windows/syswow64/kernel32.dll" ] || rm -rf "$prefix32"
    # Not ready: its tests fail and say so, the others still run.
    prepare_prefix "$prefix32" /usr/lib/wine/wine || true
  fi
fi

"$@"
