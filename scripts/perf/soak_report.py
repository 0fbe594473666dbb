#!/usr/bin/python3
"""Start and end of soak.py's samples, and a plot of resident memory over the soak.

    soak_report.py SOAK.csv OUT_DIR
"""

import csv
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def main():
    rows = [{k: float(v) for k, v in r.items()} for r in csv.DictReader(open(sys.argv[1]))]
    first = next(r for r in rows if r["seconds"] >= 30)
    last = rows[-1]
    print(f"resident at {first['seconds']:.0f} s: {first['rss_mib']:.1f} MiB; at "
          f"{last['seconds']:.0f} s: {last['rss_mib']:.1f} MiB; peak {last['peak_rss_mib']:.1f} "
          f"MiB; threads {first['threads']:.0f} -> {last['threads']:.0f}; descriptors "
          f"{first['descriptors']:.0f} -> {last['descriptors']:.0f}")
    fig, ax = plt.subplots(figsize=(9, 3))
    ax.plot([r["seconds"] for r in rows], [r["rss_mib"] for r in rows], label="resident")
    ax.plot([r["seconds"] for r in rows], [r["peak_rss_mib"] for r in rows], ls="--",
            label="peak resident")
    ax.set_xlabel("seconds")
    ax.set_ylabel("MiB")
    ax.set_ylim(bottom=0)
    ax.grid(True, alpha=.3)
    ax.legend()
    ax.set_title("zebhost with one source, 5 % datagram loss")
    fig.tight_layout()
    fig.savefig(os.path.join(sys.argv[2], "soak-memory.png"), dpi=90)


if __name__ == "__main__":
    main()
