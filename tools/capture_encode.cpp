// PNG and WAV writers of the capture program (see capture_encode.h).
//
// Main thread. RGB pictures top row first; mono float sound.
#include "tools/capture_encode.h"

#include <zlib.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "media/little_endian.h"

namespace {

void putBig32(std::vector<unsigned char>* out, uint32_t value) {
    out->push_back(static_cast<unsigned char>(value >> 24));
    out->push_back(static_cast<unsigned char>(value >> 16));
    out->push_back(static_cast<unsigned char>(value >> 8));
    out->push_back(static_cast<unsigned char>(value));
}

// Length, type, data, and the CRC over type and data.
void putChunk(std::vector<unsigned char>* out, const char type[4], const unsigned char* data,
              size_t size) {
    putBig32(out, static_cast<uint32_t>(size));
    const size_t typeAt = out->size();
    out->insert(out->end(), type, type + 4);
    if (size)
        out->insert(out->end(), data, data + size);
    const uLong crc =
        crc32(crc32(0L, Z_NULL, 0), out->data() + typeAt, static_cast<uInt>(size + 4));
    putBig32(out, static_cast<uint32_t>(crc));
}

int paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a);
    const int pb = std::abs(p - b);
    const int pc = std::abs(p - c);
    if (pa <= pb && pa <= pc)
        return a;
    return pb <= pc ? b : c;
}

// Row filtered with one of the five PNG filters; prior is the unfiltered row
// above (zeros for the first row).
void filterRow(int type, const unsigned char* row, const unsigned char* prior, size_t size,
               unsigned char* out) {
    const size_t bpp = 3;
    for (size_t i = 0; i < size; ++i) {
        const int a = i >= bpp ? row[i - bpp] : 0;
        const int b = prior[i];
        const int c = i >= bpp ? prior[i - bpp] : 0;
        int predictor = 0;
        switch (type) {
        case 1:
            predictor = a;
            break;
        case 2:
            predictor = b;
            break;
        case 3:
            predictor = (a + b) / 2;
            break;
        case 4:
            predictor = paeth(a, b, c);
            break;
        default:
            break;
        }
        out[i] = static_cast<unsigned char>(row[i] - predictor);
    }
}

// Sum of the filtered bytes read as signed values: small means compressible.
uint64_t filterCost(const unsigned char* filtered, size_t size) {
    uint64_t sum = 0;
    for (size_t i = 0; i < size; ++i)
        sum += static_cast<uint64_t>(
            std::abs(static_cast<int>(static_cast<signed char>(filtered[i]))));
    return sum;
}

} // namespace

std::vector<unsigned char> encodePng(const unsigned char* rgb, int width, int height, int level) {
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    std::vector<unsigned char> raw((rowBytes + 1) * static_cast<size_t>(height));
    std::vector<unsigned char> zeros(rowBytes, 0);
    std::vector<unsigned char> trial(rowBytes);
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = rgb + rowBytes * static_cast<size_t>(y);
        const unsigned char* prior = y > 0 ? row - rowBytes : zeros.data();
        unsigned char* dest = raw.data() + (rowBytes + 1) * static_cast<size_t>(y);
        uint64_t bestCost = UINT64_MAX;
        for (int type = 0; type < 5; ++type) {
            filterRow(type, row, prior, rowBytes, trial.data());
            const uint64_t cost = filterCost(trial.data(), rowBytes);
            if (cost < bestCost) {
                bestCost = cost;
                dest[0] = static_cast<unsigned char>(type);
                std::memcpy(dest + 1, trial.data(), rowBytes);
            }
        }
    }

    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<unsigned char> packed(packedSize);
    compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), level);
    packed.resize(packedSize);

    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<unsigned char> header;
    putBig32(&header, static_cast<uint32_t>(width));
    putBig32(&header, static_cast<uint32_t>(height));
    // 8-bit depth, colour type 2 (RGB), deflate, adaptive filtering, no interlace.
    const unsigned char rest[5] = {8, 2, 0, 0, 0};
    header.insert(header.end(), rest, rest + 5);
    putChunk(&png, "IHDR", header.data(), header.size());
    putChunk(&png, "IDAT", packed.data(), packed.size());
    putChunk(&png, "IEND", nullptr, 0);
    return png;
}

std::vector<unsigned char> wavHeader(uint64_t sampleCount, int rate, int channels) {
    const uint64_t dataBytes = sampleCount * static_cast<uint64_t>(channels) * 2;
    // Larger streams than 4 GiB cannot be described; the sizes saturate.
    const uint32_t data =
        dataBytes > 0xFFFFFFFFull - 36 ? 0xFFFFFFFFu - 36 : static_cast<uint32_t>(dataBytes);
    std::vector<unsigned char> out;
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    putLe32(out, data + 36);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    putLe32(out, 16);
    putLe16(out, 1); // PCM
    putLe16(out, static_cast<uint32_t>(channels));
    putLe32(out, static_cast<uint32_t>(rate));
    putLe32(out, static_cast<uint32_t>(rate * channels * 2)); // bytes per second
    putLe16(out, static_cast<uint32_t>(channels * 2));        // bytes per frame
    putLe16(out, 16);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    putLe32(out, data);
    return out;
}

void appendPcm16(const float* samples, size_t count, std::vector<unsigned char>* out) {
    out->reserve(out->size() + count * 2);
    for (size_t i = 0; i < count; ++i) {
        const double x = samples[i];
        // NaN (never equal to itself) becomes silence.
        double scaled = x == x ? std::floor(x * 32767.0 + 0.5) : 0.0;
        if (scaled > 32767.0)
            scaled = 32767.0;
        if (scaled < -32767.0)
            scaled = -32767.0;
        putLe16(*out, static_cast<uint16_t>(static_cast<int16_t>(scaled)));
    }
}
