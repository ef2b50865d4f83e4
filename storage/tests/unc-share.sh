#!/usr/bin/env bash
# The share \\sxserver\c of the tests' wine prefix: Wine reaches a UNC path \\server\share\... through
# $WINEPREFIX/dosdevices/unc/server/share, and this share is the prefix's drive C:, so a folder of the
# prefix has a UNC name as on a network share.
set -eu
mkdir -p "$WINEPREFIX/dosdevices/unc/sxserver"
ln -sfn ../../../drive_c "$WINEPREFIX/dosdevices/unc/sxserver/c"
