# shellcheck shell=bash
# What the benchmark scripts share; sourced, never run (save, windows, build and linux_build are
# set here for them). Whatever it starts (and whatever a script adds to bench_pids) is stopped
# when the script exits.

bench_pids=()
bench_stop() {
  local pid
  for pid in ${bench_pids[@]+"${bench_pids[@]}"}; do kill "$pid" 2>/dev/null || true; done
}
trap bench_stop EXIT

# The start every benchmark script shares: reads [--windows] [--save] [BUILD_DIR] from the
# script's arguments and sets `windows`, `save`, `build` (default build/windows-x64 or
# build/linux-release) and `linux_build`, where the driver and the movie writer are
# (BENCH_LINUX_BUILD, default build/linux-release); then, unless it already runs there, runs the
# script again inside scripts/with-test-env.sh (a display of its own and, for --windows, Wine).
#   bench_start SCRIPT ARGS...
bench_start() {
  local script=$1 root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  shift
  save=0
  windows=0
  while [ $# -gt 0 ]; do
    case $1 in
      --save) save=1 ;;
      --windows) windows=1 ;;
      *) break ;;
    esac
    shift
  done
  if [ $windows = 1 ]; then
    build=$(realpath "${1:-$root/build/windows-x64}")
  else
    build=$(realpath "${1:-$root/build/linux-release}")
  fi
  # shellcheck disable=SC2034 # read by the scripts that source this
  linux_build=$(realpath "${BENCH_LINUX_BUILD:-$root/build/linux-release}")
  if [ -z "${LAUNCHER_BENCH_IN_ENV:-}" ]; then
    local options=()
    [ $save = 1 ] && options+=(--save)
    [ $windows = 1 ] && options+=(--windows)
    LAUNCHER_TEST_WINE=$windows LAUNCHER_BENCH_IN_ENV=1 exec "$root/scripts/with-test-env.sh" \
      "$script" "${options[@]}" "$build"
  fi
}

# Fails the script, naming it, unless every file given is there.
#   bench_need SCRIPT_NAME HINT FILE...
bench_need() {
  local name=$1 hint=$2 f
  shift 2
  for f in "$@"; do
    [ -f "$f" ] || { echo "$name: $f missing; $hint" >&2; exit 1; }
  done
}

# A 1920x1080 test card with a flat patch of RRGGBB where the driver probes: the logo.
#   make_logo FILE RRGGBB [EXTRA_FILTER]
make_logo() {
  ffmpeg -v error -y -f lavfi -i "testsrc2=s=1920x1080:r=1" -frames:v 1 \
    -vf "${3:+$3,}drawbox=x=720:y=360:w=480:h=360:color=0x$2:t=fill" -q:v 2 "$1"
}

# The processor's model name.
bench_cpu() {
  awk -F: '/model name/ {gsub(/^ +/, "", $2); print $2; exit}' /proc/cpuinfo
}

# Writes a report into its own section of a results file (between its markers), keeping the
# hand-written notes and tables around it; a section not there yet goes at the end.
#   save_section FILE NAME BODY
save_section() {
  python3 - "$1" "$2" "$3" <<'PY'
import sys
path, name, body = sys.argv[1:]
begin, end = f"<!-- {name}:begin -->", f"<!-- {name}:end -->"
text = open(path).read()
block = f"{begin}\n{body.strip()}\n{end}"
if begin in text and end in text:
    text = text[:text.index(begin)] + block + text[text.index(end) + len(end):]
else:
    text = text.rstrip("\n") + "\n\n" + block + "\n"
open(path, "w").write(text)
PY
  echo "bench: wrote the $2 section of $1" >&2
}

# A click track as MP3 stream sound for a 30 fps movie: a 4 ms click at the start of every tenth
# frame (14,700 samples), silence between, SECONDS long; sets `click_delay_ms` to the MP3
# encoder's priming (the decoded clicks come that much after their frames' starts: the file's,
# not the player's, so the driver takes it off).
#   make_click_track FILE SECONDS
make_click_track() {
  ffmpeg -v error -y -f lavfi \
    -i "aevalsrc='if(lt(mod(n\,14700)\,176)\,0.8*sin(2*PI*2000*t)\,0)':s=44100:d=$2" -ac 2 \
    -c:a libmp3lame -b:a 128k -write_xing 0 -id3v2_version 0 "$1"
  # shellcheck disable=SC2034 # read by the scripts that source this
  click_delay_ms=$(ffmpeg -v error -i "$1" -f s16le -ac 1 -ar 44100 - | python3 -c '
import array, sys
s = array.array("h", sys.stdin.buffer.read())
print(f"{next(i for i, v in enumerate(s) if abs(v) > 8000) / 44.1:.1f}")')
}

# A PulseAudio server of its own in DIR with only a null sink ("silent"), answering on
# DIR/native: a sound card that plays at its real pace, whose monitor hears what it plays. It is
# kept playing silence at a low latency: idle, a null sink renders up to seconds of silence ahead
# and doesn't take it back for a stream that starts (a real card's sink rewinds), so a new stream
# would wait that long and then stay that far behind what its server reports.
start_null_sink() {
  local dir=$1
  mkdir -p "$dir"
  PULSE_RUNTIME_PATH="$dir" XDG_RUNTIME_DIR="$dir" HOME="$dir" \
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes --use-pid-file=no \
    --load="module-null-sink sink_name=silent" \
    --load="module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
    >/dev/null 2>&1 &
  bench_pids+=($!)
  for _ in $(seq 100); do
    [ -S "$dir/native" ] && break
    sleep 0.05
  done
  PULSE_SERVER="unix:$dir/native" pacat --raw --format=s16le --rate=44100 --channels=2 \
    --latency-msec=10 </dev/zero &
  bench_pids+=($!)
  sleep 1
}

# What a player's machine has around a Windows program under Wine: openbox on the display
# (without a window manager Wine waits up to 2 s for every hide) and the null sink of
# start_null_sink in DIR/pulse.
start_wine_players() {
  local dir=$1
  openbox --sm-disable --startup "touch $dir/openbox-ready" >/dev/null 2>&1 &
  bench_pids+=($!)
  start_null_sink "$dir/pulse"
  for _ in $(seq 300); do
    [ -e "$dir/openbox-ready" ] && break
    sleep 0.05
  done
}
