#!/usr/bin/env bash
# End to end under the display: Wine's Explorer lists the test folder under My Computer, opens it
# from its Location box and shows its items in the folder's view. The screenshot is kept in
# <build>/artifacts and must not be blank.
set -u
bin=$1
artifacts=$SX_BINARY_DIR/artifacts
mkdir -p "$artifacts"
shot=$artifacts/explorer-test-folder.png
dll=$(winepath -w "$bin/SxTestFolder.dll" 2>/dev/null)
root='::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\::{5D1C8F22-7A3B-4C6E-9E41-2B7F0C3A8D55}'
fail() { echo "FAILED: $*"; cleanup; exit 1; }
explorer=
cleanup() {
  [ -n "$explorer" ] && kill "$explorer" 2>/dev/null
  wine regsvr32 /s /u "$dll" </dev/null >/dev/null 2>&1
}
[ -n "${DISPLAY:-}" ] || { echo "FAILED: no display"; exit 1; }
wine regsvr32 /s "$dll" </dev/null >/dev/null 2>&1 || fail "regsvr32"

# Windows already on the display (other tests) are not ours.
before=$(xdotool search --onlyvisible --name '^Desktop$' 2>/dev/null | sort)
wine explorer.exe '/n,C:\' </dev/null >/dev/null 2>&1 &
explorer=$!
window=
for _ in $(seq 100); do
  for w in $(xdotool search --onlyvisible --name '^Desktop$' 2>/dev/null); do
    grep -qx "$w" <<<"$before" || window=$w
  done
  [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || fail "Explorer's window did not appear"
sleep 1

# The Location box: select its text, type the folder's path, Enter.
xdotool windowactivate --sync "$window" 2>/dev/null
xdotool mousemove --window "$window" 300 46 click 1
sleep 0.3
xdotool key ctrl+a
xdotool type --delay 10 "$root"
xdotool key Return
title=
for _ in $(seq 50); do
  title=$(xdotool getwindowname "$window" 2>/dev/null)
  [ "$title" = "Tandrel Testtresor" ] && break
  sleep 0.2
done
[ "$title" = "Tandrel Testtresor" ] || fail "the folder did not open (window title: $title)"
sleep 1
import -window root "$shot" || fail "screenshot"

# Not blank: the whole screen, and the item list beside the tree holds drawn text.
colours=$(convert "$shot" -format %k info:)
read -r x y < <(xdotool getwindowgeometry "$window" | awk '/Position/ {split($2, p, ","); print p[1], p[2]}')
listColours=$(convert "$shot" -crop "200x80+$((x + 160))+$((y + 75))" +repage -format %k info:)
echo "screenshot $shot: $colours colours, item list $listColours colours"
[ "$colours" -gt 20 ] || fail "the screenshot is blank"
[ "$listColours" -gt 4 ] || fail "the folder's view shows no items"
cleanup
echo "1 passed, 0 failed"
