#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need, when one is missing;
# packages named as arguments are added to them (scripts/perf/install-perf-deps.sh).
set -euo pipefail
packages=(
    cmake ninja-build g++ pkg-config
    libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
    nlohmann-json3-dev libjerasure-dev libgf-complete-dev libpng-dev
    libgtest-dev libgmock-dev libbenchmark-dev libisal-dev
    clang-14 libclang-rt-14-dev
    iproute2 nftables
    # The Windows cross build and its test run (mingw preset): compiler, GoogleTest's sources,
    # Wine (wine brings wineboot and wineserver for the run's own prefix).
    g++-mingw-w64-x86-64-posix googletest wine wine64
    "$@"
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
