// Painting of the mesh textures. Each texture is a function of its pixel
// position through tiling noise (period = the lattice size), so its left and
// right, top and bottom edges meet when the meshes repeat it.
//
// Build time, one thread. Sizes in pixels; colours 0..1.
#include "media/mesh_textures.h"

#include <cmath>
#include <cstdio>

#include "media/bmp_writer.h"
#include "media/generator.h"
#include "media/jpeg_writer.h"

const char* const TEX_PALLO = "pallo.jpg";
const char* const TEX_NAINEN = "nainen.jpg";
const char* const TEX_IHO = "iho.jpg";
const char* const TEX_HIUKSET = "hiukset.jpg";
const char* const TEX_LATTIA = "lattia.jpg";
const char* const TEX_SEINA = "seina.jpg";
const char* const TEX_KATTO = "katto.jpg";
const char* const TEX_PILARI = "pilari.jpg";
const char* const TEX_HIILLOS = "hiillos.jpg";
const char* const TEX_LEVEL_FLOOR = "ritila.bmp";
const char* const TEX_LEVEL_ROOF = "savu.bmp";

namespace {

const int SIZE = 256;

// Basalt crust with glowing cracks: the ball.
Rgb pallo(float u, float v) {
    const float crust = fbm(u * 8.0f, v * 8.0f, 5, 11, 8);
    const float crack = ridged(u * 6.0f, v * 6.0f, 4, 12, 6);
    const float heat = smoothstep(0.62f, 0.9f, crack);
    const Rgb rock = duskRamp(0.15f + crust * 0.45f) * (0.6f + 0.5f * crust);
    return rock + emberRamp(0.45f + heat * 0.5f) * heat * 1.4f;
}

// Dark wine cloth in vertical folds, dusted with ash: the figure's dress.
Rgb nainen(float u, float v) {
    const float warp = fbm(u * 4.0f, v * 4.0f, 3, 21, 4);
    const float fold = 0.5f + 0.5f * std::sin((u * 12.0f + warp * 1.5f) * 6.2831853f);
    const float ash = smoothstep(0.7f, 0.85f, fbm(u * 32.0f, v * 32.0f, 2, 22, 32));
    const Rgb cloth = mix(Rgb{0.18f, 0.03f, 0.06f}, Rgb{0.55f, 0.12f, 0.14f}, fold * fold);
    return mix(cloth, Rgb{0.55f, 0.52f, 0.50f}, ash * 0.5f);
}

// Pale ash-grey skin with a faint warm mottling.
Rgb iho(float u, float v) {
    const float n = fbm(u * 8.0f, v * 8.0f, 4, 31, 8);
    return mix(Rgb{0.62f, 0.55f, 0.54f}, Rgb{0.82f, 0.74f, 0.70f}, n);
}

// Soot-black hair with long strands running down.
Rgb hiukset(float u, float v) {
    const float strand = fbm(u * 64.0f, v * 2.0f, 3, 41, 0);
    const float s = 0.5f + 0.5f * std::sin((u * 40.0f + strand * 3.0f) * 6.2831853f);
    return mix(Rgb{0.03f, 0.02f, 0.03f}, Rgb{0.20f, 0.14f, 0.16f}, s * s);
}

// Square flagstones, 2 × 2 per tile, soot-stained, with dark joints.
Rgb lattia(float u, float v) {
    const float fu = u * 2.0f - std::floor(u * 2.0f);
    const float fv = v * 2.0f - std::floor(v * 2.0f);
    const float edge = std::fmin(std::fmin(fu, 1.0f - fu), std::fmin(fv, 1.0f - fv));
    const float joint = smoothstep(0.015f, 0.04f, edge);
    const float stone = fbm(u * 8.0f, v * 8.0f, 5, 51, 8);
    const float stain = fbm(u * 3.0f, v * 3.0f, 3, 52, 3);
    const Rgb base = mix(Rgb{0.20f, 0.18f, 0.18f}, Rgb{0.52f, 0.48f, 0.45f}, stone);
    return base * (0.55f + 0.45f * stain) * (0.15f + 0.85f * joint);
}

// Brick courses, 8 per tile, every other course shifted by half a brick;
// soot darkens the bricks unevenly.
Rgb seina(float u, float v) {
    const float rows = 8.0f;
    const float row = std::floor(v * rows);
    const float shift = std::fmod(row, 2.0f) * 0.5f;
    const float bu = u * 4.0f + shift;
    const float fu = bu - std::floor(bu);
    const float fv = v * rows - row;
    const float edge = std::fmin(std::fmin(fu, 1.0f - fu) * 0.5f, std::fmin(fv, 1.0f - fv));
    const float mortar = smoothstep(0.03f, 0.07f, edge);
    const float brickId =
        latticeHash(static_cast<int>(std::floor(bu)) % 4, static_cast<int>(row), 61);
    const float grain = fbm(u * 16.0f, v * 16.0f, 4, 62, 16);
    const Rgb brick =
        mix(Rgb{0.30f, 0.10f, 0.08f}, Rgb{0.58f, 0.30f, 0.22f}, brickId * 0.6f + grain * 0.4f);
    const float soot = fbm(u * 2.0f, v * 2.0f, 3, 63, 2);
    return mix(Rgb{0.25f, 0.23f, 0.22f}, brick, mortar) * (0.45f + 0.55f * soot);
}

// Charred planks running across the ceiling.
Rgb katto(float u, float v) {
    const float plank = std::floor(v * 6.0f);
    const float fv = v * 6.0f - plank;
    const float gap = smoothstep(0.0f, 0.06f, std::fmin(fv, 1.0f - fv));
    const float grain = fbm(u * 2.0f, v * 48.0f, 4, 71, 0);
    const float tone = latticeHash(static_cast<int>(plank), 0, 72);
    return mix(Rgb{0.07f, 0.05f, 0.05f}, Rgb{0.30f, 0.22f, 0.18f}, grain * (0.6f + 0.4f * tone)) *
           (0.2f + 0.8f * gap);
}

// Fluted pale stone: 8 flutes around the column.
Rgb pilari(float u, float v) {
    const float flute = 0.5f + 0.5f * std::cos(u * 8.0f * 6.2831853f);
    const float stone = fbm(u * 8.0f, v * 8.0f, 4, 81, 8);
    const Rgb base = mix(Rgb{0.35f, 0.32f, 0.30f}, Rgb{0.70f, 0.66f, 0.60f}, stone);
    return base * (0.55f + 0.45f * flute);
}

// A bed of glowing coals.
Rgb hiillos(float u, float v) {
    const float coal = fbm(u * 8.0f, v * 8.0f, 5, 91, 8);
    const float vein = ridged(u * 4.0f, v * 4.0f, 3, 92, 4);
    return emberRamp(coal * 0.7f + vein * 0.5f);
}

// The level's floor: a grating of glowing bars over a dark pit, as indices
// into a fire palette.
uint8_t ritilaIndex(int x, int y) {
    const float u = (static_cast<float>(x) + 0.5f) / 128.0f;
    const float v = (static_cast<float>(y) + 0.5f) / 128.0f;
    const float fu = u * 4.0f - std::floor(u * 4.0f);
    const float fv = v * 4.0f - std::floor(v * 4.0f);
    const float bar = std::fmax(1.0f - smoothstep(0.0f, 0.12f, std::fabs(fu - 0.5f)),
                                1.0f - smoothstep(0.0f, 0.12f, std::fabs(fv - 0.5f)));
    const float heat = fbm(u * 4.0f, v * 4.0f, 4, 101, 4);
    const float t = clamp01(bar * (0.55f + 0.45f * heat) + heat * 0.25f);
    return static_cast<uint8_t>(std::lround(t * 255.0f));
}

// The level's roof: rolling smoke lit from below.
Rgb savu(float u, float v) {
    const float warp = fbm(u * 4.0f, v * 4.0f, 3, 111, 4);
    const float smoke = fbm(u * 4.0f + warp * 2.0f, v * 4.0f, 5, 112, 4);
    return mix(duskRamp(smoke * 0.8f), emberRamp(0.5f), smoothstep(0.6f, 0.9f, smoke) * 0.5f);
}

} // namespace

