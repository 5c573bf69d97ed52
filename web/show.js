// The page around the show: checks at once that the browser has what the show
// needs (WebGL, an audio worklet), downloads the program, its media and the
// audio worklet's renderer with a progress bar (and a retry when a download
// fails), opens on a title card with a flash warning and one Play button
// (browsers start sound only after a gesture), starts the show on a fresh
// canvas, ends it on a key or a tap, and offers to play again. The show itself
// (the shell's start-up and frame loop, every scene) runs in tuhkala.wasm.
//
// With ?test in the address the page instead offers window.tuhkalaTest, the
// show run by the capture program's virtual clock and offline music, for the
// browser test (tests/web/browser_test.py). That is a program of its own
// (tuhkala-test.js and .wasm, with the offline render's libopenmpt), which
// viewers never download.
'use strict';

const page = {
    stage: document.getElementById('stage'),
    card: document.getElementById('card'),
    play: document.getElementById('play'),
    progress: document.getElementById('progress'),
    message: document.getElementById('message'),
    hint: document.getElementById('hint'),
    fullscreen: document.getElementById('fullscreen'),
    paused: document.getElementById('paused'),
    pausedText: document.getElementById('paused-text'),
    resume: document.getElementById('resume'),
};

// ---- What the browser must have -------------------------------------------------

// What the show needs and this browser lacks, each as a sentence naming it and
// what to try; empty when nothing is missing. Checked before anything is
// downloaded: without these the show cannot run, however often it is tried.
function missingCapabilities() {
    const missing = [];
    const probe = document.createElement('canvas');
    const gl = probe.getContext('webgl');
    if (!gl) {
        missing.push('This browser gives the page no WebGL, which draws the picture. Try turning ' +
                      'on hardware (graphics) acceleration in the browser\'s settings, updating ' +
                      'the graphics driver, or another browser.');
    } else {
        // Browsers keep only a few contexts alive; give this one back at once.
        const lose = gl.getExtension('WEBGL_lose_context');
        if (lose)
            lose.loseContext();
    }
    if (typeof AudioWorkletNode !== 'function' || typeof AudioContext !== 'function') {
        missing.push(window.isSecureContext
            ? 'This browser has no audio worklet, which plays the music. Try a current version of ' +
              'Firefox, Chrome, Edge or Safari.'
            : 'This browser gives the page no audio worklet, which plays the music, because the ' +
              'page did not come over https. Try its https address, or serve it from this ' +
              'computer (http://localhost).');
    }
    return missing;
}

// ---- Downloads -----------------------------------------------------------------

const testing = new URLSearchParams(location.search).has('test');
// The program this page runs: its script and factory, its wasm and its
// preloaded media.
const program = testing
    ? {script: 'tuhkala-test.js', factory: 'createTuhkalaTest', wasm: 'tuhkala-test.wasm', data: 'tuhkala-test.data'}
    : {script: 'tuhkala.js', factory: 'createTuhkala', wasm: 'tuhkala.wasm', data: 'tuhkala.data'};
const FILES = testing ? [program.wasm, program.data] : [program.wasm, program.data, 'openmpt-worklet.wasm'];
// The files' sizes as built (files.json, written with them): the progress
// counts the bytes that arrive, which under a compressed transfer are more
// than its Content-Length, and a streamed transfer has no Content-Length.
const SIZES = 'files.json';
const files = {};

async function fetchOk(name, signal) {
    const response = await fetch(name, {signal});
    if (!response.ok)
        throw new Error(`${name}: ${response.status} ${response.statusText}`.trim());
    return response;
}

function loadScript(name) {
    return new Promise((resolve, reject) => {
        const script = document.createElement('script');
        script.src = name;
        script.onload = resolve;
        script.onerror = () => {
            script.remove();
            reject(new Error(`${name} could not be loaded`));
        };
        document.head.append(script);
    });
}

