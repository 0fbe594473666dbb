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
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe=}
wine=wine64
command -v wine64 >/dev/null || wine=/usr/lib/wine/wine64
wineserver=wineserver
command -v wineserver >/dev/null || wineserver=/usr/lib/wine/wineserver
export wineserver
mkdir -p "$WINEPREFIX"
# Test programs start side by side; one of them makes the prefix, the others wait for it. Every
# test is a process of its own: a server that outlives each of them by half a minute saves
# starting Wine's services again for every test (seconds each). It ends by itself after the run;
# scripts/test.sh starts one that lasts the whole run instead, and then this one is not started.
# The lock is not handed down to the server (-o): it would hold it for as long as it runs.
flock -o "$WINEPREFIX.lock" sh -c '
    [ -f "$WINEPREFIX/system.reg" ] || wineboot -i
    "$wineserver" -p30 || true' </dev/null >/dev/null 2>&1
exec "$wine" "$program" "$@"
