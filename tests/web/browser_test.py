#!/usr/bin/env python3
"""The browser build in a real headless Chromium.

Serves the built page (build-web/) on 127.0.0.1 and drives Chromium through
its DevTools protocol over a pipe, case by case:

1. Test mode (index.html?test): the show runs by the capture program's
   virtual clock and offline music positions at 160x120 and 30 passes a
   second; the frame at each reference instant is read back and compared with
   the native reference frame (tests/golden/at-MS.png, instants in
   tests/golden/instants.txt). The browser draws with SwiftShader, the
   references come from Mesa's llvmpipe: the two rasterise and filter
   textures slightly differently, so frames match within a tolerance, not
   bit for bit (see TOLERANCE).
2. Normal mode (index.html), as a visitor meets it: the title card's flash
   warning and accessible names; the Play button (a real click) must start the
   sound, once, with the rewind to order 0; the heard order and row must
   advance and follow the show's clock as the offline render has them, by
   one lag near zero for the whole run (the schedule starts when order 0 is
   heard); a suspended sound must be announced and hold the show, and,
   resumed, keep the lag; the browser's own keys must not end the show; then
   another tab is brought to the front for at least 10 s, which hides the
   page and stops its animation frames, and cases 3 to 6 run there
   meanwhile; back in front, frameTime must be what it was before; a lost
   WebGL context must end the show with a message; Play again starts anew; a
   key ends the show without pressing the focused full-screen button.
3. Sound: a key ends the show while the sound is suspended; a worklet that
   fails while it plays stops the show with a message; a renderer that cannot
   start, and a module it refuses, fail the start-up with the show's own
   lines ("Error(23): Can't initialize device", "Error(41): Can't play the
   file").
4. Touch (touch emulation): the hint names the tap, and a tap ends the show.
5. What is missing: without WebGL, and without an audio worklet, the page
   names what is missing before offering Play, and offers nothing to retry;
   without full screen it hides the full-screen button.
6. Downloads: a download that fails offers a retry that works; served
   compressed and streamed without Content-Length, the progress bar (a real
   progressbar to assistive technology) counts what arrives up to 100 %.
   Before all that, what a viewer downloads: no libopenmpt in the show's
   program (tuhkala.wasm), and at most DOWNLOAD_GZIP_MOST bytes gzipped.

Every case fails on a page exception or a console error, except those it
expects by design (listed with the case). Prints the worst difference per
scene and the frame times, and ends with one line "N passed, N failed". Exit
status 0 only when every check passed. Nothing is skipped: a missing
browser, page or reference is a failure.
"""
import argparse
import base64
import contextlib
import fcntl
import functools
import gzip
import http.server
import json
import os
import re
import socket
import struct
import subprocess
import sys
import tempfile
import threading
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
        self.session = self.attach(page["targetId"])

    def attach(self, target):
        """A session with the page of target, whose console is followed."""
        session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        with self.in_session(session):
            self.call("Page.enable")
            self.call("Runtime.enable")
            self.call("Log.enable")
        return session

    @contextlib.contextmanager
    def in_session(self, session):
        """Calls inside go to the page of session."""
        saved, self.session = self.session, session
        try:
            yield
        finally:
            self.session = saved

    @contextlib.contextmanager
    def tab_in_front(self):
        """A new tab brought to the front, which hides the page behind it (no
        animation frames there) until it is closed; calls inside go to it."""
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        try:
            with self.in_session(self.attach(target)):
                self.call("Target.activateTarget", targetId=target)
                yield
        finally:
            self.call("Target.closeTarget", targetId=target)

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
            if answer.get("method") in ("Runtime.consoleAPICalled", "Runtime.exceptionThrown", "Log.entryAdded"):
                self.events.append((answer.get("sessionId"), answer["method"], answer["params"]))
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

    def take_errors(self):
        """The page's exceptions and console errors (its own and the
        browser's, such as a failed request) since the last call, of the
        current session's page."""
        self.evaluate("0")  # everything the page said before this has arrived
        errors = []
        mine = [e for e in self.events if e[0] == self.session]
        self.events = [e for e in self.events if e[0] != self.session]
        for _, method, params in mine:
            if method == "Runtime.exceptionThrown":
                details = params["exceptionDetails"]
                errors.append("exception: " + details.get("exception", {}).get("description", details.get("text", "")))
            elif method == "Runtime.consoleAPICalled" and params["type"] in ("error", "assert"):
                words = [a.get("value", a.get("description", "")) for a in params.get("args", [])]
                errors.append("console: " + " ".join(str(w) for w in words))
            elif method == "Log.entryAdded" and params["entry"]["level"] == "error":
                entry = params["entry"]
                errors.append(f"console: {entry['text']} ({entry.get('url', '')})")
        return errors

    def centre(self, selector):
        return self.evaluate(f"(() => {{ const r = document.querySelector('{selector}').getBoundingClientRect();"
                             " return {x: r.x + r.width / 2, y: r.y + r.height / 2}; })()")

    def click(self, selector):
        """A real mouse click on the middle of the element: a gesture."""
        for kind in ("mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", type=kind, button="left", clickCount=1, **self.centre(selector))

    def tap(self, selector):
        self.call("Input.dispatchTouchEvent", type="touchStart", touchPoints=[self.centre(selector)])
        self.call("Input.dispatchTouchEvent", type="touchEnd", touchPoints=[])

    def key(self, key, code, vk, modifiers=0):
        for kind in ("rawKeyDown", "keyUp"):
            self.call("Input.dispatchKeyEvent", type=kind, key=key, code=code, windowsVirtualKeyCode=vk,
                      modifiers=modifiers)

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

    @contextlib.contextmanager
    def case(self, browser, name, expected=()):
        """Runs one case: a check that stops it is a failure, and so is any
        page exception or console error but those matching a pattern of
        expected (the errors the case causes by design)."""
        browser.take_errors()
        started = time.monotonic()
        try:
            yield
        except Exception as error:  # a broken page is a failed check, never a skip
            self.check(False, f"{name}: stopped: {error}")
        errors = browser.take_errors()
        unexpected = [e for e in errors if not any(re.search(p, e) for p in expected)]
        self.check(not unexpected, f"{name}: no page exception or console error but those expected "
                   f"({len(errors) - len(unexpected)} expected){''.join(chr(10) + '      ' + e for e in unexpected)}")
        print(f"      ({name} took {time.monotonic() - started:.1f} s)")


