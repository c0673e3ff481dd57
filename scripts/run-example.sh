#!/usr/bin/env bash
# Builds the launcher and runs it on the example game (examples/game), then prints what the
# stand-in ntleac was handed.
#   scripts/run-example.sh
# With a usable display it simply runs the launcher for you: press a key on the logo to see the
# opening movie; Esc or a left click skips it. Without one, it runs on a virtual display
# (scripts/with-test-env.sh), holds a key down on the logo itself and saves screenshots of the
# logo and of the movie in build/example-game/shots/.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
game="$root/build/example-game"

display_usable() { [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1; }

if [ -z "${LAUNCHER_EXAMPLE_HEADLESS:-}" ]; then
  scripts/install-deps.sh
  cmake --preset linux-release
  cmake --build --preset linux-release

  rm -rf "$game" && mkdir -p "$game"
  cp build/linux-release/launcher "$game/launcher"
  cp examples/game/Start.ini examples/game/logo.jpg examples/game/OP.swf examples/game/OP.mp4 \
    examples/game/ntleac "$game/"
  chmod +x "$game/launcher" "$game/ntleac"

  if display_usable; then
    echo "run-example: starting the launcher in $game"
    (cd "$game" && ./launcher)
  else
    echo "run-example: no display; running on a virtual one and pressing a key for you"
    # A virtual display only: the Linux launcher needs no Wine.
    LAUNCHER_TEST_WINE=0 LAUNCHER_EXAMPLE_HEADLESS=1 scripts/with-test-env.sh "$0"
  fi
  echo "run-example: launch.log (what ntleac was given):"
  if [ -f "$game/launch.log" ]; then cat "$game/launch.log"; else echo "(ntleac did not run)"; fi
  exit 0
fi

# ---- On the virtual display: play the example as a player would, taking pictures. ----
now_ms() { date +%s%3N; }
shots="$game/shots"
mkdir -p "$shots"
cd "$game"
./launcher >"$game/launcher.out" 2>&1 &
pid=$!

deadline=$(($(now_ms) + 20000))
wid=""
until [ -n "$wid" ]; do
  wid=$(xdotool search --onlyvisible --name '^Game$' 2>/dev/null | head -n 1 || true)
  if [ -z "$wid" ]; then
    kill -0 "$pid" 2>/dev/null || { cat "$game/launcher.out" >&2; echo "run-example: the launcher ended without a window" >&2; exit 1; }
    [ "$(now_ms)" -lt "$deadline" ] || { echo "run-example: no window after 20 s" >&2; exit 1; }
    sleep 0.05
  fi
done
sleep 0.2 # let the first paint land
/usr/bin/import -silent -window "$wid" "$shots/logo.png"
echo "run-example: logo shown; screenshot $shots/logo.png"

# The title card's gold rule crosses (320,200); the movie's bar starts off to the left.
pixel() { /usr/bin/import -silent -window "$wid" -crop "1x1+$1+$2" -depth 8 txt:- | sed -n 's/^0,0: *\(([^)]*)\).*/\1/p'; }
logo_pixel=$(pixel 320 200)
xdotool mousemove 320 180
xdotool windowfocus "$wid" 2>/dev/null || true
xdotool keydown space
sleep 0.15
xdotool keyup space
echo "run-example: held the space bar"
deadline=$(($(now_ms) + 10000))
while [ "$(pixel 320 200 2>/dev/null || true)" = "$logo_pixel" ]; do
  kill -0 "$pid" 2>/dev/null || break
  [ "$(now_ms)" -lt "$deadline" ] || { echo "run-example: the movie did not start" >&2; break; }
  sleep 0.05
done
if kill -0 "$pid" 2>/dev/null; then
  sleep 1.8 # the middle of the opening, with the title in
  /usr/bin/import -silent -window "$wid" "$shots/movie.png" 2>/dev/null &&
    echo "run-example: movie playing; screenshot $shots/movie.png"
fi
status=0
wait "$pid" || status=$?
echo "run-example: the launcher ended with status $status"
exit "$status"
