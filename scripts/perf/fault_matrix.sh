#!/usr/bin/env bash
# The fault matrix: the source under every fault the simulated car can inject, for both car
# families, measured by bench/fault_matrix (see its main.cpp) in a network namespace of its own,
# then tabulated and plotted.
#
#   scripts/perf/fault_matrix.sh [fault_matrix OPTION]...
#
# Examples: everything (about 40 minutes), only the loss sweep of one family, a quick look:
#   scripts/perf/fault_matrix.sh
#   scripts/perf/fault_matrix.sh --family zoderiv --only 'loss'
#   scripts/perf/fault_matrix.sh --seconds 5 --cycles 5 --repetitions 3
#
# BUILD_DIR (default build-release, the release preset's folder) is configured and built when it
# does not hold the programs yet; OUT_DIR (default out/faults) receives matrix.jsonl (one JSON
# line per cell), matrix.md (the tables) and pictures_per_second.png. Needs root (network
# namespaces) and python3-matplotlib for the plot.
set -euo pipefail
cd "$(dirname "$0")/../.."
build="${BUILD_DIR:-build-release}"
out="${OUT_DIR:-out/faults}"

if ((EUID != 0)); then
    echo "fault_matrix: needs root, for the network namespaces of the car network" >&2
    exit 1
fi
if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDRIVON_TESTS=ON \
        -DDRIVON_BENCH=ON >/dev/null
fi
cmake --build "$build" --target fault_matrix carsim >/dev/null

mkdir -p "$out"
rm -f "$out/matrix.jsonl"
# A namespace of the run's own, with only loopback: the bench builds the car network inside it,
# so nothing it sends can reach a real network.
status=0
unshare --net sh -c 'ip link set lo up && exec "$@"' sh \
    "$build/bin/fault_matrix" --out "$out/matrix.jsonl" "$@" || status=$?
/usr/bin/python3 scripts/perf/fault_matrix_report.py "$out/matrix.jsonl" "$out"
exit "$status"
