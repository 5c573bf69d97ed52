#!/usr/bin/env python3
"""The browser build in a real headless Chromium.

Serves the built page (build-web/) with `python3 -m http.server` on 127.0.0.1
and drives Chromium through its DevTools protocol over a pipe:

1. Test mode (index.html?test): the show runs by the capture program's
   virtual clock and offline music positions at 160x120 and 30 passes a
   second; the frame at each reference instant is read back and compared with
   the native reference frame (tests/golden/at-MS.png, instants in
   tests/golden/instants.txt). The browser draws with SwiftShader, the
   references come from Mesa's llvmpipe: the two rasterise and filter
   textures slightly differently, so frames match within a tolerance, not
   bit for bit (see TOLERANCE).
2. Normal mode (index.html): the Play button is clicked as a person would;
   the audio clock must run, the heard order and row must advance and follow
   the show's clock as the offline render has them (lagging by no more than
   the output's latency), and a key press must end the show and bring back
   the card with "Play again", which starts the show anew.

Prints the worst difference per scene and the frame times, and ends with one
line "N passed, N failed". Exit status 0 only when every check passed.
Nothing is skipped: a missing browser, page or reference is a failure.
"""
import argparse
import base64
import fcntl
import json
import os
import socket
import struct
import subprocess
import sys
import tempfile
import time
import zlib

WIDTH, HEIGHT, FPS = 160, 120, 30

# SwiftShader against llvmpipe, per reference frame: the mean absolute
# difference over all samples (0-255) and the share of samples that differ by
# more than 48. Both rasterisers follow the same GL rules; what differs is
# texture filtering (mipmap level choice and bilinear weights), the rounding
# of colours and edge pixels. A wrong transform, light, blend, texture,
# schedule or music position moves whole regions and fails both.
TOLERANCE = {"mean": 2.0, "far_share": 0.005, "far": 48}

SCENES = [  # name, first and last millisecond, as the show's schedule has them
    ("eka efu", 0, 19199),
    ("toka efu", 19200, 51199),
    ("kaka efu", 51200, 63999),
    ("muija efu", 64000, 76799),
    ("joku efu", 76800, 127999),
    ("neljas efu", 128000, 140799),
    ("tyma efu", 140800, 159999),
    ("loppu efu", 160000, 169000),
]


def scene_of(ms):
    for name, first, last in SCENES:
        if first <= ms <= last:
            return name
    return "after the show"


# ---- PNG (the capture program's: 8-bit RGB, no interlace) --------------------


def read_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path}: not a PNG file")
    at, idat, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at : at + 8])
        body = data[at + 8 : at + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour != 2 or interlace != 0:
        raise ValueError(f"{path}: not 8-bit RGB without interlace")
    raw = zlib.decompress(idat)
    stride = width * 3
    out = bytearray(stride * height)
    previous = bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1 : (y + 1) * (stride + 1)])
        for x in range(stride):
            a = line[x - 3] if x >= 3 else 0
            b = previous[x]
            c = previous[x - 3] if x >= 3 else 0
            if kind == 1:
                line[x] = (line[x] + a) & 0xFF
            elif kind == 2:
                line[x] = (line[x] + b) & 0xFF
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[x] = (line[x] + pred) & 0xFF
        out[y * stride : (y + 1) * stride] = line
        previous = line
    return width, height, bytes(out)


def write_png(path, width, height, rgb):
    raw = b"".join(b"\0" + rgb[y * width * 3 : (y + 1) * width * 3] for y in range(height))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw)))
        f.write(chunk(b"IEND", b""))


def compare(got, expected):
    diffs = [abs(a - b) for a, b in zip(got, expected)]
    return {
        "mean": sum(diffs) / len(diffs),
        "far_share": sum(1 for d in diffs if d > TOLERANCE["far"]) / len(diffs),
        "max": max(diffs),
    }


# ---- Chromium's DevTools protocol over a pipe ----------------------------------


