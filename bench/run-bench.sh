#!/usr/bin/env bash
# Measures the launcher beside bare references in the same run and prints a Markdown table.
#   bench/run-bench.sh [--save] [BUILD_DIR]             the Linux launcher (build/linux-release)
#   bench/run-bench.sh --windows [--save] [BUILD_DIR]   the x64 Windows launcher under wine64
#                                                       (build/windows-x64)
# BUILD_DIR must hold the launcher and its references: the linux-release preset builds the Linux
# ones and the driver, the windows-x64 preset the Windows ones (the driver always comes from
# build/linux-release; BENCH_LINUX_BUILD overrides). Runs under its own Xvfb and, for Windows, its
# own Wine prefix (scripts/with-test-env.sh); BENCH_RUNS rounds (default 5), medians reported.
# --save also writes the report into its own section of bench/RESULTS.md, keeping the rest.
# Figures only: nothing here fails on a slow number.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/bench-lib.sh
. "$root/bench/bench-lib.sh"
bench_start "$0" "$@"
if [ $windows = 1 ]; then
  programs=(launcher.exe wic_reference.exe mf_reference.exe stand_in_ntleac.exe)
else
  programs=(launcher bench_sdl_reference bench_mpv_reference bench_ntleac)
fi
bench_need run-bench "build the linux-release (for --windows also the windows-x64) preset first" \
  "${programs[@]/#/$build/}" "$linux_build/bench_driver" "$linux_build/write_swf_movies"
runs=${BENCH_RUNS:-5}
work="$build/bench-run"
rm -rf "$work" && mkdir -p "$work/media"

# Colours at the screen's centre, where the driver probes: the logo's, the movie's and that of the
# movie's last 200 ms (its tail, a mark close to the end).
logo_rgb=2040c0 movie_rgb=20c040 tail_rgb=ff8000
echo "run-bench: making media" >&2
# A 1920x1080 JPEG with photo-like detail (a test card with grain) and a flat patch in the middle.
make_logo "$work/media/logo.jpg" "$logo_rgb" noise=alls=12
# A 3 s 1280x720 H.264/AAC movie: moving test card with a flat patch in the middle.
ffmpeg -v error -y -f lavfi -i "testsrc2=s=1280x720:r=25:d=3" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:d=3" \
  -vf "drawbox=x=440:y=210:w=400:h=300:color=0x$movie_rgb:t=fill:enable='lt(t,2.8)',drawbox=x=440:y=210:w=400:h=300:color=0x$tail_rgb:t=fill:enable='gte(t,2.8)'" \
  -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -b:a 96k -shortest "$work/media/OP.mp4"

game="$work/game"
mkdir -p "$game"
cp "$work/media/logo.jpg" "$work/media/OP.mp4" "$game/"
printf '"logo.jpg","OP.mp4","Game.exe","FULL"\n' >"$game/Start.ini"

# The SWF player's movie: 6 s of 800x600 at 30 fps with MP3 stream sound, its frames numbered at
# the probe point (tests/e2e/swf_movies); the same logo, in a game folder of its own.
# Written by the Linux build's writer for both platforms.
swf_game="$work/game-swf"
ffmpeg -v error -y -f lavfi -i "sine=frequency=440:sample_rate=44100:d=6" -ac 2 \
  -c:a libmp3lame -b:a 128k -write_xing 0 -id3v2_version 0 "$work/media/tone.mp3"
"$linux_build/write_swf_movies" "$work/media" "$work/media/tone.mp3"
mkdir -p "$swf_game"
cp "$work/media/logo.jpg" "$swf_game/"
cp "$work/media/bench.swf" "$swf_game/OP.swf"
printf '"logo.jpg","OP.swf","Game.exe","FULL"\n' >"$swf_game/Start.ini"

driver="$linux_build/bench_driver"
results="$work/results.txt"
: >"$results"

