#!/usr/bin/env bash
# Runs a test program under wine with its output going to a file first: a Wine service process it
# starts (the desktop, for its first window) inherits that file instead of ctest's pipe, so ctest
# does not wait for that process to end after the test has finished.
out=$(mktemp)
"${SX_WINE:-/usr/lib/wine/wine64}" "$@" </dev/null >"$out" 2>&1
rc=$?
cat "$out"
rm -f "$out"
exit $rc
