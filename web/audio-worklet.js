// The show's music on the browser's audio thread: libopenmpt (openmpt-worklet.js
// and its wasm, built from platform/web/worklet_player.cpp) renders the module half a
// second ahead of the output into a ring, and reports to the page at which
// output frame each new order and row starts, so that the page can tell which
// one is being heard. Rendering ahead does not delay the sound (each frame is
// output at its own time); it tells the page of each position long before it
// is heard, so a page busy drawing for a while still knows where the music is.
// It is the page's only copy of the library: the page's question whether a
// file is a module it can play, and how many orders it has, is answered here.
//
// Messages from the page: {type: 'load', bytes}, {type: 'play'}, {type: 'gain',
// millibel}, {type: 'order', order, generation}, {type: 'start', order,
// generation} (play from row 0 of order: a start and a rewind at once, so
// that nothing before the rewind is played), {type: 'stop'}.
// To the page: {type: 'loaded', ok, orders}; {type: 'positions', starts:
// [{frame, word}], to, generation}: the orders and rows that start in what
// was rendered since the last such message, every position up to frame `to`
// told; {type: 'sounding', frame, generation} when the first frame of a
// generation (the start, or the position after a jump) is output;
// {type: 'error', text} when the renderer could not start or failed.
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
// Rendered at most per call, in render quanta: the quantum due now and a few
// more ahead. After a jump or a stall the half second ahead fills up over some
// 60 calls (about 170 ms at 44.1 kHz) instead of in one long call that could
// make the output skip.
const MOST_QUANTA_PER_CALL = 4;
// The page hears how far the positions are rendered at least this often (50
// ms at 44.1 kHz), also while no order or row starts.
const REPORT_FRAMES = 2205;

class TuhkalaPlayer extends AudioWorkletProcessor {
    constructor(options) {
        super();
        this.playing = false;
        this.stopped = false;
        this.generation = 0;
        this.lastWord = -1;
        this.unreported = []; // {frame, word}: starts not yet told to the page
        this.reportedTo = -1; // frames before this one have been told
        this.soundingGeneration = -1; // the generation whose output has begun
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

    // The renderer is unusable from now on: the output goes silent and ends,
    // and the page is told why.
    fail(error) {
        this.playing = false;
        this.stopped = true;
        const text = error instanceof Error ? `${error.name}: ${error.message}` : String(error);
        this.port.postMessage({type: 'error', text});
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
            let ok = false;
            try {
                ok = p._playerLoad() === 1;
            } catch (error) {
                // The library reports some files it cannot read by a C++
                // exception, which this build cannot catch inside: it comes
                // out here, and the file is refused. The renderer is not
                // trusted after it and plays nothing more.
                this.playing = false;
                this.stopped = true;
            }
            this.port.postMessage({type: 'loaded', ok, orders: ok ? p._playerOrderCount() : 0});
            break;
        }
        case 'play':
            this.playing = true;
            break;
        case 'gain':
            p._playerSetGain(message.millibel);
            break;
        case 'order':
            this.jump(message.order, message.generation);
            break;
        case 'start':
            this.jump(message.order, message.generation);
            this.playing = true;
            break;
        case 'stop':
            this.playing = false;
            this.stopped = true;
            break;
        }
    }

    // Row 0 of order from the next frame output on: what was rendered ahead
    // belongs to the old position.
    jump(order, generation) {
        this.player._playerSetOrder(order);
        this.generation = generation;
        this.lastWord = -1;
        this.renderedTo = -1;
        this.unreported = [];
        this.reportedTo = -1;
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
                this.unreported.push({frame: this.renderedTo + p.HEAP32[offsets + i], word});
            }
        }
        this.renderedTo += count;
    }

    // Tells the page of the positions rendered since the last report, and so
    // how far it knows them; at least every REPORT_FRAMES.
    report() {
        if (this.unreported.length === 0 && this.renderedTo - this.reportedTo < REPORT_FRAMES)
            return;
        this.port.postMessage({
            type: 'positions',
            starts: this.unreported,
            to: this.renderedTo,
            generation: this.generation,
        });
        this.unreported = [];
        this.reportedTo = this.renderedTo;
    }

    process(inputs, outputs) {
        const out = outputs[0][0];
        if (!this.player || !this.playing) {
            out.fill(0);
            return !this.stopped;
        }
        try {
            this.fill(out);
        } catch (error) {
            // The page stops the show with a message; the output goes silent.
            this.fail(error);
            out.fill(0);
            return false;
        }
        return true;
    }

    fill(out) {
        const frame = currentFrame;
        // First call, a jump, or the thread fell behind the ring: what is due
        // now is rendered from here.
        if (this.renderedTo < frame)
            this.renderedTo = frame;
        let budget = MOST_QUANTA_PER_CALL * out.length;
        const due = frame + out.length - this.renderedTo;
        if (due > 0) {
            this.render(due);
            budget -= due;
        }
        const wanted = Math.min(frame + this.ahead - this.renderedTo, budget);
        if (wanted > 0)
            this.render(wanted);
        this.report();
        if (this.soundingGeneration !== this.generation) {
            this.soundingGeneration = this.generation;
            this.port.postMessage({type: 'sounding', frame, generation: this.generation});
        }
        const start = frame % RING_FRAMES;
        const first = Math.min(out.length, RING_FRAMES - start);
        out.set(this.ring.subarray(start, start + first));
        out.set(this.ring.subarray(0, out.length - first), first);
    }
}

registerProcessor('tuhkala-player', TuhkalaPlayer);
