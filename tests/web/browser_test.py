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
   the sound must begin once, with the rewind to order 0; the audio clock
   must run, the heard order and row must advance and follow the show's
   clock as the offline render has them, by one lag near zero for the whole
   run (the schedule starts when order 0 is heard); a suspended sound must be
   announced, hold the show and, resumed, keep the lag; a key press must end
   the show (also while the sound is suspended) and bring back the card with
   "Play again", which starts the show anew; a failing worklet must stop the
   show with a message. Before all that, the viewers' download is checked:
   no libopenmpt in the show's program, and its gzipped size.

Prints the worst difference per scene and the frame times, and ends with one
line "N passed, N failed". Exit status 0 only when every check passed.
Nothing is skipped: a missing browser, page or reference is a failure.
"""
import argparse
import base64
import fcntl
import gzip
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
    busy for longer than the worklet renders ahead, on a loaded machine)."""
    samples, late = [], []
    started = time.monotonic()
    while True:
        elapsed = time.monotonic() - started
        if elapsed > 2 * seconds or (elapsed > seconds and len(samples) >= SYNC_SAMPLES):
            break
        s = browser.evaluate("tuhkalaPage.state()")
        if s["running"] and 500 <= s["showMs"] < SYNC_MS:
            reading = (s["showMs"], s["order"] | s["row"] << 16)
            (samples if s["positionKnown"] else late).append(reading)
    return samples, late


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


def click(browser, element_id):
    """A real click in the middle of the element: a gesture, as a person's."""
    box = browser.evaluate(
        f"(() => {{ const r = document.getElementById('{element_id}').getBoundingClientRect();"
        " return {x: r.x + r.width / 2, y: r.y + r.height / 2}; })()"
    )
    for kind in ("mousePressed", "mouseReleased"):
        browser.call("Input.dispatchMouseEvent", type=kind, x=box["x"], y=box["y"], button="left", clickCount=1)


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


