#!/usr/bin/env bash
# What only the measurements need, beside the project's own packages (scripts/install-deps.sh):
# ffmpeg as the reference decoder and matplotlib for the plots.
set -euo pipefail
packages=(ffmpeg python3-matplotlib)
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
