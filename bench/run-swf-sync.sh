#!/usr/bin/env bash
# Measures what a viewer of an SWF opening sees and hears: whether its frames show on time, and
# how far the picture is from the sound as it leaves the (null) sound card, with the machine idle
# and with one other process keeping a core busy. Prints a Markdown table.
#   bench/run-swf-sync.sh [--save] [BUILD_DIR]             the Linux launcher (build/linux-release)
#   bench/run-swf-sync.sh --windows [--save] [BUILD_DIR]   the x64 launcher under wine64
#                                                          (build/windows-x64)
# The driver and the movie writer come from build/linux-release (BENCH_LINUX_BUILD overrides).
# BENCH_RUNS rounds (default 5) of an idle and a busy run each; BENCH_FRAME_LOG=DIR keeps each
# round's frame times there. --save writes the table into its own section of bench/RESULTS.md.
# Figures only: nothing here fails on a slow number.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/bench-lib.sh
. "$root/bench/bench-lib.sh"
bench_start "$0" "$@"
program=launcher
[ $windows = 1 ] && program=launcher.exe
bench_need run-swf-sync "build linux-release (and windows-x64 for --windows)" \
  "$build/$program" "$linux_build/bench_driver" "$linux_build/write_swf_movies"
runs=${BENCH_RUNS:-5}
work="$build/bench-swf-sync"
rm -rf "$work" && mkdir -p "$work/media" "$work/game"

logo_rgb=2040c0 movie_rgb=20c040
echo "run-swf-sync: making media" >&2
make_logo "$work/media/logo.jpg" "$logo_rgb"
# The benchmark's numbered 6 s movie with a click every tenth frame as its stream sound.
make_click_track "$work/media/clicks.mp3" 6
delay_ms=$click_delay_ms
"$linux_build/write_swf_movies" "$work/media" "$work/media/clicks.mp3"
game="$work/game"
cp "$work/media/logo.jpg" "$game/"
cp "$work/media/bench.swf" "$game/OP.swf"
printf '"logo.jpg","OP.swf","Game.exe","FULL"\n' >"$game/Start.ini"

driver=("$linux_build/bench_driver" --cwd "$game" --logo "$logo_rgb" --movie "$movie_rgb"
        --idle-ms 500 --frames 180 --fps 30 --listen silent.monitor --click-every 10
        --click-delay-ms "$delay_ms")
export PULSE_SERVER="unix:$work/pulse/native"
if [ $windows = 1 ]; then
  cp "$build/launcher.exe" "$game/"
  cp "$build/stand_in_ntleac.exe" "$game/ntleac.exe"
  start_wine_players "$work"
  driver+=(--keep-focus --stamp-wait-ms 0 -- /usr/lib/wine/wine64 launcher.exe)
else
  cp "$build/launcher" "$game/"
  cp "$linux_build/bench_ntleac" "$game/ntleac"
  start_null_sink "$work/pulse"
  export SDL_AUDIODRIVER=pulseaudio
  driver+=(-- "$game/launcher")
fi

results="$work/results.txt"
: >"$results"
#   round KIND RESULTS NUMBER   (BENCH_FRAME_LOG: the frame times in KIND-NUMBER.log)
round() {
  local log=()
  if [ -n "${BENCH_FRAME_LOG:-}" ]; then
    mkdir -p "$BENCH_FRAME_LOG"
    log=(--frame-log "$BENCH_FRAME_LOG/$1-$3.log")
  fi
  "${driver[0]}" "${log[@]}" "${driver[@]:1}" 2>>"$work/programs.log" | sed "s/^/$1./" >>"$2" || true
}
if [ $windows = 1 ]; then
  echo "run-swf-sync: warm-up round (not counted)" >&2
  round idle "$work/warm-up.txt" 0
fi
for i in $(seq "$runs"); do
  echo "run-swf-sync: round $i of $runs" >&2
  round idle "$results" "$i"
  # One process spinning on a core for the length of the run.
  bash -c 'while :; do :; done' &
  busy=$!
  bench_pids+=("$busy")
  round busy "$results" "$i"
  kill "$busy"
  wait "$busy" 2>/dev/null || true
done