def normal_mode(browser, base, results, offline):
    browser.call("Page.navigate", url=f"{base}/index.html")
    browser.wait_for("!window.tuhkalaTest && !document.getElementById('play').disabled", 60, "the Play button")
    check_heard_arithmetic(browser, results)
    # A real click: the browser starts sound only after a gesture.
    click(browser, "play")
    state = browser.wait_for(
        "(() => { const s = tuhkalaPage.state(); return s.running && !s.cardShown && s.showMs > 0 ? s : null; })()",
        30,
        "the show to start after Play",
    )
    first = state
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
    spans = word_spans(offline) if offline else {}
    lag = check_sync(results, spans, sampled, "playing") if offline else None

    # The browser suspends the sound: the page says so, the show waits, and
    # after Resume the schedule and the position go on together.
    browser.evaluate("audioContext.suspend()")
    held = browser.wait_for(
        "(() => { const s = tuhkalaPage.state(); return s.pausedShown ? s : null; })()", 10, "the page to say the sound stopped"
    )
    time.sleep(1.0)
    still = browser.evaluate("tuhkalaPage.state()")
    results.check(
        still["running"] and still["showMs"] == held["showMs"] and still["audioState"] == "suspended",
        f"normal mode: while the sound is suspended the page says so "
        f"('{browser.evaluate('page.pausedText.textContent')}') and the show waits "
        f"(show time {held['showMs']} ms, a second later {still['showMs']} ms)",
    )
    click(browser, "resume")
    browser.wait_for(
        "(() => { const s = tuhkalaPage.state(); return s.audioState === 'running' && !s.pausedShown ? s : null; })()",
        10,
        "the sound to resume",
    )
    if offline:
        after = check_sync(results, spans, sample_sync(browser, 3.0), "after a suspension")
        results.check(
            lag is not None and after is not None and abs(after - lag) <= SYNC_RESUMED_MS,
            f"normal mode: suspended for a second and resumed, the lag is {after} ms, {lag} ms before "
            f"(at most {SYNC_RESUMED_MS} ms apart)",
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
    click(browser, "play")
    state = browser.wait_for(
        "(() => { const s = tuhkalaPage.state(); return s.running && !s.cardShown && s.showMs > 0 ? s : null; })()",
        30,
        "the show to start again",
    )
    results.check(state["showMs"] < 10000, f"normal mode: Play again starts the show anew (at {state['showMs']} ms)")
    # While the sound is suspended no pass runs, but a key still ends the show.
    browser.evaluate("audioContext.suspend()")
    browser.wait_for("tuhkalaPage.state().pausedShown", 10, "the page to say the sound stopped")
    for kind in ("keyDown", "keyUp"):
        browser.call("Input.dispatchKeyEvent", type=kind, key="a", code="KeyA", windowsVirtualKeyCode=65)
    state = browser.wait_for(
        "(() => { const s = tuhkalaPage.state(); return !s.running && s.cardShown ? s : null; })()",
        10,
        "the show to end after a key while the sound was suspended",
    )
    results.check(not state["pausedShown"], "normal mode: a key ends the show while the sound is suspended")

    # Once more, for a renderer that fails while it plays (here on a file
    # message without its bytes): the show stops and the visitor is told.
    click(browser, "play")
    browser.wait_for("(() => { const s = tuhkalaPage.state(); return s.running && s.showMs > 0; })()", 30,
                     "the show to start a third time")
    browser.evaluate("tuhkalaPage.sound().node.port.postMessage({type: 'load', bytes: null})")
    state = browser.wait_for(
        "(() => { const s = tuhkalaPage.state(); return !s.running && s.cardShown ? s : null; })()",
        10,
        "the show to stop after the worklet failed",
    )
    results.check(
        state["message"].startswith("The music stopped, and so did the show:") and state["button"] == "Play again",
        f"normal mode: a failing worklet stops the show with a message ('{state['message'][:90]}…')",
    )


def start_failures(browser, base, results):
    """A sound that cannot start fails the show's start-up with the show's own
    line, as natively, and the browser's reason after it."""
    cases = [
        # A damaged download of the worklet's renderer: it cannot start.
        ("files['openmpt-worklet.wasm'] = new Uint8Array(64).buffer",
         "Error(23): Can't initialize device", "a renderer that cannot start"),
        # The worklet is handed a file that is no module (the first bytes
        # only): it refuses it, and the show's module is not loaded.
        ("(() => { const check = ShowAudio.prototype.check;"
         " ShowAudio.prototype.check = function (bytes) { return check.call(this, bytes.subarray(0, 16)); }; })()",
         "Error(41): Can't play the file", "a module the worklet refuses"),
    ]
    for inject, line, what in cases:
        browser.call("Page.navigate", url=f"{base}/index.html")
        browser.wait_for("!window.tuhkalaTest && !document.getElementById('play').disabled", 60, "the Play button")
        browser.evaluate(inject)
        click(browser, "play")
        state = browser.wait_for(
            "(() => { const s = tuhkalaPage.state(); return !s.running && s.cardShown && s.message ? s : null; })()",
            30,
            f"the start-up to fail with {what}",
        )
        lines = state["message"].split("\n")
        results.check(
            lines[0] == line and state["button"] == "Play again",
            f"normal mode, {what}: the page says {lines}",
        )


def check_download(site, results):
    """What a viewer downloads: no libopenmpt in the show's program (the
    worklet's own copy answers the page), and the size, raw and gzipped."""
    files = ["index.html", "show.js", "tuhkala.js", "tuhkala.wasm", "tuhkala.data",
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

    port = free_port()
    server = subprocess.Popen(
        [sys.executable, "-m", "http.server", str(port), "--bind", "127.0.0.1", "--directory", args.site],
        stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL,
    )
    # Chromium's helper processes (its audio service among them) may still
    # write to the profile for a moment after the browser was killed.
    profile = tempfile.TemporaryDirectory(ignore_cleanup_errors=True)
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
        check_download(args.site, results)
        browser = Browser(args.chromium, profile.name)
        started = time.monotonic()
        offline = test_mode(browser, base, args.golden, results, args.sheets)
        print(f"test mode took {time.monotonic() - started:.1f} s")
        normal_mode(browser, base, results, offline)
        start_failures(browser, base, results)
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
