#!/usr/bin/python3
"""Decode speed of the WebAssembly codec in headless Chromium next to the
native converter, on the largest pictures of a folder (the real set of
bench/make-real-set.sh).

    bench/web-bench.py PACKAGE-FOLDER LINUX-BIN-FOLDER PICTURE-FOLDER [--count N] [--repeat N]

For each picture (its .vek made by the native `vekconv e`):
- native: wall-clock time of the whole `vekconv d` process with
  VEK_THREADS=1 (one thread) and with its default threads, output to a
  temporary folder;
- browser: `decode` of vek.js (the worker, with the copies of the input to
  the worker and of the output back) and `decodeToRgba`, timed in the page.
Each time is the fastest of N rounds (default 3) in which the four runs
take turns, after a warm-up that checks the browser's BMP against the
native one (SHA-256).
Ratios are browser / native single thread: below 2 meets the aim.
"""
import argparse
import hashlib
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "web", "tests"))
from browser import Server, start_chromium  # noqa: E402

# Loads a .vek file into the page and checks its decode: the SHA-256 of the
# BMP file, or the failure's text.
LOAD_IN_PAGE = """
const [url, done] = arguments;
(async () => {
  const vek = await import('./vek.js');
  const bytes = new Uint8Array(await (await fetch(url)).arrayBuffer());
  window.benchInput = { vek, bytes };
  const bmp = await vek.decode(bytes);
  await vek.decodeToRgba(bytes);
  done(Array.from(new Uint8Array(await crypto.subtle.digest('SHA-256', bmp)),
                  (b) => b.toString(16).padStart(2, '0')).join(''));
})().catch((e) => done(String(e)));
"""

# One operation on the loaded file, in milliseconds.
TIME_IN_PAGE = """
const [operation, done] = arguments;
const { vek, bytes } = window.benchInput;
const t0 = performance.now();
vek[operation](bytes).then(() => done(performance.now() - t0), (e) => done(String(e)));
"""


def native_decode(vekconv, vek, out, threads):
    env = dict(os.environ)
    if threads:
        env["VEK_THREADS"] = str(threads)
    else:
        env.pop("VEK_THREADS", None)
    t0 = time.perf_counter()
    subprocess.run([vekconv, "d", vek, out], check=True, stdout=subprocess.DEVNULL, env=env)
    return (time.perf_counter() - t0) * 1000


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("package")
    parser.add_argument("bin")
    parser.add_argument("pictures")
    parser.add_argument("--count", type=int, default=5)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    vekconv = os.path.join(args.bin, "vekconv")
    names = sorted((f for f in os.listdir(args.pictures) if f.endswith(".bmp")),
                   key=lambda f: os.path.getsize(os.path.join(args.pictures, f)), reverse=True)[:args.count]
    if not names:
        sys.exit("web-bench: no .bmp pictures in " + args.pictures)

    with tempfile.TemporaryDirectory() as work:
        # The served folder: the package's files and the .vek pictures.
        for f in os.listdir(args.package):
            os.symlink(os.path.join(os.path.abspath(args.package), f), os.path.join(work, f))
        server = Server(work)
        driver = start_chromium()
        try:
            driver.get(server.url + "index.html")
            print("%-28s %7s %7s | %9s %9s | %9s %9s | %6s %6s" % (
                "picture", "MB", "ms/MB", "native 1t", "native", "web BMP", "web RGBA", "BMP/1t", "RGBA/1t"))
            ratios = []
            for name in names:
                bmp = os.path.join(args.pictures, name)
                vek = os.path.join(work, name[:-4] + ".vek")
                restored = os.path.join(work, "restored.bmp")
                subprocess.run([vekconv, "e", bmp, vek], check=True, stdout=subprocess.DEVNULL)
                native_decode(vekconv, vek, restored, 1)
                with open(restored, "rb") as f:
                    expected = hashlib.sha256(f.read()).hexdigest()
                digest = driver.execute_async_script(LOAD_IN_PAGE, os.path.basename(vek))
                if digest != expected:
                    sys.exit("web-bench: %s: the browser's decode failed or differs: %s" % (name, digest))
                # The four runs take turns, so that a busy moment of the
                # machine does not fall on one of them only.
                best = [float("inf")] * 4
                for _ in range(args.repeat):
                    times = [native_decode(vekconv, vek, restored, 1), native_decode(vekconv, vek, restored, 0),
                             driver.execute_async_script(TIME_IN_PAGE, "decode"),
                             driver.execute_async_script(TIME_IN_PAGE, "decodeToRgba")]
                    if any(isinstance(t, str) for t in times):
                        sys.exit("web-bench: %s: %s" % (name, times))
                    best = [min(b, t) for b, t in zip(best, times)]
                one, default, web_bmp, web_rgba = best
                mb = os.path.getsize(restored) / 1e6
                ratios.append(web_bmp / one)
                print("%-28s %7.1f %7.2f | %9.0f %9.0f | %9.0f %9.0f | %6.2f %6.2f" % (
                    name, mb, web_bmp / mb, one, default, web_bmp, web_rgba, web_bmp / one, web_rgba / one))
            print("decode in Chromium / native single thread (BMP output): %.2f to %.2f" % (min(ratios), max(ratios)))
        finally:
            driver.quit()
            server.close()


if __name__ == "__main__":
    main()
