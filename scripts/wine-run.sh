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
# test is a process of its own: a server that outlives each of them saves starting Wine's services
# again for every test (seconds each). By default it ends by itself half a minute after the last
# program; DRIVON_WINE_SERVER_LINGER sets those seconds, and empty keeps it until
# `wineserver -k` (scripts/test.sh does that for its whole run).
# A server's services are started by the first program it runs and keep that program's output
# open for as long as the server lives: started by the program under test, they would hold the
# test runner's pipe and the runner would wait for them. So whoever starts the server (its
# wineserver call answers 0; 2 when one runs already) starts them too, with nothing open, once.
# Making the prefix starts a server of its own that lingers for seconds only; it is ended, so the
# server of the run is always one started here.
# The lock is not handed down to the server (-o): it would hold it for as long as it runs.
export linger=${DRIVON_WINE_SERVER_LINGER-30}
flock -o "$WINEPREFIX.lock" sh -c '
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i
        "$wineserver" -k
        "$wineserver" -w
    fi
    if "$wineserver" "-p$linger"; then
        wineboot
    fi' </dev/null >/dev/null 2>&1
exec "$wine" "$program" "$@"
