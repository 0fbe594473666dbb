#!/usr/bin/env bash
# Builds and runs the whole test suite: the default (debug) and asan presets run everything,
# the tsan preset runs the tests labelled "threaded"; then every fuzz target replays its seed
# corpus and runs for FUZZ_SECONDS (30) seconds; last, the mingw preset cross-builds the parts
# without FFmpeg and jerasure for Windows and runs their tests under Wine (scripts/wine-run.sh,
# a throw-away prefix in build-mingw, no display), leaving out the tests labelled linux_only.
set -euo pipefail
cd "$(dirname "$0")/.."
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
        # Some tests bind the car's fixed ports on 127.0.0.1, and Linux has no namespace per test
        # process under Wine: the whole run gets one network of its own with only loopback. Wine's
        # server makes the sockets, so a server left from an earlier run must not serve this one.
        export WINEPREFIX=$PWD/build-mingw/wine
        wineserver -k 2>/dev/null || true
        unshare --net sh -c 'ip link set lo up && exec ctest --preset mingw -j "$1"' sh "$jobs"
        wineserver -k 2>/dev/null || true
        unset WINEPREFIX
        echo "=== preset $preset took $((SECONDS - started)) s ==="
        continue
    fi
    ctest --preset "$preset" -j "$jobs"
    echo "=== preset $preset took $((SECONDS - started)) s ==="
done
