// The page around the show: downloads the program, its media and the audio
// worklet's renderer with a progress bar, opens on a title card with one Play
// button (browsers start sound only after a gesture), starts the show on a
// fresh canvas, and offers to play again when it ends. The show itself (the
// shell's start-up and frame loop, every scene) runs in tuhkala.wasm.
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
    bar: document.getElementById('bar'),
    message: document.getElementById('message'),
    fullscreen: document.getElementById('fullscreen'),
};

// ---- Downloads -----------------------------------------------------------------

const FILES = ['tuhkala.wasm', 'tuhkala.data', 'openmpt-worklet.wasm'];
const files = {};

async function downloadAll(onProgress) {
    const sizes = {}, received = {};
    const report = () => {
        const total = FILES.reduce((sum, f) => sum + (sizes[f] || 0), 0);
        const got = FILES.reduce((sum, f) => sum + (received[f] || 0), 0);
        onProgress(got, total);
    };
    await Promise.all(FILES.map(async (name) => {
        const response = await fetch(name);
        if (!response.ok)
            throw new Error(`${name}: ${response.status} ${response.statusText}`);
        sizes[name] = Number(response.headers.get('Content-Length')) || 0;
        const reader = response.body.getReader();
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

// Every run gets a new canvas and a new instance of the program: the scenes
// play once, and their state lives in the instance.
function freshCanvas(width, height) {
    const old = document.getElementById('canvas');
    const canvas = document.createElement('canvas');
    canvas.id = 'canvas';
    canvas.width = width;
    canvas.height = height;
    if (old)
        old.replaceWith(canvas);
    else
        page.stage.prepend(canvas);
    return canvas;
}

function instance(extra) {
    printed.length = 0;
    return createTuhkala(Object.assign({
        wasmBinary: files['tuhkala.wasm'],
        getPreloadedPackage: () => files['tuhkala.data'],
        print: (line) => {
            printed.push(line);
            console.log(line);
        },
        printErr: (line) => console.warn(line),
        tuhkalaShowError: (caption, text) => showMessage(`${caption}: ${text}`),
    }, extra));
}

function showMessage(text) {
    page.message.textContent = text;
    page.message.hidden = false;
}

function showCard(label) {
    page.play.textContent = label;
    page.play.disabled = false;
    page.card.hidden = false;
    // Not after a show: the key that ended it must not press the button too.
    if (label === 'Play')
        page.play.focus();
}

async function play() {
    page.play.disabled = true;
    page.message.hidden = true;
    try {
        const audio = await openAudio();
        freshCanvas(640, 480);
        show = await instance({
            tuhkalaAudio: audio,
            tuhkalaShowEnded: () => {
                show = null;
                showCard('Play again');
            },
        });
        page.card.hidden = true;
        if (show._tuhkalaStartShow() !== 0) {
            audio.stop();
            showCard('Play again');
            return;
        }
        if (!(await audio.loaded)) {
            audio.stop();
            show = null;
            showMessage('The music could not be played.');
            showCard('Play again');
            return;
        }
        show._tuhkalaRunShow();
    } catch (error) {
        // A sound failure ends the program with its one line printed.
        showMessage(printed.length > 0 ? printed.join('\n') : error.message || String(error));
        showCard('Play again');
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

// ---- Page --------------------------------------------------------------------------

page.fullscreen.addEventListener('click', () => {
    if (document.fullscreenElement)
        document.exitFullscreen();
    else
        page.stage.requestFullscreen().catch(() => {});
});
page.play.addEventListener('click', play);

// What the browser test reads in normal mode.
window.tuhkalaPage = {
    state() {
        const position = show ? show._tuhkalaMusicPosition() : 0;
        return {
            running: show !== null,
            showMs: show ? show._tuhkalaShowTime() : 0,
            cardShown: !page.card.hidden,
            button: page.play.textContent,
            audioTime: audioContext ? audioContext.currentTime : 0,
            order: position & 0xffff,
            row: position >>> 16,
        };
    },
};

const testing = new URLSearchParams(location.search).has('test');
if (testing)
    window.tuhkalaTest = testMode;

downloadAll((got, total) => {
    page.bar.style.width = total > 0 ? `${Math.min(100, (100 * got) / total)}%` : '0%';
}).then(() => {
    page.progress.hidden = true;
    testMode.ready = true;
    if (!testing)
        showCard('Play');
}).catch((error) => {
    testMode.failed = String(error);
    showMessage(`The show could not be loaded: ${error.message}`);
});