def wait_state(browser, condition, seconds, what):
    """The page's state once condition (JavaScript over s, tuhkalaPage.state())
    holds."""
    return browser.wait_for(f"(() => {{ const s = tuhkalaPage.state(); return ({condition}) ? s : null; }})()",
                            seconds, what)


def read_instants(golden):
    path = os.path.join(golden, "instants.txt")
    instants = []
    # One instant per line: its milliseconds, then what happens there.
    for line in open(path):
        words = line.split("#", 1)[0].split()
        if words:
            instants.append(int(words[0]))
    return sorted(set(instants))


# Offline positions for the first SYNC_MS of the show, every millisecond.
SYNC_MS = 25000


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
    offline = browser.evaluate(f"tuhkalaTest.positions(Array.from({{length: {SYNC_MS}}}, (_, i) => i))")
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


# ---- Normal mode: the sound and its sync -----------------------------------------
#
# The page's schedule (show time) and its cues (the heard position) both read
# the heard clock of the sound, and show time 0 is when order 0 is first
# heard; so at any moment the position heard is the one the offline render
# has at the show time, give or take the render's 1 ms slices. A sample
# (show time t, heard word) allows the lags L for which the offline render
# plays word at t - L; one lag must hold for the whole run.

# The lag may stray this far from the run's lag (ms), and the run's lag this
# far from zero: a schedule started when order 0 was set instead of when it
# was heard lags by the output latency (about 40 ms in headless Chromium).
SYNC_SPREAD_MS = 10
# Across a suspension the lag may move this much (ms).
SYNC_RESUMED_MS = 20
SYNC_SECONDS = 5.0
SYNC_SAMPLES = 10


def word_spans(offline):
    """For each position word, the first and last millisecond at which the
    offline render plays it (its first run)."""
    spans = {}
    for ms, word in enumerate(offline):
        first, last = spans.get(word, (ms, ms))
        if last >= ms - 1:
            spans[word] = (first, ms)
    return spans


def sample_lag_range(spans, t, word):
    """The lags (lo, hi) in ms at which the offline render plays word at show
    time t - lag, with a millisecond's slack for the rounding of both; None
    when the render never plays word in the time it covers."""
    if word not in spans:
        return None
    first, last = spans[word]
    return (t - last - 2, t - first + 1)


def one_lag(ranges):
    """The lag that most samples allow (the middle one where several do) and
    each sample's distance from it (0 when it allows it)."""
    allowed = [r for r in ranges if r]
    if not allowed:
        return None, [None] * len(ranges)
    # The most samples allow a lag at one of the ranges' ends.
    ends = sorted({end for r in allowed for end in r})
    counts = [sum(1 for lo, hi in allowed if lo <= lag <= hi) for lag in ends]
    best = [lag for lag, count in zip(ends, counts) if count == max(counts)]
    lag = (best[0] + best[-1]) // 2
    if not any(lo <= lag <= hi for lo, hi in allowed):
        lag = best[0]
    return lag, [None if r is None else max(0, r[0] - lag, lag - r[1]) for r in ranges]


