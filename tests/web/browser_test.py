#!/usr/bin/env python3
"""The browser build in a real headless Chromium.

Serves the built page (build-web/) on 127.0.0.1 and drives Chromium through
its DevTools protocol over a pipe, case by case:

- Normal mode (index.html), as a visitor meets it: the title card's flash
  warning and accessible names; the Play button (a real click) must start the
  sound, the heard order and row must advance and follow the show's clock as
  the offline render has them (lagging by no more than the output's
  latency); the browser's own keys must not end the show; then another tab
  is brought to the front for at least 10 s, which hides the page and stops
  its animation frames, and the cases below run there meanwhile; back in
  front, frameTime must be what it was before; a lost WebGL context must end
  the show with a message; Play again starts anew; a key ends the show
  without pressing the focused full-screen button.
- Test mode (index.html?test): the show runs by the capture program's
  virtual clock and offline music positions at 160x120 and 30 passes a
  second; the frame at each reference instant is read back and compared with
  the native reference frame (tests/golden/at-MS.png, instants in
  tests/golden/instants.txt). The browser draws with SwiftShader, the
  references come from Mesa's llvmpipe: the two rasterise and filter
  textures slightly differently, so frames match within a tolerance, not
  bit for bit (see TOLERANCE).
- Touch (touch emulation): the hint names the tap, and a tap ends the show.
- What is missing: without WebGL, and without an audio worklet, the page
  names what is missing before offering Play, and offers nothing to retry;
  without full screen it hides the full-screen button.
- Downloads: a download that fails offers a retry that works; served
  compressed and streamed without Content-Length, the progress bar (a real
  progressbar to assistive technology) counts what arrives up to 100 %.

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
    in_front() runs meanwhile; returns what it returns."""
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
        result = in_front()
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
    return result


def lost_context_ends_show(browser, results):
    browser.evaluate("document.getElementById('canvas').getContext('webgl')"
                     ".getExtension('WEBGL_lose_context').loseContext()")
    state = wait_state(browser, "!s.running && s.cardShown", 10, "the show to end after its context was lost")
    results.check(
        re.search(r"WebGL context was lost", state["message"]) and state["button"] == "Play again",
        f"normal mode: a lost WebGL context ends the show with a message ({state['message'][:60]!r}...) and "
        f"'{state['button']}'",
    )


def sample_sound(browser, results, first):
    """5 s of the sound after Play: the audio clock and the heard position
    move; returns the (show time, heard position) samples."""
    state = first
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
    return samples


def check_sync(results, samples, offline):
    """The heard positions sampled against the offline render's."""
    if not offline:
        return
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


def normal_mode(browser, base, results, in_front):
    """in_front() runs the other cases in a tab in front of the show, which
    hides its page meanwhile (at least 10 s); it returns the offline
    positions of the test mode."""
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

    samples = sample_sound(browser, results, start_show(browser))
    browser_keys_do_not_end(browser, results)
    offline = stall_keeps_speed(browser, results, in_front)
    check_sync(results, samples, offline)
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

    site = Site(args.site)
    profile = tempfile.TemporaryDirectory()
    browser = None
    try:
        base = f"http://127.0.0.1:{site.server_address[1]}"
        browser = Browser(args.chromium, profile.name)

        ran_in_front = []

        def in_front():
            # While the show plays in a hidden tab behind.
            ran_in_front.append(True)
            offline = None
            with results.case(browser, "test mode"):
                offline = test_mode(browser, base, args.golden, results, args.sheets)
            with results.case(browser, "touch"):
                touch(browser, base, results)
            with results.case(browser, "missing capabilities"):
                missing_capabilities(browser, base, results)
            # The browser reports the failed request itself.
            with results.case(browser, "downloads", expected=[r"status of 503 .*tuhkala\.data"]):
                downloads(browser, base, results)
            return offline

        with results.case(browser, "normal mode"):
            normal_mode(browser, base, results, in_front)
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
