#!/usr/bin/python3
"""One source streaming the car's live test pattern with random datagram loss for a long while:
the module's resident memory, threads and descriptors every few seconds, to show they stay flat.

    soak.py OUT.csv [--seconds S (600)] [--loss PCT (5)] [--family F] [--every S (5)]
"""

import argparse
import os

from hostrun import HostRun, memory


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--seconds", type=int, default=600)
    parser.add_argument("--loss", type=float, default=5)
    parser.add_argument("--family", default="sonix")
    parser.add_argument("--every", type=float, default=5)
    args = parser.parse_args()
    car = ["--family", args.family, "--name", "PERF-SOAK", "--loss", str(args.loss)]
    with HostRun([car], seconds=args.seconds + 5) as run, open(args.out, "w") as out:
        out.write("seconds,rss_mib,peak_rss_mib,threads,descriptors\n")
        t = args.every
        while t <= args.seconds:
            run.sleep_until(t)
            mem = memory(run.pid)
            threads = len(os.listdir(f"/proc/{run.pid}/task"))
            fds = len(os.listdir(f"/proc/{run.pid}/fd"))
            out.write(f"{t:.0f},{mem['VmRSS']:.1f},{mem['VmHWM']:.1f},{threads},{fds}\n")
            out.flush()
            t += args.every
        run.wait()
        print(run.summary()[0])
        print(f"first picture: {run.first_pictures().get(0)} s")


if __name__ == "__main__":
    main()