class Browser:
    def __init__(self, chromium, profile):
        to_browser_r, self.to_browser = os.pipe()
        self.from_browser, from_browser_w = os.pipe()
        flags = [
            "--headless=new",
            "--no-sandbox",
            "--enable-unsafe-swiftshader",
            "--remote-debugging-pipe",
            f"--user-data-dir={profile}",
            "--no-first-run",
            "--no-default-browser-check",
            "--window-size=800,600",
            "about:blank",
        ]
        # The protocol reads commands on descriptor 3 and answers on 4. Copies
        # above both numbers first, so that neither end overwrites the other;
        # every other descriptor of this process closes at exec.
        high = [fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 10) for fd in (to_browser_r, from_browser_w)]
        self.process = subprocess.Popen(
            [chromium] + flags,
            close_fds=False,
            preexec_fn=lambda: (os.dup2(high[0], 3), os.dup2(high[1], 4)),
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        for fd in high + [to_browser_r, from_browser_w]:
            os.close(fd)
        self.buffer = b""
        self.next_id = 0
        self.session = None
        self.events = []  # what the page said on its console, and its errors
        targets = self.call("Target.getTargets")["targetInfos"]
        page = next(t for t in targets if t["type"] == "page")
        self.session = self.call("Target.attachToTarget", targetId=page["targetId"], flatten=True)[
            "sessionId"
        ]
        self.call("Page.enable")
        self.call("Runtime.enable")

    def call(self, method, **params):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if self.session and not method.startswith("Target."):
            message["sessionId"] = self.session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.buffer:
                chunk = os.read(self.from_browser, 1 << 20)
                if not chunk:
                    raise RuntimeError("Chromium closed the DevTools pipe")
                self.buffer += chunk
            text, self.buffer = self.buffer.split(b"\0", 1)
            answer = json.loads(text)
            if answer.get("method") in ("Runtime.consoleAPICalled", "Runtime.exceptionThrown"):
                self.events.append(answer["params"])
            if answer.get("id") == self.next_id:
                if "error" in answer:
                    raise RuntimeError(f"{method}: {answer['error']}")
                return answer["result"]

    def evaluate(self, expression, gesture=False):
        result = self.call(
            "Runtime.evaluate",
            expression=expression,
            awaitPromise=True,
            returnByValue=True,
            userGesture=gesture,
        )
        if "exceptionDetails" in result:
            details = result["exceptionDetails"]
            raise RuntimeError(f"{expression[:60]}: {details.get('exception', details).get('description', details)}")
        return result["result"].get("value")

    def wait_for(self, expression, seconds, what):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            try:
                value = self.evaluate(expression)
            except RuntimeError:
                value = None  # the page is still loading
            if value:
                return value
            time.sleep(0.1)
        raise RuntimeError(f"timed out after {seconds} s waiting for {what}")

    def close(self):
        self.process.kill()
        self.process.wait()
        os.close(self.to_browser)
        os.close(self.from_browser)


# ---- The checks ------------------------------------------------------------------


class Results:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, ok, text):
        print(("ok    " if ok else "FAIL  ") + text, flush=True)
        if ok:
            self.passed += 1
        else:
            self.failed += 1


def read_instants(golden):
    path = os.path.join(golden, "instants.txt")
    instants = []
    # One instant per line: its milliseconds, then what happens there.
    for line in open(path):
        words = line.split("#", 1)[0].split()
        if words:
            instants.append(int(words[0]))
    return sorted(set(instants))


# Offline positions for the first SYNC_MS of the show, every SYNC_STEP ms.
SYNC_MS, SYNC_STEP = 12000, 5


