// Small files built in memory for the readers' tests: a chunk writer for 3D
// Studio files, BMP headers and files, and a JPEG encoder.
//
// Test thread only. Lengths in bytes, sizes in pixels.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include <jpeglib.h>

#include "tests/support/kit.h"

namespace kit {

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

inline Bytes u8(int value) {
    return Bytes{static_cast<unsigned char>(value)};
}
inline Bytes u16(int value) {
    return Bytes{uint8_t(value), uint8_t(value >> 8)};
}
inline Bytes u32(uint32_t v) {
    return Bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}
inline Bytes f32(float value) {
    uint32_t bits;
    memcpy(&bits, &value, 4);
    return u32(bits);
}
// A zero-terminated string field.
inline Bytes str(const std::string& text) {
    return cat({Bytes(text.begin(), text.end()), u8(0)});
}
inline Bytes floats(std::initializer_list<float> values) {
    Bytes out;
    for (float v : values)
        out = cat({out, f32(v)});
    return out;
}

// A chunk whose stated length is its header and content, or a length of its own.
inline Bytes chunk(int id, std::initializer_list<Bytes> content, int64_t length = -1) {
    Bytes body = cat(content);
    return cat({u16(id), u32(uint32_t(length >= 0 ? length : int64_t(body.size()) + 6)), body});
}

// Vertex and mapping chunks from flat coordinate lists (three or two per entry).
inline Bytes vertexChunk(std::initializer_list<float> xyz) {
    return chunk(0x4110, {u16(static_cast<int>(xyz.size() / 3)), floats(xyz)});
}
inline Bytes mappingChunk(std::initializer_list<float> uv) {
    return chunk(0x4140, {u16(static_cast<int>(uv.size() / 2)), floats(uv)});
}
// A face chunk from corner triples, then its subchunks.
inline Bytes faceChunk(std::initializer_list<int> corners, std::initializer_list<Bytes> subs = {}) {
    Bytes out = u16(static_cast<int>(corners.size() / 3));
    for (size_t i = 0; i < corners.size(); i++)
        out = cat({out, u16(corners.begin()[i]), i % 3 == 2 ? u16(7) : Bytes()});
    return chunk(0x4120, {out, cat(subs)});
}
inline Bytes groupChunk(const std::string& material, std::initializer_list<int> faceIndices) {
    Bytes out = cat({str(material), u16(static_cast<int>(faceIndices.size()))});
    for (int index : faceIndices)
        out = cat({out, u16(index)});
    return chunk(0x4130, {out});
}

inline Bytes color24(int r, int g, int b) {
    return chunk(0x0011, {u8(r), u8(g), u8(b)});
}
inline Bytes intPercent(int value) {
    return chunk(0x0030, {u16(value)});
}
inline Bytes material(const std::string& name, std::initializer_list<Bytes> subs = {}) {
    return chunk(0xAFFF, {chunk(0xA000, {str(name)}), cat(subs)});
}
inline Bytes object(const std::string& name, std::initializer_list<Bytes> subs) {
    return chunk(0x4000, {str(name), cat(subs)});
}
inline Bytes triMesh(std::initializer_list<Bytes> subs) {
    return chunk(0x4100, {cat(subs)});
}

// A whole file: main chunk around editor data.
inline Bytes file3ds(std::initializer_list<Bytes> editor, std::initializer_list<Bytes> after = {}) {
    return chunk(0x4D4D, {chunk(0x3D3D, editor), cat(after)});
}

// A small well-formed file with one textured, grouped mesh and two materials.
inline Bytes sampleModel() {
    return file3ds({
        material("Stone", {chunk(0xA010, {color24(255, 128, 0)}), chunk(0xA050, {intPercent(30)}),
                           chunk(0xA200, {intPercent(100), chunk(0xA300, {str("ROCK.JPG")})})}),
        material("Glow", {chunk(0xA020, {chunk(0x0010, {floats({0.25f, 0.5f, 0.75f})})}),
                          chunk(0xA083, {})}),
        object("Box", {triMesh({vertexChunk({0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0}),
                                faceChunk({0, 1, 2, 1, 3, 2},
                                          {groupChunk("Stone", {1}), groupChunk("Glow", {0})}),
                                mappingChunk({0, 0, 1, 0, 0, 1, 1, 0.25f})})}),
    });
}

// A 40-byte (or headerSize) BMP info header, and a 12-byte core header.
inline Bytes infoHeader(int width, int height, int bitCount, uint32_t compression = 0,
                        uint32_t colorsUsed = 0, uint32_t headerSize = 40) {
    Bytes h =
        cat({u32(headerSize), u32(uint32_t(width)), u32(uint32_t(height)), u16(1), u16(bitCount),
             u32(compression), u32(0), u32(2835), u32(2835), u32(colorsUsed), u32(0)});
    h.resize(headerSize, 0);
    return h;
}
inline Bytes coreHeader(int width, int height, int bitCount) {
    return cat({u32(12), u16(width), u16(height), u16(1), u16(bitCount)});
}

// "BM" file header in front of header+table, with the bits at offset bitsAt
// (0: right after the table; a larger offset leaves a gap of 0xEE bytes).
inline Bytes bmpFile(const Bytes& headerAndTable, const Bytes& bits, uint32_t bitsAt = 0) {
    uint32_t offset = bitsAt ? bitsAt : static_cast<uint32_t>(14 + headerAndTable.size());
    return cat({Bytes{'B', 'M'}, u32(static_cast<uint32_t>(offset + bits.size())), u32(0),
                u32(offset), headerAndTable, Bytes(offset - 14 - headerAndTable.size(), 0xEE),
                bits});
}

// A 24-bit BMP whose pixel (x, y from the bottom) is red x, green y, blue 7.
inline Bytes gradientBmp(int width, int height) {
    Bytes bits;
    for (int y = 0; y < height; y++) {
        size_t rowStart = bits.size();
        for (int x = 0; x < width; x++)
            bits = cat({bits, Bytes{7, uint8_t(y), uint8_t(x)}});
        bits.resize(rowStart + (width * 3 + 3) / 4 * 4, 0);
    }
    return bmpFile(infoHeader(width, height, 24), bits);
}

// Encodes width x height pixels (top row first) of 1 (grey), 3 (RGB) or 4
// (CMYK) components at quality 100.
inline Bytes encodeJpeg(int width, int height, int components, const Bytes& pixels,
                        bool progressive = false) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    if (progressive) {
        // At full colour resolution too: the largest coefficient buffers.
        jpeg_simple_progression(&cinfo);
        cinfo.comp_info[0].h_samp_factor = cinfo.comp_info[0].v_samp_factor = 1;
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<unsigned char*>(pixels.data()) +
                       static_cast<size_t>(cinfo.next_scanline) * width * components;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes result(out, out + outSize);
    free(out);
    return result;
}

} // namespace kit
