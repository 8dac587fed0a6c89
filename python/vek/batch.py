"""Batch conversion of a folder tree: `python3 -m vek convert SRC DST`.

Every .bmp file under SRC becomes a .vek file at the same place under DST
(or every .vek file a .bmp file, with --to bmp); names that start with a
dot are left alone. Each output is written
under a temporary name in its folder and renamed when complete, so an
interrupted run leaves no half file, and a new run skips the outputs that
are there and complete (newer than their input, with a valid header). Files
that fail are listed with their reasons in a report file; they never stop
the others.

The work goes to local processes (--jobs) or, with --scheduler, to a Dask
distributed cluster whose workers see SRC and DST at the same paths (a
shared file system): each file is one task, retried by Dask when its worker
dies.
"""

import os
import sys
import time

from . import _picture, _vek
from ._errors import VekError

# Input and output extension of each direction.
DIRECTIONS = {"vek": (".bmp", ".vek"), "bmp": (".vek", ".bmp")}
PART_SUFFIX = ".vekpart"  # outputs being written
REPORT_NAME = "vek-convert-failures.txt"
# Attempts of a file after its first on a cluster (a worker that died, a
# passing read or write error).
CLUSTER_RETRIES = 2


def plan(source, destination, to):
    """(input, output) paths of every file of the tree, in a stable order.

    A destination inside the source tree is not searched for inputs.
    """
    suffix, new_suffix = DIRECTIONS[to]
    pairs = []
    skip = os.path.realpath(destination)
    for folder, subfolders, files in os.walk(source):
        subfolders[:] = sorted(d for d in subfolders if os.path.realpath(os.path.join(folder, d)) != skip)
        relative = os.path.relpath(folder, source)
        for name in sorted(files):
            stem, extension = os.path.splitext(name)
            if extension.lower() != suffix or name.startswith("."):
                continue
            pairs.append((os.path.join(folder, name),
                          os.path.normpath(os.path.join(destination, relative, stem + new_suffix))))
    return pairs


def is_converted(source, output, to):
    """Whether `output` is a complete conversion of `source`: newer than it,
    and a .vek file with a header the codec accepts, or a BMP file of the
    size the .vek file's header announces."""
    try:
        if os.stat(output).st_mtime_ns < os.stat(source).st_mtime_ns:
            return False
        if to == "vek":
            with open(output, "rb") as f:
                _picture.header_fields(f.read(_picture.HEADER_SIZE))
            return True
        with open(source, "rb") as f:
            expected = _vek.decoded_size(f.read(_picture.HEADER_SIZE))
        with open(output, "rb") as f:
            return f.read(2) == b"BM" and os.fstat(f.fileno()).st_size == expected
    except (OSError, VekError):
        return False


def convert_file(task):
    """Converts one file: task is (input, output, direction).

    Returns (input, None) when done and (input, reason) when the codec
    refuses the input. Errors of reading and writing are raised, so that a
    cluster retries them.
    """
    source, output, to = task
    with open(source, "rb") as f:
        data = f.read()
    try:
        result = _vek.encode(data) if to == "vek" else _vek.decode(data)
    except VekError as error:
        return source, str(error)
    folder = os.path.dirname(output)
    os.makedirs(folder, exist_ok=True)
    part = os.path.join(folder, f".{os.path.basename(output)}.{os.getpid()}{PART_SUFFIX}")
    try:
        with open(part, "wb") as f:
            f.write(result)
            f.flush()
            os.fsync(f.fileno())  # complete on disk before it takes the real name
        os.replace(part, output)
    except BaseException:
        try:
            os.unlink(part)
        except OSError:
            pass
        raise
    return source, None


def _remove_parts(destination):
    """Removes the temporary files of an interrupted run."""
    for folder, _, files in os.walk(destination):
        for name in files:
            if name.endswith(PART_SUFFIX):
                try:
                    os.unlink(os.path.join(folder, name))
                except OSError:
                    pass


def _local_results(tasks, jobs):
    """(input, reason or None) of each task, in the order they finish."""
    if jobs <= 1:
        for task in tasks:
            try:
                yield convert_file(task)
            except OSError as error:
                yield task[0], str(error)
        return
    from concurrent.futures import ProcessPoolExecutor, as_completed

    with ProcessPoolExecutor(max_workers=jobs) as pool:
        futures = {pool.submit(convert_file, task): task for task in tasks}
        for future in as_completed(futures):
            try:
                yield future.result()
            except Exception as error:  # an I/O error, or a worker process that died
                yield futures[future][0], f"{type(error).__name__}: {error}"


def _cluster_results(tasks, address):
    from distributed import Client, as_completed

    with Client(address, timeout="30s") as client:
        futures = client.map(convert_file, tasks, retries=CLUSTER_RETRIES, pure=False)
        sources = {future.key: task[0] for future, task in zip(futures, tasks)}
        for future in as_completed(futures):
            try:
                yield future.result()
            except Exception as error:  # out of retries: I/O errors, workers that kept dying
                yield sources[future.key], f"{type(error).__name__}: {error}"


class _NoBar:
    def __enter__(self):
        return self

    def __exit__(self, *exception):
        return False

    def update(self, count):
        pass


def _progress_bar(total):
    """A progress bar on standard error when it is a terminal (tqdm's
    disable=None); none without tqdm, which the package only recommends."""
    try:
        from tqdm import tqdm
    except ImportError:
        return _NoBar()
    return tqdm(total=total, unit="file", disable=None, file=sys.stderr)


def convert_tree(source, destination, to="vek", jobs=None, scheduler=None, report=None, out=None):
    """Converts the tree; returns the number of files that failed."""
    source = os.path.abspath(source)
    destination = os.path.abspath(destination)
    report = os.path.abspath(report or os.path.join(destination, REPORT_NAME))
    if not os.path.isdir(source):
        raise FileNotFoundError(f"{source} is not a folder")
    started = time.monotonic()
    os.makedirs(destination, exist_ok=True)
    _remove_parts(destination)
    pairs = plan(source, destination, to)
    tasks = [(s, o, to) for s, o in pairs if not is_converted(s, o, to)]
    skipped = len(pairs) - len(tasks)

    if scheduler:
        results = _cluster_results(tasks, scheduler)
    else:
        results = _local_results(tasks, jobs or os.cpu_count() or 1)
    failures = []
    with _progress_bar(len(tasks)) as bar:
        for path, reason in results:
            if reason is not None:
                failures.append((os.path.relpath(path, source), reason))
            bar.update(1)
    elapsed = time.monotonic() - started

    if failures:
        failures.sort()
        with open(report, "w", encoding="utf-8") as f:
            for path, reason in failures:
                f.write(f"{path}\t{reason}\n")
    elif os.path.exists(report):
        os.unlink(report)  # the failures of an earlier run are gone
    converted = len(tasks) - len(failures)
    rate = len(tasks) / elapsed if elapsed > 0 else 0.0
    summary = (f"vek convert: {converted} converted, {skipped} already done, {len(failures)} failed "
               f"({len(pairs)} files, {elapsed:.1f} s, {rate:.1f} files/s)")
    if failures:
        summary += f"; failures listed in {report}"
    print(summary, file=out or sys.stdout, flush=True)
    return len(failures)
