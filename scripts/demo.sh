#!/usr/bin/env bash
# The main job: a simulated camera car and the Drivon module loaded in the stand-in host, each in
# its own namespace of a private test network (scripts/carnet.sh), so that the module's discovery
# probes reach the simulated car and nothing else. Pictures land in out/demo/.
#
#   scripts/demo.sh [SECONDS] [sonix|zoderiv]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-10}"
family="${2:-sonix}"

scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target zebhost drivon carsim

out="$PWD/out/demo"
rm -rf "$out"
mkdir -p "$out"

scripts/carnet.sh run \
    --car "build/bin/carsim --family $family --name DRIVON-DEMO --log $out/car-wire.jsonl" \
    -- build/bin/zebhost --module build/bin/drivon.so --config-dir "$out/config" \
    --seconds "$seconds" --snapshots "$out" | tee "$out/summary.jsonl"

echo "demo: pictures in $out (source0-<second>.png each second, source0.png at the end);"
echo "demo: what the module sent to the car is in $out/car-wire.jsonl"
