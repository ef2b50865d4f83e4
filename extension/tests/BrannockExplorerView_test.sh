#!/usr/bin/env bash
# End to end under the display: Wine's Explorer opens "Tandrel Vaultmere" under My Computer, typed
# into its Location box, over a mirror made by a real login listing, and lists the folder's items.
# The screenshot is kept in <build>/artifacts and must not be blank.
set -u
bin=$1
artifacts=$SX_BINARY_DIR/artifacts
mkdir -p "$artifacts"
shot=$artifacts/explorer-online-folder.png
signals=$(mktemp -d)
helper=
fail() { echo "FAILED: $*"; touch "$signals/done"; [ -n "$helper" ] && wait "$helper"; rm -rf "$signals"; exit 1; }
[ -n "${DISPLAY:-}" ] || fail "no display"
wine "$bin/BrannockExplorer.exe" "$(winepath -w "$bin/SxExplorerDriver.exe")" "$(winepath -w "$signals")" \
  </dev/null >/dev/null 2>&1 &
helper=$!
for _ in $(seq 600); do [ -s "$signals/ready" ] && break; sleep 0.1; done
answer=$(tr -d '\r' <"$signals/ready" 2>/dev/null)
echo "driver: $answer"
case $answer in "items "*) ;; *) fail "the folder did not open: $answer" ;; esac
items=${answer#items }
# The root of the seeded sandbox: six folders and three files (Thumbs.db is not shown).
[ "$items" = 9 ] || fail "the folder's view lists $items items, not 9"
sleep 1
import -window root "$shot" || fail "screenshot"
colours=$(convert "$shot" -format %k info:)
window=$(xdotool search --onlyvisible --name '^Tandrel Vaultmere$' 2>/dev/null | head -1)
[ -n "$window" ] || fail "no window of the folder on the display"
read -r x y < <(xdotool getwindowgeometry "$window" | awk '/Position/ {split($2, p, ","); print p[1], p[2]}')
listColours=$(convert "$shot" -crop "200x80+$((x + 160))+$((y + 100))" +repage -format %k info:)
echo "screenshot $shot: $colours colours, item list $listColours colours"
[ "$colours" -gt 20 ] || fail "the screenshot is blank"
[ "$listColours" -gt 4 ] || fail "the folder's view shows no items"
touch "$signals/done"
wait "$helper"
rm -rf "$signals"
echo "1 passed, 0 failed"
