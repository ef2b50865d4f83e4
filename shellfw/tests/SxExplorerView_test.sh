#!/usr/bin/env bash
# End to end under the display: Wine's Explorer opens the test folder typed into its Location box
# and lists its items in the folder's view. The screenshot is kept in <build>/artifacts and must not
# be blank.
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

# Wine's shell never asks a folder's icon extractor for the icon itself, only for its location as
# a file: the test folder names the file types' icon files there (SX_TEST_ICON_FILES).
SX_TEST_ICON_FILES=1 wine explorer.exe '/n,C:\' </dev/null >/dev/null 2>&1 &
explorer=$!
# The Location box gets the folder's path and Enter; the driver waits for the folder's title.
answer=$(wine "$bin/SxExplorerDriver.exe" "$root" "Tandrel Testtresor" --images </dev/null 2>/dev/null | tr -d '\r')
echo "driver: $answer"
case $answer in "items "*) ;; *) fail "the folder did not open: $answer" ;; esac
read -r _ items _ images <<<"$answer"
[ "$items" = 4 ] || fail "the folder's view lists $items items, not 4"
# Folders and files show their own icons, not one default image for all.
[ "${images:-0}" -ge 2 ] || fail "the folder's items show ${images:-no} different icons"
sleep 1
import -window root "$shot" || fail "screenshot"

# Not blank: the whole screen, and the item list beside the tree holds drawn text.
colours=$(convert "$shot" -format %k info:)
window=$(xdotool search --onlyvisible --name '^Tandrel Testtresor$' 2>/dev/null | head -1)
[ -n "$window" ] || fail "no window of the folder on the display"
read -r x y < <(xdotool getwindowgeometry "$window" | awk '/Position/ {split($2, p, ","); print p[1], p[2]}')
# The item list beside the tree, below the Location box, holds drawn text.
listColours=$(convert "$shot" -crop "200x80+$((x + 160))+$((y + 100))" +repage -format %k info:)
echo "screenshot $shot: $colours colours, item list $listColours colours"
[ "$colours" -gt 20 ] || fail "the screenshot is blank"
[ "$listColours" -gt 4 ] || fail "the folder's view shows no items"
cleanup
echo "1 passed, 0 failed"
