#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan + UBSan), replays each committed seed corpus,
# then runs each target for FUZZ_SECONDS seconds (default 30). New inputs go to a scratch folder,
# so the committed corpus stays as it is; a crash leaves its input in out/fuzz/<target>/.
#
#   scripts/fuzz.sh [TARGET]...
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-30}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" --target fuzzers

targets=("$@")
if ((${#targets[@]} == 0)); then
    for folder in fuzz/*/; do
        [ -f "$folder/CMakeLists.txt" ] && targets+=("$(basename "$folder")")
    done
fi
((${#targets[@]})) || { echo "fuzz: no targets"; exit 0; }

for target in "${targets[@]}"; do
    binary="build-fuzz/fuzz/$target"
    corpus="fuzz/$target/corpus"
    artifacts="out/fuzz/$target"
    scratch=$(mktemp -d)
    mkdir -p "$artifacts"
    echo "=== fuzz $target: replay $(ls "$corpus" | wc -l) seeds, then ${seconds}s ==="
    "$binary" -runs=0 "$corpus" 2>&1 | tail -n 2
    status=0
    "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$scratch" "$corpus" >"$artifacts/log" 2>&1 || status=$?
    grep -E "^(stat::number_of_executed_units|stat::new_units_added|SUMMARY)" "$artifacts/log" || true
    rm -rf "$scratch"
    if ((status != 0)); then
        tail -n 40 "$artifacts/log"
        echo "fuzz $target failed (status $status); the input and the log are in $artifacts/"
        exit 1
    fi
done
