// The show's music, "amerikka.it": the composition, written as code, and its
// registration with the media generator. A minor at 150 BPM: speed 3 and tempo
// 150 make a row 50 ms, eight rows a beat and one 64-row pattern two bars, so
// order n starts at exactly 3200 * n ms. There are 53 orders, one pattern each,
// arranged along the show's scenes:
//   0-3   intro: pad fading in, then a plucked arpeggio and a long bass; no drums
//   4-9   the beat enters (kick on rows 0/16/32/48, snare on 8/24/40/56, a pair
//         of hits on 13-14 and 45-46), chord stabs on rows 8, 12, 16 and 20
//         in orders 4-5; the lead comes in at 6
//   10-14 the drop: driving bass, open hats, crashes, second melody
//   15    break: pad, stabs and a snare roll into 16
//   16-19 groove again; 20-23 darker progression
//   24-39 sixteenth-note hats on the even rows; arpeggio from 32
//   40-43 dark progression with arpeggio; 44 groove; 45 break; 46-49 full
//   50-52 outro, silent by row 48 of order 52 (168.8 s)
//
// Build time, one thread. Notes are IT note numbers (60 = C-5), volumes 0-64.
#include <cstdio>
#include <string>

#include "media/generator.h"
#include "media/it_writer.h"
#include "media/synth.h"

