// Serialises an ItModule into the Impulse Tracker file layout: the 192-byte
// header, order list, offset tables, 80-byte sample headers, packed patterns
// and finally the raw sample data, all little-endian.
//
// Build time, one thread. Offsets are bytes from the start of the file.
#include "media/it_writer.h"

#include <algorithm>

#include "media/little_endian.h"

namespace {

constexpr int MAX_CHANNELS = 64;
constexpr int MAX_ORDERS = 200;
constexpr int MAX_PATTERNS = 240;
constexpr int MAX_SAMPLES = 240;
constexpr int HEADER_SIZE = 192;
constexpr int SAMPLE_HEADER_SIZE = 80;
constexpr uint16_t TRACKER_VERSION = 0x0214;

struct Bytes {
    std::vector<unsigned char> data;
    void u8(int v) { data.push_back(static_cast<unsigned char>(v & 0xFF)); }
    void u16(uint32_t v) { putLe16(data, v); }
    void u32(uint32_t v) { putLe32(data, v); }
    void text(const std::string& s, size_t size) {
        for (size_t i = 0; i < size; ++i)
            u8(i + 1 < size && i < s.size() ? s[i] : 0);
    }
    void put32(size_t at, uint32_t v) { patchLe32(data, at, v); }
};

// Packs one pattern: per row, each non-empty cell as channel marker, mask and
// the fields the mask names; a zero byte ends the row.
std::vector<unsigned char> packPattern(const ItPattern& pattern) {
    Bytes out;
    for (int row = 0; row < ItPattern::ROWS; ++row) {
        for (int ch = 0; ch < pattern.channels; ++ch) {
            const ItCell& c = pattern.at(row, ch);
            int mask = 0;
            if (c.note != ItCell::NO_NOTE)
                mask |= 1;
            if (c.sample > 0)
                mask |= 2;
            if (c.volume >= 0)
                mask |= 4;
            if (c.command > 0)
                mask |= 8;
            if (mask == 0)
                continue;
            out.u8((ch + 1) | 0x80);
            out.u8(mask);
            if (mask & 1)
                out.u8(c.note);
            if (mask & 2)
                out.u8(c.sample);
            if (mask & 4)
                out.u8(std::min(64, c.volume));
            if (mask & 8) {
                out.u8(c.command);
                out.u8(c.param);
            }
        }
        out.u8(0);
    }
    return out.data;
}

} // namespace

ItPattern::ItPattern(int channelCount)
    : channels(channelCount), cells(static_cast<size_t>(ROWS * channelCount)) {}

std::vector<unsigned char> writeIt(const ItModule& m) {
    if (m.channels < 1 || m.channels > MAX_CHANNELS || m.orders.empty() ||
        static_cast<int>(m.orders.size()) > MAX_ORDERS ||
        static_cast<int>(m.patterns.size()) > MAX_PATTERNS ||
        static_cast<int>(m.samples.size()) > MAX_SAMPLES)
        return {};
    for (const ItPattern& p : m.patterns)
        if (p.channels != m.channels || p.cells.size() != size_t(ItPattern::ROWS * p.channels))
            return {};
    for (int o : m.orders)
        if (o < 0 || o >= static_cast<int>(m.patterns.size()))
            return {};

    const int orderCount = static_cast<int>(m.orders.size()) + 1; // with the end marker
    const int sampleCount = static_cast<int>(m.samples.size());
    const int patternCount = static_cast<int>(m.patterns.size());

    Bytes f;
    f.data.reserve(1 << 20);
    f.data = {'I', 'M', 'P', 'M'};
    f.text(m.name, 26);
    f.u8(m.rowsPerBeat);
    f.u8(m.rowsPerMeasure);
    f.u16(orderCount);
    f.u16(0); // instruments: sample mode
    f.u16(sampleCount);
    f.u16(patternCount);
    f.u16(TRACKER_VERSION);
    f.u16(TRACKER_VERSION);
    f.u16(0x0001 | 0x0008); // stereo mixing, linear slides; sample mode
    f.u16(0);               // no message
    f.u8(m.globalVolume);
    f.u8(m.mixVolume);
    f.u8(m.initialSpeed);
    f.u8(m.initialTempo);
    f.u8(128); // stereo separation
    f.u8(0);   // pitch wheel depth
    f.u16(0);  // message length
    f.u32(0);  // message offset
    f.u32(0);  // reserved
    for (int ch = 0; ch < MAX_CHANNELS; ++ch)
        f.u8(ch < m.channels ? 32 : 32 + 128); // centre; unused channels disabled
    for (int ch = 0; ch < MAX_CHANNELS; ++ch)
        f.u8(64);

    for (int o : m.orders)
        f.u8(o);
    f.u8(255); // end of song

    const size_t sampleTable = f.data.size();
    for (int i = 0; i < sampleCount; ++i)
        f.u32(0);
    const size_t patternTable = f.data.size();
    for (int i = 0; i < patternCount; ++i)
        f.u32(0);

    std::vector<size_t> sampleHeaders;
    for (const ItSample& s : m.samples) {
        const size_t at = f.data.size();
        sampleHeaders.push_back(at);
        f.put32(sampleTable + 4 * (sampleHeaders.size() - 1), static_cast<uint32_t>(at));
        f.data.insert(f.data.end(), {'I', 'M', 'P', 'S'});
        f.text(s.name.substr(0, 12), 13); // DOS file name
        f.u8(s.globalVolume);
        f.u8(s.pcm.empty() ? 0x02 : 0x03); // data present, 16-bit
        f.u8(s.defaultVolume);
        f.text(s.name, 26);
        f.u8(0x01); // signed samples
        f.u8(32);   // default pan, not in use (bit 7 clear)
        f.u32(static_cast<uint32_t>(s.pcm.size()));
        f.u32(0); // loop begin
        f.u32(0); // loop end
        f.u32(s.c5Speed);
        f.u32(0); // sustain loop begin
        f.u32(0); // sustain loop end
        f.u32(0); // data offset, patched below
        f.u8(0);  // vibrato speed, depth, rate, type
        f.u8(0);
        f.u8(0);
        f.u8(0);
    }

    for (int i = 0; i < patternCount; ++i) {
        const std::vector<unsigned char> packed = packPattern(m.patterns[i]);
        f.put32(patternTable + 4 * i, static_cast<uint32_t>(f.data.size()));
        f.u16(static_cast<uint32_t>(packed.size()));
        f.u16(ItPattern::ROWS);
        f.u32(0);
        f.data.insert(f.data.end(), packed.begin(), packed.end());
    }

    for (int i = 0; i < sampleCount; ++i) {
        const ItSample& s = m.samples[i];
        f.put32(sampleHeaders[i] + 0x48, static_cast<uint32_t>(f.data.size()));
        for (int16_t v : s.pcm)
            f.u16(static_cast<uint16_t>(v));
    }
    return f.data;
}
