// Little-endian integers written byte by byte into a byte buffer, so that the
// files the generator and the capture program write do not depend on the
// host's byte order or struct layout.
//
// Any thread; no state. Values are unsigned; only their low 16 or 32 bits are
// written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline void putLe16(std::vector<unsigned char>& out, uint32_t value) {
    out.push_back(static_cast<unsigned char>(value & 0xFF));
    out.push_back(static_cast<unsigned char>((value >> 8) & 0xFF));
}

inline void putLe32(std::vector<unsigned char>& out, uint32_t value) {
    putLe16(out, value & 0xFFFF);
    putLe16(out, value >> 16);
}

// Overwrites the four bytes at offset at: a length or an offset that is known
// only once what follows it has been written.
inline void patchLe32(std::vector<unsigned char>& out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<unsigned char>((value >> (8 * i)) & 0xFF);
}
