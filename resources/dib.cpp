// Windows bitmap (BMP file or bare DIB) decoding into 24-bit RGB, bottom row
// first, without gaps between rows; the BMP path of Texture uses it.
//
// Main thread (loadDibImage may show a message box); decodeDib itself keeps no
// state. Sizes in pixels, offsets in bytes from the start of the file.
//
// Accepted: the 12-byte core header and the 40-byte info header, with or
// without the 14-byte "BM" file header; 1, 4 and 8 bits with a colour table,
// RLE8 and RLE4; 24 bits; 16 and 32 bits as plain RGB or with colour masks.
// Every read is checked against the end of the file: a header, colour table,
// mask block or pixel array that does not fit refuses the file.
//
// Memory budget (dibReadBudget): the picture (3 bytes a pixel) and its record,
// nothing else. Colour tables and masks are read in place once the file is
// known to hold them, and uncompressed rows must all be there before the
// picture is allocated. RLE data cannot be set against the picture's size
// (its end-of-line, delta and end codes leave any area black in a few
// bytes), so an RLE picture is bounded by the pixel cap alone.
#include "resources/dib.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

const char* const MSG_OUT_OF_MEMORY = "Out of memory.";
const char* const MSG_UNKNOWN_FORMAT = "Unknown DIB file format.";
const char* const MSG_CONVERSION = "Image file conversion error.";

// Larger pictures are refused as if memory ran out: an RLE file of a few bytes
// can claim a picture of gigabytes.
constexpr uint64_t MAX_DIB_PIXELS = 1ull << 24;

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_RLE8 = 1;
constexpr uint32_t BI_RLE4 = 2;
constexpr uint32_t BI_BITFIELDS = 3;

constexpr size_t FILE_HEADER_SIZE = 14;
constexpr size_t CORE_HEADER_SIZE = 12;
constexpr size_t INFO_HEADER_SIZE = 40;

uint16_t u16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t u32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The source picture as the headers describe it.
struct Source {
    const unsigned char* data = nullptr;
    size_t size = 0;
    int width = 0;
    int height = 0; // magnitude
    bool topDown = false;
    int bitCount = 0;
    uint32_t compression = BI_RGB;
    const unsigned char* palette = nullptr; // count entries of paletteEntrySize bytes
    int paletteEntrySize = 4;
    int colorCount = 0;
    uint32_t masks[3] = {};
    size_t bitsOffset = 0;
};

void paletteColor(const Source& src, unsigned index, unsigned char* out) {
    if (index >= static_cast<unsigned>(src.colorCount)) {
        // An index past the colour table has no colour: black.
        out[0] = out[1] = out[2] = 0;
        return;
    }
    const unsigned char* entry = src.palette + static_cast<size_t>(index) * src.paletteEntrySize;
    out[0] = entry[2];
    out[1] = entry[1];
    out[2] = entry[0];
}

// One colour channel of a masked 16- or 32-bit pixel, widened to 8 bits by
// repeating its bits (5-bit 31 becomes 255, not 248) or narrowed by keeping its
// top 8 bits.
unsigned char maskedChannel(uint32_t pixel, uint32_t mask) {
    if (mask == 0) {
        return 0;
    }
    int shift = 0;
    while (!((mask >> shift) & 1)) {
        shift++;
    }
    uint32_t field = mask >> shift;
    int bits = 0;
    while (bits < 32 && (field >> bits) != 0) {
        bits++;
    }
    uint64_t value = (pixel & mask) >> shift;
    if (bits >= 8) {
        return static_cast<unsigned char>(value >> (bits - 8));
    }
    uint64_t widened = 0;
    int filled = 0;
    while (filled < 8) {
        widened = (widened << bits) | value;
        filled += bits;
    }
    return static_cast<unsigned char>(widened >> (filled - 8));
}

