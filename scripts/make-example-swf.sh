#!/usr/bin/env bash
# Writes the example game's opening movie, examples/game/OP.swf, with the project's own SWF tag
# writer (tests/e2e/swf_movies) and a chord from ffmpeg as its MP3 stream sound.
#   scripts/make-example-swf.sh    (after building the linux preset's write_swf_movies)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
writer="$root/build/linux/write_swf_movies"
[ -x "$writer" ] || { echo "make-example-swf: build write_swf_movies first (linux preset)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ffmpeg -v error -y -f lavfi \
  -i "aevalsrc=exprs='0.22*(sin(2*PI*220*t)+sin(2*PI*277.2*t)+sin(2*PI*329.6*t))*min(1\,2*t)*min(1\,(4-t))':s=44100:d=4" \
  -ac 2 -c:a libmp3lame -b:a 96k -write_xing 0 -id3v2_version 0 "$work/chord.mp3"
"$writer" "$work" "$work/chord.mp3"
cp "$work/OP.swf" "$root/examples/game/OP.swf"
echo "make-example-swf: wrote examples/game/OP.swf ($(stat -c %s "$root/examples/game/OP.swf") bytes)"