# The medians, spreads and ratios of the results ("who.figure=value" lines) as a Markdown table,
# for "linux" or "windows".
make_table() {
  python3 - "$results" "$runs" "$1" <<'EOF'
import statistics, sys
values = {}
errors = []
for line in open(sys.argv[1]):
    key, _, value = line.strip().partition("=")
    if key.endswith(".error"):
        errors.append(f"{key}: {value}")
        continue
    try:
        values.setdefault(key, []).append(float(value))
    except ValueError:
        pass

def med(key):
    v = [x for x in values.get(key, []) if x == x]
    return statistics.median(v) if v else None

def fmt(x, unit, digits=0):
    return "n/a" if x is None else f"{x:.{digits}f} {unit}"

def spread(key, scale=1.0, digits=0, shift=0.0):
    v = [x for x in values.get(key, []) if x == x]
    if len(v) < 2:
        return ""
    return f" ({(min(v) - shift) * scale:.{digits}f}–{(max(v) - shift) * scale:.{digits}f})"

rows = []
def row(name, fig, ref, target, met):
    rows.append(f"| {name} | {fig} | {ref} | {target} | {met} |")

def yes(ok):
    return "n/a" if ok is None else ("yes" if ok else "**no**")

def statuses_and_errors():
    st = values.get("launcher.exit_status", [])
    print()
    print("Launcher exit statuses: " + (", ".join(str(int(x)) for x in st) or "none recorded"))
    if errors:
        print("Errors: " + "; ".join(errors))

if sys.argv[3] == "windows":
    def figure(name, key, reference, what):
        s, r = med("launcher." + key), med(reference + "." + key)
        ratio = "n/a" if s is None or not r else f"{s / r:.2f}"
        print(f"| {name} | {fmt(s, 'ms')}{spread('launcher.' + key)} | "
              f"{fmt(r, 'ms')}{spread(reference + '.' + key)} ({what}) | {ratio} |")
    print("| Figure (median of %s runs) | Launcher (min–max) | Reference (min–max) | Launcher / reference |" % sys.argv[2])
    print("|---|---|---|---|")
    figure("Start to window shown", "start_to_logo_ms", "wic", "bare WIC program")
    figure("Held key to first movie frame (1280×720 H.264)", "key_to_frame_ms", "mf", "bare Media Session")
    sk, k = med("swf.key_to_frame_ms"), med("launcher.key_to_frame_ms")
    print(f"| Held key to first SWF frame (800×600, 30 fps, MP3 stream sound) | {fmt(sk, 'ms')}{spread('swf.key_to_frame_ms')} | "
          f"{fmt(k, 'ms')} (the launcher's MP4 path above) | {'n/a' if sk is None or not k else f'{sk / k:.2f}'} |")
    def swf_rows(who, how):
        def swf_row(name, key, unit, scale=1.0):
            v = med(f"{who}.{key}")
            print(f"| {name} ({how}) | {fmt(None if v is None else v * scale, unit, 1)}"
                  f"{spread(f'{who}.{key}', scale, 1)} | — | — |")
        swf_row("SWF frames shown within one frame period of their time (180 frames; goal ≥ 99 %)",
                "frames_on_time_pct", "%")
        swf_row("Drift of the SWF's frames from the second to the last (goal within one frame, 33.3 ms)",
                "drift_ms", "ms")
        swf_row("The second SWF frame's offset from the first's grid", "second_frame_offset_ms", "ms")
        swf_row("CPU while playing the SWF", "play_cpu_pct", "% of a core")
        swf_row("Private memory (USS) while playing the SWF", "play_uss_kb", "MB", 1 / 1024)
    swf_rows("swf", "no sound device")
    swf_rows("swfsink", "waveOut into a null sink")
    statuses_and_errors()
    sys.exit()

s, r = med("launcher.start_to_logo_ms"), med("sdl.start_to_logo_ms")
row("Start to logo shown", fmt(s, "ms") + spread("launcher.start_to_logo_ms"), fmt(r, "ms") + " (bare SDL)",
    "≤ 100 ms + 1.25 × reference" + ("" if r is None else f" = {100 + 1.25 * r:.0f} ms"),
    yes(None if s is None or r is None else s <= 100 + 1.25 * r))
c, rc = med("launcher.idle_cpu_pct"), med("sdl.idle_cpu_pct")
row("Idle CPU, 3 s of logo", fmt(c, "% of a core", 2) + spread("launcher.idle_cpu_pct", digits=2), fmt(rc, "%", 2) + " (bare SDL)", "< 1 %",
    yes(None if c is None else c < 1))
m, rm = med("launcher.logo_hwm_kb"), med("sdl.logo_hwm_kb")
mb = lambda kb: None if kb is None else kb / 1024
row("Peak memory (VmHWM), logo", fmt(mb(m), "MB", 1) + spread("launcher.logo_hwm_kb", 1 / 1024, 1), fmt(mb(rm), "MB", 1) + " (bare SDL)", "< 40 MB",
    yes(None if m is None else m / 1024 < 40))
u, su, mu = med("launcher.logo_uss_kb"), med("sdl.logo_uss_kb"), med("mpv.logo_uss_kb")
def rss_pss(who):
    r, p = med(who + ".logo_rss_kb"), med(who + ".logo_pss_kb")
    return "" if r is None or p is None else f"; RSS {r / 1024:.1f}, PSS {p / 1024:.1f}"
row("Private memory (USS), logo", fmt(mb(u), "MB", 1) + spread("launcher.logo_uss_kb", 1 / 1024, 1) + rss_pss("launcher"),
    fmt(mb(su), "MB", 1) + " (bare SDL" + rss_pss("sdl") + "); " + fmt(mb(mu), "MB", 1) + " (libmpv host, libmpv linked but not started" + rss_pss("mpv") + ")",
    "≤ 32 MB", yes(None if u is None else u / 1024 <= 32))
mm, rmm = med("launcher.movie_hwm_kb"), med("mpv.movie_hwm_kb")
row("Peak memory (VmHWM), movie", fmt(mb(mm), "MB", 1) + spread("launcher.movie_hwm_kb", 1 / 1024, 1), fmt(mb(rmm), "MB", 1) + " (libmpv host)", "—", "—")
k, rk = med("launcher.key_to_frame_ms"), med("mpv.key_to_frame_ms")
row("Held key to first movie frame (1280×720 H.264)", fmt(k, "ms") + spread("launcher.key_to_frame_ms"), fmt(rk, "ms") + " (libmpv host)",
    "≤ 1.2 × reference + 25 ms" + ("" if rk is None else f" = {1.2 * rk + 25:.0f} ms"),
    yes(None if k is None or rk is None else k <= 1.2 * rk + 25))
# The end of the movie is where libmpv reports it: in the reference, that many ms after the
# movie's tail colour first showed; the launcher's ntleac start counts from its own tail.
lt, rt = med("launcher.tail_to_ntleac_ms"), med("mpv.tail_to_end_ms")
e = None if lt is None or rt is None else lt - rt
re_ = med("mpv.end_to_ntleac_ms")
row("End of movie to ntleac started", fmt(e, "ms") + ("" if rt is None else spread("launcher.tail_to_ntleac_ms", shift=rt)), fmt(re_, "ms") + " (libmpv host)", "≤ 50 ms",
    yes(None if e is None else e <= 50))
sk = med("swf.key_to_frame_ms")
row("Held key to first SWF frame (800×600, 30 fps, MP3 stream sound)", fmt(sk, "ms") + spread("swf.key_to_frame_ms"),
    fmt(k, "ms") + " (the launcher's MP4 path above)", "≤ 100 ms and below the MP4 path's",
    yes(None if sk is None or k is None else sk <= 100 and sk < k))
ot = med("swf.frames_on_time_pct")
row("SWF frames shown within one frame period of their time (180 frames)", fmt(ot, "%", 1) + spread("swf.frames_on_time_pct", digits=1),
    "—", "≥ 99 %", yes(None if ot is None else ot >= 99))
d = med("swf.drift_ms")
so = med("swf.second_frame_offset_ms")
row("Sound-to-picture drift over the SWF", fmt(d, "ms", 1) + spread("swf.drift_ms", digits=1),
    "second frame's offset from the first's grid: " + fmt(so, "ms", 1),
    "within one frame (33.3 ms)", yes(None if d is None else abs(d) <= 1000 / 30))
pc = med("swf.play_cpu_pct")
row("CPU while playing the SWF", fmt(pc, "% of a core", 1) + spread("swf.play_cpu_pct", digits=1), "—", "—", "—")
pu = med("swf.play_uss_kb")
row("Private memory (USS) while playing the SWF", fmt(mb(pu), "MB", 1) + spread("swf.play_uss_kb", 1 / 1024, 1), "—", "—", "—")
print("| Figure (median of %s runs) | Launcher (min–max) | Reference | Target | Met? |" % sys.argv[2])
print("|---|---|---|---|---|")
print("\n".join(rows))
print("VmHWM at the moment the logo first showed: launcher %s, bare SDL %s." %
      (fmt(mb(med("launcher.shown_hwm_kb")), "MB", 1), fmt(mb(med("sdl.shown_hwm_kb")), "MB", 1)))
statuses_and_errors()
EOF
}