def test_mode(browser, base, golden, results, sheet_dir):
    """Compares the frames; returns the offline positions for the sync check."""
    browser.call("Page.navigate", url=f"{base}/index.html?test")
    browser.wait_for("window.tuhkalaTest && (tuhkalaTest.ready || tuhkalaTest.failed)", 60, "the page's downloads")
    failed = browser.evaluate("tuhkalaTest.failed")
    results.check(not failed, f"test mode: the page loaded its program and media{': ' + failed if failed else ''}")
    if failed:
        return None
    started = browser.evaluate(f"tuhkalaTest.start({WIDTH}, {HEIGHT}, {FPS})")
    results.check(started == 0, "test mode: the show started on a 160x120 canvas with the offline music")
    if started != 0:
        return None
    offline = browser.evaluate(f"tuhkalaTest.positions(Array.from({{length: {SYNC_MS // SYNC_STEP}}}, (_, i) => i * {SYNC_STEP}))")
    worst = {}
    pass_times = {}
    for ms in read_instants(golden):
        # The capture program's --at: the last pass at or before ms, the last
        # n with floor(n * 1000 / FPS) <= ms; wanted counts passes 0 to n.
        wanted = ((ms + 1) * FPS + 999) // 1000
        run = browser.evaluate(f"tuhkalaTest.run({wanted}, false)")
        scene = scene_of(ms)
        pass_times.setdefault(scene, []).append(run)
        if run["done"] != wanted:
            results.check(False, f"{ms} ms: the show ended after {run['done']} of {wanted} passes")
            continue
        got = base64.b64decode(browser.evaluate("tuhkalaTest.frame()"))
        reference = os.path.join(golden, f"at-{ms}.png")
        if not os.path.exists(reference):
            results.check(False, f"{ms} ms: no reference frame {reference}")
            continue
        width, height, expected = read_png(reference)
        if (width, height) != (WIDTH, HEIGHT) or len(got) != len(expected):
            results.check(False, f"{ms} ms: reference is {width}x{height}, the page gave {len(got)} bytes")
            continue
        d = compare(got, expected)
        ok = d["mean"] <= TOLERANCE["mean"] and d["far_share"] <= TOLERANCE["far_share"]
        results.check(
            ok,
            f"{ms} ms ({scene}): mean difference {d['mean']:.2f}, "
            f"{100 * d['far_share']:.2f} % of samples off by more than {TOLERANCE['far']}, max {d['max']}",
        )
        if sheet_dir and not ok:
            # reference | browser | difference, for a look.
            sheet = bytearray()
            for y in range(HEIGHT):
                row = slice(y * WIDTH * 3, (y + 1) * WIDTH * 3)
                sheet += expected[row] + got[row] + bytes(min(255, 4 * abs(a - b)) for a, b in zip(got[row], expected[row]))
            write_png(os.path.join(sheet_dir, f"sheet-{ms}.png"), WIDTH * 3, HEIGHT, bytes(sheet))
        previous = worst.get(scene)
        if previous is None or d["mean"] > previous["mean"]:
            worst[scene] = dict(d, ms=ms)
    print("worst difference per scene (SwiftShader in Chromium against llvmpipe):")
    for name, _, _ in SCENES:
        if name in worst:
            w = worst[name]
            print(f"  {name:11s} at {w['ms']:6d} ms: mean {w['mean']:.2f}, "
                  f"{100 * w['far_share']:.2f} % off by more than {TOLERANCE['far']}, max {w['max']}")
    return offline


# How far the output timestamp's steps may move a reading either way (ms).
SYNC_JITTER = 15
# The heard position lags the show's clock by the output's latency, and by
# more where the audio thread was starved for a while (the sound then runs
# late, and so does its position); it is never ahead.
SYNC_LAGS = range(-20, 301, SYNC_STEP)


def sample_lags(offline, t, word):
    """The lags L in SYNC_LAGS (ms) for which the offline render plays word at
    show time t - L, give or take SYNC_JITTER."""
    lags = []
    for lag in SYNC_LAGS:
        for d in range(-SYNC_JITTER, SYNC_JITTER + 1, SYNC_STEP):
            i = (t - lag - d) // SYNC_STEP
            if 0 <= i < len(offline) and offline[i] == word:
                lags.append(lag)
                break
    return lags