// Downloads what is not here yet; onProgress(bytes, total) as bytes arrive.
// On the first failure the other downloads stop, and a retry fetches only what
// is still missing.
async function downloadAll(onProgress) {
    const controller = new AbortController();
    const signal = controller.signal;
    try {
        if (typeof window[program.factory] !== 'function')
            await loadScript(program.script);
        const sizes = await (await fetchOk(SIZES, signal)).json();
        const received = {};
        const total = FILES.reduce((sum, name) => sum + (sizes[name] || 0), 0);
        const report = () => {
            const got = FILES.reduce((sum, f) => sum + (files[f] ? files[f].byteLength : received[f] || 0), 0);
            onProgress(got, Math.max(total, got));
        };
        report();
        await Promise.all(FILES.filter((name) => !files[name]).map(async (name) => {
            const reader = (await fetchOk(name, signal)).body.getReader();
            const chunks = [];
            received[name] = 0;
            for (;;) {
                const {done, value} = await reader.read();
                if (done)
                    break;
                chunks.push(value);
                received[name] += value.length;
                report();
            }
            const bytes = new Uint8Array(received[name]);
            let at = 0;
            for (const chunk of chunks) {
                bytes.set(chunk, at);
                at += chunk.length;
            }
            files[name] = bytes.buffer;
        }));
        report();
    } catch (error) {
        controller.abort();
        throw error;
    }
}

// ---- Sound -----------------------------------------------------------------------

// Output timestamps that put the heard time later than the context has
// rendered (by more than this many seconds: the main thread sees the
// context's time only as of its latest render) or more than OLDEST_HEARD_S
// behind it are not believed.
const AHEAD_OF_RENDER_S = 0.05;
const OLDEST_HEARD_S = 1.0;

// The context time (s) being heard at page time nowMs (performance.now()).
// The output timestamp says which context time the device played at which
// page time; from there the sound plays on in real time, either way (a
// timestamp may lie ahead of now). Where the browser gives none, or one that
// cannot be (against currentTime, the context's time as rendered), the heard
// time is currentTime less the output latency (s).
function heardContextTime(stamp, nowMs, currentTime, latency) {
    if (stamp && stamp.contextTime > 0 && stamp.performanceTime > 0) {
        const heard = stamp.contextTime + (nowMs - stamp.performanceTime) / 1000;
        if (heard <= currentTime + AHEAD_OF_RENDER_S && heard >= currentTime - OLDEST_HEARD_S)
            return heard;
    }
    return Math.max(0, currentTime - latency);
}

// What the sound is doing, as the page's program asks (web/main.cpp).
const SOUND_PLAYING = 0, SOUND_STOPPED = 1, SOUND_FAILED = 2;

// The page's side of the music: the worklet renders; this keeps where each
// order and row starts on the audio context's timeline and answers which one
// is being heard now. The scenes ask through the show's music layer
// (platform/web/module_player_web.cpp); the window's clock is the heard clock
// kept here (platform/web/platform_web.cpp).
class ShowAudio {
    constructor(context, node) {
        this.context = context;
        this.node = node;
        this.starts = []; // {frame, word}, oldest first
        this.heardWord = 0;
        this.generation = 0;
        this.jumpFrame = null; // first frame of the latest jump, once rendered
        this.knownTo = 0; // the positions of frames before this one are known
        this.startPending = false;
        this.soundings = []; // {generation, frame}: where each output began
        this.heard = 0; // the heard clock (s of context time), never going back
        this.failure = null; // why the sound failed for good
        this.onFailure = null; // told once when it does
        this.onStateChange = null; // told when the context stops or goes on
        this.checked = null; // {bytes, orders}: the worklet's answer for a file
        this.settleCheck = null;
        node.port.onmessage = (event) => this.receive(event.data);
        node.onprocessorerror = () => this.fail('the audio worklet stopped with an error');
        this.stateListener = () => {
            if (this.context.state === 'closed')
                this.fail('the browser closed the sound output');
            else if (this.onStateChange)
                this.onStateChange(this.context.state);
        };
        context.addEventListener('statechange', this.stateListener);
    }

    receive(message) {
        if (message.type === 'positions' && message.generation === this.generation) {
            if (this.jumpFrame === null && message.starts.length > 0)
                this.jumpFrame = message.starts[0].frame;
            this.starts.push(...message.starts);
            this.knownTo = message.to;
        } else if (message.type === 'sounding') {
            this.soundings.push({generation: message.generation, frame: message.frame});
        } else if (message.type === 'loaded') {
            if (this.settleCheck)
                this.settleCheck(message.ok ? message.orders : 0);
        } else if (message.type === 'error') {
            this.fail(`the audio worklet's renderer failed: ${message.text}`);
        }
    }

    fail(text) {
        if (this.failure)
            return;
        this.failure = text;
        console.error(text);
        if (this.settleCheck)
            this.settleCheck(0);
        if (this.onFailure)
            this.onFailure(text);
    }

