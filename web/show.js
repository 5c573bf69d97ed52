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
// browser test (tests/web/browser_test.py).
'use strict';

const page = {
    stage: document.getElementById('stage'),
    card: document.getElementById('card'),
    play: document.getElementById('play'),
    progress: document.getElementById('progress'),
    message: document.getElementById('message'),
    hint: document.getElementById('hint'),
    fullscreen: document.getElementById('fullscreen'),
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

const PROGRAM = 'tuhkala.js';
const FILES = ['tuhkala.wasm', 'tuhkala.data', 'openmpt-worklet.wasm'];
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
        if (typeof createTuhkala !== 'function')
            await loadScript(PROGRAM);
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

// The page's side of the music: the worklet renders; this keeps where each
// order and row starts on the audio context's timeline and answers which one
// is being heard now. The scenes ask through the show's music layer
// (platform/web/module_player_web.cpp).
class ShowAudio {
    constructor(context, node) {
        this.context = context;
        this.node = node;
        this.starts = []; // {frame, word}, oldest first
        this.heardWord = 0;
        this.generation = 0;
        // Whether the worklet could load the module, once it has tried.
        this.loaded = new Promise((resolve) => {
            this.settleLoad = resolve;
        });
        node.port.onmessage = (event) => this.receive(event.data);
    }

    receive(message) {
        if (message.type === 'position' && message.generation === this.generation) {
            this.starts.push({frame: message.frame, word: message.word});
        } else if (message.type === 'loaded') {
            this.settleLoad(message.ok);
        } else if (message.type === 'error') {
            console.error(`the audio worklet's renderer did not start: ${message.text}`);
            this.settleLoad(false);
        }
    }

    ready() {
        return this.context.state === 'running';
    }

    // The output frame being heard: the output timestamp says which frame the
    // device played at which moment; from there it plays on in real time.
    heardFrame() {
        const rate = this.context.sampleRate;
        const stamp = this.context.getOutputTimestamp();
        if (stamp.contextTime > 0 && stamp.performanceTime > 0) {
            const since = Math.max(0, performance.now() - stamp.performanceTime) / 1000;
            return (stamp.contextTime + since) * rate;
        }
        const latency = (this.context.baseLatency || 0) + (this.context.outputLatency || 0);
        return Math.max(0, this.context.currentTime - latency) * rate;
    }

    position() {
        const heard = this.heardFrame();
        while (this.starts.length > 0 && this.starts[0].frame <= heard)
            this.heardWord = this.starts.shift().word;
        return this.heardWord;
    }

    load(bytes) {
        this.node.port.postMessage({type: 'load', bytes}, [bytes.buffer]);
    }
    play() {
        this.node.port.postMessage({type: 'play'});
    }
    setGain(millibel) {
        this.node.port.postMessage({type: 'gain', millibel});
    }
    // A jump is heard from now on; what the worklet rendered before it and
    // reports later belongs to an older generation and is dropped.
    setOrder(order) {
        this.position();
        this.generation += 1;
        this.starts = [];
        this.heardWord = order & 0xffff;
        this.node.port.postMessage({type: 'order', order, generation: this.generation});
    }
    stop() {
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
    node.onprocessorerror = () => console.error('the audio worklet stopped with an error');
    node.connect(audioContext.destination);
    return new ShowAudio(audioContext, node);
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
    return createTuhkala(Object.assign({
        wasmBinary: files['tuhkala.wasm'],
        getPreloadedPackage: () => files['tuhkala.data'],
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

async function play() {
    page.play.disabled = true;
    showMessage('');
    let audio = null;
    try {
        audio = await openAudio();
    } catch (error) {
        // Sound can fail to start for a while (the device busy, the browser's
        // policy): worth another try.
        showMessage(`The sound could not start: ${error.message || String(error)}`);
        showCard('Try again', play);
        return;
    }
    try {
        watchContext(freshCanvas(640, 480));
        show = await instance({tuhkalaAudio: audio, tuhkalaShowEnded: showEnded});
        page.card.hidden = true;
        // Keys end the show: the full-screen button must not take one.
        page.fullscreen.tabIndex = -1;
        page.fullscreen.blur();
        if (show._tuhkalaStartShow() !== 0) {
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
        if (!(await audio.loaded)) {
            audio.stop();
            show = null;
            showMessage('The music could not be played: the audio worklet could not load the ' +
                        'module. Reloading the page may help.');
            showCard(null);
            return;
        }
        show._tuhkalaRunShow();
    } catch (error) {
        // A sound failure ends the program with its one line printed.
        if (audio)
            audio.stop();
        show = null;
        showMessage(printed.length > 0 ? printed.join('\n') : error.message || String(error));
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

// ---- Page --------------------------------------------------------------------------

// What the browser test reads in normal mode.
window.tuhkalaPage = {
    state() {
        const position = show ? show._tuhkalaMusicPosition() : 0;
        return {
            running: show !== null,
            showMs: show ? show._tuhkalaShowTime() : 0,
            frameTime: show ? show._tuhkalaFrameTime() : 0,
            framesCounted: show ? show._tuhkalaFrameCount() : 0,
            cardShown: !page.card.hidden,
            button: page.play.hidden ? null : page.play.textContent,
            message: page.message.textContent,
            audioTime: audioContext ? audioContext.currentTime : 0,
            order: position & 0xffff,
            row: position >>> 16,
        };
    },
};

const testing = new URLSearchParams(location.search).has('test');
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