def sample_sync(browser, seconds):
    """(show time, heard word) pairs, read together, for seconds (up to
    twice as long while fewer than SYNC_SAMPLES are had), within the first
    SYNC_MS of the show; and the readings left out because the page had not
    yet had the worklet's reports up to the frame heard (its main thread was
    busy for longer than the worklet renders ahead, on a loaded machine);
    and (show time + lead, word) pairs for the position the scenes read,
    drawn for when the frame will be seen, where the reports went that far."""
    samples, late, ahead = [], [], []
    started = time.monotonic()
    while True:
        elapsed = time.monotonic() - started
        if elapsed > 2 * seconds or (elapsed > seconds and len(samples) >= SYNC_SAMPLES):
            break
        s = browser.evaluate("tuhkalaPage.state()")
        if s["running"] and 500 <= s["showMs"] < SYNC_MS:
            reading = (s["showMs"], s["order"] | s["row"] << 16)
            (samples if s["positionKnown"] else late).append(reading)
            if s["aheadKnown"] and s["leadMs"] > 0:
                ahead.append((s["showMs"] + s["leadMs"], s["aheadOrder"] | s["aheadRow"] << 16, s["leadMs"]))
    return samples, late, ahead


def check_sync(results, spans, sampled, what):
    """Checks that one lag holds for the samples; returns it."""
    samples, late = sampled[0], len(sampled[1])
    ranges = [sample_lag_range(spans, t, word) for t, word in samples]
    lag, off = one_lag(ranges)
    allowed = [r for r in ranges if r]
    low = max((r[0] for r in allowed), default=0)
    high = min((r[1] for r in allowed), default=0)
    agree = f"all allow {low} to {high} ms" if low <= high else "they allow no one lag"
    worst = max((d for d in off if d is not None), default=None)
    for (t, word), d in zip(samples, off):
        if d is None or d > SYNC_SPREAD_MS:
            print(f"      at show time {t} ms the page heard order {word & 0xFFFF} row {word >> 16}")
    ok = (len(samples) >= SYNC_SAMPLES and lag is not None and None not in off and worst <= SYNC_SPREAD_MS
          and abs(lag) <= SYNC_SPREAD_MS)
    results.check(
        ok,
        f"normal mode, {what}: the heard position lags the show's clock by {lag} ms against the "
        f"offline render over {len(samples)} samples ({agree}; farthest sample {worst} ms off, "
        f"at most {SYNC_SPREAD_MS} ms allowed, and the lag itself at most {SYNC_SPREAD_MS} ms; "
        f"{late} readings left out, taken before the page had the worklet's reports)",
    )
    return lag


def check_heard_arithmetic(browser, results):
    """The heard time from an output timestamp, in the page's own function:
    signed (a timestamp may lie ahead of now), and currentTime less the
    latency when the timestamp is missing or cannot be."""
    cases = [  # stamp (contextTime s, performanceTime ms), now ms, currentTime s, latency s, expected s
        ((10.0, 5020.0), 5000.0, 10.05, 0.04, 9.98),  # stamped 20 ms ahead of now
        ((10.0, 4990.0), 5000.0, 10.05, 0.04, 10.01),  # 10 ms ago
        ((10.0, 1.0), 5000.0, 10.05, 0.04, 10.01),  # another time origin: seconds ahead of rendering
        ((8.0, 5000.0), 5000.0, 10.05, 0.04, 10.01),  # two seconds behind what is rendered
        ((0.0, 0.0), 5000.0, 0.02, 0.04, 0.0),  # none yet, and less rendered than the latency
    ]
    got = [
        browser.evaluate(f"heardContextTime({{contextTime: {c[0][0]}, performanceTime: {c[0][1]}}}, {c[1]}, {c[2]}, {c[3]})")
        for c in cases
    ]
    ok = all(abs(g - c[4]) < 1e-9 for g, c in zip(got, cases))
    results.check(ok, f"normal mode: heard times (s) from output timestamps {[round(g, 6) for g in got]} "
                      f"(expected {[c[4] for c in cases]})")


def start_show(browser, how="click"):
    """Presses Play as a person would (the browser starts sound only after a
    gesture) and waits for the show to run."""
    if how == "click":
        browser.click("#play")
    else:
        browser.evaluate("document.getElementById('play').click()", gesture=True)
    # A pass counted: the frame loop runs, and its clock has started.
    return wait_state(browser, "s.running && !s.cardShown && s.audioTime > 0 && s.framesCounted > 0", 30,
                      "the show to start after Play")