table=$(python3 - "$results" "$runs" <<'EOF'
import statistics, sys
values = {}
for line in open(sys.argv[1]):
    key, _, value = line.strip().partition("=")
    try:
        values.setdefault(key, []).append(float(value))
    except ValueError:
        pass
def cell(key, unit, digits=1):
    v = values.get(key, [])
    if not v:
        return "n/a"
    text = f"{statistics.median(v):.{digits}f} {unit}"
    return text + (f" ({min(v):.{digits}f}–{max(v):.{digits}f})" if len(v) > 1 else "")
def met(ok):
    return "n/a" if ok is None else ("yes" if ok else "**no**")
print(f"| Figure (median of {sys.argv[2]} rounds, min–max) | Idle | A busy core | Goal | Met (idle, busy) |")
print("|---|---|---|---|---|")
def on_time(who, goal):
    v = values.get(f"{who}.frames_on_time_pct", [])
    return None if not v else statistics.median(v) >= goal
print(f"| Frames shown within one frame period of their time (180) | {cell('idle.frames_on_time_pct', '%')} | "
      f"{cell('busy.frames_on_time_pct', '%')} | ≥ 99 % idle, ≥ 98 % busy | "
      f"{met(on_time('idle', 99))}, {met(on_time('busy', 98))} |")
def within(who):
    lo, hi = values.get(f"{who}.sound_offset_min_ms", []), values.get(f"{who}.sound_offset_max_ms", [])
    return None if not lo else min(lo) >= -1000 / 30 and max(hi) <= 1000 / 30
print(f"| Picture less sound as heard, median of a round's clicks 2 to 18 | {cell('idle.sound_offset_ms', 'ms')} | "
      f"{cell('busy.sound_offset_ms', 'ms')} | within ±33.3 ms | — |")
print(f"| The same, earliest click of any round | {cell('idle.sound_offset_min_ms', 'ms')} | "
      f"{cell('busy.sound_offset_min_ms', 'ms')} | | |")
print(f"| The same, latest click of any round | {cell('idle.sound_offset_max_ms', 'ms')} | "
      f"{cell('busy.sound_offset_max_ms', 'ms')} | every click within ±33.3 ms | "
      f"{met(within('idle'))}, {met(within('busy'))} |")
print(f"| The first frame (shown at once, before any sound) less its click | {cell('idle.sound_first_offset_ms', 'ms')} | "
      f"{cell('busy.sound_first_offset_ms', 'ms')} | — | — |")
print(f"| Clicks heard | {cell('idle.clicks_heard', '', 0)} | {cell('busy.clicks_heard', '', 0)} | 18 | — |")
print(f"| Held key to first frame | {cell('idle.key_to_frame_ms', 'ms')} | {cell('busy.key_to_frame_ms', 'ms')} | — | — |")
print(f"| CPU while playing | {cell('idle.play_cpu_pct', '% of a core')} | {cell('busy.play_cpu_pct', '% of a core')} | — | — |")
EOF
)
if [ $windows = 1 ]; then
  section=swf-sync-windows
  title="SWF frames and sound as heard (x64 build under wine64)"
  how="$(/usr/lib/wine/wine64 --version), windows-x64 build, openbox; the sound through waveOut
(Wine's winmm over winepulse)"
else
  section=swf-sync-linux
  title="SWF frames and sound as heard (Linux)"
  how="linux-release build; the sound through SDL's PulseAudio driver"
fi
report=$(cat <<EOF
## $title

Measured $(date -u +'%Y-%m-%d %H:%M UTC') on $(nproc) cores ($(bench_cpu)), Xvfb 1280×1024×24, no GPU;
$how into a PulseAudio null sink. Load average when the run began: $(cut -d' ' -f1-3 /proc/loadavg).
\`bench/run-swf-sync.sh\`: the launcher full screen plays the benchmark's 6 s 800×600 SWF at
30 fps (tests/e2e/swf_movies), its frames numbered at the probe point, with MP3 stream sound
that clicks at the start of every tenth frame. Each round plays it once on an idle machine and
once beside a shell loop spinning on one core.

$table

How it is measured (bench/bench_driver.cpp, bench/monitor_recorder.h):
- Frames: the driver reads the pixel at the screen's centre about every millisecond; a frame is
  on time when it shows no later than one frame period after its sound is heard: the click of its
  tenth (or the first frame's) as heard, and a period a frame from there (a frame never seen is
  late). A sound that stalls takes its frames' due times with it.
- Sound as heard: parec records the null sink's monitor in 5 ms pieces while the launcher runs;
  the null sink plays at its own timer's pace and hands each block to the monitor as it plays it.
  A piece's arrival (CLOCK_MONOTONIC, the pixel watch's clock) less its samples' time gives the
  recording's start; the 5th percentile over all pieces is taken, as a piece can be read late but
  not early. A click is heard where the recording first passes a level after 100 ms of quiet.
- Offset: when frame 1 + 10 j showed less when click j was heard, less the MP3 encoder's priming
  ($delay_ms ms here, from the decoded file: the click's own place in the samples the player
  plays). Positive: the picture comes after the sound. The first frame shows at the key, before
  any sound can be heard (the device's delay), so it is given apart and left out of the goal.
- The null sink is kept playing silence (bench/bench-lib.sh): idle, it renders seconds of silence
  ahead and a stream that starts then waits behind it, which a real card's sink does not do.
EOF
)
echo "$report"
[ $save = 1 ] && save_section "$root/bench/RESULTS.md" "$section" "$report"
exit 0
