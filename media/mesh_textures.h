// The textures the meshes name: JPEG pictures for the ball, the figure, the
// interior and the monument, and the level's two bitmaps (one 8-bit
// paletted, one 24-bit), written into tavara/.
//
// Build time, one thread. All 256 × 256 (bitmaps 128 × 128) and made to
// tile, since the meshes repeat them.
#pragma once

#include <string>

// File names as they appear in tavara/ (the meshes refer to them as
// "tavara\" + name).
extern const char* const TEX_PALLO;
extern const char* const TEX_NAINEN;
extern const char* const TEX_IHO;
extern const char* const TEX_HIUKSET;
extern const char* const TEX_LATTIA;
extern const char* const TEX_SEINA;
extern const char* const TEX_KATTO;
extern const char* const TEX_PILARI;
extern const char* const TEX_HIILLOS;
extern const char* const TEX_LEVEL_FLOOR; // 8-bit paletted BMP
extern const char* const TEX_LEVEL_ROOF;  // 24-bit BMP

// Writes every mesh texture into dir; false after a message on failure.
bool writeMeshTextures(const std::string& dir);