cpu=$(awk -F: '/model name/ {gsub(/^ +/, "", $2); print $2; exit}' /proc/cpuinfo)
load=$(cut -d' ' -f1-3 /proc/loadavg)

# One round of the Windows programs under wine64; figures appended to $1.
windows_round() {
  local wine=/usr/lib/wine/wine64
  # openbox gives each new window the keyboard; moving the focus to its frame would take it from
  # Wine's window.
  local common=(--cwd "$game" --keep-focus --stamp-wait-ms 0 --idle-ms 1000 --logo "$logo_rgb")
  local movie=(--movie "$movie_rgb" --tail "$tail_rgb")
  "$driver" "${common[@]}" "${movie[@]}" -- $wine launcher.exe 2>>"$work/programs.log" |
    sed 's/^/launcher./' >>"$1" || true
  "$driver" "${common[@]}" -- $wine wic_reference.exe logo.jpg 2>>"$work/programs.log" |
    sed 's/^/wic./' >>"$1" || true
  "$driver" "${common[@]}" "${movie[@]}" -- $wine mf_reference.exe logo.jpg OP.mp4 \
    2>>"$work/programs.log" | sed 's/^/mf./' >>"$1" || true
  # The SWF player without a sound device (it takes the sound at its clock's pace), and with its
  # sound through waveOut into a PulseAudio null sink.
  local swf=(--cwd "$swf_game" --keep-focus --stamp-wait-ms 0 --idle-ms 500 --logo "$logo_rgb"
             --movie "$movie_rgb" --frames 180 --fps 30 -- "$wine" launcher.exe)
  PULSE_SERVER="unix:$work/pulse/none" "$driver" "${swf[@]}" 2>>"$work/programs.log" |
    sed 's/^/swf./' >>"$1" || true
  PULSE_SERVER="unix:$work/pulse/native" "$driver" "${swf[@]}" 2>>"$work/programs.log" |
    sed 's/^/swfsink./' >>"$1" || true
}