// Uncompressed rows, each padded to 4 bytes in the file.
void decodeRows(const Source& src, unsigned char* out) {
    size_t stride = ((static_cast<size_t>(src.width) * src.bitCount + 31) / 32) * 4;
    for (int row = 0; row < src.height; row++) {
        const unsigned char* in = src.data + src.bitsOffset + stride * row;
        int outRow = src.topDown ? src.height - 1 - row : row;
        unsigned char* dst = out + static_cast<size_t>(outRow) * src.width * 3;
        for (int x = 0; x < src.width; x++, dst += 3) {
            switch (src.bitCount) {
            case 1:
                paletteColor(src, (in[x >> 3] >> (7 - (x & 7))) & 1, dst);
                break;
            case 4:
                paletteColor(src, (in[x >> 1] >> ((x & 1) ? 0 : 4)) & 15, dst);
                break;
            case 8:
                paletteColor(src, in[x], dst);
                break;
            case 16: {
                uint32_t pixel = u16(in + 2 * x);
                for (int c = 0; c < 3; c++) {
                    dst[c] = maskedChannel(pixel, src.masks[c]);
                }
                break;
            }
            case 24:
                dst[0] = in[3 * x + 2];
                dst[1] = in[3 * x + 1];
                dst[2] = in[3 * x];
                break;
            default: { // 32
                uint32_t pixel = u32(in + 4 * x);
                for (int c = 0; c < 3; c++) {
                    dst[c] = maskedChannel(pixel, src.masks[c]);
                }
                break;
            }
            }
        }
    }
}

// RLE8 and RLE4. Pixels that no code reaches stay black; codes that move the
// position outside the picture write nothing there; data that ends without an
// end-of-bitmap code ends the picture.
void decodeRle(const Source& src, unsigned char* out) {
    const unsigned char* p = src.data + src.bitsOffset;
    const unsigned char* end = src.data + src.size;
    bool rle4 = src.compression == BI_RLE4;
    long long x = 0;
    long long y = 0;
    auto put = [&](unsigned index) {
        if (x >= 0 && x < src.width && y >= 0 && y < src.height) {
            paletteColor(src, index, out + (static_cast<size_t>(y) * src.width + x) * 3);
        }
        x++;
    };
    while (end - p >= 2 && y < src.height) {
        unsigned count = p[0];
        unsigned value = p[1];
        p += 2;
        if (count > 0) {
            for (unsigned i = 0; i < count; i++) {
                put(rle4 ? ((i & 1) ? value & 15 : value >> 4) : value);
            }
        } else if (value == 0) {
            x = 0;
            y++;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            if (end - p < 2) {
                break;
            }
            x += p[0];
            y += p[1];
            p += 2;
        } else {
            size_t bytes = rle4 ? (value + 1) / 2 : value;
            size_t padded = (bytes + 1) & ~static_cast<size_t>(1);
            if (static_cast<size_t>(end - p) < bytes) {
                break;
            }
            for (unsigned i = 0; i < value; i++) {
                put(rle4 ? ((i & 1) ? p[i / 2] & 15 : p[i / 2] >> 4) : p[i]);
            }
            p += static_cast<size_t>(end - p) < padded ? static_cast<size_t>(end - p) : padded;
        }
    }
}

DibImage* fail(const char** message, const char* text) {
    if (message) {
        *message = text;
    }
    return nullptr;
}

// Where the headers say the parts of the file lie, and the picture's size as
// stored, before any of it is checked.
struct Layout {
    bool hasFileHeader = false;
    long long width = 0;
    long long height = 0;     // negative for a picture stored top-down
    uint64_t tableOffset = 0; // the colour table, after any masks
    uint64_t tableBytes = 0;
    uint64_t bitsOffset = 0;
};