    // Hands the module file to the worklet, which loads it to play and
    // answers with its orders (0 when it cannot play it).
    check(bytes) {
        return new Promise((resolve) => {
            if (this.failure) {
                resolve(0);
                return;
            }
            this.settleCheck = (orders) => {
                this.settleCheck = null;
                this.checked = {bytes, orders};
                resolve(orders);
            };
            this.node.port.postMessage({type: 'load', bytes: bytes.slice()});
        });
    }

    // The worklet's orders for a file of exactly these bytes; 0 when it
    // refused it or was never given it.
    loadedOrders(bytes) {
        const c = this.checked;
        if (!c || c.bytes.length !== bytes.length)
            return 0;
        for (let i = 0; i < bytes.length; ++i) {
            if (c.bytes[i] !== bytes[i])
                return 0;
        }
        return c.orders;
    }

    ready() {
        return this.context.state === 'running' && !this.failure;
    }

    state() {
        if (this.failure)
            return SOUND_FAILED;
        return this.context.state === 'running' ? SOUND_PLAYING : SOUND_STOPPED;
    }

    // The heard clock: the context time being heard now (s). It stands still
    // while the context does not run, and never goes back (a fresh output
    // timestamp may put it a little behind the previous reading).
    heardTime() {
        const c = this.context;
        if (c.state === 'running') {
            const latency = (c.baseLatency || 0) + (c.outputLatency || 0);
            const heard = heardContextTime(c.getOutputTimestamp(), performance.now(), c.currentTime, latency);
            this.heard = Math.max(this.heard, heard);
        }
        return this.heard;
    }

    // The window's clock: the heard clock in milliseconds.
    clockMs() {
        return this.heardTime() * 1000;
    }

    position() {
        const heard = this.heardTime() * this.context.sampleRate;
        while (this.starts.length > 0 && this.starts[0].frame <= heard)
            this.heardWord = this.starts.shift().word;
        return this.heardWord;
    }

    // The position to be heard ms from now: what a frame drawn now shows
    // when the browser puts it on the screen. No further than the worklet's
    // reports go; aheadKnown says whether they went that far.
    positionAhead(ms) {
        let word = this.position();
        const at = this.frameAhead(ms);
        for (const start of this.starts) {
            if (start.frame > at || start.frame >= this.knownTo)
                break;
            word = start.word;
        }
        return word;
    }
    aheadKnown(ms) {
        return this.frameAhead(ms) < this.knownTo;
    }
    // The frame of the audio context heard ms from now.
    frameAhead(ms) {
        return (this.heardTime() + ms / 1000) * this.context.sampleRate;
    }

    // Whether the worklet's reports have reached the page up to the frame
    // heard now. A main thread kept busy for longer than the worklet renders
    // ahead gets them late (they wait behind its tasks), and the position it
    // answers until then is an older one.
    positionKnown() {
        return this.heardTime() * this.context.sampleRate < this.knownTo;
    }

    // Milliseconds of the heard clock until the first frame after the latest
    // jump is heard; 0 or less once it has been (minus how long ago); 0
    // before any jump.
    msUntilHeard() {
        if (this.generation === 0)
            return 0;
        const nowMs = Math.floor(this.clockMs());
        if (this.jumpFrame === null) {
            // Not rendered yet: no sooner than the context's next render,
            // heard one output latency after it.
            const c = this.context;
            const latency = (c.baseLatency || 0) + (c.outputLatency || 0);
            return Math.max(1, Math.ceil((c.currentTime + latency) * 1000) - nowMs);
        }
        return Math.round((this.jumpFrame * 1000) / this.context.sampleRate) - nowMs;
    }

    // The start goes to the worklet together with the rewind that the show's
    // start-up makes in the same task (web/main.cpp), as one message: were
    // they two, the worklet could play a few render quanta in between, to be
    // heard again after the rewind. Without a rewind by the end of the task
    // the module plays on from where it is.
    play() {
        this.startPending = true;
        queueMicrotask(() => {
            if (this.startPending) {
                this.startPending = false;
                this.node.port.postMessage({type: 'play'});
            }
        });
    }
    setGain(millibel) {
        this.node.port.postMessage({type: 'gain', millibel});
    }
    // A jump is reported from now on; what the worklet rendered before it and
    // reports later belongs to an older generation and is dropped.
    setOrder(order) {
        this.position();
        this.generation += 1;
        this.starts = [];
        this.jumpFrame = null;
        this.knownTo = 0;
        this.heardWord = order & 0xffff;
        const type = this.startPending ? 'start' : 'order';
        this.startPending = false;
        this.node.port.postMessage({type, order, generation: this.generation});
    }
    stop() {
        this.startPending = false;
        this.onFailure = null;
        this.onStateChange = null;
        this.context.removeEventListener('statechange', this.stateListener);
        this.node.port.postMessage({type: 'stop'});
        this.node.disconnect();
    }
}

