#!/usr/bin/env bash
# End-to-end scenarios for the Linux launcher, driven from outside like a player would: a real X
# display (Xvfb from scripts/with-test-env.sh), held keys and buttons through xdotool, screenshots
# through ImageMagick's import, and a stand-in ntleac that records how it was started.
#
#   launcher_e2e.sh media WORKDIR WRITER                makes the test pictures and movies once
#   launcher_e2e.sh SCENARIO LAUNCHER WORKDIR WRITER    runs one scenario in its own game folder
# WRITER is write_swf_movies, the program that writes the SWF movies.
#
# Every wait polls with a deadline; nothing sleeps for a fixed long time. A failing scenario keeps
# its game folder (path printed) and the launcher's output for a look.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../../.." && pwd)

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
log() { echo "[$(date +%T.%3N)] $*"; }
now_ms() { date +%s%3N; }

# ---------------------------------------------------------------------------------------------
# Media: a quadrant logo (so stretching and placement show in single pixels), solid-colour movies
# with a tone, a movie that asks to be closed by a chapter, and a file that is no movie at all;
# SWF movies from the tag writer (solid colours on a 4:3 stage, so the bars beside it show).
# ---------------------------------------------------------------------------------------------
logo_w=352
logo_h=224
# Quadrant colours of the logo and the movies' colours, as "R G B".
c_tl="255 0 0" c_tr="0 255 0" c_bl="0 0 255" c_br="255 255 0"
c_movie="255 0 255"
c_swf_bars="32 64 160" c_swf_first="255 0 0" c_swf_second="0 255 0"

make_movie() { # out seconds colour [chapters-file]
  local out=$1 secs=$2 colour=$3 chapters=${4:-}
  local args=(-v error -y -f lavfi -i "color=c=$colour:s=320x240:r=25:d=$secs"
    -f lavfi -i "sine=frequency=440:sample_rate=44100:d=$secs")
  if [ -n "$chapters" ]; then args+=(-i "$chapters" -map 0:v -map 1:a -map_chapters 2); fi
  ffmpeg "${args[@]}" -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -b:a 32k -shortest "$out"
}

