#!/usr/bin/env bash
# The main job: simulated camera cars and the Drivon module loaded in the stand-in host, each in
# its own namespace of a private test network (scripts/carnet.sh), so that the module's
# discovery probes reach the simulated cars and nothing else. The host renders for SECONDS
# (default 10); pictures, a clip of what source 0 showed, the summary and the logs land in
# out/demo/.
#
#   scripts/demo.sh [SECONDS] [sonix|zoderiv|both]
#
# sonix (the default) and zoderiv run one car of that family and one source; both runs one car
# of each family and two sources, each source streaming from its own car.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-10}"
family="${2:-sonix}"
case "$family" in
sonix | zoderiv | both) ;;
*)
    echo "usage: scripts/demo.sh [SECONDS] [sonix|zoderiv|both]" >&2
    exit 2
    ;;
esac

# The module looks for cars on every private subnet, so it may only run inside a network of its
# own: that takes root and network namespaces.
if ((EUID != 0)); then
    echo "demo: needs root: it builds a private test network of network namespaces" \
        "(ip netns) for the simulated cars and the host. Run it as root or with sudo." >&2
    exit 1
fi
probe="dvdemo$$"
if ! ip netns add "$probe" 2>/dev/null; then
    echo "demo: needs network namespaces (ip netns add failed): run it on a Linux machine" \
        "or container that allows them (CAP_SYS_ADMIN and CAP_NET_ADMIN)." >&2
    exit 1
fi
ip netns delete "$probe"

scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target zebhost drivon carsim

out="$PWD/out/demo"
rm -rf "$out"
mkdir -p "$out"

cars=()
sources=1
case "$family" in
sonix | zoderiv)
    cars+=(--car "build/bin/carsim --family $family --name DRIVON-DEMO --log $out/car1-wire.jsonl")
    ;;
both)
    cars+=(--car "build/bin/carsim --family sonix --name DRIVON-SONIX --log $out/car1-wire.jsonl")
    cars+=(--car "build/bin/carsim --family zoderiv --name DRIVON-ZODERIV --log $out/car2-wire.jsonl")
    sources=2
    ;;
esac

status=0
scripts/carnet.sh run "${cars[@]}" -- sh -c "exec build/bin/zebhost --module build/bin/drivon.so \
    --config-dir '$out/config' --sources $sources --seconds $seconds --snapshots '$out' \
    --record '$out/source0.mp4' >'$out/summary.jsonl' 2>'$out/zebhost.log'" || status=$?

echo
echo "demo: what the module logged:"
grep -E "\[drivon\]|first picture" "$out/zebhost.log" | sort | uniq -c | sort -rn | head -n 12 || true
echo
echo "demo: summary (one JSON line per source):"
cat "$out/summary.jsonl" 2>/dev/null || true
echo
grep -E "first picture" "$out/zebhost.log" | sed 's/^zebhost: /demo: /' || echo "demo: no picture arrived"
echo "demo: pictures in $out/ (sourceN-<second>.png each second, sourceN.png at the end)"
echo "demo: a clip of what source 0 showed: $out/source0.mp4"
echo "demo: what the module sent to each car: $out/car*-wire.jsonl; the host's log: $out/zebhost.log"
exit "$status"