let audioContext = null;
let workletLoaded = false;

async function openAudio() {
    if (!window.AudioWorkletNode)
        throw new Error('This browser gives this page no audio worklet, which the music needs ' +
                        '(a page must come over https, or from this computer).');
    if (!audioContext)
        audioContext = new AudioContext({sampleRate: 44100, latencyHint: 'interactive'});
    await audioContext.resume();
    if (!workletLoaded) {
        await audioContext.audioWorklet.addModule('audio-worklet.js');
        workletLoaded = true;
    }
    const node = new AudioWorkletNode(audioContext, 'tuhkala-player', {
        numberOfInputs: 0,
        numberOfOutputs: 1,
        outputChannelCount: [1],
        processorOptions: {wasm: files['openmpt-worklet.wasm']},
    });
    node.connect(audioContext.destination);
    return new ShowAudio(audioContext, node);
}

// While the browser holds the sound back (suspended it, or an interruption
// such as a call), the show waits with it and the page says so; the viewer
// may resume it. An interruption ends by itself, and the show goes on.
function soundStateChanged(state) {
    if (state === 'running') {
        page.paused.hidden = true;
        return;
    }
    page.pausedText.textContent = state === 'interrupted'
        ? 'The sound was interrupted (by a call or another program). The show waits and goes on with it.'
        : 'The browser stopped the sound. The show waits for it.';
    page.paused.hidden = false;
}

// ---- The show ----------------------------------------------------------------------

let show = null; // the running instance
const printed = [];
// What went wrong in the current run, in the program's words: its message
// boxes, and the reason the browser gave no WebGL context.
const failure = {caption: '', text: '', context: ''};

const CANVAS_LABEL = 'The show: 3D models, pictures, flashes and fades moving to the music';

// Every run gets a new canvas and a new instance of the program: the scenes
// play once, and their state lives in the instance.
function freshCanvas(width, height) {
    const old = document.getElementById('canvas');
    const canvas = document.createElement('canvas');
    canvas.id = 'canvas';
    canvas.width = width;
    canvas.height = height;
    canvas.setAttribute('role', 'img');
    canvas.setAttribute('aria-label', CANVAS_LABEL);
    if (old)
        old.replaceWith(canvas);
    else
        page.stage.prepend(canvas);
    return canvas;
}

function instance(extra) {
    printed.length = 0;
    failure.caption = failure.text = failure.context = '';
    return window[program.factory](Object.assign({
        wasmBinary: files[program.wasm],
        getPreloadedPackage: () => files[program.data],
        print: (line) => {
            printed.push(line);
            console.log(line);
        },
        printErr: (line) => console.warn(line),
        tuhkalaShowError: (caption, text) => {
            failure.caption = caption;
            failure.text = text;
            showMessage(`${caption}: ${text}`);
        },
        tuhkalaContextFailed: (reason) => {
            failure.context = reason;
        },
    }, extra));
}

function showMessage(text) {
    page.message.textContent = text;
}

// The title card with its button doing action under label; no label: no
// button, for a failure that trying again would only repeat.
function showCard(label, action) {
    page.card.hidden = false;
    page.fullscreen.tabIndex = 0;
    page.play.hidden = !label;
    page.play.disabled = !label;
    page.play.textContent = label || '';
    page.play.onclick = action || null;
    // Only when the page opens: after a show the key that ended it must not
    // press the button too.
    if (label === 'Play')
        page.play.focus();
}

// The program's own message after a start-up that failed, in plain words.
function startFailure() {
    if (failure.context) {
        return `The picture could not be drawn: ${failure.context}. Try turning on hardware ` +
               '(graphics) acceleration in the browser\'s settings, closing other pages that ' +
               'draw in 3D, or another browser.';
    }
    if (failure.caption)
        return `The show could not start. ${failure.caption}: ${failure.text}`;
    return 'The show could not start.';
}

// The show ends of itself, on a key or a tap, or when its picture is lost.
function showEnded() {
    show = null;
    page.paused.hidden = true;
    showCard('Play again', play);
}

