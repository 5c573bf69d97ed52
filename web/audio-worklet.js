// The show's music on the browser's audio thread: libopenmpt (openmpt-worklet.js
// and its wasm, built from platform/web/worklet_player.cpp) renders the module half a
// second ahead of the output into a ring, and reports to the page at which
// output frame each new order and row starts, so that the page can tell which
// one is being heard. Rendering ahead does not delay the sound (each frame is
// output at its own time); it tells the page of each position long before it
// is heard, so a page busy drawing for a while still knows where the music is.
//
// Messages from the page: {type: 'load', bytes}, {type: 'play'}, {type: 'gain',
// millibel}, {type: 'order', order, generation}, {type: 'stop'}.
// To the page: {type: 'loaded', ok}, {type: 'position', frame, word, generation},
// {type: 'error', text} when the renderer could not start.
// Frames count on the audio context's timeline (currentFrame); a position
// word holds the order in bits 0-15 and the row in 16-31.
import createPlayer from './openmpt-worklet.js';

// A worklet's global scope has neither a clock of the page's kind nor a random
// source, and the library reads both while it loads a module (the clock for
// timing, the random source to seed its generator).
if (typeof globalThis.performance === 'undefined')
    globalThis.performance = {now: () => Date.now()};
if (typeof globalThis.crypto === 'undefined') {
    globalThis.crypto = {
        getRandomValues(array) {
            for (let i = 0; i < array.length; ++i)
                array[i] = Math.floor(Math.random() * 256);
            return array;
        },
    };
}

const AHEAD_SECONDS = 0.5;
const RING_FRAMES = 1 << 16; // more than AHEAD_SECONDS at any rate up to 96 kHz
const MOST_PER_QUANTUM = 2048; // rendered at most per call, to keep each call short

class TuhkalaPlayer extends AudioWorkletProcessor {
    constructor(options) {
        super();
        this.playing = false;
        this.stopped = false;
        this.generation = 0;
        this.lastWord = -1;
        this.ring = new Float32Array(RING_FRAMES);
        this.renderedTo = -1; // frames before this one are in the ring; -1: start anew
        this.ahead = Math.ceil(AHEAD_SECONDS * sampleRate);
        this.pending = [];
        this.player = null;
        this.port.onmessage = (event) => {
            if (!this.player)
                this.pending.push(event.data);
            else
                this.handleOrFail(event.data);
        };
        // The page hands over the wasm bytes: a worklet can neither fetch
        // them nor make URLs (the file name is only a name here).
        // Compiled at once (a worklet may do so), the renderer is ready when
        // the factory returns; a promise of it is taken as well.
        try {
            Promise.resolve(createPlayer({wasmBinary: options.processorOptions.wasm, locateFile: (name) => name}))
                .then((player) => {
                    this.player = player;
                    for (const message of this.pending)
                        this.handleOrFail(message);
                    this.pending = [];
                })
                .catch((error) => this.fail(error));
        } catch (error) {
            this.fail(error);
        }
    }

    fail(error) {
        this.stopped = true;
        this.port.postMessage({type: 'error', text: String(error && error.stack || error)});
    }

    handleOrFail(message) {
        try {
            this.handle(message);
        } catch (error) {
            this.fail(error);
        }
    }

    handle(message) {
        const p = this.player;
        switch (message.type) {
        case 'load': {
            const bytes = message.bytes;
            const at = p._playerFileBuffer(bytes.length);
            p.HEAPU8.set(bytes, at);
            this.port.postMessage({type: 'loaded', ok: p._playerLoad() === 1});
            break;
        }
        case 'play':
            this.playing = true;
            break;
        case 'gain':
            p._playerSetGain(message.millibel);
            break;
        case 'order':
            // What was rendered ahead belongs to the old position.
            p._playerSetOrder(message.order);
            this.generation = message.generation;
            this.lastWord = -1;
            this.renderedTo = -1;
            break;
        case 'stop':
            this.playing = false;
            this.stopped = true;
            break;
        }
    }

    // Renders count frames into the ring from this.renderedTo on.
    render(count) {
        const p = this.player;
        const at = p._playerRender(sampleRate, count) >> 2;
        const samples = p.HEAPF32.subarray(at, at + count);
        const start = this.renderedTo % RING_FRAMES;
        const first = Math.min(count, RING_FRAMES - start);
        this.ring.set(samples.subarray(0, first), start);
        this.ring.set(samples.subarray(first), 0);
        const slices = p._playerSliceCount();
        const words = p._playerSliceWords() >> 2;
        const offsets = p._playerSliceOffsets() >> 2;
        for (let i = 0; i < slices; ++i) {
            const word = p.HEAPU32[words + i];
            if (word !== this.lastWord) {
                this.lastWord = word;
                this.port.postMessage({
                    type: 'position',
                    frame: this.renderedTo + p.HEAP32[offsets + i],
                    word,
                    generation: this.generation,
                });
            }
        }
        this.renderedTo += count;
    }

    process(inputs, outputs) {
        const out = outputs[0][0];
        if (!this.player || !this.playing) {
            out.fill(0);
            return !this.stopped;
        }
        const frame = currentFrame;
        // First call, a jump, or the thread fell behind: start rendering here.
        if (this.renderedTo < frame + out.length)
            this.renderedTo = Math.max(this.renderedTo, frame);
        if (this.renderedTo < frame + out.length)
            this.render(frame + out.length - this.renderedTo);
        const wanted = frame + this.ahead - this.renderedTo;
        if (wanted > 0)
            this.render(Math.min(wanted, MOST_PER_QUANTUM));
        const start = frame % RING_FRAMES;
        const first = Math.min(out.length, RING_FRAMES - start);
        out.set(this.ring.subarray(start, start + first));
        out.set(this.ring.subarray(0, out.length - first), first);
        return true;
    }
}

registerProcessor('tuhkala-player', TuhkalaPlayer);
