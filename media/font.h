// Type for the pictures: one line of text rendered through FreeType from a
// TrueType font of the system (the DejaVu family of fonts-dejavu-core) into a
// coverage mask.
//
// Build time, one thread. Sizes in pixels.
#pragma once

#include <string>

#include "media/image.h"

// Fonts the pictures are set in, read at build time.
extern const char* const FONT_SANS_BOLD;
extern const char* const FONT_SERIF_BOLD;
extern const char* const FONT_SERIF;

// Renders `text` (ASCII) in one line at the given pixel size (the em height),
// with `tracking` extra pixels between letters. The mask is as wide as the
// advance of the line and as tall as the font's ascent plus descent, the
// baseline at `*baseline` pixels from its top when baseline is not null.
// False with a reason in *error when the font cannot be read or a glyph fails.
bool renderText(const char* fontPath, const std::string& text, int pixelSize, int tracking,
                Mask* out, int* baseline, std::string* error);
