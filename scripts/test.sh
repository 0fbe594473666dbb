#!/usr/bin/env bash
# Builds and runs the whole test suite: the default (debug) and asan presets run everything,
# the tsan preset runs the tests labelled "threaded".
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
presets=("$@")
((${#presets[@]})) || presets=(default asan tsan)
jobs=$(nproc)
for preset in "${presets[@]}"; do
    echo "=== preset $preset ==="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
done