// Header parsing: the optional file header, the core or info header, the
// masks of a bitfields picture, and where the colour table and the pixel bits
// lie. Null when the headers are whole, else the failure's message.
const char* parseHeaders(const unsigned char* data, size_t size, Source* src, Layout* layout) {
    if (!data) {
        return MSG_UNKNOWN_FORMAT;
    }
    src->data = data;
    src->size = size;

    layout->hasFileHeader = size >= 2 && data[0] == 'B' && data[1] == 'M';
    size_t headerOffset = 0;
    if (layout->hasFileHeader) {
        if (size < FILE_HEADER_SIZE) {
            return MSG_UNKNOWN_FORMAT;
        }
        layout->bitsOffset = u32(data + 10);
        headerOffset = FILE_HEADER_SIZE;
    }
    if (size - headerOffset < 4) {
        return MSG_UNKNOWN_FORMAT;
    }
    const unsigned char* header = data + headerOffset;
    uint32_t headerSize = u32(header);
    if ((headerSize != CORE_HEADER_SIZE && headerSize != INFO_HEADER_SIZE) ||
        size - headerOffset < headerSize) {
        return MSG_UNKNOWN_FORMAT;
    }

    if (headerSize == CORE_HEADER_SIZE) {
        layout->width = u16(header + 4);
        layout->height = u16(header + 6);
        src->bitCount = u16(header + 10);
        src->paletteEntrySize = 3;
    } else {
        layout->width = static_cast<int32_t>(u32(header + 4));
        layout->height = static_cast<int32_t>(u32(header + 8));
        src->bitCount = u16(header + 14);
        src->compression = u32(header + 16);
        src->paletteEntrySize = 4;
    }
    src->colorCount = dibColorCount(header);

    // The masks of a bitfields picture follow the info header, ahead of any
    // colour table.
    layout->tableOffset = headerOffset + headerSize;
    if (src->compression == BI_BITFIELDS) {
        if (src->bitCount != 16 && src->bitCount != 32) {
            return MSG_CONVERSION;
        }
        if (size < layout->tableOffset + 12) {
            return MSG_CONVERSION;
        }
        for (int c = 0; c < 3; c++) {
            src->masks[c] = u32(data + layout->tableOffset + 4 * c);
        }
        layout->tableOffset += 12;
    } else if (src->bitCount == 16) {
        src->masks[0] = 0x7C00;
        src->masks[1] = 0x03E0;
        src->masks[2] = 0x001F;
    } else if (src->bitCount == 32) {
        src->masks[0] = 0x00FF0000;
        src->masks[1] = 0x0000FF00;
        src->masks[2] = 0x000000FF;
    }
    layout->tableBytes = static_cast<uint64_t>(src->colorCount) * src->paletteEntrySize;
    if (!layout->hasFileHeader) {
        layout->bitsOffset = layout->tableOffset + layout->tableBytes;
    }
    return nullptr;
}

// Checks of the picture the headers describe: a bit depth and compression
// that are decoded here, a colour table in the file where pixels index one, a
// size within the pixel cap and, for uncompressed pictures, every row in the
// file. Fills the rest of src; null when the picture can be decoded, else the
// failure's message.
const char* checkPicture(const Layout& layout, Source* src) {
    switch (src->bitCount) {
    case 1:
    case 4:
    case 8:
        // Only pictures with palette indices need the table to be there.
        if (layout.tableOffset + layout.tableBytes > src->size) {
            return MSG_CONVERSION;
        }
        src->palette = src->data + layout.tableOffset;
        break;
    case 16:
    case 24:
    case 32:
        break;
    default:
        return MSG_CONVERSION;
    }
    bool rle = src->compression == BI_RLE8 || src->compression == BI_RLE4;
    if (!(src->compression == BI_RGB || src->compression == BI_BITFIELDS ||
          (src->compression == BI_RLE8 && src->bitCount == 8) ||
          (src->compression == BI_RLE4 && src->bitCount == 4))) {
        return MSG_CONVERSION;
    }
    // Top-down pictures are turned over; RLE pictures cannot be stored so.
    long long width = layout.width;
    long long height = layout.height;
    if (height < 0) {
        if (rle) {
            return MSG_CONVERSION;
        }
        src->topDown = true;
        height = -height;
    }
    if (width <= 0 || height <= 0 || height > INT_MAX || layout.bitsOffset > src->size) {
        return MSG_CONVERSION;
    }
    if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > MAX_DIB_PIXELS) {
        return MSG_OUT_OF_MEMORY;
    }
    src->width = static_cast<int>(width);
    src->height = static_cast<int>(height);
    src->bitsOffset = static_cast<size_t>(layout.bitsOffset);
    if (!rle) {
        uint64_t stride = ((static_cast<uint64_t>(width) * src->bitCount + 31) / 32) * 4;
        uint64_t lastRow = (static_cast<uint64_t>(width) * src->bitCount + 7) / 8;
        // The last row need not carry its padding bytes.
        if (layout.bitsOffset + stride * (height - 1) + lastRow > src->size) {
            return MSG_CONVERSION;
        }
    }
    return nullptr;
}