make_media() {
  local dir=$1/media stamp
  # Made again whenever this script or the SWF writer (and so what the media should be) changes.
  stamp=$(cat "$here/launcher_e2e.sh" "$swf_writer" | md5sum)
  [ "$(cat "$dir/complete" 2>/dev/null)" = "$stamp" ] && return 0
  rm -rf "$dir.tmp" && mkdir -p "$dir.tmp"
  local half_w=$((logo_w / 2)) half_h=$((logo_h / 2))
  /usr/bin/convert -size "${logo_w}x${logo_h}" xc:'#ffff00' \
    -fill '#ff0000' -draw "rectangle 0,0 $((half_w - 1)),$((half_h - 1))" \
    -fill '#00ff00' -draw "rectangle $half_w,0 $((logo_w - 1)),$((half_h - 1))" \
    -fill '#0000ff' -draw "rectangle 0,$half_h $((half_w - 1)),$((logo_h - 1))" \
    -quality 95 "$dir.tmp/logo.jpg"
  make_movie "$dir.tmp/short.mp4" 1.5 0xff00ff
  make_movie "$dir.tmp/long.mp4" 8 0xff00ff
  cat >"$dir.tmp/chapters.txt" <<'EOF'
;FFMETADATA1
[CHAPTER]
TIMEBASE=1/1000
START=0
END=500
title=Intro
[CHAPTER]
TIMEBASE=1/1000
START=500
END=8000
title=fscommand:Close
EOF
  make_movie "$dir.tmp/close.mp4" 8 0x00ffff "$dir.tmp/chapters.txt"
  printf 'This is not a movie.\n' >"$dir.tmp/broken.mp4"
  cp "$dir.tmp/broken.mp4" "$dir.tmp/broken.swf"
  ffmpeg -v error -y -f lavfi -i "sine=frequency=440:sample_rate=44100:d=6" -ac 2 \
    -c:a libmp3lame -b:a 128k -write_xing 0 -id3v2_version 0 "$dir.tmp/tone.mp3"
  # Red for 1.5 s, then green, as Sorenson H.263 with a keyframe a second.
  ffmpeg -v error -y -f lavfi -i "color=c=red:s=320x240:r=10:d=1.5" -f lavfi \
    -i "color=c=lime:s=320x240:r=10:d=1.5" -filter_complex "[0][1]concat=n=2" -c:v flv -g 10 \
    -q:v 2 "$dir.tmp/video.flv"
  "$swf_writer" "$dir.tmp" "$dir.tmp/tone.mp3" "$dir.tmp/video.flv"
  # A rendered opening: 10 s of 800 x 600 JPEGs at 30 fps with grain (about 8 MB as CWS), red
  # for 9 s and blue for the last second, with a 10 s tone; the writer's other movies of that
  # run are dropped.
  mkdir -p "$dir.tmp/jpegs" "$dir.tmp/pictures"
  ffmpeg -v error -y -threads 1 -f lavfi -i "color=c=red:s=800x600:r=30:d=9" -f lavfi \
    -i "color=c=blue:s=800x600:r=30:d=1" -filter_complex "[0][1]concat=n=2,noise=alls=8:allf=t" \
    -q:v 9 "$dir.tmp/jpegs/%04d.jpg"
  ffmpeg -v error -y -f lavfi -i "sine=frequency=440:sample_rate=44100:d=10" -ac 2 \
    -c:a libmp3lame -b:a 128k -write_xing 0 -id3v2_version 0 "$dir.tmp/pictures/tone.mp3"
  "$swf_writer" "$dir.tmp/pictures" "$dir.tmp/pictures/tone.mp3" - "$dir.tmp/jpegs"
  mv "$dir.tmp/pictures/pictures.swf" "$dir.tmp/pictures.swf"
  rm -rf "$dir.tmp/jpegs" "$dir.tmp/pictures"
  echo "$stamp" >"$dir.tmp/complete"
  rm -rf "$dir" && mv "$dir.tmp" "$dir"
}

# ---------------------------------------------------------------------------------------------
# The game folder and the launcher's run.
# ---------------------------------------------------------------------------------------------
game="" # the game folder of this scenario
launcher_pid=""
launcher_status=""
watch_pid=""

sound_pid="" # a PulseAudio server a scenario started

cleanup() {
  [ -n "$sound_pid" ] && kill "$sound_pid" 2>/dev/null
  [ -n "$launcher_pid" ] && kill -9 "$launcher_pid" 2>/dev/null
  [ -n "$watch_pid" ] && kill "$watch_pid" 2>/dev/null
  return 0
}
trap cleanup EXIT

# new_game NAME: a fresh folder with the launcher copied in and the stand-in ntleac beside it.
new_game() {
  game="$runs/$1"
  rm -rf "$game" && mkdir -p "$game"
  cp "$launcher_exe" "$game/launcher"
  cp "$repo/examples/game/ntleac" "$game/ntleac"
  chmod +x "$game/launcher" "$game/ntleac"
}

# start_ini LOGO MOVIE MODE: writes Start.ini in the game folder.
start_ini() { printf '"%s","%s","Game.exe","%s"\n' "$1" "$2" "$3" >"$game/Start.ini"; }

# run_launcher [CWD]: starts the launcher (cwd defaults to the game folder) in the background.
run_launcher() {
  local cwd=${1:-$game}
  local supp="$repo/tests/linux/lsan.supp"
  export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:halt_on_error=1}"
  if [ -z "${LSAN_OPTIONS:-}" ] && [ -f "$supp" ]; then
    export LSAN_OPTIONS="suppressions=$supp:print_suppressions=0"
  fi
  (cd "$cwd" && exec "$game/launcher") >"$game/launcher.out" 2>&1 &
  launcher_pid=$!
  launch_started_ms=$(now_ms)
  log "launcher started (pid $launcher_pid, cwd $cwd)"
}

