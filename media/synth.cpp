// Instrument synthesis for the module (see synth.h): one function per voice,
// built from a few shared pieces (an oscillator bank, envelopes, one-pole
// filters and a fixed-seed noise source).
//
// Build time, one thread. 44100 Hz, amplitudes -1..1, times in seconds.
#include "media/synth.h"

#include <algorithm>
#include <cmath>

namespace synth {

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double TWO_PI = 2.0 * PI;
// Voices may be played up to an octave above their base note; keeping every
// partial below this before transposition keeps them below Nyquist after it.
constexpr double PARTIAL_LIMIT_HZ = 10000.0;

int samplesFor(double seconds) {
    return static_cast<int>(std::lround(seconds * RATE));
}

// Deterministic white noise in -1..1 (a 32-bit xorshift generator).
struct Noise {
    uint32_t state;
    explicit Noise(uint32_t seed) : state(seed) {}
    float next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<float>(static_cast<double>(state) / 2147483647.5 - 1.0);
    }
};

// One-pole low-pass and the matching high-pass (input minus low-pass).
struct OnePole {
    double a = 0.0;
    double z = 0.0;
    explicit OnePole(double cutoffHz) : a(1.0 - std::exp(-TWO_PI * cutoffHz / RATE)) {}
    double low(double x) { return z += a * (x - z); }
    double high(double x) { return x - low(x); }
};

// Linear fades at both ends: no sample starts or stops with a jump.
void fadeEdges(std::vector<float>& w, double inSeconds, double outSeconds) {
    const int n = static_cast<int>(w.size());
    const int in = std::min(n, std::max(1, samplesFor(inSeconds)));
    const int out = std::min(n, std::max(1, samplesFor(outSeconds)));
    for (int i = 0; i < in; ++i)
        w[i] *= static_cast<float>(i) / in;
    for (int i = 0; i < out; ++i)
        w[n - 1 - i] *= static_cast<float>(i) / out;
}

// Attack, exponential-ish decay to a sustain level, then sustain.
double ads(double t, double attack, double decay, double sustain) {
    if (t < attack)
        return t / attack;
    return sustain + (1.0 - sustain) * std::exp(-(t - attack) / decay);
}

// Band-limited additive oscillator added into out. Partial k has amplitude
// weight(k) times a two-pole low-pass response at cutoff(t) Hz; the pitch is
// f0 * 2^(cents/1200) times vibrato(t) (a frequency ratio). The partial gains
// are refreshed every 32 samples, fine enough for envelopes of milliseconds.
template <class Weight, class Cutoff, class Vibrato>
void addPartials(std::vector<float>& out, double f0, double cents, double gain, Weight weight,
                 Cutoff cutoff, Vibrato vibrato) {
    const double base = f0 * std::pow(2.0, cents / 1200.0);
    const int partials = std::max(1, static_cast<int>(PARTIAL_LIMIT_HZ / base));
    std::vector<double> gains(partials + 1, 0.0);
    double phase = 0.0;
    const int n = static_cast<int>(out.size());
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / RATE;
        if (i % 32 == 0) {
            const double fc = cutoff(t);
            for (int k = 1; k <= partials; ++k) {
                const double r = k * base / fc;
                gains[k] = weight(k) / std::sqrt(1.0 + r * r * r * r);
            }
        }
        double sum = 0.0;
        for (int k = 1; k <= partials; ++k)
            if (gains[k] > 1e-5)
                sum += gains[k] * std::sin(k * phase);
        out[i] += static_cast<float>(gain * sum);
        phase += TWO_PI * base * vibrato(t) / RATE;
        if (phase > TWO_PI * 1024.0)
            phase -= TWO_PI * 1024.0; // keep sin arguments small and exact
    }
}

double sawWeight(int k) {
    return 1.0 / k;
}
double squareWeight(int k) {
    return (k % 2 == 1) ? 1.0 / k : 0.0;
}
double noVibrato(double) {
    return 1.0;
}

} // namespace

double noteHz(int itNote) {
    return 261.6255653005986 * std::pow(2.0, (itNote - 60) / 12.0);
}

