#!/usr/bin/env bash
# End to end under the display: Wine's Explorer opens "Tandrel Vaultmere" under My Computer, typed
# into its Location box, over a mirror made by a real login listing, and lists the folder's items
# with their icons (checks and screenshot: shellfw/tests/ExplorerViewCheck.sh).
set -u
bin=$1
here=$(dirname "$0")
. "$here/../../shellfw/tests/ExplorerViewCheck.sh"
signals=$(mktemp -d)
helper=
finish() { touch "$signals/done"; [ -n "$helper" ] && wait "$helper"; rm -rf "$signals"; }
[ -n "${DISPLAY:-}" ] || { echo "FAILED: no display"; finish; exit 1; }
wine "$bin/BrannockExplorer.exe" "$(winepath -w "$bin/SxExplorerDriver.exe")" "$(winepath -w "$signals")" \
  </dev/null >/dev/null 2>&1 &
helper=$!
for _ in $(seq 600); do [ -s "$signals/ready" ] && break; sleep 0.1; done
answer=$(tr -d '\r' <"$signals/ready" 2>/dev/null)
# The root of the seeded sandbox: six folders and three files (Thumbs.db is not shown).
# Folders, the three special folders and files: at least five different icons, drawn in colour.
explorer_view_check "$answer" 9 explorer-online-folder.png 5 coloured || { finish; exit 1; }
finish
echo "1 passed, 0 failed"
