"""Runs zebhost with simulated cars in the private test network (scripts/carnet.sh) and reads
its threads' CPU time and its memory from /proc while it runs. Shared by the perf scripts."""

import os
import re
import signal
import subprocess
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TICKS = os.sysconf("SC_CLK_TCK")
# zebhost's own threads; every other thread of the process belongs to the module.
HOST_THREADS = {"zebhost", "zeb-graphics"}


def build_dir():
    return os.environ.get("DRIVON_BUILD", os.path.join(ROOT, "build-release"))


def binary(name):
    return os.path.join(build_dir(), "bin", name)


def thread_times(pid):
    """{tid: (name, cpu seconds)} of every thread of the process."""
    result = {}
    task = f"/proc/{pid}/task"
    for tid in os.listdir(task):
        try:
            with open(f"{task}/{tid}/stat") as f:
                stat = f.read()
            with open(f"{task}/{tid}/comm") as f:
                name = f.read().strip()
        except OSError:
            continue  # the thread ended meanwhile
        fields = stat[stat.rindex(")") + 2:].split()
        # utime and stime are fields 14 and 15 of the stat line, 12 and 13 after the name.
        result[tid] = (name, (int(fields[11]) + int(fields[12])) / TICKS)
    return result


def memory(pid):
    """Resident and peak resident size of the process, in MiB."""
    values = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, rest = line.partition(":")
            if key in ("VmRSS", "VmHWM"):
                values[key] = int(rest.split()[0]) / 1024
    return values


def cpu_between(before, after):
    """CPU seconds per thread name spent between two thread_times samples."""
    spent = {}
    for tid, (name, seconds) in after.items():
        start = before.get(tid, (name, 0.0))[1]
        spent[name] = spent.get(name, 0.0) + seconds - start
    return spent


def split_cpu(spent):
    module = sum(v for k, v in spent.items() if k not in HOST_THREADS)
    host = sum(v for k, v in spent.items() if k in HOST_THREADS)
    return module, host


class HostRun:
    """zebhost with `sources` sources and one car per entry of `cars` (carsim arguments), in
    the private test network. Use as a context manager; samples while it runs."""

    def __init__(self, cars, sources=1, seconds=30, fps=30):
        self.work = tempfile.mkdtemp(prefix="drivon-perf-")
        self.pidfile = os.path.join(self.work, "pid")
        self.stdout_path = os.path.join(self.work, "summary.jsonl")
        self.stderr_path = os.path.join(self.work, "zebhost.log")
        car_args = []
        for i, car in enumerate(cars):
            car_args += ["--car", " ".join([binary("carsim")] + car)]
        host = (f"echo $$ > {self.pidfile}; exec {binary('zebhost')} "
                f"--module {binary('drivon.so')} --config-dir {self.work}/config "
                f"--sources {sources} --seconds {seconds} --fps {fps} "
                f">{self.stdout_path} 2>{self.stderr_path}")
        self.command = [os.path.join(ROOT, "scripts", "carnet.sh"), "run", *car_args,
                        "--ready-timeout", "20", "--", "sh", "-c", host]
        self.process = None
        self.pid = None
        self.started = None

    def __enter__(self):
        self.process = subprocess.Popen(self.command, stdin=subprocess.DEVNULL)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            try:
                with open(self.pidfile) as f:
                    self.pid = int(f.read().strip())
                break
            except (OSError, ValueError):
                time.sleep(0.01)
        if self.pid is None:
            raise RuntimeError("zebhost did not start")
        self.started = time.monotonic()
        return self

    def sleep_until(self, seconds_after_start):
        time.sleep(max(0.0, self.started + seconds_after_start - time.monotonic()))

    def wait(self):
        status = self.process.wait()
        return status

    def __exit__(self, *exc):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            self.process.wait()

    def summary(self):
        import json
        with open(self.stdout_path) as f:
            return [json.loads(line) for line in f if line.strip()]

    def log(self):
        with open(self.stderr_path) as f:
            return f.read()

    def first_pictures(self):
        """{source: seconds after its creation} from zebhost's lines."""
        found = {}
        for m in re.finditer(r"source (\d+): first picture (\d+) ms", self.log()):
            found[int(m.group(1))] = int(m.group(2)) / 1000
        return found