# wait_exit SECONDS: waits for the launcher to end; fails on timeout or a non-zero status.
wait_exit() {
  local deadline=$(($(now_ms) + $1 * 1000))
  while kill -0 "$launcher_pid" 2>/dev/null; do
    if [ "$(now_ms)" -gt "$deadline" ]; then
      show_output
      fail "launcher still running after ${1}s"
    fi
    sleep 0.02
  done
  launcher_status=0
  wait "$launcher_pid" || launcher_status=$?
  launcher_pid=""
  exited_ms=$(now_ms)
  log "launcher ended with status $launcher_status"
  if [ "$launcher_status" -ne 0 ]; then
    show_output
    fail "launcher exit status $launcher_status, expected 0"
  fi
}

show_output() {
  echo "---- launcher output ($game/launcher.out) ----" >&2
  tail -n 60 "$game/launcher.out" >&2 || true
  echo "----" >&2
}

# ---------------------------------------------------------------------------------------------
# The window.
# ---------------------------------------------------------------------------------------------
wid=""

# wait_window SECONDS: waits until the launcher's window "Game" is mapped; sets wid.
wait_window() {
  local deadline=$(($(now_ms) + $1 * 1000))
  while :; do
    wid=$(xdotool search --onlyvisible --name '^Game$' 2>/dev/null | head -n 1 || true)
    [ -n "$wid" ] && break
    if ! kill -0 "$launcher_pid" 2>/dev/null; then
      show_output
      fail "launcher ended without showing its window"
    fi
    if [ "$(now_ms)" -gt "$deadline" ]; then
      show_output
      fail "no mapped window named Game after ${1}s"
    fi
    sleep 0.02
  done
  log "window $wid mapped after $(($(now_ms) - launch_started_ms)) ms"
}

# geometry: sets win_x win_y win_w win_h from xwininfo.
geometry() {
  local info
  info=$(xwininfo -id "$wid")
  win_x=$(awk '/Absolute upper-left X/ {print $NF}' <<<"$info")
  win_y=$(awk '/Absolute upper-left Y/ {print $NF}' <<<"$info")
  win_w=$(awk '/^ *Width:/ {print $NF}' <<<"$info")
  win_h=$(awk '/^ *Height:/ {print $NF}' <<<"$info")
}

# pixel X Y: the screen's colour at X,Y as "R G B".
pixel() {
  /usr/bin/import -silent -window root -crop "1x1+$1+$2" -depth 8 txt:- |
    sed -n 's/^0,0: *(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1 \2 \3/p'
}

# near "R G B" "R G B": true when every channel is within a tolerance that JPEG and YUV allow.
near() {
  local a b
  read -r -a a <<<"$1"
  read -r -a b <<<"$2"
  local i d
  for i in 0 1 2; do
    d=$((a[i] - b[i]))
    [ "${d#-}" -le 60 ] || return 1
  done
}

# expect_pixel X Y "R G B" WHAT: the window's pixel at X,Y (window coordinates) shows WHAT.
expect_pixel() {
  local got
  got=$(pixel $((win_x + $1)) $((win_y + $2)))
  near "$got" "$3" || fail "$4: pixel ($1,$2) is ($got), expected about ($3)"
}

# wait_pixel X Y "R G B" SECONDS: polls the window's pixel until it shows the colour. A miss sets
# absent_ms to when that poll began: the colour was not there yet then.
wait_pixel() {
  local deadline=$(($(now_ms) + $4 * 1000)) got polled
  while :; do
    polled=$(now_ms)
    got=$(pixel $((win_x + $1)) $((win_y + $2)))
    near "$got" "$3" && return 0
    absent_ms=$polled
    [ "$(now_ms)" -gt "$deadline" ] && fail "pixel ($1,$2) stayed ($got), expected ($3) within ${4}s"
    kill -0 "$launcher_pid" 2>/dev/null || fail "launcher ended while waiting for pixel ($3)"
    sleep 0.02
  done
}