def normal_mode(browser, base, results, offline):
    browser.call("Page.navigate", url=f"{base}/index.html")
    browser.wait_for("!window.tuhkalaTest && !document.getElementById('play').disabled", 60, "the Play button")
    box = browser.evaluate(
        "(() => { const r = document.getElementById('play').getBoundingClientRect();"
        " return {x: r.x + r.width / 2, y: r.y + r.height / 2}; })()"
    )
    # A real click: the browser starts sound only after a gesture.
    for kind in ("mousePressed", "mouseReleased"):
        browser.call("Input.dispatchMouseEvent", type=kind, x=box["x"], y=box["y"], button="left", clickCount=1)
    state = browser.wait_for(
        "(() => { const s = tuhkalaPage.state(); return s.running && !s.cardShown && s.audioTime > 0 ? s : null; })()",
        30,
        "the show to start after Play",
    )
    first = state
    seen = {(state["order"], state["row"])}
    samples = []
    deadline = time.monotonic() + 5.0
    while time.monotonic() < deadline:
        state = browser.evaluate("tuhkalaPage.state()")
        seen.add((state["order"], state["row"]))
        samples.append((state["showMs"], state["order"] | state["row"] << 16))
        time.sleep(0.05)
    results.check(
        state["audioTime"] - first["audioTime"] > 2.0,
        f"normal mode: the audio clock runs after Play ({first['audioTime']:.2f} s, then {state['audioTime']:.2f} s)",
    )
    results.check(
        len(seen) >= 8 and max(seen) > min(seen),
        f"normal mode: the heard order and row advance ({len(seen)} positions in 5 s, "
        f"from order {min(seen)[0]} row {min(seen)[1]} to order {max(seen)[0]} row {max(seen)[1]})",
    )
    if offline:
        # The first second is left out: a page still busy starting may read a
        # position late.
        checked = [(t, word) for t, word in samples if 1000 <= t < SYNC_MS]
        lags = [sample_lags(offline, t, word) for t, word in checked]
        matched = [l for l in lags if l]
        share = len(matched) / max(1, len(lags))
        # One lag that every matched sample allows, where there is one.
        low = max((min(l) for l in matched), default=0)
        high = min((max(l) for l in matched), default=0)
        lag = f"{low} to {high} ms" if low <= high else "a lag that varied"
        for (t, word), l in zip(checked, lags):
            if not l:
                print(f"      at {t} ms the page heard order {word & 0xFFFF} row {word >> 16}")
        results.check(
            share >= 0.9,
            f"normal mode: the heard position follows the show's clock in {100 * share:.0f} % of "
            f"{len(lags)} samples ({lag} behind the offline render)",
        )
    for kind in ("keyDown", "keyUp"):
        browser.call("Input.dispatchKeyEvent", type=kind, key="a", code="KeyA", windowsVirtualKeyCode=65)
    state = browser.wait_for(
        "(() => { const s = tuhkalaPage.state(); return !s.running && s.cardShown ? s : null; })()",
        10,
        "the show to end after a key",
    )
    results.check(state["button"] == "Play again", f"normal mode: a key ends the show and the page offers '{state['button']}'")
    # Again from the start, in a fresh instance of the program.
    browser.evaluate("document.getElementById('play').click()", gesture=True)
    state = browser.wait_for(
        "(() => { const s = tuhkalaPage.state(); return s.running && !s.cardShown && s.showMs > 0 ? s : null; })()",
        30,
        "the show to start again",
    )
    results.check(state["showMs"] < 10000, f"normal mode: Play again starts the show anew (at {state['showMs']} ms)")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--site", default="build-web", help="the built page (default build-web)")
    parser.add_argument("--golden", default="tests/golden", help="reference frames and instants.txt")
    parser.add_argument("--chromium", default="chromium")
    parser.add_argument("--sheets", help="write reference | browser | difference sheets of failures here")
    args = parser.parse_args()

    results = Results()
    for path, what in ((os.path.join(args.site, "index.html"), "the built page"),
                       (os.path.join(args.golden, "instants.txt"), "the reference instants")):
        if not os.path.exists(path):
            results.check(False, f"{what}: {path} is missing")
    if results.failed:
        print(f"{results.passed} passed, {results.failed} failed")
        return 1

    port = free_port()
    server = subprocess.Popen(
        [sys.executable, "-m", "http.server", str(port), "--bind", "127.0.0.1", "--directory", args.site],
        stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL,
    )
    profile = tempfile.TemporaryDirectory()
    browser = None
    try:
        base = f"http://127.0.0.1:{port}"
        deadline = time.monotonic() + 10
        while True:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                if time.monotonic() > deadline:
                    raise RuntimeError("python3 -m http.server did not start")
                time.sleep(0.1)
        browser = Browser(args.chromium, profile.name)
        started = time.monotonic()
        offline = test_mode(browser, base, args.golden, results, args.sheets)
        print(f"test mode took {time.monotonic() - started:.1f} s")
        normal_mode(browser, base, results, offline)
    except Exception as error:  # a broken page or browser is a failed check, never a skip
        results.check(False, f"browser test stopped: {error}")
    finally:
        if browser:
            browser.close()
        server.kill()
        server.wait()
        profile.cleanup()
    print(f"{results.passed} passed, {results.failed} failed")
    return 0 if results.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
