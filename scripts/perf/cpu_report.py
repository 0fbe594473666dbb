#!/usr/bin/python3
"""Table of cpu_memory.py's rounds: per round and family the module's CPU per second of video
beside ffmpeg's in the same round, their ratio, and peak resident memory.

    cpu_report.py CPU.jsonl
"""

import json
import statistics
import sys


def main():
    rows = [json.loads(line) for line in open(sys.argv[1]) if line.strip()]
    print("| stream | family | round | module threads CPU s / video s | zebhost renderer CPU s / video s "
          "| ffmpeg (fast) | ffmpeg (paced, -re) | module / ffmpeg fast | module / ffmpeg paced "
          "| zebhost peak RSS MiB | ffmpeg peak RSS MiB | pictures shown / s |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|")
    ratios = {}
    i = 0
    while i + 2 < len(rows):
        m, fast, paced = rows[i], rows[i + 1], rows[i + 2]
        i += 3
        rf = m["module_cpu_per_video_s"] / fast["cpu_per_video_s"]
        rp = m["module_cpu_per_video_s"] / paced["cpu_per_video_s"]
        key = (m.get("stream", "?"), m["family"])
        ratios.setdefault(key, []).append((rf, rp))
        # zebhost ran for warm-up (8 s) + window + 2 s.
        shown = m["uploads"] / (m["window_s"] + 10 - (m["first_picture_s"] or 0))
        print(f"| {key[0]} | {m['family']} | {m['round']} | {m['module_cpu_per_video_s']:.3f} "
              f"| {m['host_cpu_per_video_s']:.3f} | {fast['cpu_per_video_s']:.3f} "
              f"| {paced['cpu_per_video_s']:.3f} | {rf:.2f} | {rp:.2f} | {m['peak_rss_mib']:.0f} "
              f"| {fast['peak_rss_mib']:.0f} | {shown:.1f} |")
    print()
    for (stream, family), values in ratios.items():
        print(f"{stream}, {family}: median ratio to ffmpeg fast {statistics.median(v[0] for v in values):.2f}, "
              f"to ffmpeg paced {statistics.median(v[1] for v in values):.2f} "
              f"over {len(values)} rounds")
    print()
    print("Module threads, CPU s per video s (each round):")
    for m in rows:
        if m["kind"] == "module":
            print(f"  {m.get('stream', '?')}, {m['family']} round {m['round']}: " +
                  ", ".join(f"{k} {v:.3f}" for k, v in m["threads"].items()))


if __name__ == "__main__":
    main()
