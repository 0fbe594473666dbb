#!/usr/bin/env bash
# What only the measurements need, beside the project's own packages: ffmpeg as the reference
# decoder and matplotlib for the plots.
set -euo pipefail
exec "$(dirname "$0")/../install-deps.sh" ffmpeg python3-matplotlib