namespace {

constexpr int ORDERS = 53;

// Channels.
enum {
    CH_KICK,
    CH_SNARE,
    CH_HAT,
    CH_BASS,
    CH_PAD_A, // three voices; the next chord goes to CH_PAD_B so tails overlap
    CH_PAD_B = CH_PAD_A + 3,
    CH_LEAD = CH_PAD_B + 3,
    CH_STAB,
    CH_CRASH,
    CH_ARP,
    CHANNELS
};

// Sample numbers (1-based, as cells name them).
enum { S_KICK = 1, S_SNARE, S_CHAT, S_OHAT, S_CRASH, S_BASS, S_PAD, S_LEAD, S_STAB, S_PLUCK };

struct Chord {
    int root; // pitch class, 0 = C
    bool minor;
};
constexpr Chord AM{9, true}, F{5, false}, C{0, false}, G{7, false}, EM{4, true}, DM{2, true},
    E{4, false};

// Four-bar progressions; an even order plays bars 1-2, the next odd one 3-4.
const Chord PROG_MAIN[4] = {AM, F, C, G};
const Chord PROG_DROP[4] = {F, G, EM, AM};
const Chord PROG_DARK[4] = {DM, AM, DM, E};

// One note of a melody: start row within the two bars (0-63), note, length in rows.
struct MelodyNote {
    int row;
    int note;
    int length;
};
// Over PROG_MAIN: first two bars on even orders, last two on odd orders.
const MelodyNote MELODY_MAIN[2][8] = {
    {{0, 76, 8},
     {8, 74, 4},
     {12, 72, 4},
     {16, 71, 8},
     {24, 72, 4},
     {28, 69, 4},
     {32, 69, 12},
     {44, 72, 4}},
    {{0, 76, 8},
     {8, 79, 8},
     {16, 76, 4},
     {20, 74, 4},
     {24, 72, 8},
     {32, 74, 16},
     {48, 71, 8},
     {56, 67, 8}},
};
const MelodyNote MELODY_MAIN_TAIL[2][2] = {{{48, 77, 8}, {56, 76, 8}}, {{-1, 0, 0}, {-1, 0, 0}}};
const MelodyNote MELODY_DROP[2][10] = {
    {{0, 69, 4},
     {4, 72, 4},
     {8, 77, 8},
     {16, 76, 4},
     {20, 77, 4},
     {24, 81, 8},
     {32, 79, 12},
     {44, 74, 4},
     {48, 71, 8},
     {56, 74, 8}},
    {{0, 76, 8},
     {8, 79, 8},
     {16, 83, 8},
     {24, 81, 4},
     {28, 79, 4},
     {32, 81, 24},
     {56, 76, 8},
     {-1, 0, 0},
     {-1, 0, 0},
     {-1, 0, 0}},
};
const MelodyNote MELODY_DARK[2][8] = {
    {{0, 65, 8},
     {8, 69, 8},
     {16, 74, 16},
     {32, 72, 8},
     {40, 76, 8},
     {48, 69, 16},
     {-1, 0, 0},
     {-1, 0, 0}},
    {{0, 74, 4},
     {4, 77, 4},
     {8, 81, 8},
     {16, 79, 8},
     {24, 77, 8},
     {32, 76, 16},
     {48, 68, 8},
     {56, 71, 8}},
};

enum Drums { NO_DRUMS, GROOVE, DROP, SIXTEENTHS, ROLL, HATS_ONLY };
enum Bass { NO_BASS, LONG_BASS, EIGHTH_BASS, DRIVING_BASS };
enum Lead { NO_LEAD, LEAD_MAIN, LEAD_DROP, LEAD_DARK, LEAD_LAST };
enum Arp { NO_ARP, ARP_EIGHTHS, ARP_SIXTEENTHS };

struct Section {
    const Chord* progression;
    Drums drums;
    Bass bass;
    Lead lead;
    Arp arp;
    bool stabs;    // chord stabs on rows 8, 12, 16, 20
    bool crash;    // crash on row 0
    int padVolume; // 0-64
};

Section sectionOf(int order) {
    if (order <= 3) {
        const Arp arp = order == 0 ? NO_ARP : ARP_EIGHTHS;
        return {PROG_MAIN, NO_DRUMS, order >= 2 ? LONG_BASS : NO_BASS, NO_LEAD, arp, false,
                false,     40};
    }
    if (order <= 5)
        return {PROG_MAIN, GROOVE, EIGHTH_BASS, NO_LEAD, NO_ARP, true, order == 4, 34};
    if (order <= 9)
        return {PROG_MAIN, GROOVE, EIGHTH_BASS, LEAD_MAIN, NO_ARP, false, order == 6, 32};
    if (order <= 13)
        return {PROG_DROP, DROP, DRIVING_BASS, LEAD_DROP, NO_ARP, false, true, 38};
    if (order == 14)
        return {PROG_DROP, DROP, DRIVING_BASS, NO_LEAD, NO_ARP, true, true, 30};
    if (order == 15)
        return {PROG_DROP, ROLL, NO_BASS, NO_LEAD, NO_ARP, true, false, 40};
    if (order <= 19)
        return {PROG_MAIN, GROOVE, EIGHTH_BASS, LEAD_MAIN, NO_ARP, false, order == 16, 32};
    if (order <= 23)
        return {PROG_DARK, GROOVE, LONG_BASS,   order >= 22 ? LEAD_DARK : NO_LEAD,
                NO_ARP,    false,  order == 20, 36};
    if (order <= 31)
        return {PROG_MAIN, SIXTEENTHS, EIGHTH_BASS, order >= 26 ? LEAD_MAIN : NO_LEAD,
                NO_ARP,    false,      order == 24, 30};
    if (order <= 39)
        return {PROG_DROP,      SIXTEENTHS, DRIVING_BASS, order >= 34 ? LEAD_DROP : NO_LEAD,
                ARP_SIXTEENTHS, false,      order == 32,  28};
    if (order <= 43)
        return {PROG_DARK, GROOVE, LONG_BASS, LEAD_DARK, ARP_EIGHTHS, false, order == 40, 34};
    if (order == 44)
        return {PROG_MAIN, GROOVE, EIGHTH_BASS, NO_LEAD, NO_ARP, false, true, 32};
    if (order == 45)
        return {PROG_MAIN, NO_DRUMS, NO_BASS, NO_LEAD, ARP_EIGHTHS, false, false, 42};
    if (order <= 49)
        return {PROG_MAIN, DROP, DRIVING_BASS, LEAD_MAIN, NO_ARP, false, order == 46, 30};
    if (order <= 51)
        return {PROG_DROP,   order == 50 ? HATS_ONLY : NO_DRUMS,
                LONG_BASS,   LEAD_DROP,
                ARP_EIGHTHS, false,
                order == 50, 36};
    return {PROG_DROP, NO_DRUMS, NO_BASS, LEAD_LAST, NO_ARP, false, false, 36};
}

// The chord sounding at a row of an order.
Chord chordAt(const Section& s, int order, int row) {
    if (order == 52)
        return AM; // the last chord is held to the end
    return s.progression[(order % 2) * 2 + row / 32];
}

// Pitch class placed in [low, low + 12).
int place(int pitchClass, int low) {
    return low + ((pitchClass - low) % 12 + 12) % 12;
}

// Close-position triad around middle C: smooth voice leading between chords.
void triad(const Chord& c, int low, int out[3]) {
    out[0] = place(c.root, low);
    out[1] = place(c.root + (c.minor ? 3 : 4), low);
    out[2] = place(c.root + 7, low);
}

void put(ItPattern& p, int row, int ch, int note, int sample, int volume) {
    if (row < 0 || row >= ItPattern::ROWS)
        return;
    ItCell& c = p.at(row, ch);
    c.note = note;
    c.sample = sample;
    c.volume = volume;
}

void cut(ItPattern& p, int row, int ch) {
    if (row < 0 || row >= ItPattern::ROWS || p.at(row, ch).note != ItCell::NO_NOTE)
        return;
    p.at(row, ch).note = ItCell::NOTE_CUT;
}

void volumeOnly(ItPattern& p, int row, int ch, int volume) {
    if (p.at(row, ch).note == ItCell::NO_NOTE && p.at(row, ch).volume < 0)
        p.at(row, ch).volume = volume;
}

void writeDrums(ItPattern& p, const Section& s) {
    if (s.drums == NO_DRUMS)
        return;
    if (s.drums == ROLL) {
        // Snare roll rising through the second bar: quarters, eighths, then sixteenths.
        for (int row = 32; row < 64; row += row < 48 ? 4 : 2)
            put(p, row, CH_SNARE, 60, S_SNARE, 20 + (row - 32));
        return;
    }
    if (s.drums == HATS_ONLY) {
        for (int row = 4; row < 64; row += 8)
            put(p, row, CH_HAT, 60, S_CHAT, 36);
        for (int row = 0; row < 64; row += 16)
            put(p, row, CH_KICK, 60, S_KICK, row == 0 ? 52 : 40);
        return;
    }
    for (int row : {0, 16, 32, 48})
        put(p, row, CH_KICK, 60, S_KICK, 64);
    for (int row : {8, 24, 40, 56})
        put(p, row, CH_SNARE, 60, S_SNARE, 60);
    // The pairs of hits: a quick "ta-TA" leading into the kick.
    for (int row : {13, 45}) {
        put(p, row, CH_SNARE, 60, S_SNARE, 34);
        put(p, row + 1, CH_SNARE, 60, S_SNARE, 48);
    }
    if (s.drums == SIXTEENTHS) {
        for (int row = 0; row < 64; row += 2) {
            const int accent = row % 8 == 4 ? 44 : (row % 4 == 0 ? 34 : 26);
            put(p, row, CH_HAT, 60, S_CHAT, accent);
        }
    } else if (s.drums == DROP) {
        for (int row = 4; row < 64; row += 8)
            put(p, row, CH_HAT, 60, S_OHAT, 30);
        for (int row = 0; row < 64; row += 8)
            put(p, row, CH_HAT, 60, S_CHAT, 30);
    } else {
        for (int row = 4; row < 64; row += 8)
            put(p, row, CH_HAT, 60, S_CHAT, 36);
    }
}

void writeBass(ItPattern& p, const Section& s, int order) {
    for (int bar = 0; bar < 2; ++bar) {
        const int first = bar * 32;
        const int root = place(chordAt(s, order, first).root, 36);
        switch (s.bass) {
        case NO_BASS:
            break;
        case LONG_BASS:
            put(p, first, CH_BASS, root, S_BASS, 44);
            put(p, first + 20, CH_BASS, root, S_BASS, 34);
            break;
        case EIGHTH_BASS:
            for (int row = first; row < first + 32; row += 4)
                put(p, row, CH_BASS, root + ((row % 16 == 12) ? 12 : 0), S_BASS,
                    row % 8 == 0 ? 50 : 40);
            break;
        case DRIVING_BASS:
            for (int row = first; row < first + 32; row += 2) {
                const int step = row % 8;
                if (step == 2)
                    continue; // leave air after each kick
                const int note = step == 6 ? root + 7 : (step == 4 ? root + 12 : root);
                put(p, row, CH_BASS, note, S_BASS, step == 4 ? 56 : 48);
            }
            break;
        }
    }
}

void writePad(ItPattern& p, const Section& s, int order) {
    for (int bar = 0; bar < 2; ++bar) {
        const int first = bar * 32;
        // Alternate channel groups so each chord's release overlaps the next attack.
        const int group = ((order * 2 + bar) % 2 == 0) ? CH_PAD_A : CH_PAD_B;
        if (order == 52 && bar == 1)
            break; // the last chord started at bar 0 rings on into the fade
        int notes[3];
        triad(chordAt(s, order, first), 55, notes);
        int volume = s.padVolume;
        if (order == 0)
            volume = bar == 0 ? 14 : 30; // fade in from almost nothing
        for (int v = 0; v < 3; ++v)
            put(p, first, group + v, notes[v], S_PAD, volume);
    }
    if (order == 0) {
        // Swell of the first chord over its bar.
        for (int row = 4; row < 32; row += 4)
            for (int v = 0; v < 3; ++v)
                volumeOnly(p, row, CH_PAD_A + v, 14 + row / 2);
    }
    if (order == 52) {
        // Final fade: silent by row 48, cut at 52 (168.8 s and 169.0 s).
        for (int row = 4; row <= 48; row += 4)
            for (int v = 0; v < 3; ++v)
                volumeOnly(p, row, CH_PAD_A + v, s.padVolume * (48 - row) / 48);
        for (int v = 0; v < 3; ++v) {
            cut(p, 52, CH_PAD_A + v);
            cut(p, 52, CH_PAD_B + v);
        }
    }
}

template <size_t N> void writeMelody(ItPattern& p, const MelodyNote (&notes)[N], int volume) {
    for (const MelodyNote& m : notes) {
        if (m.row < 0)
            continue;
        put(p, m.row, CH_LEAD, m.note, S_LEAD, volume);
        const int end = m.row + m.length;
        // Cut a rest shorter than the sample's own tail so notes stay detached.
        bool followed = false;
        for (const MelodyNote& other : notes)
            followed = followed || other.row == end;
        if (!followed && end < ItPattern::ROWS)
            cut(p, end, CH_LEAD);
    }
}

void writeLead(ItPattern& p, const Section& s, int order) {
    const int half = order % 2;
    switch (s.lead) {
    case NO_LEAD:
        break;
    case LEAD_MAIN:
        writeMelody(p, MELODY_MAIN[half], 46);
        if (half == 0 && order >= 16)
            writeMelody(p, MELODY_MAIN_TAIL[0], 46); // a variation the second time round
        break;
    case LEAD_DROP:
        writeMelody(p, MELODY_DROP[half], order >= 50 ? 36 : 48);
        break;
    case LEAD_DARK:
        writeMelody(p, MELODY_DARK[half], 42);
        break;
    case LEAD_LAST:
        put(p, 0, CH_LEAD, 69, S_LEAD, 36);
        for (int row = 8; row <= 40; row += 8)
            volumeOnly(p, row, CH_LEAD, 36 * (40 - row) / 40);
        cut(p, 44, CH_LEAD);
        break;
    }
}

void writeArp(ItPattern& p, const Section& s, int order) {
    if (s.arp == NO_ARP)
        return;
    const int step = s.arp == ARP_EIGHTHS ? 4 : 2;
    const int start = order == 1 ? 32 : 0; // the arpeggio enters halfway through order 1
    static const int SHAPE[6] = {0, 1, 2, 3, 2, 1};
    int i = 0;
    for (int row = start; row < 64; row += step, ++i) {
        int notes[3];
        triad(chordAt(s, order, row), 67, notes);
        const int tones[4] = {notes[0], notes[1], notes[2], notes[0] + 12};
        const int volume = (s.arp == ARP_SIXTEENTHS ? 24 : 30) + (row % 8 == 0 ? 6 : 0);
        put(p, row, CH_ARP, tones[SHAPE[i % 6]], S_PLUCK, volume);
    }
}

void writeAccents(ItPattern& p, const Section& s, int order) {
    if (s.crash)
        put(p, 0, CH_CRASH, 60, S_CRASH, 44);
    if (!s.stabs)
        return;
    for (int row : {8, 12, 16, 20}) {
        const int root = place(chordAt(s, order, row).root, 55);
        put(p, row, CH_STAB, root, S_STAB, 30 + row);
    }
}

ItModule compose() {
    ItModule m;
    m.name = "amerikka";
    m.initialSpeed = 3;
    m.initialTempo = 150;
    m.globalVolume = 128;
    m.mixVolume = 128;
    m.rowsPerBeat = 8;
    m.rowsPerMeasure = 32;
    m.channels = CHANNELS;

    auto add = [&m](const char* name, const std::vector<float>& wave, int baseNote, double peak) {
        ItSample s;
        s.name = name;
        s.pcm = synth::toPcm16(wave, peak);
        s.c5Speed = synth::c5SpeedFor(baseNote);
        m.samples.push_back(s);
    };
    // Order matches the S_* numbers. Drums are stored at C-5 = 44100 Hz.
    add("kick", synth::kick(), 60, 0.95);
    add("snare", synth::snare(), 60, 0.85);
    add("closed hat", synth::closedHat(), 60, 0.6);
    add("open hat", synth::openHat(), 60, 0.5);
    add("crash", synth::crash(), 60, 0.55);
    add("bass", synth::bass(), synth::BASS_BASE, 0.9);
    add("pad", synth::pad(), synth::PAD_BASE, 0.55);
    add("lead", synth::lead(), synth::LEAD_BASE, 0.7);
    add("stab", synth::stab(), synth::STAB_BASE, 0.75);
    add("pluck", synth::pluck(), synth::PLUCK_BASE, 0.6);

    for (int order = 0; order < ORDERS; ++order) {
        ItPattern p(CHANNELS);
        const Section s = sectionOf(order);
        writeDrums(p, s);
        writeBass(p, s, order);
        writePad(p, s, order);
        writeLead(p, s, order);
        writeArp(p, s, order);
        writeAccents(p, s, order);
        m.patterns.push_back(p);
        m.orders.push_back(order);
    }
    return m;
}

} // namespace

bool writeModule(const std::string& dir) {
    const std::vector<unsigned char> bytes = writeIt(compose());
    if (bytes.empty()) {
        std::fprintf(stderr, "tuhkala-media: the module could not be laid out\n");
        return false;
    }
    return writeMediaFile(dir, "amerikka.it", bytes);
}
