"""python3 -m vek convert: trees, resuming, the failure report, a cluster."""

import os
import shutil
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

import vek
from vek.__main__ import main
from vek.batch import PART_SUFFIX, REPORT_NAME
from conftest import read_bytes, suite_path


def _files(root, suffix):
    return sorted(os.path.relpath(os.path.join(d, n), root)
                  for d, _, names in os.walk(root) for n in names if n.endswith(suffix))


def _pictures(folder, count, size):
    """`count` BMP pictures of size x size pixels that take the codec a while."""
    rng = np.random.default_rng(4)
    os.makedirs(folder, exist_ok=True)
    for i in range(count):
        pixels = (rng.integers(0, 6, (size, size, 3), dtype=np.uint8) * 40 + i).astype(np.uint8)
        with open(os.path.join(folder, f"p{i:03}.bmp"), "wb") as f:
            f.write(vek._picture.bmp_of_array(pixels))


def _run_cli(*args, **kwargs):
    return subprocess.Popen([sys.executable, "-m", "vek", "convert", *args],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kwargs)


def test_tree_failures_and_resume(tmp_path, capsys, vekconv):
    src, dst = tmp_path / "src", tmp_path / "dst"
    for name, place in [("pal8.bmp", "a"), ("rgb24.bmp", "a/b"), ("rgb32.bmp", "."),
                        ("pal8rle.bmp", "a"), ("pal4.bmp", ".")]:
        os.makedirs(src / place, exist_ok=True)
        shutil.copy(suite_path(name), src / place / name)
    (src / "notes.txt").write_text("not a picture")

    assert main(["convert", str(src), str(dst), "--jobs", "2"]) == 1
    assert "3 converted, 0 already done, 2 failed (5 files" in capsys.readouterr().out
    assert _files(dst, ".vek") == ["a/b/rgb24.vek", "a/pal8.vek", "rgb32.vek"]
    for name in _files(dst, ".vek"):
        assert read_bytes(dst / name) == vekconv("e", read_bytes(src / name.replace(".vek", ".bmp")))
    report = (dst / REPORT_NAME).read_text().splitlines()
    assert [line.split("\t")[0] for line in report] == ["a/pal8rle.bmp", "pal4.bmp"]
    assert "(code 6)" in report[0] and "(code 7)" in report[1]

    # An interrupted run: one output missing, one older than its input, one
    # temporary file left. Only those two are converted again.
    os.unlink(dst / "a/pal8.vek")
    os.utime(dst / "rgb32.vek", ns=(0, 0))
    (dst / "a" / f".pal8.vek.123{PART_SUFFIX}").write_bytes(b"VEK!half")
    untouched = os.stat(dst / "a/b/rgb24.vek").st_mtime_ns
    os.unlink(src / "a/pal8rle.bmp")
    os.unlink(src / "pal4.bmp")
    assert main(["convert", str(src), str(dst), "--jobs", "1"]) == 0
    assert "2 converted, 1 already done, 0 failed (3 files" in capsys.readouterr().out
    assert os.stat(dst / "a/b/rgb24.vek").st_mtime_ns == untouched
    assert not (dst / REPORT_NAME).exists() and _files(dst, PART_SUFFIX) == []

    # And back to BMP files.
    back = tmp_path / "back"
    assert main(["convert", str(dst), str(back), "--to", "bmp"]) == 0
    for name in _files(back, ".bmp"):
        assert read_bytes(back / name) == vekconv("d", read_bytes(dst / name.replace(".bmp", ".vek")))


def test_killed_run_leaves_no_half_file_and_resumes(tmp_path):
    src, dst = tmp_path / "src", tmp_path / "dst"
    _pictures(src, 30, 300)
    run = _run_cli(str(src), str(dst), "--jobs", "1")
    deadline = time.monotonic() + 60
    while not _files(dst, ".vek") and time.monotonic() < deadline:
        time.sleep(0.002)
    run.send_signal(signal.SIGKILL)
    run.communicate()
    done = _files(dst, ".vek")
    assert 0 < len(done) < 30
    for name in done:  # every output under its real name is complete
        assert read_bytes(dst / name) == vek.encode(read_bytes(src / (name[:-4] + ".bmp")))

    again = _run_cli(str(src), str(dst), "--jobs", "2")
    out, err = again.communicate(timeout=120)
    assert again.returncode == 0, err
    assert f"{30 - len(done)} converted, {len(done)} already done, 0 failed" in out
    assert len(_files(dst, ".vek")) == 30 and _files(dst, PART_SUFFIX) == []


def test_cluster_run_survives_a_killed_worker(tmp_path):
    distributed = pytest.importorskip("distributed")
    src, dst = tmp_path / "src", tmp_path / "dst"
    _pictures(src / "x", 24, 300)
    _pictures(src / "y", 16, 300)
    # Every server of the cluster, dashboards included, on the loopback address.
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address="127.0.0.1:0",
                                  worker_dashboard_address="127.0.0.1:0") as cluster, \
            distributed.Client(cluster) as client:
        run = _run_cli(str(src), str(dst), "--scheduler", cluster.scheduler_address)
        try:
            deadline = time.monotonic() + 40
            while len(_files(dst, ".vek")) < 3 and time.monotonic() < deadline and run.poll() is None:
                time.sleep(0.002)
            victim = sorted(client.run(os.getpid).values())[0]
            os.kill(victim, signal.SIGKILL)
            done_at_kill = len(_files(dst, ".vek"))
            out, err = run.communicate(timeout=40)
        finally:
            if run.poll() is None:
                run.kill()
    assert done_at_kill < 40, "the run ended before the worker was killed"
    assert run.returncode == 0, err
    assert "40 converted, 0 already done, 0 failed (40 files" in out
    for name in _files(dst, ".vek"):
        assert read_bytes(dst / name) == vek.encode(read_bytes(src / (name[:-4] + ".bmp")))
    assert len(_files(dst, ".vek")) == 40
