// The procedural painting toolkit: noise, ramps, glows and masks over float
// RGB canvases.
//
// Build time, one thread. Everything here is a pure function of its inputs
// (integer hashing, no global random state), so every run paints the same
// pixels.
#include "media/image.h"

#include <algorithm>
#include <cmath>

namespace {

int wrapIndex(int i, int period) {
    if (period <= 0)
        return i;
    const int m = i % period;
    return m < 0 ? m + period : m;
}

float lerp(float a, float b, float t) {
    return a + (b - a) * t;
}

Rgb rampLookup(const Rgb* stops, int count, float t) {
    t = clamp01(t) * static_cast<float>(count - 1);
    const int i = std::min(static_cast<int>(t), count - 2);
    return mix(stops[i], stops[i + 1], t - static_cast<float>(i));
}

// One box pass of half-width `radius` along lines of `length` samples spaced
// `step` apart; `count` such lines start `lineStep` apart.
void boxPass(const std::vector<float>& in, std::vector<float>& out, int count, size_t lineStep,
             int length, size_t step, int radius) {
    const float scale = 1.0f / static_cast<float>(2 * radius + 1);
    for (int line = 0; line < count; ++line) {
        const size_t base = static_cast<size_t>(line) * lineStep;
        for (int i = 0; i < length; ++i) {
            float sum = 0.0f;
            for (int k = std::max(0, i - radius); k <= std::min(length - 1, i + radius); ++k)
                sum += in[base + static_cast<size_t>(k) * step];
            out[base + static_cast<size_t>(i) * step] = sum * scale;
        }
    }
}

// One horizontal then one vertical box pass of half-width `radius`.
void boxBlur(std::vector<float>& data, int width, int height, int radius) {
    std::vector<float> tmp(data.size());
    boxPass(data, tmp, height, static_cast<size_t>(width), width, 1, radius);
    boxPass(tmp, data, width, 1, height, static_cast<size_t>(width), radius);
}

} // namespace

Rgb Image::sampleWrapped(float x, float y) const {
    const float fx = std::floor(x);
    const float fy = std::floor(y);
    const float tx = x - fx;
    const float ty = y - fy;
    const int x0 = wrapIndex(static_cast<int>(fx), width);
    const int y0 = wrapIndex(static_cast<int>(fy), height);
    const int x1 = wrapIndex(x0 + 1, width);
    const int y1 = wrapIndex(y0 + 1, height);
    return mix(mix(at(x0, y0), at(x1, y0), tx), mix(at(x0, y1), at(x1, y1), tx), ty);
}

std::vector<unsigned char> Image::toRgb8() const {
    std::vector<unsigned char> out(pixels.size() * 3);
    auto toByte = [](float c) {
        return static_cast<unsigned char>(std::lround(clamp01(c) * 255.0f));
    };
    for (size_t i = 0; i < pixels.size(); ++i) {
        out[i * 3] = toByte(pixels[i].r);
        out[i * 3 + 1] = toByte(pixels[i].g);
        out[i * 3 + 2] = toByte(pixels[i].b);
    }
    return out;
}

float Mask::get(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height)
        return 0.0f;
    return coverage[static_cast<size_t>(y) * width + x];
}

float clamp01(float x) {
    if (!(x > 0.0f))
        return 0.0f;
    return x > 1.0f ? 1.0f : x;
}

float smoothstep(float edge0, float edge1, float x) {
    const float t = clamp01((x - edge0) / (edge1 - edge0));
    return t * t * (3.0f - 2.0f * t);
}

float latticeHash(int x, int y, uint32_t seed) {
    // A 32-bit integer mix (xorshift-multiply rounds) of the point and seed.
    uint32_t h = static_cast<uint32_t>(x) * 0x8da6b343u ^ static_cast<uint32_t>(y) * 0xd8163841u ^
                 seed * 0xcb1ab31fu;
    h ^= h >> 16;
    h *= 0x7feb352du;
    h ^= h >> 15;
    h *= 0x846ca68bu;
    h ^= h >> 16;
    return static_cast<float>(h >> 8) * (1.0f / 16777216.0f);
}

float valueNoise(float x, float y, uint32_t seed, int period) {
    const float fx = std::floor(x);
    const float fy = std::floor(y);
    const int ix = static_cast<int>(fx);
    const int iy = static_cast<int>(fy);
    float tx = x - fx;
    float ty = y - fy;
    tx = tx * tx * (3.0f - 2.0f * tx);
    ty = ty * ty * (3.0f - 2.0f * ty);
    const int x0 = wrapIndex(ix, period);
    const int x1 = wrapIndex(ix + 1, period);
    const int y0 = wrapIndex(iy, period);
    const int y1 = wrapIndex(iy + 1, period);
    const float a = lerp(latticeHash(x0, y0, seed), latticeHash(x1, y0, seed), tx);
    const float b = lerp(latticeHash(x0, y1, seed), latticeHash(x1, y1, seed), tx);
    return lerp(a, b, ty);
}