screenshot() { # NAME
  mkdir -p "$shots"
  /usr/bin/import -silent -window root "$shots/$scenario-$1.png" 2>/dev/null || true
}

# Focus and pointer on the window so held keys and buttons reach it (there is no window manager).
focus_window() {
  xdotool mousemove $((win_x + win_w / 2)) $((win_y + win_h / 2))
  xdotool windowfocus "$wid" 2>/dev/null || true
}

# A key or button held across at least two 50 ms polls; a tap is not seen by design.
hold_key() {
  xdotool keydown "$1"
  sleep 0.15
  xdotool keyup "$1"
  log "held key $1"
}
hold_button() {
  xdotool mousedown "$1"
  sleep 0.15
  xdotool mouseup "$1"
  log "held mouse button $1"
}

# ---------------------------------------------------------------------------------------------
# What must hold after every close: ntleac ran exactly once, with the six arguments, in DIR.
# ---------------------------------------------------------------------------------------------
expect_one_launch() { # DIR
  local dir=${1:-$game} file=${1:-$game}/launch.log deadline
  deadline=$(($(now_ms) + 5000))
  until [ -s "$file" ] && grep -q '^cwd: ' "$file"; do
    [ "$(now_ms)" -gt "$deadline" ] && fail "ntleac did not run in $dir (no complete $file)"
    sleep 0.02
  done
  # The launcher has ended, so a second start would already be on its way: give it a moment.
  sleep 0.3
  local expected
  expected=$(printf '%s\n' "ntleac started" "arg: Game.exe" "arg: A-G 123 -B 456" "arg: P0" \
    "arg: C932" "arg: L1041" "arg: T-540" "cwd: $(cd "$dir" && pwd -P)")
  local count
  count=$(grep -c '^ntleac started$' "$file")
  [ "$count" -eq 1 ] || fail "ntleac ran $count times, expected once: $(cat "$file")"
  local got
  got=$(cat "$file")
  # The stand-in prints the physical folder; compare physical paths.
  [ "$got" = "$expected" ] || fail "ntleac got:
$got
expected:
$expected"
  log "ntleac ran once with the six arguments in $dir"
}

# Watches the root window for any window being mapped, from before the launcher starts.
start_map_watch() {
  stdbuf -oL xev -root -event substructure -event property >"$game/xev.out" 2>&1 &
  watch_pid=$!
  local i
  for i in $(seq 100); do
    xprop -root -f _LAUNCHER_E2E_SYNC 8s -set _LAUNCHER_E2E_SYNC "$i"
    grep -q _LAUNCHER_E2E_SYNC "$game/xev.out" && return 0
    sleep 0.02
  done
  fail "xev did not start watching the display"
}
expect_no_map() {
  kill "$watch_pid" 2>/dev/null || true
  wait "$watch_pid" 2>/dev/null || true
  watch_pid=""
  if grep -q '^MapNotify' "$game/xev.out"; then
    fail "a window was mapped: $(grep -A2 '^MapNotify' "$game/xev.out")"
  fi
  log "no window was mapped"
}

# ---------------------------------------------------------------------------------------------
# Scenarios.
# ---------------------------------------------------------------------------------------------

# The logo shown windowed: no Start.ini, so the defaults (logo.jpg, OP.swf, windowed) apply. The
# window has the picture's size, shows it unstretched, and with no OP.swf the first key closes.
scenario_windowed_size() {
  new_game windowed_size
  cp "$media/logo.jpg" "$game/logo.jpg"
  run_launcher
  wait_window 15
  geometry
  { [ "$win_w" -eq "$logo_w" ] && [ "$win_h" -eq "$logo_h" ]; } ||
    fail "window is ${win_w}x${win_h}, expected the picture's ${logo_w}x${logo_h}"
  expect_pixel 20 20 "$c_tl" "top-left quadrant"
  expect_pixel $((logo_w - 20)) 20 "$c_tr" "top-right quadrant"
  expect_pixel 20 $((logo_h - 20)) "$c_bl" "bottom-left quadrant"
  expect_pixel $((logo_w - 20)) $((logo_h - 20)) "$c_br" "bottom-right quadrant"
  screenshot logo
  focus_window
  hold_key space
  wait_exit 10
  expect_one_launch
}

