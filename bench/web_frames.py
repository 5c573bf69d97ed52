#!/usr/bin/env python3
"""Frame times of the browser version, per scene, in headless Chromium.

Runs the built page (./web.sh --build-only first) in its test mode at 640x480
and 30 passes a second of show time, through the whole show, with the title
card hidden (so that the browser composites the canvas alone), and times a
window of WINDOW_MS in the middle of each scene, pass by pass, in two parts:
submit, the pass itself (the show's own code in wasm, the GL 1.1 layer and
the WebGL calls, which the browser queues), and wait, until the frame is drawn
(a one-pixel read of the canvas, which returns once everything before it is
drawn by the browser's WebGL: SwiftShader on the CPU here, the GPU
elsewhere). The layer's own share lies in submit; bench/layer_cost.sh
measures it natively against direct calls. Also prints what a viewer
downloads. Never run by the tests; figures depend on the machine and on what
else runs on it.

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

HIDE_CARD = """(() => {
    const card = document.getElementById('card');
    if (card)
        card.hidden = true;
    return card !== null;
})()"""

# One pass up to pass %d without waiting for its frame, then the wait: a
# read of one pixel from the show's own WebGL context (getContext gives back
# the context the canvas already has). A second read, with nothing left to
# draw, is the floor of the wait: what the read itself costs.
TIMED_PASS = """(() => {
    const run = tuhkalaTest.run(%d, false);
    const gl = document.getElementById('canvas').getContext('webgl');
    const start = performance.now();
    gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, new Uint8Array(4));
    const drawn = performance.now();
    gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, new Uint8Array(4));
    return {done: run.done, submit: run.ms, wait: drawn - start, idle: performance.now() - drawn};
})()"""


def summary(times):
    ordered = sorted(times)
    return (f"{statistics.median(times):6.1f} {ordered[int(0.9 * len(ordered))]:6.1f} "
            f"{ordered[-1]:6.1f}")


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
        if not browser.evaluate(HIDE_CARD):
            raise RuntimeError("the page has no title card (#card) to hide")
        print(f"frame times at 640x480, ms per pass over {WINDOW_MS} ms of each scene "
              "(median, 90th percentile, max):")
        print(f"  {'scene':11s} {'submit':>20s}   {'wait':>20s}   {'frame':>20s}")
        done = 0
        idle = []
        for name, first, last in browser_test.SCENES:
            middle = (first + last) // 2
            start_pass = (middle - WINDOW_MS // 2) * FPS // 1000
            end_pass = (middle + WINDOW_MS // 2) * FPS // 1000
            while done < start_pass:
                done = browser.evaluate(f"tuhkalaTest.run({min(start_pass, done + CHUNK)}, false)")["done"]
            submits, waits, frames = [], [], []
            while done < end_pass:
                run = browser.evaluate(TIMED_PASS % (done + 1))
                done = run["done"]
                submits.append(run["submit"])
                waits.append(run["wait"])
                frames.append(run["submit"] + run["wait"])
                idle.append(run["idle"])
            print(f"  {name:11s} {summary(submits)}   {summary(waits)}   {summary(frames)}")
        print(f"  a read with nothing left to draw (the floor of wait): {summary(idle)}")
    finally:
        browser.close()
        server.kill()
        server.wait()
        profile.cleanup()
    return 0


if __name__ == "__main__":
    sys.exit(main())
