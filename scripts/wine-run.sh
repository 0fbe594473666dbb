#!/usr/bin/env bash
# Runs a Windows program of the mingw build under Wine: ctest and GoogleTest's test listing call
# it as the cross build's emulator (PROGRAM ARGS...). The Wine prefix is a throw-away one inside
# the build folder (BUILD/wine beside BUILD/bin), made on first use; WINEPREFIX overrides it.
set -euo pipefail
program=$1
shift
bin_dir=$(cd "$(dirname "$program")" && pwd)
export WINEPREFIX=${WINEPREFIX:-$(dirname "$bin_dir")/wine}
export WINEDEBUG=${WINEDEBUG:--all}
# No display, no browser or .NET runtimes to offer: a console program needs none of them.
export DISPLAY=
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wine=wine64
command -v wine64 >/dev/null || wine=/usr/lib/wine/wine64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    # Test programs start side by side; one of them makes the prefix, the others wait for it.
    flock "$WINEPREFIX.lock" sh -c '[ -f "$WINEPREFIX/system.reg" ] || wineboot -i' >/dev/null 2>&1
fi
exec "$wine" "$program" "$@"
