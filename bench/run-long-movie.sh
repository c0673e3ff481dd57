#!/usr/bin/env bash
# Measures the launcher playing a long rendered opening: 60 s of 800x600 at 30 fps, a JPEG for
# every frame (1,800 pictures from a generated picture sequence) with MP3 stream sound, written by
# tests/e2e/swf_movies (pictures.swf). Prints a Markdown table.
#   bench/run-long-movie.sh [--save] [BUILD_DIR]             the Linux launcher
#                                                            (build/linux-release)
#   bench/run-long-movie.sh --windows [--save] [BUILD_DIR]   the x64 Windows launcher under
#                                                            wine64 (build/windows-x64)
# For Linux, BUILD_DIR must hold launcher, bench_ntleac, bench_driver and write_swf_movies (the
# linux-release preset); its sound goes through SDL's PulseAudio driver into a null sink. For
# Windows, BUILD_DIR must hold
# launcher.exe and stand_in_ntleac.exe (the windows-x64 preset), the driver and the writer come
# from build/linux-release (BENCH_LINUX_BUILD overrides); it plays under openbox with its sound
# through waveOut into a PulseAudio null sink, after a warm-up round that is not counted (Wine's
# first start of a program in a prefix is slow). Runs under its own Xvfb and, for Windows, its own
# Wine prefix (scripts/with-test-env.sh); BENCH_RUNS rounds (default 3), medians reported. --save
# also writes the table into its own section of bench/RESULTS.md (one for each platform).
# Figures only: nothing here fails on a slow number.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/bench-lib.sh
. "$root/bench/bench-lib.sh"
bench_start "$0" "$@"
if [ $windows = 1 ]; then
  needed=("$build/launcher.exe" "$build/stand_in_ntleac.exe")
else
  linux_build=$build
  needed=("$build/launcher" "$build/bench_ntleac")
fi
bench_need run-long-movie "build the linux-release (for --windows also the windows-x64) preset" \
  "${needed[@]}" "$linux_build/bench_driver" "$linux_build/write_swf_movies"
runs=${BENCH_RUNS:-3}
seconds=${BENCH_SECONDS:-60}
work="$build/bench-long-movie"
rm -rf "$work" && mkdir -p "$work/media/jpegs" "$work/game"

logo_rgb=2040c0 movie_rgb=20c040
echo "run-long-movie: making media" >&2
make_logo "$work/media/logo.jpg" "$logo_rgb"
# Rendered animation: a moving test card with grain, each frame its own JPEG (about 28 KB).
ffmpeg -v error -y -threads 1 -f lavfi -i "testsrc2=s=800x600:r=30:d=$seconds" \
  -vf "noise=alls=8:allf=t" -q:v 9 "$work/media/jpegs/%04d.jpg"
# Its sound clicks every tenth frame, so a frame is due where its sound is heard.
make_click_track "$work/media/clicks.mp3" "$seconds"
"$linux_build/write_swf_movies" "$work/media" "$work/media/clicks.mp3" - "$work/media/jpegs"
game="$work/game"
cp "$work/media/logo.jpg" "$game/"
cp "$work/media/pictures.swf" "$game/OP.swf"
if [ $windows = 1 ]; then
  cp "$build/launcher.exe" "$game/launcher.exe"
  cp "$build/stand_in_ntleac.exe" "$game/ntleac.exe"
else
  cp "$build/launcher" "$game/launcher"
  cp "$build/bench_ntleac" "$game/ntleac"
fi
printf '"logo.jpg","OP.swf","Game.exe","FULL"\n' >"$game/Start.ini"
movie_bytes=$(stat -c %s "$game/OP.swf")
frames=$((seconds * 30))

results="$work/results.txt"
: >"$results"
driver=(--cwd "$game" --logo "$logo_rgb" --movie "$movie_rgb" --idle-ms 500 --frames "$frames"
        --fps 30 --listen silent.monitor --click-every 10 --click-delay-ms "$click_delay_ms"
        ${BENCH_FRAME_LOG:+--frame-log "$BENCH_FRAME_LOG"})
if [ $windows = 1 ]; then
  # openbox gives the new window the keyboard, and the driver leaves it there: moving the focus to
  # the frame would take it from Wine's window. The Windows stand-in ntleac notes no time.
  driver+=(--keep-focus --stamp-wait-ms 0 -- /usr/lib/wine/wine64 launcher.exe)
  # openbox, and the sound through waveOut into a PulseAudio null sink.
  start_wine_players "$work"
  export PULSE_SERVER="unix:$work/pulse/native"
  echo "run-long-movie: warm-up round (not counted)" >&2
  "$linux_build/bench_driver" "${driver[@]}" 2>>"$work/programs.log" >"$work/warm-up.txt" || true
