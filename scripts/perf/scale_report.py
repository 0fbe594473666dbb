#!/usr/bin/python3
"""Table of scale.py's runs: per number of sources the pictures per second each source showed,
frames lost, and the CPU of the module's threads and of zebhost's renderer.

    scale_report.py SCALE.jsonl
"""

import json
import sys


def main():
    rows = [json.loads(line) for line in open(sys.argv[1]) if line.strip()]
    print("| sources | pictures / s per source (min / median / max) | frames lost per source "
          "| renders / s | module CPU (cores) | zebhost renderer CPU (cores) | peak RSS MiB "
          "| queue clears |")
    print("|---|---|---|---|---|---|---|---|")
    for r in rows:
        shown = sorted(s["pictures_per_s"] for s in r["per_source"])
        lost = [s["frames_lost"] for s in r["per_source"]]
        renders = sorted(s["renders_per_s"] for s in r["per_source"])
        print(f"| {r['sources']} | {shown[0]:.1f} / {shown[len(shown) // 2]:.1f} / {shown[-1]:.1f} "
              f"| {', '.join(str(v) for v in lost)} | {renders[0]:.1f} "
              f"| {r['module_cpu_cores']:.2f} | {r['host_cpu_cores']:.2f} "
              f"| {r['peak_rss_mib']:.0f} | {r['clears']} |")


if __name__ == "__main__":
    main()
