// Test helpers that build small binary files in memory: a chunk writer for
// 3D Studio files, little-endian field writers, and file output for tests
// that go through the loaders' file paths.
//
// Test thread only. Lengths in bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace testfiles {

using Bytes = std::vector<unsigned char>;

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

inline Bytes u8(int value) {
    return Bytes{static_cast<unsigned char>(value)};
}

inline Bytes u16(int value) {
    return Bytes{static_cast<unsigned char>(value & 0xFF),
                 static_cast<unsigned char>((value >> 8) & 0xFF)};
}

inline Bytes u32(uint32_t value) {
    return Bytes{static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                 static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
}

inline Bytes f32(float value) {
    uint32_t bits;
    memcpy(&bits, &value, 4);
    return u32(bits);
}

// A zero-terminated string field.
inline Bytes str(const std::string& text) {
    Bytes out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

// A chunk whose stated length is exactly its header and content.
inline Bytes chunk(int id, std::initializer_list<Bytes> content) {
    Bytes body = cat(content);
    return cat({u16(id), u32(static_cast<uint32_t>(body.size() + 6)), body});
}

// A chunk with a stated length of its own choosing.
inline Bytes chunkWithLength(int id, uint32_t length, std::initializer_list<Bytes> content) {
    return cat({u16(id), u32(length), cat(content)});
}

struct Corner {
    int a, b, c;
};
struct Point {
    float x, y, z;
};
struct Uv {
    float u, v;
};

inline Bytes vertexChunk(std::initializer_list<Point> points) {
    Bytes out = u16(static_cast<int>(points.size()));
    for (const Point& p : points) {
        out = cat({out, f32(p.x), f32(p.y), f32(p.z)});
    }
    return chunk(0x4110, {out});
}

inline Bytes faceChunk(std::initializer_list<Corner> faces,
                       std::initializer_list<Bytes> subs = {}) {
    Bytes out = u16(static_cast<int>(faces.size()));
    for (const Corner& f : faces) {
        out = cat({out, u16(f.a), u16(f.b), u16(f.c), u16(7)});
    }
    return chunk(0x4120, {out, cat(subs)});
}

inline Bytes groupChunk(const std::string& material, std::initializer_list<int> faceIndices) {
    Bytes out = cat({str(material), u16(static_cast<int>(faceIndices.size()))});
    for (int index : faceIndices) {
        out = cat({out, u16(index)});
    }
    return chunk(0x4130, {out});
}

inline Bytes mappingChunk(std::initializer_list<Uv> uvs) {
    Bytes out = u16(static_cast<int>(uvs.size()));
    for (const Uv& uv : uvs) {
        out = cat({out, f32(uv.u), f32(uv.v)});
    }
    return chunk(0x4140, {out});
}

inline Bytes color24(int r, int g, int b) {
    return chunk(0x0011, {u8(r), u8(g), u8(b)});
}
inline Bytes colorF(float r, float g, float b) {
    return chunk(0x0010, {f32(r), f32(g), f32(b)});
}
inline Bytes intPercent(int value) {
    return chunk(0x0030, {u16(value)});
}
inline Bytes floatPercent(float value) {
    return chunk(0x0031, {f32(value)});
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
        material("Glow", {chunk(0xA020, {colorF(0.25f, 0.5f, 0.75f)}), chunk(0xA083, {})}),
        object("Box", {triMesh({vertexChunk({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}),
                                faceChunk({{0, 1, 2}, {1, 3, 2}},
                                          {groupChunk("Stone", {1}), groupChunk("Glow", {0})}),
                                mappingChunk({{0, 0}, {1, 0}, {0, 1}, {1, 0.25f}})})}),
    });
}

inline bool writeFile(const std::string& path, const Bytes& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) {
        return false;
    }
    size_t written = bytes.empty() ? 0 : fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    return written == bytes.size();
}

inline Bytes readFile(const std::string& path) {
    Bytes out;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) {
        return out;
    }
    unsigned char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), f)) > 0) {
        out.insert(out.end(), buffer, buffer + got);
    }
    fclose(f);
    return out;
}

// A folder under the build folder for files the tests write.
inline std::string scratchDir(const std::string& name) {
    std::string dir = std::string(TUHKALA_BINARY_DIR) + "/test-scratch";
    mkdir(dir.c_str(), 0755);
    dir += "/" + name;
    mkdir(dir.c_str(), 0755);
    return dir;
}

// Keeps a generated file as a seed for the fuzz targets (fuzz/run.sh).
inline void keepSeed(const std::string& kind, const std::string& name, const Bytes& bytes) {
    std::string dir = std::string(TUHKALA_BINARY_DIR) + "/fuzz-seeds";
    mkdir(dir.c_str(), 0755);
    dir += "/" + kind;
    mkdir(dir.c_str(), 0755);
    writeFile(dir + "/" + name, bytes);
}

} // namespace testfiles