# Full screen ("Full" in any letter case): the window covers the screen, the logo stretched over it.
scenario_full_screen() {
  new_game full_screen
  cp "$media/logo.jpg" "$game/title.jpg"
  start_ini title.jpg OP.mp4 Full
  run_launcher
  wait_window 15
  geometry
  local screen_w screen_h
  read -r screen_w screen_h < <(xdotool getdisplaygeometry)
  { [ "$win_x" -eq 0 ] && [ "$win_y" -eq 0 ] && [ "$win_w" -eq "$screen_w" ] && [ "$win_h" -eq "$screen_h" ]; } ||
    fail "window is ${win_w}x${win_h}+${win_x}+${win_y}, expected the screen ${screen_w}x${screen_h}+0+0"
  local qx=$((screen_w / 4)) qy=$((screen_h / 4))
  expect_pixel "$qx" "$qy" "$c_tl" "stretched top-left quadrant"
  expect_pixel $((screen_w - qx)) "$qy" "$c_tr" "stretched top-right quadrant"
  expect_pixel "$qx" $((screen_h - qy)) "$c_bl" "stretched bottom-left quadrant"
  expect_pixel $((screen_w - qx)) $((screen_h - qy)) "$c_br" "stretched bottom-right quadrant"
  expect_pixel $((screen_w - 8)) $((screen_h - 8)) "$c_br" "bottom-right corner"
  screenshot logo
  focus_window
  hold_key Return
  wait_exit 10
  expect_one_launch
}

# A logo that can't be found: the window is never mapped and the game starts at once.
no_logo_case() { # NAME LOGO-SETUP
  new_game "$1"
  cp "$media/short.mp4" "$game/OP.mp4"
  eval "$2"
  start_map_watch
  run_launcher
  wait_exit 15
  expect_no_map
  expect_one_launch
}
scenario_no_logo() {
  no_logo_case no_logo 'start_ini missing.jpg OP.mp4 WINDOW'
}
scenario_hidden_logo() {
  # shellcheck disable=SC2016 # expanded where the case runs it
  no_logo_case hidden_logo 'cp "$media/logo.jpg" "$game/.logo.jpg"; start_ini .logo.jpg OP.mp4 WINDOW'
}
scenario_logo_folder() {
  # shellcheck disable=SC2016 # expanded where the case runs it
  no_logo_case logo_folder 'mkdir "$game/logo.jpg"; start_ini logo.jpg OP.mp4 WINDOW'
}

# A game folder whose logo is shown; the movie is MOVIE (a media file name, or "" for none), as
# OP.swf for an SWF and OP.mp4 otherwise.
logo_up() { # NAME MOVIE
  new_game "$1"
  cp "$media/logo.jpg" "$game/logo.jpg"
  local name=OP.mp4
  [[ "$2" == *.swf ]] && name=OP.swf
  [ -z "$2" ] || cp "$media/$2" "$game/$name"
  start_ini logo.jpg "$name" WINDOW
  run_launcher
  wait_window 15
  geometry
  expect_pixel $((win_w / 4)) $((win_h / 4)) "$c_tl" "logo"
  screenshot logo
  focus_window
}

# A held key starts the movie in the same window (8 s long: time enough to look at it on a busy
# machine; the end is movie_end's); Esc then closes it.
scenario_key_starts_movie() {
  logo_up key_starts_movie long.mp4
  local before_w=$win_w before_h=$win_h before_wid=$wid
  hold_key space
  local key_ms
  key_ms=$(now_ms)
  wait_pixel $((win_w / 2)) $((win_h / 2)) "$c_movie" 5
  log "movie visible $(($(now_ms) - key_ms)) ms after the key"
  # The movie keeps its own proportions inside the logo's area, so only the middle is certain; the
  # logo's quadrants are gone from there.
  expect_pixel $((win_w / 2)) $((win_h / 3)) "$c_movie" "movie over the logo's upper half"
  expect_pixel $((win_w / 2)) $((win_h * 2 / 3)) "$c_movie" "movie over the logo's lower half"
  screenshot movie
  geometry
  { [ "$wid" = "$before_wid" ] && [ "$win_w" -eq "$before_w" ] && [ "$win_h" -eq "$before_h" ]; } ||
    fail "the movie is not in the logo's place"
  hold_key Escape
  wait_exit 10
  expect_one_launch
}