if [ $windows = 1 ]; then
  section="windows-bench"
  cp "$build/launcher.exe" "$build/wic_reference.exe" "$build/mf_reference.exe" "$game/"
  cp "$build/stand_in_ntleac.exe" "$game/ntleac.exe"
  cp "$build/launcher.exe" "$swf_game/"
  cp "$build/stand_in_ntleac.exe" "$swf_game/ntleac.exe"
  # openbox, and the null sink of the SWF rows that play their sound.
  start_wine_players "$work"
  # Wine's first start of each program in a prefix is much slower than the next ones.
  echo "run-bench: warm-up round (not counted)" >&2
  windows_round "$work/warm-up.txt"
  for i in $(seq "$runs"); do
    echo "run-bench: round $i of $runs" >&2
    windows_round "$results"
  done
  table=$(make_table windows)
  report=$(cat <<EOF
## Windows (x64 build under wine64)

Measured $(date -u +'%Y-%m-%d %H:%M UTC') on $(nproc) cores ($cpu), Xvfb 1280×1024×24 with
openbox, no GPU, no sound card; $(/usr/lib/wine/wine64 --version), windows-x64 build (the 64-bit
twin of the shipped 32-bit program). Launcher in full-screen mode with the same 1920×1080 JPEG
logo and 3 s 1280×720 H.264/AAC movie as the Linux figures. Load average when the run began:
$load, when it ended: $(cut -d' ' -f1-3 /proc/loadavg) (other work on the machine widens the
spread). One warm-up round before the counted ones is left out: Wine's first start of a program
in a prefix is slow.

$table

How it is measured (bench/bench_driver.cpp, the Linux driver, from outside Wine):
- "Shown" means seen on the screen, as for Linux: the pixel at the screen's centre, read through
  XGetImage about every millisecond, has the colour the logo or the movie paints there. Under
  Wine the launcher's full-screen window covers the whole display, so the same probe point
  serves; the references open their window over the primary monitor.
- Start to window shown: fork of "wine64 PROGRAM" (in the game folder) to the logo's colour at
  the probe point. Wine's own start of a process is in both figures; the prefix's wineserver and
  desktop already run (scripts/with-test-env.sh). The launcher's figure holds its 100 ms pause
  before the window shows.
- Held key to first frame: XTest key press (held 150 ms) to the movie's colour at the probe
  point, the keyboard left with the window openbox gave it to. The launcher polls keys every
  50 ms by design, so on average 25 ms of its figure is the poll; the reference reacts to
  WM_KEYDOWN.
- Ratio: the launcher's median over the reference's.
- The SWF rows: the launcher plays the same 6 s 800×600 SWF at 30 fps with MP3 stream sound as
  the Linux rows (tests/e2e/swf_movies), full screen, its frames numbered at the probe point;
  on time and drift as for the Linux rows. Twice a round: with no sound device (PULSE_SERVER names no
  server: the player takes the sound at its clock's pace) and with its sound through waveOut
  into a PulseAudio null sink (Wine's winmm over winepulse), where the sound paces the frames.
- References: bench/wic_reference.cpp decodes the same JPEG through WIC (32bpp BGR) and paints it
  stretched with StretchDIBits into a borderless WS_POPUP window over the primary monitor;
  bench/mf_reference.cpp shows the same window and on the first key resolves the MP4
  synchronously, builds a topology (the video stream into the enhanced video renderer on that
  window; the audio stream into the audio renderer only where a sound device exists, as the
  launcher does: none here) and starts a Media Session.
EOF
  )
else
  section="linux-bench"
  cp "$build/launcher" "$game/launcher"
  cp "$build/bench_ntleac" "$game/ntleac"
  cp "$build/launcher" "$swf_game/launcher"
  cp "$build/bench_ntleac" "$swf_game/ntleac"
  for i in $(seq "$runs"); do
    echo "run-bench: round $i of $runs" >&2
    "$driver" --cwd "$game" --logo $logo_rgb --movie $movie_rgb --tail $tail_rgb -- "$game/launcher" 2>>"$work/programs.log" |
      sed 's/^/launcher./' >>"$results" || true
    "$driver" --cwd "$game" --logo $logo_rgb -- "$build/bench_sdl_reference" "$game/logo.jpg" 2>>"$work/programs.log" |
      sed 's/^/sdl./' >>"$results" || true
    "$driver" --cwd "$game" --logo $logo_rgb --movie $movie_rgb --tail $tail_rgb -- \
      "$build/bench_mpv_reference" "$game/logo.jpg" "$game/OP.mp4" 2>>"$work/programs.log" | sed 's/^/mpv./' >>"$results" || true
    # The SWF player with SDL's dummy sound driver: it takes the sound at the pace a device would.
    SDL_AUDIODRIVER=dummy "$driver" --cwd "$swf_game" --logo $logo_rgb --movie $movie_rgb --idle-ms 500 \
      --frames 180 --fps 30 -- "$swf_game/launcher" 2>>"$work/programs.log" | sed 's/^/swf./' >>"$results" || true
  done

  table=$(make_table linux)
  report=$(cat <<EOF
## Linux

Measured $(date -u +'%Y-%m-%d %H:%M UTC') on $(nproc) cores ($cpu), Xvfb 1280×1024×24, no GPU, no sound
card; linux-release build. Launcher in full-screen mode with a 1920×1080 JPEG logo and a 3 s
1280×720 H.264/AAC movie. Load average when the run began: $load (other
work on the machine widens the spread).

$table

How it is measured (bench/bench_driver.cpp, from outside the program):
- "Shown" means seen on the screen: the driver reads one pixel at the screen's centre through
  XGetImage about every millisecond; the logo and the movie each paint a known flat colour there.
- Start to logo: fork of the program to the logo's colour at the probe point.
- Idle CPU: CPU time of all the program's threads (/proc/PID/task/*/schedstat) over 3 s of logo,
  starting 0.5 s after the logo appeared.
- Peak memory: VmHWM from /proc/PID/status, read just before the key (logo) and last read while
  the program lived (movie); also read when the logo first showed.
- Private memory: USS = Private_Clean + Private_Dirty from /proc/PID/smaps_rollup, read just
  before the key, beside RSS and PSS. Pages of a shared library count as private while no other
  process maps them, which is the case for FFmpeg's libraries during the benchmark.
- Held key to first frame: XTest key press (held 150 ms) to the movie's colour at the probe point.
  The launcher polls keys every 50 ms by design, so on average 25 ms of this is the poll.
- End of movie to ntleac: the end is where libmpv reports it (MPV_EVENT_END_FILE). The movie's
  last 200 ms paint another colour; the mpv reference notes END_FILE, which gives in the same run
  how long after that colour first shows libmpv reports the end. The launcher's figure is (its
  tail colour seen to ntleac started) minus that median. The stand-in ntleac
  (bench/bench_ntleac.cpp) notes its own start (CLOCK_MONOTONIC). The reference's figure is its
  END_FILE to ntleac started. The launcher polls every 50 ms by design, so on average 25 ms of
  its figure is the poll.
- The SWF rows: the launcher plays a 6 s 800×600 SWF at 30 fps with MP3 stream sound (written
  by tests/e2e/swf_movies), full screen, with SDL_AUDIODRIVER=dummy: SDL's dummy device takes
  the sound at its real pace, so the stream sound paces the frames as a sound card would. The
  movie paints its frame number at the probe point; a frame is on time when it shows no later
  than one frame period after its time on the grid that its first frame sets (a frame never
  seen counts as late). Drift: how far the frames' offset from that grid moved between the
  second frame and the last one seen (a constant offset, such as the wait for the sound to
  start, is not drift; the second frame's offset is printed beside it). CPU: all threads from
  the first frame to the last seen; USS when the middle frame showed.
- References: bench_sdl_reference decodes the same JPEG with SDL_image, opens a borderless window
  over the display and blits the picture stretched; bench_mpv_reference is the same window with
  libmpv drawing through the software render API, starting the movie on the key event and
  starting ntleac on MPV_EVENT_END_FILE.
EOF
  )
fi
echo "$report"
if [ "$save" = 1 ]; then
  save_section "$root/bench/RESULTS.md" "$section" "$report"
fi