def title_card(browser, results):
    """The flash warning and what assistive technology is told of the page."""
    nodes = browser.call("Accessibility.getFullAXTree")["nodes"]

    def text(node, field):
        return str(node.get(field, {}).get("value", ""))

    def named(role, pattern):
        return [n for n in nodes if not n.get("ignored") and text(n, "role") == role and re.search(pattern, text(n, "name"))]

    warning = browser.evaluate("document.getElementById('warning').innerText")
    results.check(
        re.search(r"(?i)flash", warning) and re.search(r"(?i)white and green", warning) and re.search(r"(?i)flicker", warning),
        f"title card: a photosensitivity warning of the flashes and flicker before Play ({warning!r})",
    )
    play = named("button", "^Play$")
    results.check(
        len(play) == 1 and re.search(r"(?i)flash", text(play[0], "description")),
        "title card: the Play button is described by the flash warning"
        + (f" ({text(play[0], 'description')!r})" if play else " (no button named Play)"),
    )
    picture = named("image", r"(?i)show")
    results.check(len(picture) == 1, f"title card: the canvas is an image named {text(picture[0], 'name')!r}"
                  if picture else "title card: the canvas is an image with a name (none found)")
    alerts = [n for n in nodes if text(n, "role") == "alert"]
    results.check(len(alerts) == 1, f"title card: messages go to a live region ({len(alerts)} alert found)")


def browser_keys_do_not_end(browser, results):
    # The browser's and the system's own keys: they keep their meaning.
    keys = [("F11", "F11", 122, 0), ("Tab", "Tab", 9, 0), ("Shift", "ShiftLeft", 16, 8),
            ("Control", "ControlLeft", 17, 2), ("Alt", "AltLeft", 18, 1), ("Meta", "MetaLeft", 91, 4),
            ("MediaPlayPause", "MediaPlayPause", 179, 0), ("AudioVolumeUp", "AudioVolumeUp", 175, 0),
            ("t", "KeyT", 84, 2)]
    before = browser.evaluate("tuhkalaPage.state()")
    for key in keys:
        browser.key(*key)
    # A pass takes one message: a key queued by mistake would have ended the
    # show within four passes (the key, the window's destroy, the quit).
    state = wait_state(browser, f"!s.running || s.framesCounted >= {before['framesCounted'] + 4}", 10,
                       "passes after the keys")
    results.check(
        state["running"] and not state["cardShown"],
        "normal mode: F11, Tab, Shift, Ctrl, Alt, Meta alone, media and volume keys and Ctrl+T do not end the show",
    )


HIDDEN_S = 10.0


def stall_keeps_speed(browser, results, in_front):
    """At least HIDDEN_S in a hidden tab: another tab in front, where
    in_front() runs meanwhile."""
    # The longest gap between animation frames from here on, to show that the
    # stall took place.
    browser.evaluate("""(() => { window.longestGap = 0; let last = performance.now();
        const frame = () => { const now = performance.now();
                              window.longestGap = Math.max(window.longestGap, now - last); last = now;
                              requestAnimationFrame(frame); };
        requestAnimationFrame(frame); })()""")
    behind = browser.session
    with browser.tab_in_front():
        with browser.in_session(behind):
            browser.wait_for("document.visibilityState === 'hidden'", 5, "the page to be hidden")
            hidden_at = time.monotonic()
            time.sleep(1.0)  # the last animation frames of a page being hidden
            before = browser.evaluate("tuhkalaPage.state()")
        in_front()
        time.sleep(max(0.0, hidden_at + HIDDEN_S - time.monotonic()))
        hidden_s = time.monotonic() - hidden_at
    browser.wait_for("document.visibilityState === 'visible'", 5, "the page to be shown again")
    # The first pass counted after the stall: the stall's own pass when it
    # counts, else the next, ordinary one (which moves the mean a little).
    after = wait_state(browser, f"s.framesCounted > {before['framesCounted']}", 10, "a pass after the stall")
    gap = browser.evaluate("window.longestGap")
    results.check(gap >= 0.9 * HIDDEN_S * 1000 and after["running"],
                  f"normal mode: hidden for {hidden_s:.1f} s, the page had no animation frame for {gap / 1000:.1f} s, "
                  "and the show went on")
    change = after["frameTime"] / before["frameTime"] - 1 if before["frameTime"] > 0 else float("inf")
    results.check(
        abs(change) <= 0.1,
        f"normal mode: frameTime after the stall {after['frameTime']:.2f} ms, before {before['frameTime']:.2f} ms "
        f"({100 * change:+.1f} %, at most 10 %; {before['framesCounted']} passes counted before, "
        f"{after['framesCounted']} after)",
    )


def lost_context_ends_show(browser, results):
    browser.evaluate("document.getElementById('canvas').getContext('webgl')"
                     ".getExtension('WEBGL_lose_context').loseContext()")
    state = wait_state(browser, "!s.running && s.cardShown", 10, "the show to end after its context was lost")
    results.check(
        re.search(r"WebGL context was lost", state["message"]) and state["button"] == "Play again",
        f"normal mode: a lost WebGL context ends the show with a message ({state['message'][:60]!r}...) and "
        f"'{state['button']}'",
    )