# The movie's end closes the window: not at once (it played), and soon after its 1.5 s.
scenario_movie_end() {
  logo_up movie_end short.mp4
  hold_key space
  local key_ms
  key_ms=$(now_ms)
  wait_exit 10
  local played=$((exited_ms - key_ms))
  [ "$played" -ge 1200 ] || fail "closed ${played} ms after the key: the 1.5 s movie did not play"
  expect_one_launch
}

# In the movie, a held Esc or left button closes the window before the movie's 8 s end. Judged
# against that end, which can't come sooner than 8 s after the last look that didn't see the movie
# yet: a busy machine may take seconds to end the process, and that is no fault of the launcher.
closes_movie_with() { # NAME KIND KEY [MOVIE]
  logo_up "$1" "${4:-long.mp4}"
  absent_ms=$(now_ms)
  hold_key space
  wait_pixel $((win_w / 2)) $((win_h / 2)) "$c_movie" 5
  local press_ms
  press_ms=$(now_ms)
  if [ "$2" = key ]; then hold_key "$3"; else hold_button "$3"; fi
  wait_exit 10
  log "closed $((exited_ms - press_ms)) ms after the press"
  [ $((exited_ms - absent_ms)) -lt 8000 ] || fail "closed at the movie's end: the press was not acted on"
  expect_one_launch
}
scenario_esc_closes() { closes_movie_with esc_closes key Escape; }
scenario_left_click_closes() { closes_movie_with left_click_closes button 1; }
scenario_swf_esc_closes() { closes_movie_with swf_esc_closes key Escape long.swf; }
scenario_swf_left_click_closes() { closes_movie_with swf_left_click_closes button 1 long.swf; }

# A Close command 0.5 s into an 8 s movie stops it; the window closes before the movie's end,
# which can't come sooner than 8 s after the key.
closes_on_command() { # NAME MOVIE WHAT
  logo_up "$1" "$2"
  hold_key space
  local key_ms
  key_ms=$(now_ms)
  wait_exit 10
  local took=$((exited_ms - key_ms))
  log "closed ${took} ms after the key"
  [ "$took" -lt 8000 ] || fail "closed ${took} ms after the key: $3 was not acted on"
  expect_one_launch
}
# From a chapter titled fscommand:Close.
scenario_close_chapter() { closes_on_command close_chapter close.mp4 "the Close chapter"; }
# From the SWF's FSCommand "Close" in its frame 5.
scenario_swf_close_command() { closes_on_command swf_close_command close.swf "FSCommand Close"; }

# A movie file that can't be played closes the window at the next tick, and the launcher says
# why in one line on standard error, in libmpv's words.
scenario_unplayable_movie() {
  logo_up unplayable_movie broken.mp4
  hold_key space
  wait_exit 10
  expect_one_launch
  local expected
  expected="launcher: movie skipped: $(cd "$game" && pwd -P)/OP.mp4: unrecognized file format"
  { [ "$(wc -l <"$game/launcher.out")" -eq 1 ] && grep -qF "$expected" "$game/launcher.out"; } ||
    fail "expected one line starting \"$expected\", got: $(cat "$game/launcher.out")"
}