else
  # The sound into a PulseAudio null sink, which takes it at its real pace.
  start_null_sink "$work/pulse"
  export PULSE_SERVER="unix:$work/pulse/native" SDL_AUDIODRIVER=pulseaudio
  driver+=(-- "$game/launcher")
fi
for i in $(seq "$runs"); do
  echo "run-long-movie: round $i of $runs" >&2
  "$linux_build/bench_driver" "${driver[@]}" 2>>"$work/programs.log" >>"$results" || true
done

table=$(python3 - "$results" "$movie_bytes" "$frames" <<'EOF'
import statistics, sys
values = {}
for line in open(sys.argv[1]):
    key, _, value = line.strip().partition("=")
    try:
        values.setdefault(key, []).append(float(value))
    except ValueError:
        pass
def med(key):
    v = values.get(key, [])
    return statistics.median(v) if v else None
def cell(key, unit, scale=1.0, digits=1):
    v = values.get(key, [])
    if not v:
        return "n/a"
    text = f"{statistics.median(v) * scale:.{digits}f} {unit}"
    return text + (f" ({min(v) * scale:.{digits}f}–{max(v) * scale:.{digits}f})" if len(v) > 1 else "")
def met(key, ok):
    v = med(key)
    return "n/a" if v is None else ("yes" if ok(v) else "**no**")
mb, frames = int(sys.argv[2]) / 1e6, sys.argv[3]
print(f"| Figure ({frames} frames, {mb:.0f} MB CWS) | Launcher | Goal | Met |")
print("|---|---|---|---|")
print(f"| Held key to first frame | {cell('key_to_frame_ms', 'ms')} | within one frame period (33.3 ms) | {met('key_to_frame_ms', lambda v: v <= 33.3)} |")
print(f"| Frames shown within one frame period of their time | {cell('frames_on_time_pct', '%')} | ≥ 99 % | {met('frames_on_time_pct', lambda v: v >= 99)} |")
print(f"| Picture less sound as heard, median of a round's clicks (earliest, latest) | {cell('sound_offset_ms', 'ms')}; "
      f"{cell('sound_offset_min_ms', 'ms')}, {cell('sound_offset_max_ms', 'ms')} | within ±33.3 ms | "
      f"{met('sound_offset_max_ms', lambda v: v <= 1000 / 30)} |")
print(f"| Frames seen at the probe | {cell('frames_seen', '', digits=0)} | {frames} | — |")
print(f"| Drift from the second frame to the last | {cell('drift_ms', 'ms')} | within one frame | — |")
print(f"| Peak memory (VmHWM) while playing | {cell('movie_hwm_kb', 'MB', 1 / 1024)} | < 300 MB | {met('movie_hwm_kb', lambda v: v / 1024 < 300)} |")
print(f"| CPU while playing | {cell('play_cpu_pct', '% of a core')} | — | — |")
print(f"| Private memory (USS) while playing | {cell('play_uss_kb', 'MB', 1 / 1024)} | — | — |")
EOF
)
cpu=$(bench_cpu)
load=$(cut -d' ' -f1-3 /proc/loadavg)
if [ $windows = 1 ]; then
  section=long-movie-bench-windows
  report=$(cat <<EOF
## Long SWF movie (Windows, x64 build under wine64)

Measured $(date -u +'%Y-%m-%d %H:%M UTC') on $(nproc) cores ($cpu), Xvfb with openbox,
$(/usr/lib/wine/wine64 --version), the sound through waveOut into a PulseAudio null sink,
windows-x64 build, $runs rounds after a warm-up round that is not counted (median, spread in
brackets); load average at the start: $load. \`bench/run-long-movie.sh --windows\`: the launcher
full screen plays pictures.swf, $seconds s of 800×600 at 30 fps, a DefineBitsJPEG2 picture for
every frame and MP3 stream sound that clicks every tenth frame; the frames are numbered by a flat
patch at the probe point, and a frame is due where its sound is heard on the null sink's monitor
(bench/bench_driver.cpp --listen, from outside Wine).

$table
EOF
  )
else
  section=long-movie-bench
  report=$(cat <<EOF
## Long SWF movie (Linux)

Measured $(date -u +'%Y-%m-%d %H:%M UTC') on $(nproc) cores ($cpu), Xvfb, the sound through
SDL's PulseAudio driver into a null sink, linux-release build, $runs rounds (median, spread in brackets); load average at the start:
$load. \`bench/run-long-movie.sh\`: the launcher full screen plays pictures.swf, $seconds s of
800×600 at 30 fps, a DefineBitsJPEG2 picture for every frame and MP3 stream sound that clicks
every tenth frame; the frames are numbered by a flat patch at the probe point, and a frame is due where its sound is
heard on the null sink's monitor (bench/bench_driver.cpp --listen, as bench/run-swf-sync.sh).

$table
EOF
  )
fi
echo "$report"
if [ $save = 1 ]; then
  save_section "$root/bench/RESULTS.md" "$section" "$report"
fi
