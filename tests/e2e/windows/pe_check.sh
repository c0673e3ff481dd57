#!/usr/bin/env bash
# Checks the shipped 32-bit launcher: a PE32 GUI program for i386 that imports only system DLLs
# (the C and C++ runtimes are linked in), with the six-image icon group and the window's icon.
#   pe_check.sh build/windows/launcher.exe
set -euo pipefail
exe=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
[ -f "$exe" ] || fail "$exe does not exist (build the windows preset first)"

kind=$(file -b "$exe")
[[ $kind == "PE32 executable (GUI) Intel 80386"* ]] || fail "not a 32-bit GUI program: $kind"

system_dlls=" kernel32.dll user32.dll gdi32.dll ole32.dll oleaut32.dll msvcrt.dll advapi32.dll shell32.dll shlwapi.dll windowscodecs.dll "
imports=$(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print tolower($3)}')
[ -n "$imports" ] || fail "no imports found"
for dll in $imports; do
  [[ $system_dlls == *" $dll "* ]] || fail "imports $dll, which is not a system DLL"
done

resources=$(i686-w64-mingw32-windres -J coff -O rc -i "$exe")
# The executable's icon group (the first) and the window class's icon group.
group=$(sed -n '/^1 14 /,/^END/p' <<<"$resources")
grep -q "Has 6 elements" <<<"$group" || fail "the executable's icon group does not hold six images"
for image in '"\020\020\000\000", 1, 8,' '"\040\040\000\000", 1, 8,' \
             '"\020\020\000\000", 1, 32,' '"\040\040\000\000", 1, 32,' \
             '"\060\060\000\000", 1, 32,' '"\000\000\000\000", 1, 32,'; do
  grep -qF "$image" <<<"$group" || fail "the icon group has no image $image"
done
window=$(sed -n '/^2 14 /,/^END/p' <<<"$resources")
grep -q "Has 1 elements" <<<"$window" || fail "the window's icon is not one image"
grep -qF '"\040\040\000\000", 1, 8,' <<<"$window" || fail "the window's icon is not 32 x 32 in 256 colours"
# The 256-pixel image is stored as PNG.
section=$(i686-w64-mingw32-objdump -s -j .rsrc "$exe")
grep -q 'PNG\.\.\.\.' <<<"$section" || fail "no PNG-compressed icon image"
grep -q "RT_MANIFEST" <<<"$resources" || fail "no application manifest"
grep -q "^1 VERSIONINFO" <<<"$resources" || fail "no version information"
echo "PASS: $kind; imports: $(tr '\n' ' ' <<<"$imports")"
