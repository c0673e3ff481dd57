#!/usr/bin/env bash
# Makes the release archives and SHA256SUMS from built programs. The same commit gives the same
# bytes: times come from the commit (or SOURCE_DATE_EPOCH), and archive.py fixes order, owner
# and modes.
#   package.sh VERSION OUTPUT-FOLDER WINDOWS-LAUNCHER.EXE LINUX-LAUNCHER NTLEAC ICON-FOLDER \
#              WINDOWS-SWFCHECK.EXE LINUX-SWFCHECK
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
version=$1 out=$2 exe=$3 launcher=$4 ntleac=$5 icons=$6 swfcheck_exe=$7 swfcheck=$8
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$repo" log -1 --format=%ct 2>/dev/null || echo 315532800)}
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# Texts carry the version; the Windows ones get CR LF line ends.
text() { sed "s/@VERSION@/$version/g" "$1" >"$2"; }
windows_text() { sed "s/@VERSION@/$version/g; s/\$/\r/" "$1" >"$2"; }

win=$stage/windows
mkdir -p "$win/example"
cp "$exe" "$win/launcher.exe"
cp "$swfcheck_exe" "$win/swfcheck.exe"
windows_text "$here/windows/README.txt" "$win/README.txt"
windows_text "$repo/examples/game/Start.ini" "$win/example/Start.ini"

linux=$stage/linux
mkdir -p "$linux/example" "$linux/icons"
strip -o "$linux/launcher" "$launcher"
strip -o "$linux/ntleac" "$ntleac"
strip -o "$linux/swfcheck" "$swfcheck"
text "$here/linux/README.txt" "$linux/README.txt"
text "$here/linux/launcher.desktop" "$linux/launcher.desktop"
cp "$repo/examples/game/Start.ini" "$linux/example/Start.ini"
cp "$icons"/launcher-*.png "$linux/icons/"

mkdir -p "$out"
rm -f "$out"/launcher-*.zip "$out"/launcher-*.tar.gz "$out/SHA256SUMS"
zip=launcher-$version-windows-x86.zip
tgz=launcher-$version-linux-x86_64.tar.gz
python3 "$here/archive.py" "$epoch" "$win" "$out/$zip"
python3 "$here/archive.py" "$epoch" "$linux" "$out/$tgz"
(cd "$out" && sha256sum "$zip" "$tgz" >SHA256SUMS)
echo "package: $out/$zip, $out/$tgz, $out/SHA256SUMS"
