#!/usr/bin/python3
"""Several sources with as many cars at once: pictures per second each source showed, frames it
lost, and where the CPU went. Every car replays the same Annex B file (`carsim --input`), so the
cars themselves cost little CPU beside the module on this machine.

    scale.py STREAM.h264 OUT.jsonl [--sources N ...] [--seconds S] [--family F]
"""

import argparse
import json
import os
import re

from hostrun import HostRun, cpu_between, memory, split_cpu, thread_times

FPS = 30


def scale_round(stream, family, sources, seconds):
    cars = []
    for i in range(sources):
        fam = family if family != "mixed" else ("sonix" if i % 2 == 0 else "zoderiv")
        cars.append(["--family", fam, "--name", f"PERF-CAR-{i + 1}", "--input", stream])
    warmup = 10
    with HostRun(cars, sources=sources, seconds=seconds) as run:
        run.sleep_until(warmup)
        before = thread_times(run.pid)
        run.sleep_until(seconds - 1)
        after = thread_times(run.pid)
        mem = memory(run.pid)
        run.wait()
        window = seconds - 1 - warmup
        spent = cpu_between(before, after)
        module, host = split_cpu(spent)
        firsts = run.first_pictures()
        clears = len(re.findall(r"Buffered too many frames", run.log()))
        per_source = []
        for s in run.summary():
            first = firsts.get(s["source"])
            streaming = seconds - first if first is not None else 0
            shown = s["uploads"] / streaming if streaming > 0 else 0
            per_source.append({
                "source": s["source"], "first_picture_s": first,
                "pictures_per_s": round(shown, 2), "renders_per_s": round(s["renders"] / seconds, 2),
                # The car sends 30 frames a second from the moment the source connects.
                "frames_lost": max(0, round(FPS * streaming - s["uploads"])) if first else None,
                "uploads": s["uploads"],
            })
    return {
        "sources": sources, "family": family, "seconds": seconds,
        "module_cpu_cores": module / window, "host_cpu_cores": host / window,
        "threads": {k: round(v / window, 3) for k, v in sorted(spent.items())},
        "peak_rss_mib": mem["VmHWM"], "clears": clears, "per_source": per_source,
    }


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("stream")
    parser.add_argument("out")
    parser.add_argument("--sources", type=int, nargs="+", default=[1, 4, 8])
    parser.add_argument("--seconds", type=int, default=40)
    parser.add_argument("--family", default="mixed")
    args = parser.parse_args()
    stream = os.path.abspath(args.stream)
    with open(args.out, "a") as out:
        for n in args.sources:
            result = scale_round(stream, args.family, n, args.seconds)
            print(json.dumps(result), flush=True)
            out.write(json.dumps(result) + "\n")


if __name__ == "__main__":
    main()
