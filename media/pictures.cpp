// The show's pictures: backgrounds, overlays, inserts, the three letters, the
// title and the closing image, painted procedurally in one palette (ash
// greys, bruise violets of dusk, ember reds and oranges) and set in DejaVu
// type through FreeType.
//
// Build time, one thread. Full-screen pictures are 512 × 512, inserts and
// letters 256 × 256 (the show stretches them over their rectangles). Pictures
// that the show adds over others are black where they should leave the
// frame unchanged.
#include <cmath>
#include <cstdio>
#include <string>

#include "media/font.h"
#include "media/generator.h"
#include "media/image.h"
#include "media/jpeg_writer.h"

namespace {

const float PI = 3.14159265f;

// Sets one line of type centred on cx with its baseline at `baseline`: a
// blurred halo in `glow` first, then the letters in `color` over it.
bool setText(Image& image, const char* font, const std::string& text, int size, int tracking,
             float cx, float baseline, Rgb color, Rgb glow, int glowRadius) {
    Mask mask;
    int ascent = 0;
    std::string error;
    if (!renderText(font, text, size, tracking, &mask, &ascent, &error)) {
        std::fprintf(stderr, "tuhkala-media: text \"%s\": %s\n", text.c_str(), error.c_str());
        return false;
    }
    const int x = static_cast<int>(std::lround(cx - static_cast<float>(mask.width) * 0.5f));
    const int y = static_cast<int>(std::lround(baseline)) - ascent;
    if (glowRadius > 0) {
        const Mask halo = blurMask(mask, glowRadius);
        stampMask(image, halo, x - 3 * glowRadius, y - 3 * glowRadius, glow, 1.0f, true);
    }
    stampMask(image, mask, x, y, color, 1.0f, false);
    return true;
}

// Falling ash: sparse pale specks, a few of them glowing embers.
void scatterAsh(Image& image, int count, uint32_t seed, float brightness) {
    for (int i = 0; i < count; ++i) {
        const float x = latticeHash(i, 1, seed) * static_cast<float>(image.width);
        const float y = latticeHash(i, 2, seed) * static_cast<float>(image.height);
        const float kind = latticeHash(i, 3, seed);
        const float r = 1.2f + latticeHash(i, 4, seed) * 2.2f;
        const Rgb c = kind < 0.8f ? Rgb{0.75f, 0.72f, 0.70f} : emberRamp(0.75f + kind * 0.2f);
        addGlow(image, x, y, r, c * brightness, 1.5f);
    }
}

// Dusk over a plain of ash, a low ember sun half sunk into the haze. Kept
// mostly dark with small bright parts: the opening scene adds eight enlarged
// copies of this picture over itself, so anything much brighter than the
// afterglow would sum to flat white.
Image image8() {
    const float horizon = 0.62f;
    const float sunX = 330.0f, sunY = 318.0f;
    const float sunU = sunX / 512.0f;
    Image im = paint(512, [horizon, sunU](float u, float v) {
        if (v < horizon) {
            // Night above, a bruised band of afterglow along the horizon, torn
            // by drifting smoke.
            const float h = v / horizon;
            const float smoke = fbm(u * 3.0f + v * 1.5f, v * 6.0f, 6, 201);
            const float streak = ridged(u * 2.0f + smoke, v * 14.0f, 4, 204);
            const float band = std::pow(h, 3.0f);
            const float t = 0.12f + 0.32f * band + (smoke - 0.5f) * 0.32f + streak * 0.10f * h;
            const float du = u - sunU;
            // Warmth around the sun, wider sideways than up.
            const float warm = std::exp(-(du * du * 8.0f + (1.0f - h) * (1.0f - h) * 30.0f));
            return duskRamp(t) * 0.85f + emberRamp(0.42f) * (warm * 0.35f);
        }
        // The ash plain: dark, with faint crests catching the sun's light.
        const float d = (v - horizon) / (1.0f - horizon);
        const float dunes = ridged(u * 5.0f, d * d * 6.0f + u, 4, 202);
        const float du = u - sunU;
        const float lit = std::exp(-du * du * 10.0f) * (1.0f - d);
        const Rgb ground = duskRamp(0.14f + dunes * 0.28f) * (1.0f - 0.6f * d);
        return ground + emberRamp(0.45f) * (std::pow(dunes, 3.0f) * lit * 0.35f);
    });
    // The sun is painted apart and laid on with its lower half dimmed, as if
    // sinking into the haze over the plain.
    Image sun(512, 512);
    addGlow(sun, sunX, sunY, 150.0f, Rgb{0.16f, 0.03f, 0.01f}, 2.5f);
    addGlow(sun, sunX, sunY, 34.0f, Rgb{0.75f, 0.25f, 0.05f}, 1.2f);
    addGlow(sun, sunX, sunY, 17.0f, Rgb{1.0f, 0.75f, 0.45f}, 0.5f);
    const int horizonRow = static_cast<int>(horizon * 512.0f);
    for (int y = 0; y < 512; ++y) {
        const float sink = y < horizonRow ? 1.0f : 0.3f;
        for (int x = 0; x < 512; ++x)
            im.at(x, y) = im.at(x, y) + sun.at(x, y) * sink;
    }
    scatterAsh(im, 140, 203, 0.4f);
    vignette(im, 0.7f);
    return im;
}

// An ember sun: a burning disc with a ragged corona in a ring of smoke.
Image gay() {
    return paint(512, [](float u, float v) {
        const float dx = u - 0.5f, dy = v - 0.5f;
        const float r = std::sqrt(dx * dx + dy * dy);
        const float a = std::atan2(dy, dx);
        const float flame = ridged(a * 4.0f + 20.0f, r * 10.0f, 4, 211);
        const float corona = std::exp(-std::fabs(r - 0.22f) * 14.0f) * (0.5f + flame);
        const float disc = 1.0f - smoothstep(0.17f, 0.21f, r);
        const float cells = fbm(u * 18.0f, v * 18.0f, 3, 212);
        const float smoke = fbm(u * 4.0f + r * 3.0f, v * 4.0f, 5, 213);
        Rgb c = duskRamp(smoke * 0.6f) * (1.0f - smoothstep(0.2f, 0.75f, r) * 0.8f);
        c = c + emberRamp(0.45f + corona * 0.5f) * clamp01(corona);
        return mix(c, emberRamp(0.6f + cells * 0.4f), disc);
    });
}

// The title, set over smoke with an ember glow behind it.
bool vtdemo(Image* out) {
    Image im = paint(512, [](float u, float v) {
        const float smoke = fbm(u * 3.0f, v * 3.0f + fbm(u * 2.0f, v * 2.0f, 3, 221), 6, 222);
        const float band = std::exp(-std::pow((v - 0.5f) * 4.0f, 2.0f));
        return duskRamp(smoke * 0.5f) * 0.8f + emberRamp(0.45f) * band * smoke * 0.6f;
    });
    const Rgb type = {1.0f, 0.82f, 0.55f};
    const Rgb glow = {0.9f, 0.25f, 0.05f};
    bool ok = setText(im, FONT_SERIF_BOLD, "VARJOINEN", 62, 6, 256.0f, 226.0f, type, glow, 6) &&
              setText(im, FONT_SERIF_BOLD, "TUHKALADEMO", 44, 2, 256.0f, 290.0f, type, glow, 6) &&
              setText(im, FONT_SERIF, "Rautakivi", 30, 4, 256.0f, 370.0f, Rgb{0.75f, 0.7f, 0.7f},
                      Rgb{0.3f, 0.1f, 0.15f}, 3) &&
              setText(im, FONT_SANS_BOLD, "SMOG IN 9KB", 14, 8, 256.0f, 470.0f,
                      Rgb{0.5f, 0.45f, 0.45f}, Rgb{}, 0);
    // A thin ember rule between the name and the title.
    for (int x = 150; x < 362; ++x) {
        const float fade = 1.0f - std::fabs(static_cast<float>(x) - 256.0f) / 106.0f;
        im.at(x, 322) = im.at(x, 322) + Rgb{0.9f, 0.4f, 0.1f} * fade;
    }
    vignette(im, 0.6f);
    *out = im;
    return ok;
}

// A sea of fire along the bottom, black sky above with rising sparks.
Image tulimeri() {
    Image im = paint(512, [](float u, float v) {
        const float rise = fbm(u * 6.0f, v * 3.0f + fbm(u * 3.0f, v * 2.0f, 3, 231) * 2.0f, 5, 232);
        const float height = smoothstep(0.45f, 1.0f, v);
        const float t = clamp01(height * (0.4f + rise * 0.9f) - 0.15f);
        return emberRamp(t * 1.1f);
    });
    for (int i = 0; i < 90; ++i) {
        const float x = latticeHash(i, 1, 233) * 512.0f;
        const float y = 120.0f + latticeHash(i, 2, 233) * 300.0f;
        addGlow(im, x, y, 2.0f + latticeHash(i, 3, 233) * 3.0f, emberRamp(0.8f), 1.5f);
    }
    return im;
}

// Near darkness: faint shafts of light and a scatter of embers.
Image pimee() {
    Image im = paint(512, [](float u, float v) {
        float shafts = 0.0f;
        for (int i = 0; i < 3; ++i) {
            const float centre = 0.25f + 0.25f * static_cast<float>(i) + (v - 0.5f) * 0.3f;
            shafts += std::exp(-std::pow((u - centre) * 18.0f, 2.0f)) * (1.0f - v);
        }
        const float dust = fbm(u * 8.0f, v * 8.0f, 4, 241);
        return Rgb{0.5f, 0.45f, 0.55f} * (shafts * dust * 0.6f);
    });
    scatterAsh(im, 60, 242, 1.0f);
    return im;
}

// A violet dusk with a large pale moon behind haze, the ground in ash.
Image neito() {
    Image im = paint(512, [](float u, float v) {
        const float haze = fbm(u * 4.0f, v * 8.0f, 5, 251);
        Rgb c = duskRamp(0.1f + v * 0.35f + (haze - 0.5f) * 0.3f);
        const float dx = u - 0.68f, dy = v - 0.3f;
        const float r = std::sqrt(dx * dx + dy * dy);
        const float moon = 1.0f - smoothstep(0.13f, 0.135f, r);
        const float maria = fbm(u * 14.0f, v * 14.0f, 4, 252);
        c = mix(c, Rgb{0.85f, 0.80f, 0.78f} * (0.75f + 0.25f * maria), moon * (1.0f - haze * 0.4f));
        if (v > 0.8f)
            c = c * (1.0f - smoothstep(0.8f, 0.95f, v) * 0.8f);
        return c;
    });
    addGlow(im, 348.0f, 154.0f, 200.0f, Rgb{0.25f, 0.2f, 0.28f}, 2.0f);
    scatterAsh(im, 120, 253, 0.5f);
    vignette(im, 0.5f);
    return im;
}

// The six inserts, each a single bright motif on black.
Image insert(int which) {
    return paint(256, [which](float u, float v) {
        const float dx = u - 0.5f, dy = v - 0.5f;
        const float r = std::sqrt(dx * dx + dy * dy);
        const float a = std::atan2(dy, dx);
        switch (which) {
        case 0: { // rings of an ember eye
            const float rings = 0.5f + 0.5f * std::cos(r * 60.0f);
            const float pupil = 1.0f - smoothstep(0.06f, 0.08f, r);
            return emberRamp((rings * (1.0f - smoothstep(0.1f, 0.45f, r))) * 0.9f) +
                   Rgb{1.0f, 0.9f, 0.7f} * pupil;
        }
        case 1: { // a smoke spiral
            const float arm =
                std::sin(a * 2.0f + r * 28.0f + fbm(u * 6.0f, v * 6.0f, 3, 261) * 3.0f);
            const float smoke = smoothstep(0.3f, 1.0f, arm) * (1.0f - smoothstep(0.05f, 0.48f, r));
            return duskRamp(0.3f + smoke * 0.7f) * smoke;
        }
        case 2: { // glowing cracks in ash
            const float crack = ridged(u * 5.0f, v * 5.0f, 4, 262);
            return emberRamp(smoothstep(0.55f, 0.95f, crack)) * (1.0f - smoothstep(0.3f, 0.5f, r));
        }
        case 3: { // a flame
            const float sway = (fbm(v * 4.0f, 0.5f, 3, 263) - 0.5f) * 0.15f * (1.0f - v);
            const float w = 0.22f * std::pow(clamp01(v - 0.1f) / 0.9f, 0.6f) + 0.001f;
            const float body = 1.0f - smoothstep(w * 0.6f, w, std::fabs(u - 0.5f - sway));
            const float flicker = fbm(u * 8.0f, v * 5.0f, 4, 264);
            return emberRamp(body * (0.5f + 0.6f * flicker) * smoothstep(0.05f, 0.5f, v) *
                             (1.0f - smoothstep(0.85f, 1.0f, v)));
        }
        case 4: { // a crescent moon
            const float d2 = std::sqrt((dx - 0.07f) * (dx - 0.07f) + (dy + 0.04f) * (dy + 0.04f));
            const float crescent =
                (1.0f - smoothstep(0.3f, 0.31f, r)) * smoothstep(0.27f, 0.28f, d2);
            const float halo = std::exp(-std::fabs(r - 0.3f) * 25.0f) * 0.25f;
            return Rgb{0.9f, 0.85f, 0.8f} * crescent + Rgb{0.5f, 0.3f, 0.4f} * halo;
        }
        default: { // chimneys under a burning sky: the smog
            const float stacks[4][2] = {
                {0.18f, 0.35f}, {0.36f, 0.25f}, {0.62f, 0.3f}, {0.8f, 0.45f}};
            bool solid = v > 0.82f;
            for (const auto& s : stacks)
                solid = solid || (std::fabs(u - s[0]) < 0.03f && v > s[1]);
            if (solid)
                return Rgb{0.02f, 0.01f, 0.02f};
            const float smoke = fbm(u * 5.0f - v * 2.0f, v * 4.0f, 5, 265);
            const float sky = smoothstep(0.2f, 0.82f, v);
            return emberRamp(sky * 0.75f) * (0.4f + 0.6f * smoke) + duskRamp(smoke * 0.5f) * 0.3f;
        }
        }
    });
}

// One large glyph in ember type with a wide glow, on black.
bool letter(const char* glyph, Image* out) {
    Image im(256, 256);
    const bool ok = setText(im, FONT_SANS_BOLD, glyph, 230, 0, 128.0f, 205.0f,
                            Rgb{1.0f, 0.75f, 0.4f}, Rgb{0.8f, 0.2f, 0.03f}, 8);
    *out = im;
    return ok;
}

// The scream: rays bursting from a dark open mouth; black between the rays.
Image huuto() {
    return paint(512, [](float u, float v) {
        const float dx = (u - 0.5f) / 0.6f, dy = (v - 0.55f);
        const float r = std::sqrt(dx * dx + dy * dy);
        const float a = std::atan2(dy, dx);
        const float rays =
            std::pow(0.5f + 0.5f * std::sin(a * 23.0f + fbm(a * 3.0f, 0.0f, 2, 271) * 6.0f), 8.0f);
        const float reach = smoothstep(0.12f, 0.2f, r) * (1.0f - smoothstep(0.2f, 0.75f, r));
        const float lip = std::exp(-std::fabs(r - 0.12f) * 80.0f);
        return emberRamp(0.35f + rays * 0.5f) * (rays * reach) + Rgb{0.9f, 0.3f, 0.1f} * lip;
    });
}

// The plea, set in thin glowing type above a smoulder, black elsewhere.
bool please(Image* out) {
    Image im = paint(512, [](float u, float v) {
        const float smoulder = fbm(u * 6.0f, v * 3.0f, 5, 281) * smoothstep(0.65f, 1.0f, v);
        return emberRamp(smoulder * 0.8f);
    });
    const bool ok = setText(im, FONT_SANS_BOLD, "PLEASE", 92, 10, 256.0f, 250.0f,
                            Rgb{0.9f, 0.85f, 0.8f}, Rgb{0.5f, 0.12f, 0.05f}, 10);
    *out = im;
    return ok;
}

// The altar at the end: a stepped block under a shaft of light, candles on it.
bool alttari(Image* out) {
    Image im = paint(512, [](float u, float v) {
        const float haze = fbm(u * 4.0f, v * 4.0f, 5, 291);
        const float shaft =
            std::exp(-std::pow((u - 0.5f) * 6.0f / (0.6f + v), 2.0f)) * (1.0f - v * 0.5f);
        Rgb c = duskRamp(0.08f + haze * 0.25f) +
                Rgb{0.55f, 0.45f, 0.4f} * (shaft * (0.5f + 0.5f * haze));
        // The altar: three steps and the table, dark stone lit from above.
        const float steps[4][3] = {{0.18f, 0.82f, 0.86f},
                                   {0.24f, 0.76f, 0.80f},
                                   {0.3f, 0.70f, 0.74f},
                                   {0.34f, 0.66f, 0.56f}};
        for (const auto& s : steps) {
            if (std::fabs(u - 0.5f) < s[0] && v > s[2] && v < s[1] + 0.08f) {
                const float top = smoothstep(s[2] + 0.015f, s[2], v);
                return Rgb{0.06f, 0.05f, 0.06f} + Rgb{0.5f, 0.42f, 0.36f} * (top * shaft) +
                       Rgb{0.05f, 0.04f, 0.04f} * haze;
            }
        }
        return c;
    });
    for (int i = 0; i < 5; ++i) {
        const float x = 190.0f + 33.0f * static_cast<float>(i);
        for (int y = 268; y < 287; ++y)
            for (int dx = -3; dx <= 3; ++dx)
                im.at(static_cast<int>(x) + dx, y) = Rgb{0.75f, 0.7f, 0.62f};
        addGlow(im, x + 0.5f, 262.0f, 26.0f, Rgb{0.9f, 0.45f, 0.12f}, 2.0f);
        addGlow(im, x + 0.5f, 262.0f, 6.0f, Rgb{1.0f, 0.9f, 0.6f}, 1.0f);
    }
    const bool ok = setText(im, FONT_SERIF, "Rautakivi", 26, 4, 256.0f, 480.0f,
                            Rgb{0.7f, 0.62f, 0.6f}, Rgb{0.25f, 0.08f, 0.05f}, 3);
    vignette(im, 0.5f);
    *out = im;
    return ok;
}

} // namespace

bool writePictures(const std::string& dir) {
    bool ok =
        writeJpegMedia(dir, "image8.jpg", image8()) && writeJpegMedia(dir, "gay.jpg", gay()) &&
        writeJpegMedia(dir, "tulimeri.jpg", tulimeri()) &&
        writeJpegMedia(dir, "pimee.jpg", pimee()) && writeJpegMedia(dir, "neito.jpg", neito()) &&
        writeJpegMedia(dir, "huuto.jpg", huuto());
    for (int i = 0; ok && i < 6; ++i)
        ok = writeJpegMedia(dir, "c" + std::to_string(i + 1) + ".jpg", insert(i));
    const char* glyphs[3] = {"9", "k", "b"};
    for (int i = 0; ok && i < 3; ++i) {
        Image im;
        ok = letter(glyphs[i], &im) &&
             writeJpegMedia(dir, "letter" + std::to_string(i + 1) + ".jpg", im);
    }
    Image im;
    ok = ok && vtdemo(&im) && writeJpegMedia(dir, "vtdemo.jpg", im);
    ok = ok && please(&im) && writeJpegMedia(dir, "please.jpg", im);
    ok = ok && alttari(&im) && writeJpegMedia(dir, "alttari.jpg", im);
    return ok;
}
