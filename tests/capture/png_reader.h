// A strict reader for the PNG files the capture program writes (8-bit RGB, no
// interlace): it checks the signature, every chunk's CRC and the header,
// inflates the data and undoes all five row filters. Tests only.
//
// Pictures come back tightly packed RGB, top row first.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct PngPicture {
    std::string problem; // empty when the file decoded
    int width = 0, height = 0;
    std::vector<int> filters; // the filter type of each row
    std::vector<unsigned char> rgb;
};

inline std::vector<unsigned char> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline PngPicture decodePng(const std::vector<unsigned char>& file) {
    PngPicture pic;
    auto bad = [&pic](const std::string& why) {
        pic.problem = why;
        return pic;
    };
    auto big32 = [](const unsigned char* p) {
        return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
    };
    const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (file.size() < 8 || !std::equal(signature, signature + 8, file.begin()))
        return bad("no PNG signature");
    size_t at = 8;
    std::vector<unsigned char> packed;
    bool header = false, ended = false;
    while (at + 12 <= file.size() && !ended) {
        const uint32_t length = big32(&file[at]);
        if (length > file.size() - at - 12)
            return bad("chunk runs past the end");
        const std::string type(file.begin() + at + 4, file.begin() + at + 8);
        const unsigned char* data = &file[at + 8];
        if (crc32(crc32(0L, Z_NULL, 0), &file[at + 4], length + 4) != big32(data + length))
            return bad("bad CRC in " + type);
        if (type == "IHDR") {
            if (length != 13 || data[8] != 8 || data[9] != 2 || data[10] || data[11] || data[12])
                return bad("not an 8-bit RGB header without interlace");
            pic.width = static_cast<int>(big32(data));
            pic.height = static_cast<int>(big32(data + 4));
            header = true;
        } else if (type == "IDAT") {
            if (!header)
                return bad("IDAT before IHDR");
            packed.insert(packed.end(), data, data + length);
        }
        ended = type == "IEND";
        at += 12 + length;
    }
    if (!ended || at != file.size())
        return bad("no IEND at the end");
    const size_t rowBytes = static_cast<size_t>(pic.width) * 3;
    std::vector<unsigned char> raw((rowBytes + 1) * static_cast<size_t>(pic.height));
    uLongf rawSize = static_cast<uLongf>(raw.size());
    if (uncompress(raw.data(), &rawSize, packed.data(), static_cast<uLong>(packed.size())) !=
            Z_OK ||
        rawSize != raw.size())
        return bad("image data does not inflate to the picture's size");
    pic.rgb.resize(rowBytes * static_cast<size_t>(pic.height));
    for (size_t y = 0; y < static_cast<size_t>(pic.height); ++y) {
        const unsigned char* in = &raw[(rowBytes + 1) * y];
        unsigned char* out = &pic.rgb[rowBytes * y];
        const unsigned char* up = y > 0 ? out - rowBytes : nullptr;
        const int filter = in[0];
        if (filter > 4)
            return bad("unknown filter " + std::to_string(filter));
        pic.filters.push_back(filter);
        for (size_t i = 0; i < rowBytes; ++i) {
            const int a = i >= 3 ? out[i - 3] : 0, b = up ? up[i] : 0;
            const int c = up && i >= 3 ? up[i - 3] : 0, p = a + b - c;
            const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
            const int predictor[5] = {0, a, b, (a + b) / 2,
                                      pa <= pb && pa <= pc ? a : (pb <= pc ? b : c)};
            out[i] = static_cast<unsigned char>(in[1 + i] + predictor[filter]);
        }
    }
    return pic;
}

inline PngPicture readPng(const std::string& path) {
    PngPicture pic = decodePng(readBytes(path));
    if (!pic.problem.empty())
        pic.problem = path + ": " + pic.problem;
    return pic;
}
