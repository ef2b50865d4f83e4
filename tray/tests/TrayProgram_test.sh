#!/usr/bin/env bash
# The real Sendrake.exe under the display: start-up, a second start that ends at once and changes
# nothing, the tray menu, a login against the private WebDAV server that starts Explorer, exit; the
# main window in German and English and the tray menu are kept as screenshots in <build>/artifacts
# and must not be blank.
set -u
bin=$1
install=$bin/trayinstall
artifacts=$SX_BINARY_DIR/artifacts
mkdir -p "$artifacts"
driver="$bin/TrayDriver.exe"
key='HKCU\SOFTWARE\Tandrel\Tandrel Sendrake'
pid=
fail() { echo "FAILED: $*"; cleanup; exit 1; }
cleanup() {
  wine "$driver" close-explorer </dev/null >/dev/null 2>&1
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    wine "$driver" exit </dev/null >/dev/null 2>&1
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    kill "$pid" 2>/dev/null
  fi
  wine reg delete "$key" /f </dev/null >/dev/null 2>&1
}
setting() {   # section name -> value text
  wine reg query "$key\\$1" /v "$2" </dev/null 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
# A screenshot of the window named $1 into $2; fails when it shows fewer than 20 colours.
shoot() {
  local window x y w h colours
  window=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
  [ -n "$window" ] || fail "no window \"$1\" on the display"
  eval "$(xdotool getwindowgeometry --shell "$window")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$2" || fail "screenshot $2"
  colours=$(convert "$2" -format %k info:)
  echo "screenshot $2: ${WIDTH}x${HEIGHT}, $colours colours"
  [ "$colours" -gt 20 ] || fail "the screenshot $2 is blank"
}
start() {
  wine "$install/Sendrake.exe" "$@" </dev/null >>"$artifacts/sendrake-program.log" 2>&1 &
  pid=$!
  for _ in $(seq 100); do
    xdotool search --onlyvisible --name '^Tandrel Sendrake$' >/dev/null 2>&1 && return 0
    sleep 0.2
  done
  fail "the main window did not show"
}
stop() {
  local asked=
  for _ in $(seq 20); do
    wine "$driver" exit </dev/null >/dev/null 2>&1 && { asked=1; break; }
    sleep 0.5
  done
  [ -n "$asked" ] || fail "no main window to exit ($1)"
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
  kill -0 "$pid" 2>/dev/null && fail "the program did not end"
  pid=
}
[ -n "${DISPLAY:-}" ] || { echo "FAILED: no display"; exit 1; }
. "$SX_BINARY_DIR/dav/dav-server.txt"
box=tray_program
rm -rf "$tree/$box"
mkdir -p "$tree/$box/Dokumente" "$tree/$box/Gelöschte Dateien" "$tree/$box/Neue Dateianlagen"
echo "Protokoll der Sitzung" > "$tree/$box/Dokumente/Protokoll März.txt"

wine reg delete "$key" /f </dev/null >/dev/null 2>&1
wine reg add "$key\\Application" /v changelanguage /d 1 /f </dev/null >/dev/null 2>&1
wine reg add "$key\\Application" /v language /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
wine reg add "$key\\Application" /v update /d "http://127.0.0.1:9/downloads/" /f </dev/null >/dev/null 2>&1
wine reg add "$key\\Connection" /v host /d "$url/$box" /f </dev/null >/dev/null 2>&1

start
sleep 1
shoot '^Tandrel Sendrake$' "$artifacts/sendrake-main-de.png"
[ "$(setting Connection connected)" = 0 ] || fail "connected flag not 0 at start"

# A second copy from another folder ends at once and leaves the first one's settings alone.
other=$bin/trayinstall-second
mkdir -p "$other"
cp "$install/Sendrake.exe" "$other/"
before=$(setting Application install)
timeout 30 wine "$other/Sendrake.exe" </dev/null >/dev/null 2>&1
rc=$?
[ $rc = 0 ] || fail "the second start ended with $rc"
[ "$(setting Application install)" = "$before" ] || fail "the second start rewrote the install folder"
kill -0 "$pid" 2>/dev/null || fail "the first instance ended"

wine "$driver" menu </dev/null >/dev/null 2>&1 || fail "no tray icon window"
sleep 1
import -window root "$artifacts/sendrake-tray-menu-full.png"
# The menu opens at the cursor (600, 300): its corner holds the menu's drawn captions.
convert "$artifacts/sendrake-tray-menu-full.png" -crop 200x220+600+300 +repage "$artifacts/sendrake-tray-menu.png"
colours=$(convert "$artifacts/sendrake-tray-menu.png" -format %k info:)
echo "screenshot $artifacts/sendrake-tray-menu.png: $colours colours"
[ "$colours" -gt 4 ] || fail "the tray menu screenshot is blank"
wine "$driver" close-menu </dev/null >/dev/null 2>&1

# The language switch of the tray menu relabels the window.
wine "$driver" english </dev/null >/dev/null 2>&1 || fail "no main window for the language switch"
sleep 1
shoot '^Tandrel Sendrake$' "$artifacts/sendrake-main-en.png"
[ "$(setting Application language)" = 0x1 ] || fail "the language switch was not stored"

# Login: connected, and Explorer started.
wine "$driver" login "$user" "$password" </dev/null >/dev/null 2>&1 || fail "no main window to log in"
for _ in $(seq 100); do [ "$(setting Connection connected)" = 1 ] && break; sleep 0.2; done
[ "$(setting Connection connected)" = 1 ] || fail "the login did not connect"
for _ in $(seq 50); do wine "$driver" explorer </dev/null >/dev/null 2>&1 && break; sleep 0.2; done
wine "$driver" explorer </dev/null >/dev/null 2>&1 || fail "no Explorer window after the login"
wine "$driver" close-explorer </dev/null >/dev/null 2>&1
stop
[ "$(setting Connection connected)" = 0 ] || fail "connected flag not 0 after exit"
[ -z "$(setting Connection password)" ] || fail "the unsaved password outlived the exit"

cleanup
echo "1 passed, 0 failed"
