#!/usr/bin/python3
"""Tables and plots from bench_latency's samples (--samples_dir): per case the distribution from
the access unit's timestamp to queued and to uploaded, the wait in the picture queue, the bare
decode + convert of the same units, and an estimate of what a render that shows the newest
waiting picture (dropping the older ones) would have given on the same timeline.

    latency_report.py SAMPLES_DIR OUT_DIR   (writes latency.md and PNG plots into OUT_DIR)
"""

import bisect
import csv
import glob
import math
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def load(path):
    with open(path) as f:
        return [{k: int(v) for k, v in row.items()} for row in csv.DictReader(f)]


def pct(values, fraction):
    """Nearest-rank percentile, as the benchmark computes it."""
    if not values:
        return float("nan")
    s = sorted(values)
    return s[max(1, min(len(s), math.ceil(fraction * len(s)))) - 1]


def ms(values):
    return [v / 1e6 for v in values]


def simulate(pictures, renders, policy):
    """Replays the run's own timeline (when each picture was queued, when each render call
    began) through a picture queue with another render policy; the latency to upload of each
    measured picture shown, and how many measured pictures it never showed. Uploads happen
    where the real ones did within a render call (median offset from the call's start).
      fifo:   one picture per render call, oldest first (the source as it is; a check of the
              replay against the measured figures)
      newest: the newest waiting picture, older ones dropped
      stale:  older pictures dropped only when they already missed a render call (queued
              before the previous call began) and a newer one waits; else oldest first
      stale1: as stale, but one picture that missed a render call is kept"""
    starts = [r["start_ns"] for r in renders]
    offsets = []
    for p in pictures:
        if p["uploaded_ns"] >= 0:
            i = bisect.bisect_right(starts, p["uploaded_ns"]) - 1
            if i >= 0:
                offsets.append(p["uploaded_ns"] - starts[i])
    offset = pct(offsets, 0.5) if offsets else 0
    queued = sorted((p["queued_ns"], p["timestamp_ns"], p["measured"]) for p in pictures
                    if p["queued_ns"] >= 0)
    latencies, skipped = [], 0
    waiting = []
    q = 0
    previous = None
    for start in starts:
        while q < len(queued) and queued[q][0] <= start:
            waiting.append(queued[q])
            q += 1
        if policy == "newest":
            drop = len(waiting) - 1
        elif policy in ("stale", "stale1"):
            # stale1 keeps one picture that missed a render call: at most one period of lag.
            kept = 1 if policy == "stale1" else 0
            missed = sum(1 for w in waiting if previous is not None and w[0] < previous)
            drop = max(0, min(missed - kept, len(waiting) - 1))
        else:
            drop = 0
        for w in waiting[:max(0, drop)]:
            skipped += w[2]
        waiting = waiting[max(0, drop):]
        if waiting:
            shown = waiting.pop(0)
            if shown[2]:
                latencies.append(start + offset - shown[1])
        previous = start
    return latencies, skipped


def summarise(label, pictures, renders):
    m = [p for p in pictures if p["measured"]]
    got = [p for p in m if p["queued_ns"] >= 0]
    up = [p for p in got if p["uploaded_ns"] >= 0]
    rows = {
        "receive": [p["arrived_ns"] - p["timestamp_ns"] for p in m],
        "queued": [p["queued_ns"] - p["timestamp_ns"] for p in got],
        "uploaded": [p["uploaded_ns"] - p["timestamp_ns"] for p in up],
        "wait": [max(0, p["uploaded_ns"] - p["queued_ns"]) for p in up],
        "bare": [p["bare_ns"] for p in m if p["bare_ns"] >= 0],
        "module_decode": [p["queued_ns"] - p["arrived_ns"] for p in got],
    }
    rows["uploaded_replayed"], _ = simulate(pictures, renders, "fifo")
    rows["uploaded_if_newest"], newest_skipped = simulate(pictures, renders, "newest")
    rows["uploaded_if_stale_skipped"], stale_skipped = simulate(pictures, renders, "stale")
    rows["uploaded_if_one_stale_kept"], stale1_skipped = simulate(pictures, renders, "stale1")
    depth_after = [r["depth_after"] for r in renders]
    return {
        "label": label, "frames": len(m), "queued": len(got), "uploaded": len(up),
        "dropped": sum(p["dropped"] for p in m), "newest_skipped": newest_skipped,
        "stale_skipped": stale_skipped, "stale1_skipped": stale1_skipped,
        "max_depth": max(depth_after) if depth_after else 0,
        "mean_depth": sum(depth_after) / len(depth_after) if depth_after else 0,
        "rows": rows,
    }


