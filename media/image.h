// Floating-point RGB canvases and the procedural toolkit the show's pictures
// and textures are painted with: hashed value noise, fractal sums, colour
// ramps, glows, coverage masks (type, shapes) and their blurs.
//
// Build time, one thread (the media generator). Colours are 0..1 per channel
// (values above 1 are allowed while painting and clamped on conversion);
// coordinates are pixels with the origin at the top-left, y downward.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct Rgb {
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
};

inline Rgb operator+(Rgb a, Rgb b) {
    return {a.r + b.r, a.g + b.g, a.b + b.b};
}
inline Rgb operator*(Rgb a, float s) {
    return {a.r * s, a.g * s, a.b * s};
}
inline Rgb operator*(Rgb a, Rgb b) {
    return {a.r * b.r, a.g * b.g, a.b * b.b};
}
inline Rgb mix(Rgb a, Rgb b, float t) {
    return a * (1.0f - t) + b * t;
}

class Image {
  public:
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels; // row-major, top row first

    Image() = default;
    Image(int w, int h) : width(w), height(h), pixels(static_cast<size_t>(w) * h) {}

    Rgb& at(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
    const Rgb& at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    // Bilinear sample with wrap-around (for tiling textures); x, y in pixels.
    Rgb sampleWrapped(float x, float y) const;
    // 8-bit RGB triples, top row first, no gaps; each channel clamped to 0..1
    // and rounded.
    std::vector<unsigned char> toRgb8() const;
};

// A coverage mask: 0 (empty) to 1 (covered), row-major, top row first.
class Mask {
  public:
    int width = 0;
    int height = 0;
    std::vector<float> coverage;

    Mask() = default;
    Mask(int w, int h) : width(w), height(h), coverage(static_cast<size_t>(w) * h, 0.0f) {}

    float& at(int x, int y) { return coverage[static_cast<size_t>(y) * width + x]; }
    // 0 outside the mask.
    float get(int x, int y) const;
};

// A square picture whose every pixel is fn(u, v), with u and v the pixel
// centre's coordinates from 0 to 1 across the picture.
template <typename Paint> Image paint(int size, Paint fn) {
    Image image(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            image.at(x, y) = fn((static_cast<float>(x) + 0.5f) / static_cast<float>(size),
                                (static_cast<float>(y) + 0.5f) / static_cast<float>(size));
    return image;
}

float clamp01(float x);
float smoothstep(float edge0, float edge1, float x);

// Hash of a lattice point, uniform in [0, 1).
float latticeHash(int x, int y, uint32_t seed);
// Smooth value noise in [0, 1). With period > 0 the lattice wraps every
// `period` units in both axes, so a texture painted over one period tiles.
float valueNoise(float x, float y, uint32_t seed, int period = 0);
// Sum of `octaves` noise layers, each twice the frequency and half the weight
// of the one before, normalised to [0, 1).
float fbm(float x, float y, int octaves, uint32_t seed, int period = 0);
// Ridged fractal noise: bright thin crests where the noise crosses its middle
// value, in [0, 1]. Used for cracks, veins and smoke edges.
float ridged(float x, float y, int octaves, uint32_t seed, int period = 0);

// The show's ramp from cold ash to fire: black, soot violet, ember red,
// orange, pale yellow, for t from 0 to 1.
Rgb emberRamp(float t);
// The dusk ramp for skies and smoke: near black, bruise violet, dusty rose,
// ash grey, for t from 0 to 1.
Rgb duskRamp(float t);

// Adds a soft round light: color × falloff, falloff 1 at the centre and
// (1 - d/radius)^power towards the radius, 0 beyond.
void addGlow(Image& image, float cx, float cy, float radius, Rgb color, float power = 2.0f);
// Lays color over the image where the mask covers it, at mask × opacity,
// with the mask's top-left corner at (x, y). Additive when `additive`.
void stampMask(Image& image, const Mask& mask, int x, int y, Rgb color, float opacity,
               bool additive);
// Box blur run three times (close to a Gaussian of the given radius). The
// result is larger by 3 × radius on every side so the blur can spread beyond
// the original bounds: stamp it 3 × radius further up and left.
Mask blurMask(const Mask& mask, int radius);
// Darkens the corners: multiplies by 1 - strength × (distance from centre)^2,
// normalised so the corner distance is 1.
void vignette(Image& image, float strength);
