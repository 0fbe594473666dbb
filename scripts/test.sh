#!/usr/bin/env bash
# Builds and runs the whole test suite: the default (debug) and asan presets run everything,
# the tsan preset runs the tests labelled "threaded"; then every fuzz target replays its seed
# corpus and runs for FUZZ_SECONDS (30) seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
presets=("$@")
((${#presets[@]})) || presets=(default asan tsan fuzz)
jobs=$(nproc)
for preset in "${presets[@]}"; do
    echo "=== preset $preset ==="
    if [ "$preset" = fuzz ]; then
        scripts/fuzz.sh
        continue
    fi
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
done