float fbm(float x, float y, int octaves, uint32_t seed, int period) {
    float sum = 0.0f;
    float weight = 0.5f;
    float total = 0.0f;
    for (int i = 0; i < octaves; ++i) {
        sum += valueNoise(x, y, seed + static_cast<uint32_t>(i) * 101u, period) * weight;
        total += weight;
        x *= 2.0f;
        y *= 2.0f;
        period *= 2;
        weight *= 0.5f;
    }
    return sum / total;
}

float ridged(float x, float y, int octaves, uint32_t seed, int period) {
    float sum = 0.0f;
    float weight = 0.5f;
    float total = 0.0f;
    for (int i = 0; i < octaves; ++i) {
        const float n = valueNoise(x, y, seed + static_cast<uint32_t>(i) * 131u, period);
        const float crest = 1.0f - std::fabs(n * 2.0f - 1.0f);
        sum += crest * crest * weight;
        total += weight;
        x *= 2.0f;
        y *= 2.0f;
        period *= 2;
        weight *= 0.5f;
    }
    return sum / total;
}

Rgb emberRamp(float t) {
    static const Rgb stops[] = {{0.0f, 0.0f, 0.0f},    {0.10f, 0.03f, 0.06f}, {0.45f, 0.06f, 0.03f},
                                {0.85f, 0.30f, 0.05f}, {1.0f, 0.65f, 0.20f},  {1.0f, 0.95f, 0.75f}};
    return rampLookup(stops, 6, t);
}

Rgb duskRamp(float t) {
    static const Rgb stops[] = {{0.02f, 0.015f, 0.03f},
                                {0.12f, 0.07f, 0.14f},
                                {0.36f, 0.20f, 0.24f},
                                {0.58f, 0.46f, 0.44f},
                                {0.74f, 0.70f, 0.68f}};
    return rampLookup(stops, 5, t);
}

void addGlow(Image& image, float cx, float cy, float radius, Rgb color, float power) {
    const int x0 = std::max(0, static_cast<int>(cx - radius));
    const int x1 = std::min(image.width - 1, static_cast<int>(cx + radius) + 1);
    const int y0 = std::max(0, static_cast<int>(cy - radius));
    const int y1 = std::min(image.height - 1, static_cast<int>(cy + radius) + 1);
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const float dx = static_cast<float>(x) + 0.5f - cx;
            const float dy = static_cast<float>(y) + 0.5f - cy;
            const float d = std::sqrt(dx * dx + dy * dy) / radius;
            if (d < 1.0f)
                image.at(x, y) = image.at(x, y) + color * std::pow(1.0f - d, power);
        }
    }
}

void stampMask(Image& image, const Mask& mask, int x, int y, Rgb color, float opacity,
               bool additive) {
    for (int my = 0; my < mask.height; ++my) {
        const int iy = y + my;
        if (iy < 0 || iy >= image.height)
            continue;
        for (int mx = 0; mx < mask.width; ++mx) {
            const int ix = x + mx;
            if (ix < 0 || ix >= image.width)
                continue;
            const float a = mask.get(mx, my) * opacity;
            Rgb& p = image.at(ix, iy);
            p = additive ? p + color * a : mix(p, color, clamp01(a));
        }
    }
}

Mask blurMask(const Mask& mask, int radius) {
    const int margin = 3 * radius;
    Mask out(mask.width + 2 * margin, mask.height + 2 * margin);
    for (int y = 0; y < mask.height; ++y)
        for (int x = 0; x < mask.width; ++x)
            out.at(x + margin, y + margin) = mask.get(x, y);
    if (radius > 0) {
        for (int pass = 0; pass < 3; ++pass)
            boxBlur(out.coverage, out.width, out.height, radius);
    }
    return out;
}

void vignette(Image& image, float strength) {
    const float cx = static_cast<float>(image.width) * 0.5f;
    const float cy = static_cast<float>(image.height) * 0.5f;
    const float norm = 1.0f / (cx * cx + cy * cy);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const float dx = static_cast<float>(x) + 0.5f - cx;
            const float dy = static_cast<float>(y) + 0.5f - cy;
            const float k = std::max(0.0f, 1.0f - strength * (dx * dx + dy * dy) * norm);
            image.at(x, y) = image.at(x, y) * k;
        }
    }
}