# A vector SWF (FWS or CWS) plays in the SWF player: its stage fitted into the logo's area with the
# background colour in the bars beside it, red for its first 1.5 s and green for the rest; the end
# of its timeline (3 s) closes the window.
swf_plays() { # NAME MOVIE
  logo_up "$1" "$2"
  hold_key space
  local key_ms
  key_ms=$(now_ms)
  wait_pixel $((win_w / 2)) $((win_h / 2)) "$c_swf_first" 5
  log "first SWF frame visible $(($(now_ms) - key_ms)) ms after the key"
  # A 320 x 240 stage in 352 x 224: 299 pixels wide, bars of 26 pixels on either side.
  expect_pixel 8 $((win_h / 2)) "$c_swf_bars" "bar left of the stage"
  expect_pixel $((win_w - 8)) $((win_h / 2)) "$c_swf_bars" "bar right of the stage"
  expect_pixel 40 4 "$c_swf_first" "stage's top-left"
  expect_pixel $((win_w - 40)) $((win_h - 4)) "$c_swf_first" "stage's bottom-right"
  screenshot swf-first
  wait_pixel $((win_w / 2)) $((win_h / 2)) "$c_swf_second" 5
  log "second SWF picture $(($(now_ms) - key_ms)) ms after the key"
  expect_pixel 8 $((win_h / 2)) "$c_swf_bars" "bar left of the stage, later"
  screenshot swf-second
  wait_exit 10
  local played=$((exited_ms - key_ms))
  [ "$played" -ge 2700 ] || fail "closed ${played} ms after the key: the 3 s timeline did not play"
  expect_one_launch
}
scenario_swf_plays() { swf_plays swf_plays vector.swf; }
scenario_swf_plays_cws() { swf_plays swf_plays_cws vector_cws.swf; }
# The same two colours as an embedded Sorenson H.263 video, decoded by the SWF player itself.
scenario_swf_video() { swf_plays swf_video video.swf; }

# A long JPEG-a-frame SWF is read as it plays: its first picture shows soon after the key, the
# timeline reaches its last second (blue) and the window closes at its end, not before.
scenario_swf_pictures() {
  logo_up swf_pictures pictures.swf
  hold_key space
  local key_ms
  key_ms=$(now_ms)
  # Beside the probe patch in the middle.
  wait_pixel $((win_w / 8)) $((win_h / 2)) "255 0 0" 5
  log "first picture visible $(($(now_ms) - key_ms)) ms after the key"
  wait_pixel $((win_w / 8)) $((win_h / 2)) "0 0 255" 15
  log "last second's pictures $(($(now_ms) - key_ms)) ms after the key"
  screenshot swf-pictures-last
  wait_exit 10
  local played=$((exited_ms - key_ms))
  [ "$played" -ge 9500 ] || fail "closed ${played} ms after the key: the 10 s movie did not play"
  expect_one_launch
}

# With SDL's dummy sound driver the SWF with MP3 stream sound (4 s, 20 fps, "Close" in its last
# frame) plays silently at its own frame rate and closes at its end.
scenario_swf_silent() {
  export SDL_AUDIODRIVER=dummy
  logo_up swf_silent OP.swf
  hold_key space
  local key_ms
  key_ms=$(now_ms)
  wait_exit 12
  local took=$((exited_ms - key_ms))
  log "closed ${took} ms after the key"
  { [ "$took" -ge 3500 ] && [ "$took" -lt 9000 ]; } ||
    fail "closed ${took} ms after the key, expected the movie's 4 s"
  expect_one_launch
}

