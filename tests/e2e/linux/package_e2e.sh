#!/usr/bin/env bash
# The release archives as a player gets them (build/package/, made by the package workflow): the
# checksums; the same bytes when packaged again from copies of the programs; the Windows product
# in the zip; and the Linux archive unpacked into a copy of the example game, where the launcher,
# with a key held, ends by handing Game.exe to a stand-in Wine with the Japanese locale and time
# zone. Runs on the X display of scripts/with-test-env.sh.
#   package_e2e.sh REPO-ROOT LOCPATH WORKDIR
set -euo pipefail
repo=$(realpath "$1") locpath=$(realpath "$2") work=$3
pkg=$repo/build/package
fail() { echo "FAIL: $*" >&2; exit 1; }
now_ms() { date +%s%3N; }

zip=$(ls "$pkg"/launcher-*-windows-x86.zip 2>/dev/null || true)
tgz=$(ls "$pkg"/launcher-*-linux-x86_64.tar.gz 2>/dev/null || true)
{ [ -f "$zip" ] && [ -f "$tgz" ]; } || fail "no archives in $pkg: run cmake --workflow --preset package"
version=${zip##*/launcher-}
version=${version%-windows-x86.zip}
(cd "$pkg" && sha256sum --quiet --strict -c SHA256SUMS) || fail "SHA256SUMS doesn't match"
echo "ok: checksums of $version"

rm -rf "$work" && mkdir -p "$work"/{unzipped,game,again,inputs,bin}
work=$(realpath "$work")

# Packaged again from copies with other times and modes, at the first run's time: the same bytes.
epoch=$(python3 -c 'import struct,sys; print(struct.unpack("<I", open(sys.argv[1],"rb").read()[4:8])[0])' "$tgz")
for program in windows/launcher.exe linux-release/launcher linux-release/ntleac \
               windows/swfcheck.exe linux-release/swfcheck; do
  install -m 700 "$repo/build/$program" "$work/inputs/${program//\//-}"
done
cp -r "$repo/build/linux-release/src/linux/icons" "$work/inputs/icons"
touch -d @0 "$work"/inputs/*
SOURCE_DATE_EPOCH=$epoch bash "$repo/packaging/package.sh" "$version" "$work/again" \
  "$work/inputs/windows-launcher.exe" "$work/inputs/linux-release-launcher" \
  "$work/inputs/linux-release-ntleac" "$work/inputs/icons" "$work/inputs/windows-swfcheck.exe" \
  "$work/inputs/linux-release-swfcheck" >/dev/null
for file in "$zip" "$tgz" "$pkg/SHA256SUMS"; do
  cmp "$file" "$work/again/${file##*/}" || fail "${file##*/} differs when packaged again (stale? package again)"
done
echo "ok: packaged again, byte for byte the same"

unzip -q "$zip" -d "$work/unzipped"
bash "$repo/tests/e2e/windows/pe_check.sh" "$work/unzipped/launcher.exe"
# swfcheck.exe: a 32-bit console program of system DLLs only.
kind=$(file -b "$work/unzipped/swfcheck.exe")
[[ $kind == "PE32 executable (console) Intel 80386"* ]] || fail "swfcheck.exe is no 32-bit console program: $kind"
for dll in $(i686-w64-mingw32-objdump -p "$work/unzipped/swfcheck.exe" | awk '/DLL Name:/ {print tolower($3)}'); do
  [[ " kernel32.dll user32.dll gdi32.dll ole32.dll oleaut32.dll msvcrt.dll windowscodecs.dll " == *" $dll "* ]] ||
    fail "swfcheck.exe imports $dll, which is not a system DLL"
done
echo "ok: swfcheck.exe is a console program of system DLLs: $kind"

# The example game with the Linux archive unpacked into it, and a game that is only a name.
cp -r "$repo/examples/game/." "$work/game/"
tar -xzf "$tgz" -C "$work/game"
: >"$work/game/Game.exe"
[ "$("$work/game/ntleac" --version)" = "ntleac $version" ] || fail "ntleac --version isn't $version"
"$work/game/swfcheck" "$work/game/OP.swf" 2>"$work/swfcheck.out" ||
  { cat "$work/swfcheck.out" >&2; fail "the archive's swfcheck refused the example's OP.swf"; }
echo "ok: the archive's swfcheck loads the example's OP.swf"
cat >"$work/bin/wine" <<'STAND_IN'
#!/bin/sh
{ echo "wine started"; for a in "$@"; do echo "arg: $a"; done
  echo "LANG=$LANG LC_ALL=$LC_ALL TZ=$TZ"; } >>wine.log
STAND_IN
chmod +x "$work/bin/wine"

cd "$work/game"
PATH="$work/bin:$PATH" LOCPATH=$locpath ./launcher >launcher.out 2>&1 &
pid=$!
trap 'kill -9 $pid 2>/dev/null || true' EXIT
deadline=$(($(now_ms) + 15000))
until wid=$(xdotool search --onlyvisible --name '^Game$' 2>/dev/null | head -n 1) && [ -n "$wid" ]; do
  kill -0 "$pid" 2>/dev/null || { cat launcher.out >&2; fail "the launcher ended without a window"; }
  [ "$(now_ms)" -lt "$deadline" ] || fail "no window after 15 s"
  sleep 0.05
done
xprop -id "$wid" _NET_WM_ICON | grep -q 'Icon (32 x 32)' || fail "the window has no 32 x 32 icon"
xdotool windowfocus "$wid" 2>/dev/null || true
xdotool keydown space && sleep 0.15 && xdotool keyup space
deadline=$(($(now_ms) + 20000))
until grep -q '^LANG=' wine.log 2>/dev/null; do
  [ "$(now_ms)" -lt "$deadline" ] || { cat launcher.out >&2; fail "Wine was not started"; }
  sleep 0.05
done
wait "$pid" || fail "the launcher ended with status $?"
sleep 0.3 # a second start would be on its way by now
expected=$(printf '%s\n' "wine started" "arg: Game.exe" "arg: A-G" "arg: 123" "arg: -B" "arg: 456" \
  "LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 TZ=<+09>-9")
[ "$(cat wine.log)" = "$expected" ] || fail "Wine got:
$(cat wine.log)
expected:
$expected"
echo "ok: the unpacked launcher started Game.exe once under Wine in Japanese at UTC+9"
cd / && rm -rf "$work"
