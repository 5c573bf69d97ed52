// The test binaries' shared kit: files and scratch folders, child processes,
// PNG pictures, frames read from GL and their comparison, and models owned by
// a test.
//
// Test thread only. Sizes in pixels, colour values 0 to 255, pictures as
// tightly packed RGB with the top row first.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "resources/model.h"

namespace kit {

using Bytes = std::vector<unsigned char>;

Bytes readFile(const std::string& path);
bool writeFile(const std::string& path, const Bytes& bytes);
// A folder for what a test writes, build/test-scratch/NAME, made when missing.
std::string scratchDir(const std::string& name);
// Keeps a file a test built as a seed for the fuzz targets (fuzz/run.sh).
void keepSeed(const std::string& kind, const std::string& name, const Bytes& bytes);

// The text in single quotes for the shell.
std::string quote(const std::string& text);
struct RunResult {
    int status = -1; // exit status; -1 when the command did not exit normally
    std::string out; // its standard output
};
RunResult run(const std::string& command);
bool haveProgram(const char* name);
// How many file descriptors this process holds open.
int openDescriptors();

struct Rgb {
    int r, g, b;
};
inline bool operator==(Rgb a, Rgb b) {
    return a.r == b.r && a.g == b.g && a.b == b.b;
}
// The largest difference of the three channels.
int distance(Rgb a, Rgb b);

struct Picture {
    int width = 0, height = 0;
    Bytes rgb;
    std::string problem;      // why a PNG did not decode; empty when it did
    std::vector<int> filters; // the PNG filter of each row
    Rgb at(int x, int y) const;
};
// A strict reader of 8-bit RGB PNG files without interlace: signature, every
// CRC, the header and all five row filters are checked.
Picture decodePng(const Bytes& file);
Picture readPng(const std::string& path);
// The current GL colour buffer (off-screen surface).
Picture grabFrame();

// How far a picture is from another: the number of pixels where some channel
// differs by more than a threshold, the largest channel difference, and the
// mean difference over every channel value.
struct Difference {
    int pixelsOver = 0;
    int worst = 0;
    double mean = 0.0;
};
Difference compare(const Picture& a, const Picture& b, int threshold);
// Each channel's difference times four, for a person to look at.
Picture differencePicture(const Picture& a, const Picture& b);
// The largest distance of any pixel from one colour.
int farthestFrom(const Picture& picture, Rgb colour);

// A heap Model whose records are freed with it.
struct ModelRelease {
    void operator()(Model* model) const;
};
using ModelPtr = std::unique_ptr<Model, ModelRelease>;
ModelPtr loadModelBytes(const Bytes& bytes);

// One-line descriptions of loaded records, to seven significant digits:
// "name flags F ambient R G B diffuse R G B specular R G B opacity O additive A map NAME"
std::string describe(const Material& m);
// "name: x y z/u v, ...; a b c, ...; material[a b c, ...] ..." (vertices; faces; groups)
std::string describe(const Mesh& m);

} // namespace kit
