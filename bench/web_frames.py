#!/usr/bin/env python3
"""Frame times of the browser version, per scene, in headless Chromium.

Runs the built page (./web.sh --build-only first) in its test mode at 640x480
and 30 passes a second of show time, through the whole show, and times a
window of WINDOW_MS in the middle of each scene with every pass waiting until
its frame is drawn, so that a time is the whole frame's: the show's own code
in wasm, the GL layer, and the browser's WebGL (SwiftShader on the CPU here,
the GPU elsewhere). Also prints what a viewer downloads. Never run by the
tests; figures depend on the machine and on what else runs on it.

    python3 bench/web_frames.py [--site build-web]
"""
import argparse
import gzip
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
import browser_test  # noqa: E402  (the browser and server helpers)

FPS = 30
WINDOW_MS = 2000
CHUNK = 30  # passes per call outside the measured windows


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--site", default="build-web")
    parser.add_argument("--chromium", default="chromium")
    args = parser.parse_args()

    # What a viewer downloads (the test mode's program, tuhkala-test, is not).
    page_files = ["index.html", "show.js", "files.json", "tuhkala.js", "tuhkala.wasm", "tuhkala.data",
                  "audio-worklet.js", "openmpt-worklet.js", "openmpt-worklet.wasm"]
    sizes = {}
    for name in page_files:
        data = open(os.path.join(args.site, name), "rb").read()
        sizes[name] = (len(data), len(gzip.compress(data, 9)))
    print(f"download: {sum(s[0] for s in sizes.values()) / 1e6:.2f} MB in all, "
          f"{sum(s[1] for s in sizes.values()) / 1e6:.2f} MB gzipped")
    for name, (raw, packed) in sizes.items():
        print(f"  {name:22s} {raw / 1e3:8.1f} kB, {packed / 1e3:8.1f} kB gzipped")

    port = browser_test.free_port()
    server = subprocess.Popen(
        [sys.executable, "-m", "http.server", str(port), "--bind", "127.0.0.1", "--directory", args.site],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    profile = tempfile.TemporaryDirectory()
    time.sleep(1)
    browser = browser_test.Browser(args.chromium, profile.name)
    try:
        browser.call("Page.navigate", url=f"http://127.0.0.1:{port}/index.html?test")
        browser.wait_for("window.tuhkalaTest && tuhkalaTest.ready", 60, "the page's downloads")
        if browser.evaluate(f"tuhkalaTest.start(640, 480, {FPS})") != 0:
            raise RuntimeError("the test mode did not start")
        print(f"frame times at 640x480, ms per frame over {WINDOW_MS} ms of each scene:")
        done = 0
        for name, first, last in browser_test.SCENES:
            middle = (first + last) // 2
            start_pass = (middle - WINDOW_MS // 2) * FPS // 1000
            end_pass = (middle + WINDOW_MS // 2) * FPS // 1000
            while done < start_pass:
                done = browser.evaluate(f"tuhkalaTest.run({min(start_pass, done + CHUNK)}, false)")["done"]
            times = []
            while done < end_pass:
                run = browser.evaluate(f"tuhkalaTest.run({done + 1}, true)")
                done = run["done"]
                times.append(run["ms"])
            print(f"  {name:11s} median {statistics.median(times):6.1f}  "
                  f"90th {sorted(times)[int(0.9 * len(times))]:6.1f}  max {max(times):6.1f}")
    finally:
        browser.close()
        server.kill()
        server.wait()
        profile.cleanup()
    return 0


if __name__ == "__main__":
    sys.exit(main())