uint32_t c5SpeedFor(int baseNote) {
    return static_cast<uint32_t>(std::lround(RATE * std::pow(2.0, (60 - baseNote) / 12.0)));
}

std::vector<float> kick() {
    std::vector<float> w(samplesFor(0.45));
    double phase = 0.0;
    OnePole clickFilter(3000.0);
    Noise noise(0x1234567u);
    for (size_t i = 0; i < w.size(); ++i) {
        const double t = static_cast<double>(i) / RATE;
        const double f = 46.0 + 120.0 * std::exp(-t / 0.035) + 300.0 * std::exp(-t / 0.004);
        phase += TWO_PI * f / RATE;
        const double body = std::sin(phase) * std::exp(-t / 0.30);
        const double click = clickFilter.low(noise.next()) * std::exp(-t / 0.003);
        // Gentle saturation gives the body some weight on small speakers.
        w[i] = static_cast<float>(std::tanh(1.6 * body) + 0.6 * click);
    }
    fadeEdges(w, 0.0008, 0.05);
    return w;
}

std::vector<float> snare() {
    std::vector<float> w(samplesFor(0.38));
    Noise noise(0xBEEF01u);
    OnePole low(9000.0);
    OnePole high(900.0);
    for (size_t i = 0; i < w.size(); ++i) {
        const double t = static_cast<double>(i) / RATE;
        const double tone = 0.55 * std::sin(TWO_PI * 185.0 * t) * std::exp(-t / 0.045) +
                            0.30 * std::sin(TWO_PI * 330.0 * t) * std::exp(-t / 0.030);
        const double n = high.high(low.low(noise.next())) * std::exp(-t / 0.085);
        w[i] = static_cast<float>(tone + 0.9 * n);
    }
    fadeEdges(w, 0.0008, 0.06);
    return w;
}

namespace {

// Metallic cymbal colour: six detuned square waves (inharmonic ratios) plus
// noise, high-passed, under an exponential decay of the given time constant.
std::vector<float> cymbal(double seconds, double decay, double highHz, uint32_t seed) {
    static const double FREQS[6] = {205.3, 304.4, 369.6, 522.7, 540.0, 800.0};
    std::vector<float> w(samplesFor(seconds));
    Noise noise(seed);
    OnePole hp1(highHz);
    OnePole hp2(highHz);
    for (size_t i = 0; i < w.size(); ++i) {
        const double t = static_cast<double>(i) / RATE;
        double metal = 0.0;
        for (double f : FREQS)
            metal += std::sin(TWO_PI * f * 1.7 * t) > 0.0 ? 1.0 : -1.0;
        const double x = 0.08 * metal + 0.7 * noise.next();
        w[i] = static_cast<float>(hp2.high(hp1.high(x)) * std::exp(-t / decay));
    }
    fadeEdges(w, 0.0005, std::min(0.05, seconds / 3));
    return w;
}

} // namespace

std::vector<float> closedHat() {
    return cymbal(0.10, 0.020, 7000.0, 0x51u);
}
std::vector<float> openHat() {
    return cymbal(0.50, 0.15, 6500.0, 0x52u);
}
std::vector<float> crash() {
    return cymbal(2.2, 0.55, 4000.0, 0x53u);
}

std::vector<float> bass() {
    std::vector<float> w(samplesFor(1.1));
    const double f0 = noteHz(BASS_BASE);
    auto cutoff = [](double t) { return 220.0 + 1500.0 * std::exp(-t / 0.10); };
    addPartials(w, f0, -6.0, 0.5, sawWeight, cutoff, noVibrato);
    addPartials(w, f0, +6.0, 0.5, sawWeight, cutoff, noVibrato);
    for (size_t i = 0; i < w.size(); ++i) {
        const double t = static_cast<double>(i) / RATE;
        const double sub = 0.6 * std::sin(TWO_PI * f0 * t);
        w[i] = static_cast<float>((w[i] + sub) * ads(t, 0.004, 0.25, 0.65));
    }
    fadeEdges(w, 0.002, 0.2);
    return w;
}

