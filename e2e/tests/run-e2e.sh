#!/usr/bin/env bash
# The journeys in a fresh wine prefix of their own, on a display of their own: the install folder
# gets the built Sendrake.exe and Brannock.dll, the test editor is registered for ".txt", then the
# journeys program runs. Screenshots and the program's logs are kept in <build>/artifacts.
set -u
bin=$1
# Not <build>/e2e: that is the build folder of e2e/ itself, with its CTestTestfile.
root=$SX_BINARY_DIR/e2e-run
artifacts=$SX_BINARY_DIR/artifacts
mkdir -p "$artifacts"
rm -rf "$root"
mkdir -p "$root"
export WINEPREFIX=$root/wineprefix WINEARCH=win64 WINEDEBUG=-all
# The build's wine (the host's wine64, or the sid root's Wine 10 for the PE32 build); wineserver of
# the same Wine comes first on PATH.
wine=${SX_WINE:-/usr/lib/wine/wine64}
xvfb=
cleanup() {
  wineserver -k </dev/null >/dev/null 2>&1
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
}
trap cleanup EXIT
dfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$dfile" </dev/null >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$dfile" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$dfile")"
rm -f "$dfile"
started=$(date +%s)
$wine wineboot -i </dev/null >/dev/null 2>&1
wineserver -p </dev/null >/dev/null 2>&1
$wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
bash "$(dirname "$0")/../../tools/wine-fonts"

drive=$WINEPREFIX/drive_c
install="$drive/Program Files/Tandrel Sendrake"
mkdir -p "$install" "$drive/e2e"
cp "$bin/trayinstall/Sendrake.exe" "$bin/trayinstall/Brannock.dll" "$install/"
cp "$bin/E2EEditor.exe" "$bin/e2e_journeys.exe" "$drive/e2e/"
# The program that opens a ".txt" document is the test editor.
for cls in txtfile; do
  $wine reg add "HKLM\\Software\\Classes\\.txt" /ve /d $cls /f </dev/null >/dev/null 2>&1
  $wine reg add "HKLM\\Software\\Classes\\$cls\\shell\\open\\command" /ve /d '"C:\e2e\E2EEditor.exe" "%1"' /f \
    </dev/null >/dev/null 2>&1
done
echo "prefix ready after $(( $(date +%s) - started )) s"

export SX_E2E_INSTALL='C:\Program Files\Tandrel Sendrake\'
export SX_E2E_ARTIFACTS=$($wine winepath -w "$artifacts" 2>/dev/null | tr -d '\r')
export WINEDLLOVERRIDES=
out=$root/journeys.log
$wine "$drive/e2e/e2e_journeys.exe" --gtest_color=no ${SX_E2E_ARGS:-} </dev/null >"$out" 2>&1
rc=$?
cat "$out"
for f in "$install"/*.log; do [ -f "$f" ] && cp "$f" "$artifacts/e2e-$(basename "$f")"; done
for f in "$artifacts"/e2e-*.png; do [ -f "$f" ] && echo "screenshot $f"; done
echo "suite time $(( $(date +%s) - started )) s"
exit $rc