# On a sound device (a PulseAudio server of the scenario's own with only a null sink) the SWF's MP3
# stream sound is heard: what the sink plays, recorded from its monitor while the movie runs, is
# not silence.
scenario_swf_sound() {
  local runtime="$runs/swf_sound-pulse" socket
  rm -rf "$runtime" && mkdir -p "$runtime"
  socket="$runtime/native"
  PULSE_RUNTIME_PATH=$runtime XDG_RUNTIME_DIR=$runtime HOME=$runtime pulseaudio -n \
    --daemonize=no --exit-idle-time=-1 --disable-shm=yes --use-pid-file=no \
    --load="module-null-sink sink_name=silent" \
    --load="module-native-protocol-unix socket=$socket auth-anonymous=1" >/dev/null 2>&1 &
  sound_pid=$!
  local i
  for i in $(seq 100); do
    [ -S "$socket" ] && break
    sleep 0.05
  done
  [ -S "$socket" ] || fail "PulseAudio did not start"
  export PULSE_SERVER="unix:$socket" SDL_AUDIODRIVER=pulseaudio
  logo_up swf_sound OP.swf
  hold_key space
  timeout 2 parec --raw --format=s16le --channels=2 --rate=44100 -d silent.monitor \
    >"$runtime/heard.raw" 2>/dev/null || true
  wait_exit 12
  expect_one_launch
  local loudest
  loudest=$(od -An -v -t d2 -w2 "$runtime/heard.raw" | awk '{v = $1 < 0 ? -$1 : $1} v > m {m = v} END {print m + 0}')
  log "loudest sample heard: $loudest of $(($(stat -c %s "$runtime/heard.raw") / 4)) frames"
  [ "$loudest" -gt 1000 ] || fail "the sound device played silence (loudest sample $loudest)"
  kill "$sound_pid" 2>/dev/null || true
  wait "$sound_pid" 2>/dev/null || true
  sound_pid=""
  rm -rf "$runtime"
}

# A file named .swf that is no SWF: the SWF player refuses it, the window closes and one line says
# why.
scenario_swf_refused() {
  logo_up swf_refused broken.swf
  hold_key space
  wait_exit 10
  expect_one_launch
  local expected
  expected="launcher: movie skipped: $(cd "$game" && pwd -P)/OP.swf: SWF player: not an SWF file"
  { [ "$(wc -l <"$game/launcher.out")" -eq 1 ] && grep -qF "$expected" "$game/launcher.out" &&
    ! grep -qF "; " "$game/launcher.out"; } ||
    fail "expected one line starting \"$expected\" and no other engine's, got: $(cat "$game/launcher.out")"
}

# No movie file: the first held key closes the window.
scenario_missing_movie() {
  logo_up missing_movie ""
  hold_key a
  wait_exit 10
  expect_one_launch
}

# Started from another folder: Start.ini and the logo still come from the launcher's own folder,
# while ntleac is looked up in, and runs in, the current folder.
scenario_other_cwd() {
  new_game other_cwd
  rm "$game/ntleac"
  cp "$media/logo.jpg" "$game/title.jpg"
  start_ini title.jpg OP.mp4 WINDOW
  local elsewhere="$runs/other_cwd-elsewhere"
  rm -rf "$elsewhere" && mkdir -p "$elsewhere"
  cp "$repo/examples/game/ntleac" "$elsewhere/ntleac"
  run_launcher "$elsewhere"
  wait_window 15
  geometry
  [ "$win_w" -eq "$logo_w" ] || fail "window is ${win_w} wide: Start.ini or title.jpg not read"
  focus_window
  hold_key space
  wait_exit 10
  expect_one_launch "$elsewhere"
  [ ! -e "$game/launch.log" ] || fail "ntleac ran in the launcher's folder"
  rm -rf "$elsewhere"
}

# ---------------------------------------------------------------------------------------------
scenario=${1:?scenario}
if [ "$scenario" = media ]; then
  swf_writer=$(realpath "${3:?SWF writer}")
  make_media "${2:?work dir}"
  exit 0
fi
launcher_exe=$(realpath "${2:?launcher executable}")
work=$(realpath "${3:?work dir}")
swf_writer=$(realpath "${4:?SWF writer}")
media="$work/media"
runs="$work/runs"
shots="$work/shots"
[ -n "${DISPLAY:-}" ] || fail "DISPLAY is not set: run under scripts/with-test-env.sh"
xdotool getdisplaygeometry >/dev/null || fail "display $DISPLAY is not usable"
make_media "$work"
declare -F "scenario_$scenario" >/dev/null || fail "no scenario $scenario"
"scenario_$scenario"
rm -rf "$game"
echo "PASS: $scenario"