std::vector<float> pad() {
    std::vector<float> w(samplesFor(3.6));
    const double f0 = noteHz(PAD_BASE);
    // A slow opening of the filter makes the chord bloom after its attack.
    auto cutoff = [](double t) { return 900.0 + 1300.0 * (1.0 - std::exp(-t / 0.8)); };
    static const double DETUNE[4] = {-11.0, -4.0, 3.0, 12.0};
    for (double cents : DETUNE)
        addPartials(w, f0, cents, 0.25, sawWeight, cutoff, noVibrato);
    for (size_t i = 0; i < w.size(); ++i) {
        const double t = static_cast<double>(i) / RATE;
        w[i] *= static_cast<float>(std::min(1.0, t / 0.35));
    }
    fadeEdges(w, 0.01, 0.9);
    return w;
}

std::vector<float> lead() {
    std::vector<float> w(samplesFor(1.8));
    const double f0 = noteHz(LEAD_BASE);
    auto cutoff = [](double t) { return 1800.0 + 2600.0 * std::exp(-t / 0.2); };
    // Delayed vibrato, 5.5 Hz and a quarter of a semitone at full depth.
    auto vibrato = [](double t) {
        const double depth = std::min(1.0, std::max(0.0, (t - 0.25) / 0.4)) * 0.0145;
        return 1.0 + depth * std::sin(TWO_PI * 5.5 * t);
    };
    addPartials(w, f0, -4.0, 0.6, squareWeight, cutoff, vibrato);
    addPartials(w, f0, +4.0, 0.35, sawWeight, cutoff, vibrato);
    for (size_t i = 0; i < w.size(); ++i) {
        const double t = static_cast<double>(i) / RATE;
        w[i] *= static_cast<float>(ads(t, 0.008, 0.35, 0.7));
    }
    fadeEdges(w, 0.002, 0.4);
    return w;
}

std::vector<float> stab() {
    std::vector<float> w(samplesFor(0.8));
    const double f0 = noteHz(STAB_BASE);
    auto cutoff = [](double t) { return 600.0 + 4500.0 * std::exp(-t / 0.12); };
    // Root, fifth and octave: fits minor and major chords alike.
    addPartials(w, f0, -5.0, 0.4, sawWeight, cutoff, noVibrato);
    addPartials(w, f0 * 1.4983070768766815, 5.0, 0.35, sawWeight, cutoff, noVibrato);
    addPartials(w, f0 * 2.0, 0.0, 0.3, sawWeight, cutoff, noVibrato);
    for (size_t i = 0; i < w.size(); ++i) {
        const double t = static_cast<double>(i) / RATE;
        w[i] *= static_cast<float>(std::exp(-t / 0.22));
    }
    fadeEdges(w, 0.002, 0.15);
    return w;
}

std::vector<float> pluck() {
    std::vector<float> w(samplesFor(0.9));
    const double f0 = noteHz(PLUCK_BASE);
    // Two-operator FM: a bright, bell-like attack that mellows as the
    // modulation index decays.
    for (size_t i = 0; i < w.size(); ++i) {
        const double t = static_cast<double>(i) / RATE;
        const double index = 2.5 * std::exp(-t / 0.07);
        const double mod = std::sin(TWO_PI * 2.0 * f0 * t);
        w[i] = static_cast<float>(std::sin(TWO_PI * f0 * t + index * mod) * std::exp(-t / 0.28));
    }
    fadeEdges(w, 0.0015, 0.2);
    return w;
}

std::vector<int16_t> toPcm16(const std::vector<float>& wave, double peak) {
    float maxAbs = 0.0f;
    for (float v : wave)
        maxAbs = std::max(maxAbs, std::fabs(v));
    const double scale = maxAbs > 0.0f ? peak * 32767.0 / maxAbs : 0.0;
    std::vector<int16_t> pcm(wave.size());
    for (size_t i = 0; i < wave.size(); ++i) {
        const long v = std::lround(wave[i] * scale);
        pcm[i] = static_cast<int16_t>(std::clamp(v, -32767L, 32767L));
    }
    if (!pcm.empty()) {
        pcm.front() = 0;
        pcm.back() = 0;
    }
    return pcm;
}

} // namespace synth
