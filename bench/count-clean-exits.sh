#!/usr/bin/env bash
# Counts clean exits of the Windows launcher after a played movie, under Wine, a window manager
# (openbox) and a virtual display. Each run starts the launcher in a game folder with a 400x300
# logo and an MP4, holds a key to start the movie, lets it play to its end and waits for the
# process. A run is clean when the process ends with status 0 within 1 s of the game's start (the
# stand-in ntleac's log written). Prints one line per run and the count. Figures, not pass/fail.
#   scripts/with-test-env.sh bench/count-clean-exits.sh [-n 50] [--seconds 2] [--sound none]
#       [--launcher build/windows-x64/launcher.exe] [--ntleac stand_in_ntleac.exe]
#       [--wine /usr/lib/wine/wine64]
# The 32-bit product: --launcher build/windows/launcher.exe --wine /usr/lib/wine/wine, with a
# 32-bit ntleac stand-in and a prefix made after wine32 was installed.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
runs=50
seconds=2
sound=none
launcher=$root/build/windows-x64/launcher.exe
ntleac=$root/build/windows-x64/stand_in_ntleac.exe
wine=/usr/lib/wine/wine64

while (($# > 0)); do
  case $1 in
    -n) runs=$2 ;;
    --seconds) seconds=$2 ;;
    --sound) sound=$2 ;;
    --launcher) launcher=$2 ;;
    --ntleac) ntleac=$2 ;;
    --wine) wine=$2 ;;
    *) echo "usage: $0 [-n N] [--seconds S] [--sound none|null-sink] [--launcher EXE] [--ntleac EXE] [--wine WINE]" >&2; exit 2 ;;
  esac
  shift 2
done
if [ -z "${DISPLAY:-}" ] || [ -z "${WINEPREFIX:-}" ]; then
  echo "run inside scripts/with-test-env.sh (DISPLAY and WINEPREFIX)" >&2
  exit 2
fi
for f in "$launcher" "$ntleac" "$wine"; do [ -e "$f" ] || { echo "missing: $f" >&2; exit 2; }; done

work=$(mktemp -d /tmp/launcher-exits.XXXXXX)
wm_pid=""
pulse_pid=""
runner=""
cleanup() {
  [ -n "$runner" ] && pkill -KILL -P "$runner" 2>/dev/null
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null
  [ -n "$pulse_pid" ] && kill "$pulse_pid" 2>/dev/null
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

game=$work/game
mkdir -p "$game"
cp "$launcher" "$game/launcher.exe"
cp "$ntleac" "$game/ntleac.exe"
ffmpeg -loglevel error -y -f lavfi -i color=c=red:s=400x300 -frames:v 1 "$game/logo.jpg"
ffmpeg -loglevel error -y -f lavfi -i "color=c=0x00ff00:s=400x300:r=25:d=$seconds" \
  -f lavfi -i "sine=f=440:d=$seconds" -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest \
  "$game/OP.mp4"
printf '"logo.jpg"\r\n"OP.mp4"\r\n"Game.exe"\r\n"WINDOW"\r\n' >"$game/Start.ini"

# Sound: no device at all (no server answers), or a PulseAudio server with only a null sink.
mkdir -p "$work/pulse"
export PULSE_SERVER=unix:$work/pulse/native
if [ "$sound" = null-sink ]; then
  PULSE_RUNTIME_PATH=$work/pulse HOME=$work/pulse pulseaudio -n --daemonize=no \
    --exit-idle-time=-1 --disable-shm=yes --use-pid-file=no \
    --load="module-null-sink sink_name=silent" \
    --load="module-native-protocol-unix socket=$work/pulse/native auth-anonymous=1" \
    >/dev/null 2>&1 &
  pulse_pid=$!
fi

openbox --sm-disable >/dev/null 2>&1 &
wm_pid=$!
sleep 1

game_window() { xdotool search --onlyvisible --name '^Game$' 2>/dev/null | head -1 || true; }

clean=0
echo "load: $(cut -d" " -f1-3 /proc/loadavg)"
for run in $(seq "$runs"); do
  rm -f "$game/ntleac.log" "$work/exit"
  # The subshell notes the launcher's status and the moment it ended.
  (
    cd "$game"
    status=0
    "$wine" launcher.exe </dev/null >/dev/null 2>&1 || status=$?
    echo "$status $EPOCHREALTIME" >"$work/exit"
  ) &
  runner=$!
  window=""
  for _ in $(seq 300); do
    window=$(game_window)
    [ -n "$window" ] && break
    sleep 0.05
  done
  verdict="no window"
  if [ -n "$window" ]; then
    sleep 0.3
    xdotool windowfocus "$window" 2>/dev/null || true
    xdotool keydown space
    sleep 0.15
    xdotool keyup space
    # The movie's length, the watchdog's grace and some room for a slow machine.
    limit=$(((seconds + 8) * 20))
    for _ in $(seq "$limit"); do
      [ -s "$work/exit" ] && break
      sleep 0.05
    done
    # The launcher may end before cmd.exe has started ntleac.
    for _ in $(seq 100); do
      [ -s "$game/ntleac.log" ] && break
      sleep 0.05
    done
    if [ ! -s "$work/exit" ]; then
      verdict="hung"
    elif [ ! -s "$game/ntleac.log" ]; then
      verdict="no launch"
    else
      read -r status ended <"$work/exit"
      started=$(stat -c %.6Y "$game/ntleac.log")
      after=$(awk -v a="$ended" -v b="$started" 'BEGIN { printf "%.3f", a - b }')
      verdict="status $status, ended ${after} s after the game's start"
      if [ "$status" = 0 ] && awk -v d="$after" 'BEGIN { exit !(d <= 1.0) }'; then
        clean=$((clean + 1))
        verdict="clean: $verdict"
      fi
    fi
  fi
  if kill -0 "$runner" 2>/dev/null; then
    pkill -KILL -P "$runner" 2>/dev/null || true
  fi
  wait "$runner" 2>/dev/null || true
  echo "run $run: $verdict"
done
echo "clean exits: $clean of $runs ($(basename "$launcher") under $(basename "$wine"), sound: $sound)"
