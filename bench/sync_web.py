#!/usr/bin/env python3
"""The sync meter's browser mode: the page (build-web/, ./web.sh --build-only)
played in Chromium into the sound server named by PULSE_SERVER, on the X
display named by DISPLAY, measured by the native meter's recorder and report.

bench/sync_meter.sh --browser runs it with a private Xvfb (640x480) and a
private PulseAudio server. Chromium plays into that server headless as well,
but headless it has no screen whose drawing the X server could report, so it
runs here with a window: full screen (kiosk) on the private display, where
the page's canvas fills the window. The page's own "Full screen" button is
hidden, so that only the show is in the picture. The Play button is clicked
as a person would; the recorder (tuhkala-sync-record --class Chromium) stamps
the window's drawing and records the sink's monitor; when the show ends (or
after --seconds) tuhkala-sync-meter prints the same report as for the native
show.

    python3 bench/sync_web.py --build build --site build-web --out DIR [--seconds S]
"""
import argparse
import fcntl
import os
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
import browser_test  # noqa: E402  (the DevTools protocol helpers)


class WindowedBrowser(browser_test.Browser):
    """Chromium with a window on DISPLAY, full screen, driven over its
    DevTools pipe as the browser test drives it headless."""

    def __init__(self, chromium, profile, log):
        to_browser_r, self.to_browser = os.pipe()
        self.from_browser, from_browser_w = os.pipe()
        flags = [
            "--no-sandbox",
            "--enable-unsafe-swiftshader",
            "--remote-debugging-pipe",
            f"--user-data-dir={profile}",
            "--no-first-run",
            "--no-default-browser-check",
            "--kiosk",
            "--window-position=0,0",
            "about:blank",
        ]
        high = [fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 10) for fd in (to_browser_r, from_browser_w)]
        self.process = subprocess.Popen(
            [chromium] + flags,
            close_fds=False,
            preexec_fn=lambda: (os.dup2(high[0], 3), os.dup2(high[1], 4)),
            stdout=log,
            stderr=subprocess.STDOUT,
        )
        for fd in high + [to_browser_r, from_browser_w]:
            os.close(fd)
        self.buffer = b""
        self.next_id = 0
        self.session = None
        self.events = []
        targets = self.call("Target.getTargets")["targetInfos"]
        page = next(t for t in targets if t["type"] == "page")
        self.session = self.call("Target.attachToTarget", targetId=page["targetId"], flatten=True)[
            "sessionId"
        ]
        self.call("Page.enable")
        self.call("Runtime.enable")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build", help="the native build (the meter and tavara/)")
    parser.add_argument("--site", default="build-web", help="the built page")
    parser.add_argument("--out", required=True, help="folder for the recording")
    parser.add_argument("--seconds", type=float, default=0, help="end after this long (0: the whole show)")
    parser.add_argument("--chromium", default="chromium")
    parser.add_argument("--events", action="store_true", help="list every letter")
    args = parser.parse_args()
    for name in ("DISPLAY", "PULSE_SERVER"):
        if not os.environ.get(name):
            print(f"sync_web.py: {name} is not set (bench/sync_meter.sh --browser sets it)", file=sys.stderr)
            return 2
    for path in (os.path.join(args.site, "index.html"), os.path.join(args.build, "tuhkala-sync-record")):
        if not os.path.exists(path):
            print(f"sync_web.py: {path} is missing", file=sys.stderr)
            return 1
    os.makedirs(args.out, exist_ok=True)

    port = browser_test.free_port()
    server = subprocess.Popen(
        [sys.executable, "-m", "http.server", str(port), "--bind", "127.0.0.1", "--directory", args.site],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    profile = tempfile.TemporaryDirectory()
    log = open(os.path.join(args.out, "chromium.log"), "w")
    browser = None
    recorder = None
    try:
        time.sleep(1)
        browser = WindowedBrowser(args.chromium, profile.name, log)
        browser.call("Page.navigate", url=f"http://127.0.0.1:{port}/index.html")
        browser.wait_for("!window.tuhkalaTest && !document.getElementById('play').disabled", 120,
                         "the Play button")
        browser.evaluate("document.getElementById('fullscreen').style.display = 'none'")
        # The window is there: the recorder finds it by its class (above the
        # browser's priority where it may be, as bench/sync_meter.sh runs it).
        recorder = subprocess.Popen(
            ["nice", "-n", "-5", os.path.join(args.build, "tuhkala-sync-record"), "--out", args.out,
             "--sink", "meter", "--class", "Chromium"],
            stdout=open(os.path.join(args.out, "recorder.log"), "w"), stderr=subprocess.STDOUT)
        time.sleep(2)
        box = browser.evaluate(
            "(() => { const r = document.getElementById('play').getBoundingClientRect();"
            " return {x: r.x + r.width / 2, y: r.y + r.height / 2}; })()")
        # A real click: the page starts sound only after a gesture.
        for kind in ("mousePressed", "mouseReleased"):
            browser.call("Input.dispatchMouseEvent", type=kind, x=box["x"], y=box["y"], button="left",
                         clickCount=1)
        browser.wait_for("tuhkalaPage.state().running", 60, "the show to start after Play")
        started = time.monotonic()
        print(f"the page's show is running (load average {os.getloadavg()[0]:.2f})", flush=True)
        while browser.evaluate("tuhkalaPage.state().running"):
            if args.seconds and time.monotonic() - started > args.seconds:
                break
            if recorder.poll() is not None:
                raise RuntimeError("the recorder stopped: see " + os.path.join(args.out, "recorder.log"))
            time.sleep(0.5)
        print(f"the show ran {time.monotonic() - started:.0f} s (load average {os.getloadavg()[0]:.2f})",
              flush=True)
    finally:
        if recorder and recorder.poll() is None:
            recorder.send_signal(signal.SIGTERM)
            recorder.wait()
        if browser:
            browser.close()
        server.kill()
        server.wait()
        profile.cleanup()
        log.close()
    if recorder.returncode != 0:
        print(open(os.path.join(args.out, "recorder.log")).read(), file=sys.stderr)
        return 1
    print(flush=True)
    meter = [os.path.abspath(os.path.join(args.build, "tuhkala-sync-meter"))]
    if args.events:
        meter.append("--events")
    return subprocess.call(meter + [os.path.abspath(args.out)], cwd=args.build)


if __name__ == "__main__":
    sys.exit(main())