def table(summaries):
    lines = ["| case | frames | to queued p50 / p99 / max | bare decode+convert p50 / p99 / max "
             "| queued p50 / bare p50 | to uploaded p50 / p99 / max | queue wait p50 / p99 / max "
             "| mean queue depth | dropped |",
             "|---|---|---|---|---|---|---|---|---|"]
    policy = ["| case | to uploaded p50 / p99 / max: measured | replayed as it is "
              "| newest only (skipped) | stale skipped (skipped) | one stale kept (skipped) |",
              "|---|---|---|---|---|---|"]
    for s in summaries:
        r = s["rows"]

        def three(name):
            v = ms(r[name])
            return f"{pct(v, .5):.1f} / {pct(v, .99):.1f} / {max(v) if v else float('nan'):.1f}"

        ratio = pct(r["queued"], .5) / pct(r["bare"], .5) if r["bare"] else float("nan")
        lines.append(
            f"| {s['label']} | {s['frames']} | {three('queued')} | {three('bare')} | {ratio:.2f} "
            f"| {three('uploaded')} | {three('wait')} | {s['mean_depth']:.2f} | {s['dropped']} |")
        policy.append(
            f"| {s['label']} | {three('uploaded')} | {three('uploaded_replayed')} "
            f"| {three('uploaded_if_newest')} ({s['newest_skipped']}) "
            f"| {three('uploaded_if_stale_skipped')} ({s['stale_skipped']}) "
            f"| {three('uploaded_if_one_stale_kept')} ({s['stale1_skipped']}) |")
    return "\n".join(lines) + "\n\n" + "\n".join(policy) + "\n"


def cdf(ax, values, label, **style):
    v = sorted(ms(values))
    if not v:
        return
    ax.plot(v, [(i + 1) / len(v) for i in range(len(v))], label=label, **style)


def plot_cdfs(summaries, out, title, rows):
    n = len(summaries)
    if n == 0:
        return
    cols = 2
    fig, axes = plt.subplots((n + cols - 1) // cols, cols, figsize=(11, 3.2 * ((n + 1) // 2)),
                             squeeze=False)
    for ax, s in zip(axes.flat, summaries):
        for name, style in rows:
            cdf(ax, s["rows"][name], name.replace("_", " "), **style)
        ax.set_title(s["label"], fontsize=10)
        ax.set_xlabel("ms after the datagram completing the frame was read")
        ax.set_ylabel("fraction of frames")
        ax.set_xscale("log")
        ax.grid(True, which="both", alpha=.3)
        ax.legend(fontsize=7, loc="lower right")
    for ax in list(axes.flat)[n:]:
        ax.axis("off")
    fig.suptitle(title)
    fig.tight_layout()
    fig.savefig(out, dpi=90)
    plt.close(fig)


def plot_depth(cases, out):
    if not cases:
        return
    fig, axes = plt.subplots(len(cases), 1, figsize=(11, 2.2 * len(cases)), squeeze=False)
    for ax, (label, renders) in zip(axes.flat, cases):
        t0 = renders[0]["start_ns"]
        ax.step([(r["start_ns"] - t0) / 1e9 for r in renders], [r["depth_after"] for r in renders],
                where="post", lw=.8)
        ax.set_title(label, fontsize=10)
        ax.set_ylabel("pictures waiting")
        ax.grid(True, alpha=.3)
    axes.flat[-1].set_xlabel("seconds since the first render call")
    fig.suptitle("Picture queue depth after each render call")
    fig.tight_layout()
    fig.savefig(out, dpi=90)
    plt.close(fig)


def main():
    samples, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    summaries, depth_cases = [], []
    for path in sorted(glob.glob(os.path.join(samples, "*.pictures.csv"))):
        label = os.path.basename(path)[: -len(".pictures.csv")]
        pictures = load(path)
        renders = load(os.path.join(samples, label + ".renders.csv"))
        summaries.append(summarise(label, pictures, renders))
        depth_cases.append((label, renders))
    with open(os.path.join(out, "latency.md"), "w") as f:
        f.write(table(summaries))
    print(table(summaries))
    style = [("queued", {"color": "tab:blue"}), ("uploaded", {"color": "tab:red"}),
             ("bare", {"color": "k", "ls": "--"}), ("receive", {"color": "tab:green", "lw": .8})]
    clean = [s for s in summaries if "-clean-" in s["label"]]
    lossy = [s for s in summaries if "-clean-" not in s["label"]]
    plot_cdfs(clean, os.path.join(out, "latency-clean.png"),
              "Latency without loss (cumulative, log scale)", style)
    style_loss = style + [("uploaded_if_stale_skipped", {"color": "tab:purple", "ls": ":"})]
    plot_cdfs(lossy, os.path.join(out, "latency-burst.png"),
              "Latency with burst loss (cumulative, log scale)", style_loss)
    plot_cdfs([s for s in summaries if "-r30" in s["label"]],
              os.path.join(out, "queue-policies-r30.png"),
              "To upload at 30 renders a second: measured, and replayed with other policies",
              [("uploaded", {"color": "tab:red"}),
               ("uploaded_replayed", {"color": "tab:red", "ls": "--", "lw": .8}),
               ("uploaded_if_newest", {"color": "tab:green", "ls": ":"}),
               ("uploaded_if_stale_skipped", {"color": "tab:purple", "ls": "-."})])
    plot_depth([c for c in depth_cases if "-r30" in c[0] and "sonix" in c[0]],
               os.path.join(out, "queue-depth-sonix-r30.png"))


if __name__ == "__main__":
    main()
