#!/usr/bin/env bash
# Remakes the example game's title card (game/logo.jpg) and opening movie (game/OP.mp4) from
# nothing but ffmpeg's generators and ImageMagick, so every byte of the example is our own.
#   examples/make-example-media.sh [output folder, default examples/game]
# Needs ffmpeg (libx264, aac, drawtext) and ImageMagick's /usr/bin/convert (/usr/local/bin/convert
# may be a stand-in on some machines, so the full path is used).
set -euo pipefail

out=${1:-$(cd "$(dirname "$0")" && pwd)/game}
mkdir -p "$out"
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
font_light=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
[ -f "$font" ] || { echo "make-example-media: $font missing (install fonts-dejavu-core)" >&2; exit 1; }

# Title card, 640x360: night-blue gradient, a gold rule, the title and a hint.
/usr/bin/convert -size 640x360 gradient:'#101a3a'-'#3a1450' \
  -fill '#f5c542' -draw 'rectangle 120,198 520,202' \
  -font "$font" -pointsize 54 -fill '#ffffff' -gravity center -annotate +0-40 'EXAMPLE GAME' \
  -font "$font_light" -pointsize 20 -fill '#c8d0ff' -annotate +0+40 'launcher demo' \
  -pointsize 16 -fill '#f5c542' -annotate +0+130 'press any key' \
  -quality 88 "$out/logo.jpg"

# Opening movie, 640x360, 4 s at 25 fps: a drifting gradient, a gold bar sweeping across, the
# title fading in, then a fade to black; a rising note every second underneath.
# Chapters: "Opening" 0-3.6 s, then "fscommand:Close" 3.6-4 s: the launcher treats a chapter of
# that title as the movie's Close command, so this demo movie closes itself a moment early.
meta=$(mktemp)
trap 'rm -f "$meta"' EXIT
cat >"$meta" <<'EOF'
;FFMETADATA1
title=Example opening

[CHAPTER]
TIMEBASE=1/1000
START=0
END=3600
title=Opening

[CHAPTER]
TIMEBASE=1/1000
START=3600
END=4000
title=fscommand:Close
EOF

ffmpeg -v error -y \
  -f lavfi -i "gradients=s=640x360:r=25:c0=0x101a3a:c1=0x3a1450:c2=0x0c3a5a:n=3:speed=0.03:d=4" \
  -f lavfi -i "aevalsrc=0.25*sin(2*PI*t*(262*pow(2\,floor(t)*4/12)))*exp(-3*mod(t\,1)):s=44100:d=4" \
  -i "$meta" \
  -f lavfi -i "color=c=0xf5c542:s=200x8:r=25:d=4" \
  -filter_complex "[0:v][3:v]overlay=x='-200+t*210':y=196:eval=frame,\
drawtext=fontfile=$font:text='EXAMPLE GAME':fontsize=54:fontcolor=white:x=(w-tw)/2:y=(h-th)/2-40:\
alpha='min(1,t/1.5)',\
drawtext=fontfile=$font_light:text='opening':fontsize=20:fontcolor=0xc8d0ff:x=(w-tw)/2:y=h-60-t*20:\
alpha='min(1,max(0,t-1))',fade=t=out:st=3.4:d=0.6[v]" \
  -map "[v]" -map 1:a -map_metadata 2 -map_chapters 2 \
  -c:v libx264 -preset slow -crf 26 -pix_fmt yuv420p -movflags +faststart \
  -c:a aac -b:a 64k -ac 1 -shortest "$out/OP.mp4"

ls -l "$out/logo.jpg" "$out/OP.mp4"
