#!/usr/bin/python3
"""Files per second of `python3 -m vek convert`: local processes against a
two-worker Dask LocalCluster, on the same pictures in the same run.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_batch_bench.py \
        [PICTURES (default build/realset)] [--rounds N]

Each round converts the whole folder once with --jobs 2 and once through a
LocalCluster of two single-threaded worker processes on the loopback
address only (started before the clock runs), each into a fresh folder. The best
round of each counts.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time


def convert(source, destination, *options):
    started = time.monotonic()
    subprocess.run([sys.executable, "-m", "vek", "convert", source, destination, *options],
                   check=True, stdout=subprocess.DEVNULL)
    return time.monotonic() - started


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser()
    parser.add_argument("pictures", nargs="?", default=os.path.join(root, "build", "realset"))
    parser.add_argument("--rounds", type=int, default=2)
    args = parser.parse_args()
    from distributed import LocalCluster

    count = sum(1 for d, _, names in os.walk(args.pictures) for n in names if n.lower().endswith(".bmp"))
    if count == 0:
        sys.exit(f"no .bmp files in {args.pictures} (make them with bench/make-real-set.sh)")
    best = {"local": float("inf"), "cluster": float("inf")}
    work = tempfile.mkdtemp(prefix="vek-batch-bench-")
    try:
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                          dashboard_address="127.0.0.1:0",
                          worker_dashboard_address="127.0.0.1:0") as cluster:
            for _ in range(args.rounds):
                for mode, options in [("local", ["--jobs", "2"]),
                                      ("cluster", ["--scheduler", cluster.scheduler_address])]:
                    destination = os.path.join(work, mode)
                    best[mode] = min(best[mode], convert(args.pictures, destination, *options))
                    shutil.rmtree(destination)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    local, cluster = count / best["local"], count / best["cluster"]
    print(f"{count} files: local processes (--jobs 2) {local:.2f} files/s, "
          f"two-worker LocalCluster {cluster:.2f} files/s, cluster/local {cluster / local:.2f}")


if __name__ == "__main__":
    main()
