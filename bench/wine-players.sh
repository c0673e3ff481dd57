# shellcheck shell=bash
# Sourced by the benchmarks of the Windows launcher under Wine (bench/run-bench.sh --windows,
# bench/run-long-movie.sh --windows): what a player's machine has around the program.
#   start_wine_players DIR   openbox on the display, and a PulseAudio server with only a null
#                            sink listening on DIR/pulse/native; both stopped when the script
#                            exits (it takes the EXIT trap).

start_wine_players() {
  local dir=$1
  # Players have a window manager; without one Wine waits up to 2 s for every hide.
  openbox --sm-disable --startup "touch $dir/openbox-ready" >/dev/null 2>&1 &
  wine_players_wm=$!
  # The null sink takes the sound at its real pace, so stream sound paces the frames as a sound
  # card would.
  mkdir -p "$dir/pulse"
  PULSE_RUNTIME_PATH="$dir/pulse" XDG_RUNTIME_DIR="$dir/pulse" HOME="$dir/pulse" \
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes --use-pid-file=no \
    --load="module-null-sink sink_name=silent" \
    --load="module-native-protocol-unix socket=$dir/pulse/native auth-anonymous=1" \
    >/dev/null 2>&1 &
  wine_players_pulse=$!
  trap 'kill $wine_players_wm $wine_players_pulse 2>/dev/null || true' EXIT
  for _ in $(seq 300); do
    [ -e "$dir/openbox-ready" ] && [ -S "$dir/pulse/native" ] && break
    sleep 0.05
  done
}
