#!/usr/bin/env bash
# Builds and runs the whole test suite: the default (debug) and asan presets run everything,
# the tsan preset runs the tests labelled "threaded"; then every fuzz target replays its seed
# corpus and runs for FUZZ_SECONDS (30) seconds; last, the mingw preset cross-builds the parts
# without FFmpeg and jerasure for Windows and runs their tests under Wine (scripts/wine-run.sh,
# a throw-away prefix in build-mingw, no display), leaving out the tests labelled linux_only.
set -euo pipefail
cd "$(dirname "$0")/.."

# Ends the Wine server of WINEPREFIX and the Wine programs of that prefix that it leaves behind:
# one still starting as the server goes waits on it for ever.
end_wine() {
    wineserver -k 2>/dev/null || true
    local pid
    for pid in $(pgrep -f '^C:\\windows\\' || true); do
        if grep -qxzF "WINEPREFIX=$WINEPREFIX" "/proc/$pid/environ" 2>/dev/null; then
            kill -9 "$pid" 2>/dev/null || true
        fi
    done
}
scripts/install-deps.sh
presets=("$@")
((${#presets[@]})) || presets=(default asan tsan fuzz mingw)
jobs=$(nproc)
for preset in "${presets[@]}"; do
    echo "=== preset $preset ==="
    started=$SECONDS
    if [ "$preset" = fuzz ]; then
        scripts/fuzz.sh
        continue
    fi
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    if [ "$preset" = mingw ]; then
        # Wine's server makes the sockets. One left from an earlier run must not serve this one.
        # One server then lives through the whole run (scripts/wine-run.sh starts it): with
        # servers that end when idle and start again, a test now and then waited for ever. None
        # is left behind. The Windows tests use loopback with ephemeral ports only.
        export WINEPREFIX=$PWD/build-mingw/wine
        end_wine
        trap end_wine EXIT
        DRIVON_WINE_SERVER_LINGER= ctest --preset "$preset" -j "$jobs"
        end_wine
        trap - EXIT
        unset WINEPREFIX
        echo "=== preset $preset took $((SECONDS - started)) s ==="
        continue
    fi
    ctest --preset "$preset" -j "$jobs"
    echo "=== preset $preset took $((SECONDS - started)) s ==="
done
