#!/usr/bin/python3
"""CPU seconds per second of video and peak resident memory of one streaming source, beside
ffmpeg decoding the very same access units to RGBA on one thread.

The car replays an Annex B file (bench/record_car_stream: the car's own test pattern, encoded as
the car encodes it) with `carsim --input`, so the module and ffmpeg decode exactly the same
stream. Rounds alternate: the module in zebhost for a window of steady streaming, ffmpeg as fast
as it can, ffmpeg paced at 30 frames a second (-re). The module's threads are counted apart from
zebhost's software renderer (its graphics thread) and main thread.

    cpu_memory.py STREAM.h264 FRAMES OUT.jsonl [--rounds N] [--window S] [--family F]
"""

import argparse
import json
import os
import resource
import subprocess
import time

from hostrun import HostRun, cpu_between, memory, split_cpu, thread_times

FPS = 30


def module_round(stream, family, window):
    warmup = 8
    with HostRun([["--family", family, "--name", "PERF-CAR", "--input", stream]],
                 seconds=warmup + window + 2) as run:
        run.sleep_until(warmup)
        before = thread_times(run.pid)
        run.sleep_until(warmup + window)
        after = thread_times(run.pid)
        mem = memory(run.pid)
        run.wait()
        spent = cpu_between(before, after)
        module, host = split_cpu(spent)
        summary = run.summary()[0]
        first = run.first_pictures().get(0)
    return {
        "kind": "module", "family": family, "window_s": window,
        "module_cpu_per_video_s": module / window,
        "host_cpu_per_video_s": host / window,
        "threads": {k: round(v / window, 4) for k, v in sorted(spent.items())},
        "peak_rss_mib": mem["VmHWM"], "rss_mib": mem["VmRSS"],
        "uploads": summary["uploads"], "renders": summary["renders"], "first_picture_s": first,
    }


def ffmpeg_round(stream, frames, paced):
    command = ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-threads", "1",
               "-filter_threads", "1"]
    if paced:
        command += ["-re"]
    else:
        # Three passes, so the run is long enough for its start-up not to count.
        command += ["-stream_loop", "2"]
        frames *= 3
    command += ["-f", "h264", "-framerate", str(FPS), "-i", stream,
                "-f", "rawvideo", "-pix_fmt", "rgba", "-y", "/dev/null"]
    start = time.monotonic()
    process = subprocess.Popen(command)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.monotonic() - start
    if status != 0:
        raise RuntimeError(f"ffmpeg failed: {status}")
    cpu = usage.ru_utime + usage.ru_stime
    return {
        "kind": "ffmpeg-paced" if paced else "ffmpeg", "frames": frames,
        "cpu_per_video_s": cpu / (frames / FPS), "wall_s": wall,
        "peak_rss_mib": usage.ru_maxrss / 1024,
    }


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("stream")
    parser.add_argument("frames", type=int)
    parser.add_argument("out")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--window", type=float, default=20)
    parser.add_argument("--family", default="sonix")
    args = parser.parse_args()
    stream = os.path.abspath(args.stream)
    with open(args.out, "a") as out:
        for r in range(args.rounds):
            for result in (module_round(stream, args.family, args.window),
                           ffmpeg_round(stream, args.frames, paced=False),
                           ffmpeg_round(stream, args.frames, paced=True)):
                result["round"] = r
                result["stream"] = os.path.basename(stream)
                print(json.dumps(result), flush=True)
                out.write(json.dumps(result) + "\n")
                out.flush()


if __name__ == "__main__":
    main()