def normal_mode(browser, base, results, offline, in_front):
    """in_front() runs other cases in a tab in front of the show, which hides
    its page meanwhile (at least 10 s)."""
    browser.call("Page.navigate", url=f"{base}/index.html")
    browser.wait_for("!window.tuhkalaTest && !document.getElementById('play').disabled", 60, "the Play button")
    title_card(browser, results)
    hint = browser.evaluate("document.getElementById('hint').innerText")
    results.check(hint.endswith("A key ends the show."), f"normal mode: without touch the hint names keys ({hint!r})")
    # Full screen exists here: the button is offered and works with a click.
    browser.click("#fullscreen")
    full = browser.wait_for("document.fullscreenElement ? document.fullscreenElement.id : null", 5, "full screen")
    browser.evaluate("document.exitFullscreen()")
    browser.wait_for("!document.fullscreenElement", 5, "the end of full screen")
    results.check(full == "stage", f"normal mode: the full-screen button shows the {full} full screen")

    check_heard_arithmetic(browser, results)
    start_show(browser)
    sound_sync(browser, results, offline)
    browser_keys_do_not_end(browser, results)
    stall_keeps_speed(browser, results, in_front)
    lost_context_ends_show(browser, results)
    # Again from the start, in a fresh instance of the program.
    state = start_show(browser, how="script")
    results.check(state["showMs"] < 10000, f"normal mode: Play again starts the show anew (at {state['showMs']} ms)")
    # The key that ends the show, with the full-screen button focused: the
    # show ends, the button is not pressed, not even when the key comes up
    # after the show has ended (a button takes Space when it comes up).
    browser.evaluate("document.getElementById('fullscreen').focus()")
    browser.call("Input.dispatchKeyEvent", type="rawKeyDown", key=" ", code="Space", windowsVirtualKeyCode=32)
    state = wait_state(browser, "!s.running && s.cardShown", 10, "the show to end after a key")
    browser.call("Input.dispatchKeyEvent", type="keyUp", key=" ", code="Space", windowsVirtualKeyCode=32)
    time.sleep(0.3)
    full = browser.evaluate("Boolean(document.fullscreenElement)")
    results.check(state["button"] == "Play again" and not full and not state["message"],
                  f"normal mode: Space ends the show, the page offers '{state['button']}' "
                  f"with {'the message ' + repr(state['message']) if state['message'] else 'no message'}, "
                  f"and the focused full-screen button {'took it' if full else 'did not take it'}")


def sound_sync(browser, results, offline):
    """Right after Play: the sound began once, and the heard position follows
    the show's clock by one lag near zero, also after the sound was suspended
    for a second and resumed. Returns nothing; the show goes on."""
    first = browser.evaluate("tuhkalaPage.state()")
    sampled = sample_sync(browser, SYNC_SECONDS)
    state = browser.evaluate("tuhkalaPage.state()")
    # The start and the rewind to order 0 reach the worklet together: its
    # output began once, with the rewind (generation 1), nothing before.
    starts = state["soundings"]
    results.check(
        [s["generation"] for s in starts] == [1],
        f"normal mode: the sound's output began once, at the rewind to order 0, nothing played before "
        f"it (outputs began: {starts})",
    )
    seen = {word for _, word in sampled[0] + sampled[1]}
    results.check(
        state["audioTime"] - first["audioTime"] > 2.0,
        f"normal mode: the audio clock runs after Play ({first['audioTime']:.2f} s, then {state['audioTime']:.2f} s)",
    )
    results.check(
        len(seen) >= 8,
        f"normal mode: the heard order and row advance ({len(seen)} positions in {SYNC_SECONDS:.0f} s, "
        f"up to order {max(seen, default=0) & 0xFFFF} row {max(seen, default=0) >> 16})",
    )
    if not offline:
        results.check(False, "normal mode: no offline positions from the test mode to check the sync against")
        return
    spans = word_spans(offline)
    lag = check_sync(results, spans, sampled, "playing")
    # Each pass draws ahead by one and a half frames: the position the scenes
    # read is the one the offline render has that much after the show time,
    # at the same lag.
    ahead = sampled[2]
    ahead_lag, ahead_off = one_lag([sample_lag_range(spans, t, word) for t, word, _ in ahead])
    leads = sorted(lead for _, _, lead in ahead)
    results.check(
        len(ahead) >= SYNC_SAMPLES and ahead_lag is not None and lag is not None
        and None not in ahead_off and max(ahead_off) <= SYNC_SPREAD_MS and abs(ahead_lag - lag) <= SYNC_SPREAD_MS,
        f"normal mode, drawing ahead: the position the scenes read, at the show time plus the pass's lead "
        f"({leads[len(leads) // 2] if leads else 0} ms in the middle), lags the show's clock by {ahead_lag} ms "
        f"over {len(ahead)} samples, {lag} ms heard now (at most {SYNC_SPREAD_MS} ms apart)",
    )

    # The browser suspends the sound: the page says so, the show waits, and
    # after Resume the schedule and the position go on together.
    browser.evaluate("audioContext.suspend()")
    held = wait_state(browser, "s.pausedShown", 10, "the page to say the sound stopped")
    time.sleep(1.0)
    still = browser.evaluate("tuhkalaPage.state()")
    results.check(
        still["running"] and still["showMs"] == held["showMs"] and still["audioState"] == "suspended",
        f"normal mode: while the sound is suspended the page says so "
        f"('{browser.evaluate('page.pausedText.textContent')}') and the show waits "
        f"(show time {held['showMs']} ms, a second later {still['showMs']} ms)",
    )
    browser.click("#resume")
    wait_state(browser, "s.audioState === 'running' && !s.pausedShown", 10, "the sound to resume")
    after = check_sync(results, spans, sample_sync(browser, 3.0), "after a suspension")
    results.check(
        lag is not None and after is not None and abs(after - lag) <= SYNC_RESUMED_MS,
        f"normal mode: suspended for a second and resumed, the lag is {after} ms, {lag} ms before "
        f"(at most {SYNC_RESUMED_MS} ms apart)",
    )


