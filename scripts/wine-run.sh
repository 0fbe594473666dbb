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
# Wine's services are started by the first program the server runs and keep its output open for
# as long as the server lives: started by the program under test, they would hold the test
# runner's pipe and the runner would wait for them. So wineboot, with nothing open, starts them
# (it returns at once when they run already).
# The lock is not handed down to the server (-o): it would hold it for as long as it runs.
flock -o "$WINEPREFIX.lock" sh -c '
    "$wineserver" -p30 || true
    if [ -f "$WINEPREFIX/system.reg" ]; then wineboot; else wineboot -i; fi' \
    </dev/null >/dev/null 2>&1
exec "$wine" "$program" "$@"