bool writeMeshTextures(const std::string& dir) {
    struct Entry {
        const char* name;
        Rgb (*fn)(float, float);
    };
    const Entry entries[] = {{TEX_PALLO, pallo},     {TEX_NAINEN, nainen}, {TEX_IHO, iho},
                             {TEX_HIUKSET, hiukset}, {TEX_LATTIA, lattia}, {TEX_SEINA, seina},
                             {TEX_KATTO, katto},     {TEX_PILARI, pilari}, {TEX_HIILLOS, hiillos}};
    for (const Entry& e : entries) {
        if (!writeJpegMedia(dir, e.name, paint(SIZE, e.fn)))
            return false;
    }

    std::vector<PaletteEntry> palette(256);
    for (int i = 0; i < 256; ++i) {
        const Rgb c = emberRamp(static_cast<float>(i) / 255.0f);
        palette[static_cast<size_t>(i)] = {
            static_cast<uint8_t>(std::lround(clamp01(c.r) * 255.0f)),
            static_cast<uint8_t>(std::lround(clamp01(c.g) * 255.0f)),
            static_cast<uint8_t>(std::lround(clamp01(c.b) * 255.0f))};
    }
    std::vector<uint8_t> indices(128 * 128);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
            indices[static_cast<size_t>(y) * 128 + x] = ritilaIndex(x, y);
    const std::vector<unsigned char> floor = encodeBmp8(128, 128, indices, palette);
    if (floor.empty()) {
        std::fprintf(stderr, "tuhkala-media: %s: bad bitmap arguments\n", TEX_LEVEL_FLOOR);
        return false;
    }
    return writeMediaFile(dir, TEX_LEVEL_FLOOR, floor) &&
           writeMediaFile(dir, TEX_LEVEL_ROOF, encodeBmp24(paint(128, savu)));
}