def sound_stops(browser, base, results):
    """A key ends the show while the sound is suspended; a renderer that fails
    while it plays stops the show with a message."""
    browser.call("Page.navigate", url=f"{base}/index.html")
    browser.wait_for("!document.getElementById('play').disabled", 60, "the Play button")
    start_show(browser)
    browser.evaluate("audioContext.suspend()")
    wait_state(browser, "s.pausedShown", 10, "the page to say the sound stopped")
    browser.key("a", "KeyA", 65)
    state = wait_state(browser, "!s.running && s.cardShown", 10,
                       "the show to end after a key while the sound was suspended")
    results.check(not state["pausedShown"] and state["button"] == "Play again",
                  "sound: a key ends the show while the sound is suspended")
    # Here on a file message without its bytes: the renderer throws.
    start_show(browser)
    browser.evaluate("tuhkalaPage.sound().node.port.postMessage({type: 'load', bytes: null})")
    state = wait_state(browser, "!s.running && s.cardShown", 10, "the show to stop after the worklet failed")
    results.check(
        state["message"].startswith("The music stopped, and so did the show:") and state["button"] == "Play again",
        f"sound: a failing worklet stops the show with a message ({state['message'][:90]!r}...)",
    )


def sound_start_failures(browser, base, results):
    """A sound that cannot start fails the show's start-up with the show's own
    line, as natively, and the browser's reason after it; the page offers to
    try again only where that may help."""
    cases = [
        # A damaged download of the worklet's renderer: it cannot start.
        ("files['openmpt-worklet.wasm'] = new Uint8Array(64).buffer",
         "Error(23): Can't initialize device", "Try again", "a renderer that cannot start"),
        # The worklet is handed a file that is no module (the first bytes
        # only): it refuses it, and the show's module is not loaded.
        ("(() => { const check = ShowAudio.prototype.check;"
         " ShowAudio.prototype.check = function (bytes) { return check.call(this, bytes.subarray(0, 16)); }; })()",
         "Error(41): Can't play the file", None, "a module the worklet refuses"),
    ]
    for inject, line, button, what in cases:
        browser.call("Page.navigate", url=f"{base}/index.html")
        browser.wait_for("!document.getElementById('play').disabled", 60, "the Play button")
        browser.evaluate(inject)
        browser.click("#play")
        state = wait_state(browser, "!s.running && s.cardShown && s.message", 30, f"the start-up to fail with {what}")
        lines = state["message"].split("\n")
        results.check(
            lines[0] == line and state["button"] == button,
            f"sound, {what}: the page says {lines} and offers {state['button']!r}",
        )


def touch(browser, base, results):
    browser.call("Emulation.setTouchEmulationEnabled", enabled=True, maxTouchPoints=1)
    try:
        browser.call("Page.navigate", url=f"{base}/index.html")
        browser.wait_for("!document.getElementById('play').disabled", 60, "the Play button")
        hint = browser.evaluate("document.getElementById('hint').innerText")
        results.check("tap" in hint, f"touch: the hint names the tap ({hint!r})")
        start_show(browser, how="script")
        browser.tap("#stage")
        state = wait_state(browser, "!s.running && s.cardShown", 10, "the show to end after a tap")
        time.sleep(0.5)  # a click after the tap would press Play again under the finger
        later = browser.evaluate("tuhkalaPage.state()")
        results.check(
            state["button"] == "Play again" and not later["running"],
            f"touch: a tap on the picture ends the show, which stays ended (the page offers '{state['button']}')",
        )
    finally:
        browser.call("Emulation.setTouchEmulationEnabled", enabled=False)


# What a browser without each capability lacks, made so before the page's own
# script runs.
WITHOUT = {
    "WebGL": "HTMLCanvasElement.prototype.getContext = function () { return null; };",
    "audio worklet": "delete window.AudioWorkletNode; delete window.AudioWorklet;",
}


