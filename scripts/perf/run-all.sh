#!/usr/bin/env bash
# Every performance figure of docs/performance.md, from a fresh machine (as root, after the
# README's commands): builds the release preset, runs the benchmarks and measurements, and writes
# their raw output, tables and plots to out/perf/ (the plots are then copied by hand into
# docs/perf/ when the document is updated).
#
#   scripts/perf/run-all.sh [latency] [first] [cpu] [scale] [soak]   (default: all of them)
#
# Takes about 25 minutes, 10 of them the soak. The machine should be otherwise quiet; every
# comparison is made side by side in the same run, so a busy machine shifts the absolute times
# but much less the ratios.
set -euo pipefail
cd "$(dirname "$0")/../.."
((EUID == 0)) || { echo "run-all: needs root (network namespaces)" >&2; exit 1; }
steps=("$@")
((${#steps[@]})) || steps=(latency first cpu scale soak)

scripts/install-deps.sh
scripts/perf/install-perf-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target drivon zebhost carsim bench_latency \
    bench_first_picture record_car_stream bench_decode
bin=build-release/bin
out=out/perf
mkdir -p "$out"
py=/usr/bin/python3

for step in "${steps[@]}"; do
    case "$step" in
    latency)
        rm -rf "$out/latency-samples"
        mkdir -p "$out/latency-samples"
        "$bin/bench_latency" --samples_dir="$out/latency-samples" \
            --benchmark_out="$out/latency.json" --benchmark_out_format=json |
            tee "$out/latency.txt"
        $py scripts/perf/latency_report.py "$out/latency-samples" "$out"
        ;;
    first)
        "$bin/bench_first_picture" --benchmark_out="$out/first-picture.json" \
            --benchmark_out_format=json | tee "$out/first-picture.txt"
        ;;
    cpu)
        # The car's own test pattern (plain, cheap to decode), and a busy camera-like stream at
        # 4 Mbit/s (moving test picture with grain) where decoding dominates. One slice per
        # frame, as the cars send: the source hands the decoder one slice per call, so a frame
        # in several slices would be decoded as several half-concealed pictures.
        "$bin/record_car_stream" "$out/car-stream.h264" 600
        ffmpeg -nostdin -hide_banner -loglevel error \
            -f lavfi -i "testsrc2=size=1280x720:rate=30,noise=alls=12:allf=t" -frames:v 600 \
            -c:v libx264 -preset ultrafast -tune zerolatency -g 30 -bf 0 -b:v 4M -maxrate 4M \
            -bufsize 1M -threads 1 -x264-params "repeat-headers=1:scenecut=0:slices=1:sliced-threads=0" -f h264 \
            -y "$out/busy-stream.h264"
        rm -f "$out/cpu.jsonl"
        for stream in car-stream busy-stream; do
            for family in sonix zoderiv; do
                $py scripts/perf/cpu_memory.py "$out/$stream.h264" 600 "$out/cpu.jsonl" \
                    --family "$family" --rounds 3
            done
        done
        $py scripts/perf/cpu_report.py "$out/cpu.jsonl" | tee "$out/cpu.md"
        ;;
    scale)
        [ -f "$out/car-stream.h264" ] || "$bin/record_car_stream" "$out/car-stream.h264" 600
        rm -f "$out/scale.jsonl"
        $py scripts/perf/scale.py "$out/car-stream.h264" "$out/scale.jsonl" --sources 1 4 8
        $py scripts/perf/scale_report.py "$out/scale.jsonl" | tee "$out/scale.md"
        ;;
    soak)
        $py scripts/perf/soak.py "$out/soak.csv" --seconds 600 --loss 5
        $py scripts/perf/soak_report.py "$out/soak.csv" "$out" | tee "$out/soak.md"
        ;;
    *)
        echo "run-all: unknown step $step" >&2
        exit 2
        ;;
    esac
done
