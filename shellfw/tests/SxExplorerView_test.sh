#!/usr/bin/env bash
# End to end under the display: Wine's Explorer opens the test folder typed into its Location box
# and lists its items in the folder's view (checks and screenshot: ExplorerViewCheck.sh).
set -u
bin=$1
here=$(dirname "$0")
. "$here/ExplorerViewCheck.sh"
dll=$(winepath -w "$bin/SxTestFolder.dll" 2>/dev/null)
root='::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\::{5D1C8F22-7A3B-4C6E-9E41-2B7F0C3A8D55}'
# The PE32 build's DLL goes into the 32-bit registry view and shows in the 32-bit Explorer.
sys=
[ "${SX_BUILD_TAG:-}" = win32 ] && sys='C:\windows\syswow64\'
explorer=
cleanup() {
  [ -n "$explorer" ] && kill "$explorer" 2>/dev/null
  wine "${sys}regsvr32.exe" /s /u "$dll" </dev/null >/dev/null 2>&1
}
fail() { echo "FAILED: $*"; cleanup; exit 1; }
[ -n "${DISPLAY:-}" ] || { echo "FAILED: no display"; exit 1; }
[ -n "$dll" ] || fail "winepath gave no Windows name for $bin/SxTestFolder.dll"
wine "${sys}regsvr32.exe" /s "$dll" </dev/null >/dev/null 2>&1
rc=$?
[ "$rc" = 0 ] || fail "regsvr32 $dll (exit code $rc)"

wine "${sys}explorer.exe" '/n,C:\' </dev/null >/dev/null 2>&1 &
explorer=$!
# The Location box gets the folder's path and Enter; the driver waits for the folder's title.
answer=$(wine "$bin/SxExplorerDriver.exe" "$root" "Tandrel Testtresor" </dev/null 2>/dev/null | tr -d '\r')
# Folders and files show their own icons, not one default image for all.
explorer_view_check "$answer" 4 explorer-test-folder.png 2 || { cleanup; exit 1; }
cleanup
echo "1 passed, 0 failed"