def missing_capabilities(browser, base, results):
    for name, script in WITHOUT.items():
        added = browser.call("Page.addScriptToEvaluateOnNewDocument", source=script)["identifier"]
        try:
            browser.call("Page.navigate", url=f"{base}/index.html")
            state = browser.wait_for(
                "(() => { const s = window.tuhkalaPage && tuhkalaPage.state(); return s && s.message ? s : null; })()",
                20, f"a message without {name}")
            # Nothing was downloaded for a show that cannot run.
            fetched = browser.evaluate("performance.getEntriesByType('resource').map((r) => r.name)"
                                       ".filter((n) => /\\.(wasm|data)$/.test(n)).length")
            other = next(n for n in WITHOUT if n != name)
            results.check(
                name in state["message"] and other not in state["message"] and state["button"] is None
                and fetched == 0,
                f"without {name}: the page names it before Play, offers no button and downloads nothing "
                f"({state['message'][:70]!r}..., button {state['button']}, {fetched} downloads)",
            )
        finally:
            browser.call("Page.removeScriptToEvaluateOnNewDocument", identifier=added)
    # Without full screen (a phone's browser, a frame that does not allow it)
    # the show plays, and no button offers what cannot happen.
    added = browser.call("Page.addScriptToEvaluateOnNewDocument",
                         source="for (const name of ['fullscreenEnabled', 'webkitFullscreenEnabled'])"
                                " Object.defineProperty(Document.prototype, name, {get: () => false});")["identifier"]
    try:
        browser.call("Page.navigate", url=f"{base}/index.html")
        state = wait_state(browser, "s.button === 'Play'", 30, "Play without full screen")
        hidden = browser.evaluate("getComputedStyle(document.getElementById('fullscreen')).display === 'none'")
        results.check(hidden and not state["message"],
                      "without full screen: the full-screen button is not shown, and Play is offered")
    finally:
        browser.call("Page.removeScriptToEvaluateOnNewDocument", identifier=added)


def downloads(browser, base, results):
    # tuhkala.data fails once: the page says so and offers to try again.
    browser.call("Page.navigate", url=f"{base}/flaky/index.html")
    state = browser.wait_for(
        "(() => { const s = window.tuhkalaPage && tuhkalaPage.state(); return s && s.button === 'Try again' ? s : null; })()",
        30, "a retry after the failed download")
    results.check("tuhkala.data" in state["message"] and "503" in state["message"],
                  f"downloads: a failed download is named ({state['message'][:60]!r}...) with 'Try again'")
    browser.click("#play")
    state = wait_state(browser, "s.button === 'Play'", 30, "Play after the retry")
    results.check(state["button"] == "Play", "downloads: the retry fetches what was missing and offers Play")

    # Compressed and streamed without Content-Length: the bar counts what
    # arrives against the files' own sizes. Its values, as a screen reader
    # would read them, are kept from the start.
    added = browser.call("Page.addScriptToEvaluateOnNewDocument", source="""
        window.progressSeen = [];
        new MutationObserver(() => {
            const bar = document.getElementById('progress');
            if (bar) window.progressSeen.push(bar.value);
        }).observe(document, {subtree: true, attributes: true, attributeFilter: ['value']});""")["identifier"]
    try:
        browser.call("Page.navigate", url=f"{base}/gzip/index.html")
        # While the slow file arrives, the progress bar is a progressbar with a
        # name and a value between its ends.
        browser.wait_for("document.getElementById('progress').value > 0", 30, "the first bytes")
        nodes = browser.call("Accessibility.getFullAXTree")["nodes"]
        bars = [n for n in nodes if n.get("role", {}).get("value") == "progressbar" and not n.get("ignored")]
        name = bars[0].get("name", {}).get("value", "") if bars else ""
        value = bars[0].get("value", {}).get("value", 0) if bars else 0
        results.check(
            len(bars) == 1 and name and 0 < value < 100,
            f"downloads: the progress is a progressbar named {name!r} at {value:.0f} % while loading",
        )
        browser.wait_for("!document.getElementById('play').disabled", 60, "Play after the compressed downloads")
        seen = browser.evaluate("window.progressSeen")
        # At 100 only once the last byte is in: its own report and the one
        # after all files are done.
        full = seen.index(100) if 100 in seen else len(seen)
        results.check(
            seen == sorted(seen) and len(set(seen[:full])) >= 10 and 1 <= len(seen) - full <= 2,
            f"downloads: compressed, without Content-Length, the bar rises through {len(set(seen[:full]))} "
            f"values below 100 %, then {len(seen) - full} at 100 %",
        )
    finally:
        browser.call("Page.removeScriptToEvaluateOnNewDocument", identifier=added)