// Pixel decoding of a checked picture into a new DibImage.
DibImage* decodePixels(const Source& src, const char** message) {
    size_t outBytes = static_cast<size_t>(src.width) * static_cast<size_t>(src.height) * 3;
    unsigned char* pixels = static_cast<unsigned char*>(calloc(outBytes, 1));
    if (!pixels) {
        return fail(message, MSG_OUT_OF_MEMORY);
    }
    if (src.compression == BI_RLE8 || src.compression == BI_RLE4) {
        decodeRle(src, pixels);
    } else {
        decodeRows(src, pixels);
    }
    DibImage* image = new (std::nothrow) DibImage;
    if (!image) {
        free(pixels);
        return fail(message, MSG_OUT_OF_MEMORY);
    }
    image->width = src.width;
    image->height = src.height;
    image->pixels = pixels;
    return image;
}

} // namespace

uint16_t dibColorCount(const unsigned char* header) {
    uint32_t size = u32(header);
    int bitCount;
    if (size == CORE_HEADER_SIZE) {
        bitCount = u16(header + 10);
    } else {
        // The field is tested whole and only then cut to 16 bits: a count of
        // 0x10000 is no colour at all, not the count the bit depth gives.
        uint32_t used = u32(header + 32);
        if (used != 0) {
            return static_cast<uint16_t>(used);
        }
        bitCount = u16(header + 14);
    }
    switch (bitCount) {
    case 1:
        return 2;
    case 4:
        return 16;
    case 8:
        return 256;
    default:
        return 0;
    }
}

DibImage* decodeDib(const unsigned char* data, size_t size, const char** message) {
    if (message) {
        *message = nullptr;
    }
    Source src;
    Layout layout;
    const char* failure = parseHeaders(data, size, &src, &layout);
    if (!failure) {
        failure = checkPicture(layout, &src);
    }
    if (failure) {
        return fail(message, failure);
    }
    return decodePixels(src, message);
}

DibImage* loadDibImage(const char* path, bool wide) {
    // A wide path is a wchar_t string; the data files have 8-bit names.
    std::string narrow;
    if (wide) {
        const wchar_t* widePath = reinterpret_cast<const wchar_t*>(path);
        int length = snprintf(nullptr, 0, "%ls", widePath);
        if (length > 0) {
            std::vector<char> buffer(static_cast<size_t>(length) + 1);
            snprintf(buffer.data(), buffer.size(), "%ls", widePath);
            narrow = buffer.data();
        }
    } else {
        narrow = path ? path : "";
    }

    std::vector<unsigned char> bytes;
    if (!platform::readDataFile(narrow.c_str(), bytes) || bytes.empty()) {
        // The message must fit 256 bytes: the path is cut, the rest kept.
        static const char PREFIX[] = "Failed to open DIB file ";
        static const char SUFFIX[] = ".\n";
        char text[256];
        int room = static_cast<int>(sizeof(text) - (sizeof(PREFIX) - 1) - (sizeof(SUFFIX) - 1) - 1);
        snprintf(text, sizeof(text), "%s%.*s%s", PREFIX, room, narrow.c_str(), SUFFIX);
        platform::showErrorBox("Error", text);
        return nullptr;
    }
    const char* message = nullptr;
    DibImage* image = decodeDib(bytes.data(), bytes.size(), &message);
    if (!image) {
        platform::showErrorBox("Error", message ? message : MSG_CONVERSION);
    }
    return image;
}

size_t dibReadBudget(int width, int height) {
    size_t pixels = 0;
    if (width > 0 && height > 0 &&
        static_cast<uint64_t>(width) * static_cast<uint64_t>(height) <= MAX_DIB_PIXELS) {
        pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    }
    return sizeof(DibImage) + 3 * pixels;
}

void freeDibImage(DibImage* image) {
    if (image) {
        free(image->pixels);
        delete image;
    }
}