// The browser can take the WebGL context away at any time (a reset or update
// of the graphics driver, too many pages drawing in 3D). Drawing then stops
// for good, and the show ends with a word of why rather than a frozen picture
// over the music.
function watchContext(canvas) {
    canvas.addEventListener('webglcontextlost', () => {
        if (!show)
            return;
        showMessage('The browser took the picture away (its WebGL context was lost: the ' +
                    'graphics driver was reset, or too many pages draw in 3D), so the show ' +
                    'stopped. Play again to start it over.');
        show._tuhkalaEndShow();
    });
}

let audio = null; // the running show's sound

async function play() {
    page.play.disabled = true;
    showMessage('');
    // A sound that cannot be opened fails the show's start-up with the
    // program's own line ("Error(23): Can't initialize device"), the
    // browser's reason after it.
    let soundProblem = null;
    audio = null;
    try {
        audio = await openAudio();
    } catch (error) {
        soundProblem = error.message || String(error);
    }
    try {
        watchContext(freshCanvas(640, 480));
        show = await instance({tuhkalaAudio: audio, tuhkalaShowEnded: showEnded});
        if (audio) {
            // The worklet answers whether it can play the module only
            // asynchronously; the start-up asks synchronously (musicInit).
            const size = show._tuhkalaReadMusic();
            if (size >= 0) {
                const at = show._tuhkalaMusicBytes();
                await audio.check(show.HEAPU8.slice(at, at + size));
            }
            soundProblem = audio.failure;
            audio.onFailure = (text) => showMessage(`The music stopped, and so did the show: ${text}`);
            audio.onStateChange = soundStateChanged;
        }
        page.card.hidden = true;
        // Keys end the show: the full-screen button must not take one.
        page.fullscreen.tabIndex = -1;
        page.fullscreen.blur();
        if (show._tuhkalaStartShow() !== 0) {
            if (audio)
                audio.stop();
            show = null;
            showMessage(printed.length > 0 ? printed.join('\n') : startFailure());
            // A sound device that could not be opened may be free next time;
            // a missing picture or a broken program stays so.
            if (printed.length > 0)
                showCard('Try again', play);
            else
                showCard(null);
            return;
        }
        // In the same task as the start-up: the start and the rewind to
        // order 0 are one message to the worklet (ShowAudio.play).
        show._tuhkalaRunShow();
    } catch (error) {
        // A sound failure ends the program with its one line printed. A sound
        // device that could not be opened may be free next time; a module
        // that cannot be played stays so.
        if (audio)
            audio.stop();
        show = null;
        const lines = printed.length > 0 ? printed.slice() : [error.message || String(error)];
        if (soundProblem)
            lines.push(`(${soundProblem})`);
        showMessage(lines.join('\n'));
        if (printed.some((line) => line.endsWith("Can't play the file")))
            showCard(null);
        else
            showCard('Try again', play);
    }
}

// ---- Test mode --------------------------------------------------------------------

function base64(bytes) {
    let text = '';
    for (let i = 0; i < bytes.length; i += 0x8000)
        text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
    return btoa(text);
}

const testMode = {
    ready: false,
    failed: null,
    width: 0,
    height: 0,
    async start(width, height, fps) {
        freshCanvas(width, height);
        show = await instance({});
        this.width = width;
        this.height = height;
        return show._tuhkalaStartTest(width, height, fps);
    },
    // Runs passes until endPass are done; with finish, each pass waits for
    // its frame to be drawn (for timing). Returns the passes done and the time.
    run(endPass, finish) {
        const start = performance.now();
        const done = show._tuhkalaTestRunTo(endPass, finish ? 1 : 0);
        return {done, ms: performance.now() - start};
    },
    frame() {
        const at = show._tuhkalaTestFrame();
        return base64(show.HEAPU8.subarray(at, at + this.width * this.height * 3));
    },
    // Offline positions (order in bits 0-15, row in 16-31) at the given times.
    positions(times) {
        return times.map((ms) => show._tuhkalaTestPosition(ms));
    },
};

// ---- Full screen, keys and taps ----------------------------------------------------

const fullscreen = {
    available: Boolean(document.fullscreenEnabled || document.webkitFullscreenEnabled),
    active: () => document.fullscreenElement || document.webkitFullscreenElement,
    enter(element) {
        // Older Safari has only the prefixed call, which returns nothing.
        const request = element.requestFullscreen || element.webkitRequestFullscreen;
        return Promise.resolve(request.call(element));
    },
    exit() {
        const exit = document.exitFullscreen || document.webkitExitFullscreen;
        return Promise.resolve(exit.call(document));
    },
};