class Site(http.server.ThreadingHTTPServer):
    """The built page on 127.0.0.1, served as a plain web server serves it,
    and two ways more, under a path prefix:
    - /gzip/: every file compressed (Content-Encoding: gzip); the .wasm files
      with the compressed size as Content-Length, the rest streamed slowly
      without one, as servers that compress on the fly send them;
    - /flaky/: the first request for tuhkala.data fails with 503."""

    daemon_threads = True

    def __init__(self, site):
        self.flaky_failed = False
        super().__init__(("127.0.0.1", 0), functools.partial(SiteHandler, directory=site))
        self.thread = threading.Thread(target=self.serve_forever, daemon=True)
        self.thread.start()

    def close(self):
        self.shutdown()
        self.server_close()


    def handle_error(self, request, client_address):
        # The page stops its other downloads when one fails: a reset
        # connection is expected, anything else is reported.
        if not isinstance(sys.exc_info()[1], (ConnectionResetError, BrokenPipeError)):
            super().handle_error(request, client_address)


class SiteHandler(http.server.SimpleHTTPRequestHandler):
    STREAM_CHUNK, STREAM_PAUSE = 32 * 1024, 0.03

    def log_message(self, *args):
        pass

    def do_GET(self):
        mode, _, rest = self.path.lstrip("/").partition("/")
        if mode not in ("gzip", "flaky"):
            return super().do_GET()
        self.path = "/" + rest
        if mode == "flaky":
            if rest.startswith("tuhkala.data") and not self.server.flaky_failed:
                self.server.flaky_failed = True
                return self.send_error(503, "Service Unavailable")
            return super().do_GET()
        path = self.translate_path(self.path)
        try:
            with open(path, "rb") as f:
                body = gzip.compress(f.read(), 6)
        except OSError:
            return self.send_error(404, "File not found")
        self.send_response(200)
        self.send_header("Content-Type", self.guess_type(path))
        self.send_header("Content-Encoding", "gzip")
        if path.endswith(".wasm"):
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        # HTTP/1.0 without a length: the body ends when the connection closes.
        self.end_headers()
        for at in range(0, len(body), self.STREAM_CHUNK):
            self.wfile.write(body[at : at + self.STREAM_CHUNK])
            self.wfile.flush()
            time.sleep(self.STREAM_PAUSE)


def check_download(site, results):
    """What a viewer downloads: no libopenmpt in the show's program (the
    worklet's own copy answers the page), and the size, raw and gzipped."""
    files = ["index.html", "show.js", "files.json", "tuhkala.js", "tuhkala.wasm", "tuhkala.data",
             "audio-worklet.js", "openmpt-worklet.js", "openmpt-worklet.wasm"]
    raw = packed = 0
    for name in files:
        data = open(os.path.join(site, name), "rb").read()
        raw += len(data)
        packed += len(gzip.compress(data, 9))
    program = open(os.path.join(site, "tuhkala.wasm"), "rb").read().count(b"libopenmpt")
    worklet = open(os.path.join(site, "openmpt-worklet.wasm"), "rb").read().count(b"libopenmpt")
    results.check(
        program == 0 and worklet > 0,
        f"download: 'libopenmpt' is named {program} times in tuhkala.wasm, {worklet} times in the worklet's renderer",
    )
    results.check(
        packed <= DOWNLOAD_GZIP_MOST,
        f"download: a viewer gets {raw / 1e6:.2f} MB, {packed / 1e6:.2f} MB gzipped "
        f"(at most {DOWNLOAD_GZIP_MOST / 1e6:.1f} MB)",
    )


# What a viewer's page may download at most, gzipped (bytes).
DOWNLOAD_GZIP_MOST = 2_200_000


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

    check_download(args.site, results)
    site = Site(args.site)
    # Chromium's helper processes (its audio service among them) may still
    # write to the profile for a moment after the browser was killed.
    profile = tempfile.TemporaryDirectory(ignore_cleanup_errors=True)
    browser = None
    try:
        base = f"http://127.0.0.1:{site.server_address[1]}"
        browser = Browser(args.chromium, profile.name)
        offline = None
        with results.case(browser, "test mode"):
            offline = test_mode(browser, base, args.golden, results, args.sheets)
        ran_in_front = []

        def in_front():
            # While the show plays in a hidden tab behind.
            ran_in_front.append(True)
            # The sound's failures are reported on the console as well.
            with results.case(browser, "sound", expected=[r"the audio worklet's renderer failed"]):
                sound_stops(browser, base, results)
                sound_start_failures(browser, base, results)
            with results.case(browser, "touch"):
                touch(browser, base, results)
            with results.case(browser, "missing capabilities"):
                missing_capabilities(browser, base, results)
            # The browser reports the failed request itself.
            with results.case(browser, "downloads", expected=[r"status of 503 .*tuhkala\.data"]):
                downloads(browser, base, results)

        with results.case(browser, "normal mode"):
            normal_mode(browser, base, results, offline, in_front)
        if not ran_in_front:  # normal mode stopped before it hid its page
            in_front()
    except Exception as error:  # a broken browser is a failed check, never a skip
        results.check(False, f"browser test stopped: {error}")
    finally:
        if browser:
            browser.close()
        site.close()
        profile.cleanup()
    print(f"{results.passed} passed, {results.failed} failed")
    return 0 if results.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
