// FreeType glyph rendering into coverage masks. The library and face are
// opened and closed per call: the generator sets a few dozen lines in all,
// and keeping no state makes every call independent.
//
// Build time, one thread.
#include "media/font.h"

#include <algorithm>
#include <utility>

#include <ft2build.h>
#include FT_FREETYPE_H

const char* const FONT_SANS_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
const char* const FONT_SERIF_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf";
const char* const FONT_SERIF = "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf";

namespace {

struct FreeTypeFace {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    ~FreeTypeFace() {
        if (face)
            FT_Done_Face(face);
        if (library)
            FT_Done_FreeType(library);
    }
};

} // namespace

bool renderText(const char* fontPath, const std::string& text, int pixelSize, int tracking,
                Mask* out, int* baseline, std::string* error) {
    if (pixelSize <= 0 || pixelSize > 4096) {
        *error = "text size out of range";
        return false;
    }
    FreeTypeFace ft;
    if (FT_Init_FreeType(&ft.library) != 0) {
        *error = "FreeType could not be initialised";
        return false;
    }
    if (FT_New_Face(ft.library, fontPath, 0, &ft.face) != 0) {
        *error = std::string("cannot read font ") + fontPath +
                 " (install the package fonts-dejavu-core)";
        return false;
    }
    if (FT_Set_Pixel_Sizes(ft.face, 0, static_cast<FT_UInt>(pixelSize)) != 0) {
        *error = "font has no size " + std::to_string(pixelSize);
        return false;
    }
    const int ascent = static_cast<int>(ft.face->size->metrics.ascender >> 6);
    const int descent = static_cast<int>(-(ft.face->size->metrics.descender >> 6));

    // First pass: the line's width from the glyph advances.
    int width = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (FT_Load_Char(ft.face, static_cast<unsigned char>(text[i]), FT_LOAD_DEFAULT) != 0) {
            *error = std::string("no glyph for '") + text[i] + "'";
            return false;
        }
        width += static_cast<int>(ft.face->glyph->advance.x >> 6);
        if (i + 1 < text.size())
            width += tracking;
    }
    Mask mask(std::max(1, width), std::max(1, ascent + descent));

    int penX = 0;
    for (char ch : text) {
        if (FT_Load_Char(ft.face, static_cast<unsigned char>(ch), FT_LOAD_RENDER) != 0) {
            *error = std::string("glyph '") + ch + "' could not be rendered";
            return false;
        }
        const FT_GlyphSlot slot = ft.face->glyph;
        const FT_Bitmap& bitmap = slot->bitmap;
        for (unsigned int row = 0; row < bitmap.rows; ++row) {
            for (unsigned int col = 0; col < bitmap.width; ++col) {
                const int x = penX + slot->bitmap_left + static_cast<int>(col);
                const int y = ascent - slot->bitmap_top + static_cast<int>(row);
                if (x < 0 || y < 0 || x >= mask.width || y >= mask.height)
                    continue;
                const unsigned char value = bitmap.buffer[row * bitmap.pitch + col];
                float& cell = mask.at(x, y);
                cell = std::min(1.0f, cell + static_cast<float>(value) / 255.0f);
            }
        }
        penX += static_cast<int>(slot->advance.x >> 6) + tracking;
    }
    if (baseline)
        *baseline = ascent;
    *out = std::move(mask);
    return true;
}
