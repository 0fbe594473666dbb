#!/usr/bin/env bash
# carnet.sh: a private test network of simulated camera cars and one host, built from network
# namespaces, so that discovery, control and video run exactly as on a car's Wi-Fi without any
# traffic reaching a real network.
#
#   scripts/carnet.sh run [--car "COMMAND"]... [--ready-timeout S] -- HOST_COMMAND [ARG]...
#   scripts/carnet.sh --help
#
# Layout (every name carries the script's process id, so parallel runs never collide):
#
#   car 1  192.168.99.1/24 --veth--+
#   host   192.168.99.2/24 --veth--+-- bridge namespace (br0)
#   car 2  192.168.99.3/24 --veth--+
#   car i  192.168.99.(i+1)/24 ...
#
# Each endpoint namespace has its loopback up and one interface, eth0. There is no route and
# no interface to the outside namespace: nothing can leave the test network.
#
# `run` starts every car COMMAND in the background in its own namespace (through `sh -c`, so
# it may hold arguments), waits until each car has a listening socket (at most --ready-timeout
# seconds, default 5), then runs HOST_COMMAND in the host namespace with these variables:
#
#   DRIVON_CAR_COUNT      number of cars
#   DRIVON_CAR_NS_<i>     namespace of car i (1-based)
#   DRIVON_CAR_ADDR_<i>   address of car i
#   DRIVON_HOST_NS        the host namespace
#   DRIVON_HOST_ADDR      192.168.99.2
#   DRIVON_BRIDGE_NS      the bridge namespace
#
# Afterwards (also when HOST_COMMAND fails, or on an interrupt or a failed set-up) it stops the
# cars (SIGTERM, SIGKILL after 3 s) and deletes every namespace it made, which removes their
# interfaces. The exit status is HOST_COMMAND's (2 for a usage error, 1 when set-up failed).
# Needs root and iproute2.
set -uo pipefail

usage() { sed -n '2,/^set -uo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; }

die() {
    echo "carnet: $*" >&2
    exit 1
}

prefix="dv$$"
bridgeNs="${prefix}br"
hostNs="${prefix}h"
madeNs=()
startedPids=()

cleanup() {
    local pid ns waited
    # A second interrupt must not cut the clean-up short and leave namespaces behind; every
    # step below is bounded.
    trap '' INT TERM
    for pid in "${startedPids[@]}"; do
        kill -TERM "$pid" 2>/dev/null
    done
    for pid in "${startedPids[@]}"; do
        waited=0
        while kill -0 "$pid" 2>/dev/null && ((waited < 30)); do
            sleep 0.1
            waited=$((waited + 1))
        done
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    # Anything still running in our namespaces was started by this run.
    for ns in "${madeNs[@]}"; do
        for pid in $(ip netns pids "$ns" 2>/dev/null); do
            kill -KILL "$pid" 2>/dev/null
        done
    done
    for ns in "${madeNs[@]}"; do
        [[ -e "/run/netns/$ns" ]] && ip netns delete "$ns"
    done
    madeNs=()
    startedPids=()
}

addNamespace() {
    # Recorded before it exists: an interrupt is handled as soon as `ip netns add` returns, and
    # a namespace made but not yet recorded would outlive the run.
    madeNs+=("$1")
    ip netns add "$1" || die "cannot create namespace $1"
    ip -n "$1" link set lo up || die "cannot bring up loopback in $1"
}

# Joins namespace $1 to the bridge with address $2, through a veth pair named after $3.
attach() {
    local ns=$1 address=$2 port="${prefix}$3"
    ip link add eth0 netns "$ns" type veth peer name "$port" netns "$bridgeNs" ||
        die "cannot create the interface of $ns"
    ip -n "$bridgeNs" link set "$port" master br0 up || die "cannot attach $port"
    ip -n "$ns" addr add "$address/24" broadcast 192.168.99.255 dev eth0 || die "cannot address $ns"
    ip -n "$ns" link set eth0 up || die "cannot bring up eth0 in $ns"
}

# True once the namespace holds a listening TCP socket or a bound UDP socket.
listening() {
    [[ -n "$(ip netns exec "$1" ss -H -ltnu 2>/dev/null)" ]]
}

run() {
    local cars=() readyTimeout=5
    while (($#)); do
        case "$1" in
        --car)
            (($# >= 2)) || { usage >&2; exit 2; }
            cars+=("$2")
            shift 2
            ;;
        --ready-timeout)
            (($# >= 2)) || { usage >&2; exit 2; }
            readyTimeout=$2
            shift 2
            ;;
        --)
            shift
            break
            ;;
        *)
            usage >&2
            exit 2
            ;;
        esac
    done
    (($#)) || { usage >&2; exit 2; }
    ((EUID == 0)) || die "needs root"

    trap cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM

    addNamespace "$bridgeNs"
    ip -n "$bridgeNs" link add br0 type bridge || die "cannot create the bridge"
    ip -n "$bridgeNs" link set br0 up || die "cannot bring up the bridge"

    addNamespace "$hostNs"
    attach "$hostNs" 192.168.99.2 h
    export DRIVON_HOST_NS="$hostNs" DRIVON_HOST_ADDR=192.168.99.2 DRIVON_BRIDGE_NS="$bridgeNs"
    export DRIVON_CAR_COUNT=${#cars[@]}

    local i ns address
    for ((i = 1; i <= ${#cars[@]}; i++)); do
        ns="${prefix}c$i"
        if ((i == 1)); then address=192.168.99.1; else address="192.168.99.$((i + 1))"; fi
        addNamespace "$ns"
        attach "$ns" "$address" "c$i"
        export "DRIVON_CAR_NS_$i=$ns" "DRIVON_CAR_ADDR_$i=$address"
        ip netns exec "$ns" sh -c "exec ${cars[i - 1]}" &
        startedPids+=($!)
    done

    local deadline=$((SECONDS + readyTimeout))
    for ((i = 1; i <= ${#cars[@]}; i++)); do
        until listening "${prefix}c$i"; do
            kill -0 "${startedPids[i - 1]}" 2>/dev/null || die "car $i ended before it was ready"
            ((SECONDS < deadline)) || die "car $i not ready after ${readyTimeout}s"
            sleep 0.05
        done
    done

    # In the background so that a signal is handled at once (bash runs traps only between
    # foreground commands); stdin is passed on explicitly, as a background job would get none.
    ip netns exec "$hostNs" "$@" <&0 &
    startedPids+=($!)
    local status=0
    wait "$!" || status=$?
    cleanup
    return "$status"
}

case "${1:-}" in
run)
    shift
    run "$@"
    exit $?
    ;;
-h | --help | help)
    usage
    ;;
*)
    usage >&2
    exit 2
    ;;
esac