// Where a page cannot be shown full screen (a phone's browser, a frame that
// does not allow it) the button is not offered at all.
page.fullscreen.hidden = !fullscreen.available;
page.fullscreen.addEventListener('click', (event) => {
    page.fullscreen.blur();
    // A key that ends the show must not also toggle full screen (a button
    // pressed by a key reports no pointer detail).
    if (show && event.detail === 0)
        return;
    if (fullscreen.active()) {
        fullscreen.exit().catch((error) => console.warn(`full screen did not end: ${error.message || error}`));
        return;
    }
    // Refused (a frame that does not allow it, a browser's setting): the
    // button goes, rather than staying to fail again.
    fullscreen.enter(page.stage).catch((error) => {
        page.fullscreen.hidden = true;
        console.warn(`full screen was refused: ${error.message || error}`);
    });
});

// The hint names what ends the show here: keys (the program ignores the
// browser's and the system's own: function keys, Tab, modifiers, media keys),
// a tap on the picture where there is a touch screen.
function endHint() {
    const touch = navigator.maxTouchPoints > 0;
    const keys = !touch || window.matchMedia('(any-pointer: fine)').matches;
    if (touch && !keys)
        return 'Sound on. A tap on the picture ends the show.';
    if (touch)
        return 'Sound on. A key or a tap on the picture ends the show.';
    return 'Sound on. A key ends the show.';
}
page.hint.textContent = endHint();

// The sound's Resume button lies over the picture, where a tap ends the show:
// its taps are its own.
page.resume.addEventListener('touchend', (event) => event.stopPropagation());
page.resume.addEventListener('click', () => {
    if (audioContext)
        audioContext.resume().catch((error) => console.warn(`the sound could not be resumed: ${error}`));
});

// ---- Page --------------------------------------------------------------------------

// What the browser test reads in normal mode.
window.tuhkalaPage = {
    state() {
        const position = show ? show._tuhkalaMusicPosition() : 0;
        const leadMs = show ? show._tuhkalaLeadMs() : 0;
        const ahead = show ? show._tuhkalaMusicPositionAhead() : 0;
        return {
            running: show !== null,
            showMs: show ? show._tuhkalaShowTime() : 0,
            frameTime: show ? show._tuhkalaFrameTime() : 0,
            framesCounted: show ? show._tuhkalaFrameCount() : 0,
            cardShown: !page.card.hidden,
            button: page.play.hidden ? null : page.play.textContent,
            message: page.message.textContent,
            pausedShown: !page.paused.hidden,
            audioTime: audioContext ? audioContext.currentTime : 0,
            audioState: audioContext ? audioContext.state : 'none',
            soundings: audio ? audio.soundings : [],
            // After reading the position: whether it was up to date.
            positionKnown: audio ? audio.positionKnown() : false,
            order: position & 0xffff,
            row: position >>> 16,
            // What the latest pass drew ahead (ms), and the position that far
            // ahead, which the scenes read; whether it was known.
            leadMs,
            aheadKnown: audio ? audio.aheadKnown(leadMs) : false,
            aheadOrder: ahead & 0xffff,
            aheadRow: ahead >>> 16,
        };
    },
    // The running show's sound (ShowAudio), for the test's sound cases.
    sound() {
        return audio;
    },
};

if (testing)
    window.tuhkalaTest = testMode;

function setProgress(got, total) {
    const percent = total > 0 ? Math.min(100, (100 * got) / total) : 0;
    page.progress.value = percent;
}

function load() {
    page.progress.hidden = false;
    page.play.hidden = false;
    page.play.disabled = true;
    page.play.textContent = 'Loading…';
    downloadAll(setProgress).then(() => {
        page.progress.hidden = true;
        showMessage('');
        testMode.ready = true;
        if (!testing)
            showCard('Play', play);
    }).catch((error) => {
        testMode.failed = String(error);
        page.progress.hidden = true;
        showMessage(`The show could not be downloaded: ${error.message || error}. Check the ` +
                    'connection and try again.');
        showCard('Try again', load);
    });
}

const missing = testing ? [] : missingCapabilities();
if (missing.length > 0) {
    page.progress.hidden = true;
    showMessage(missing.join('\n'));
    showCard(null);
} else {
    load();
}
