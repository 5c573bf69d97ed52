// The test kit (see kit.h).
//
// Test thread only.
#include "tests/support/kit.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/offscreen.h"

namespace kit {

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

namespace {

// The reference frames, and every picture a test compares with them, are
// those of Mesa's software rasteriser llvmpipe: a GPU rasterises and filters
// textures differently. So every test program linking the kit, and every
// program it starts (tuhkala-capture, the show), renders there whatever GPU
// the machine has: glvnd loads Mesa's EGL alone (not a GPU vendor's), Mesa
// takes its software rasteriser, and that is its default, llvmpipe (no
// GALLIUM_DRIVER asking for softpipe or another; naming llvmpipe there
// instead makes LeakSanitizer's exit scan crash in one render test).
// This runs before main, so before any EGL or GL library starts.
const bool SOFTWARE_RENDERER = [] {
    const char* mesaEgl = "/usr/share/glvnd/egl_vendor.d/50_mesa.json";
    if (access(mesaEgl, R_OK) == 0)
        setenv("__EGL_VENDOR_LIBRARY_FILENAMES", mesaEgl, 1);
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
    unsetenv("GALLIUM_DRIVER");
    return true;
}();

std::string buildSubdir(const std::string& top, const std::string& name) {
    std::string dir = std::string(TUHKALA_BINARY_DIR) + "/" + top;
    mkdir(dir.c_str(), 0755);
    mkdir((dir += "/" + name).c_str(), 0755);
    return dir;
}

uint32_t big32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

} // namespace

std::string scratchDir(const std::string& name) {
    return buildSubdir("test-scratch", name);
}

void keepSeed(const std::string& kind, const std::string& name, const Bytes& bytes) {
    writeFile(buildSubdir("fuzz-seeds", kind) + "/" + name, bytes);
}

int openDescriptors() {
    // The listing holds one descriptor of its own while it counts: the same
    // one at every call, so counts compare.
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return static_cast<int>(std::distance(begin(fds), end(fds)));
}

std::string quote(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

RunResult run(const std::string& command) {
    RunResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return result;
    char buffer[65536];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        result.out.append(buffer, got);
    const int status = pclose(pipe);
    result.status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool haveProgram(const char* name) {
    return run(std::string("command -v ") + name + " >/dev/null 2>&1").status == 0;
}

int distance(Rgb a, Rgb b) {
    return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}

Rgb Picture::at(int x, int y) const {
    const size_t i = (static_cast<size_t>(y) * width + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

Picture decodePng(const Bytes& file) {
    Picture pic;
    auto bad = [&pic](const std::string& why) {
        pic.problem = why;
        return pic;
    };
    const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (file.size() < 8 || !std::equal(signature, signature + 8, file.begin()))
        return bad("no PNG signature");
    size_t at = 8;
    Bytes packed;
    bool header = false, ended = false;
    while (at + 12 <= file.size() && !ended) {
        const uint32_t length = big32(&file[at]);
        if (length > file.size() - at - 12)
            return bad("chunk runs past the end");
        const std::string type(file.begin() + at + 4, file.begin() + at + 8);
        const unsigned char* data = &file[at + 8];
        if (crc32(crc32(0L, Z_NULL, 0), &file[at + 4], length + 4) != big32(data + length))
            return bad("bad CRC in " + type);
        if (type == "IHDR") {
            if (length != 13 || data[8] != 8 || data[9] != 2 || data[10] || data[11] || data[12])
                return bad("not an 8-bit RGB header without interlace");
            pic.width = static_cast<int>(big32(data));
            pic.height = static_cast<int>(big32(data + 4));
            header = true;
        } else if (type == "IDAT") {
            if (!header)
                return bad("IDAT before IHDR");
            packed.insert(packed.end(), data, data + length);
        }
        ended = type == "IEND";
        at += 12 + length;
    }
    if (!ended || at != file.size())
        return bad("no IEND at the end");
    const size_t rowBytes = static_cast<size_t>(pic.width) * 3;
    Bytes raw((rowBytes + 1) * static_cast<size_t>(pic.height));
    uLongf rawSize = static_cast<uLongf>(raw.size());
    if (uncompress(raw.data(), &rawSize, packed.data(), static_cast<uLong>(packed.size())) !=
            Z_OK ||
        rawSize != raw.size())
        return bad("image data does not inflate to the picture's size");
    pic.rgb.resize(rowBytes * static_cast<size_t>(pic.height));
    for (size_t y = 0; y < static_cast<size_t>(pic.height); ++y) {
        const unsigned char* in = &raw[(rowBytes + 1) * y];
        unsigned char* out = &pic.rgb[rowBytes * y];
        const unsigned char* up = y > 0 ? out - rowBytes : nullptr;
        const int filter = in[0];
        if (filter > 4)
            return bad("unknown filter " + std::to_string(filter));
        pic.filters.push_back(filter);
        for (size_t i = 0; i < rowBytes; ++i) {
            const int a = i >= 3 ? out[i - 3] : 0, b = up ? up[i] : 0;
            const int c = up && i >= 3 ? up[i - 3] : 0, p = a + b - c;
            const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
            const int predictor[5] = {0, a, b, (a + b) / 2,
                                      pa <= pb && pa <= pc ? a : (pb <= pc ? b : c)};
            out[i] = static_cast<unsigned char>(in[1 + i] + predictor[filter]);
        }
    }
    return pic;
}

Picture readPng(const std::string& path) {
    Picture pic = decodePng(readFile(path));
    if (!pic.problem.empty())
        pic.problem = path + ": " + pic.problem;
    return pic;
}

Picture grabFrame() {
    Picture frame;
    frame.rgb = platform::readPixelsRGB();
    frame.width = platform::offscreenWidth();
    frame.height = platform::offscreenHeight();
    return frame;
}

Difference compare(const Picture& a, const Picture& b, int threshold) {
    Difference d;
    if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size()) {
        d.pixelsOver = std::max(a.width * a.height, b.width * b.height);
        d.worst = 255;
        d.mean = 255.0;
        return d;
    }
    double total = 0.0;
    for (size_t i = 0; i + 2 < a.rgb.size(); i += 3) {
        int pixel = 0;
        for (size_t c = i; c < i + 3; ++c) {
            const int step = std::abs(int(a.rgb[c]) - int(b.rgb[c]));
            pixel = std::max(pixel, step);
            total += step;
        }
        d.pixelsOver += pixel > threshold;
        d.worst = std::max(d.worst, pixel);
    }
    d.mean = a.rgb.empty() ? 0.0 : total / double(a.rgb.size());
    return d;
}

Picture differencePicture(const Picture& a, const Picture& b) {
    Picture d = a;
    for (size_t i = 0; i < d.rgb.size() && i < b.rgb.size(); ++i)
        d.rgb[i] = static_cast<unsigned char>(std::min(255, 4 * std::abs(a.rgb[i] - b.rgb[i])));
    return d;
}

int farthestFrom(const Picture& picture, Rgb colour) {
    int worst = 0;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            worst = std::max(worst, distance(picture.at(x, y), colour));
    return worst;
}

void ModelRelease::operator()(Model* model) const {
    freeModelRecords(model);
    delete model;
}

ModelPtr loadModelBytes(const Bytes& bytes) {
    ModelPtr model(new Model);
    model->loadFromMemory(bytes.data(), bytes.size());
    return model;
}

std::string describe(const Material& m) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "%s flags %u ambient %.7g %.7g %.7g diffuse %.7g %.7g %.7g specular %.7g %.7g "
                  "%.7g opacity %.7g additive %d map %s",
                  m.name, m.flags, m.ambient[0], m.ambient[1], m.ambient[2], m.diffuse[0],
                  m.diffuse[1], m.diffuse[2], m.specular[0], m.specular[1], m.specular[2],
                  m.opacity, m.additive, m.mapName);
    return text;
}

std::string describe(const Mesh& m) {
    auto corners = [](const Face& f) {
        return std::to_string(f.a) + " " + std::to_string(f.b) + " " + std::to_string(f.c);
    };
    std::string out = std::string(m.name) + ":";
    char text[128];
    for (int v = 0; v < m.vertexCount; ++v) {
        const MeshVertex& x = m.vertices[v];
        std::snprintf(text, sizeof text, "%s %g %g %g/%g %g", v ? "," : "", x.position.x,
                      x.position.y, x.position.z, x.u, x.v);
        out += text;
    }
    out += ";";
    for (int f = 0; f < m.faceCount; ++f)
        out += (f ? ", " : " ") + corners(m.faces[f]);
    out += ";";
    for (int g = 0; g < m.groupCount; ++g) {
        out += " " + std::to_string(m.groups[g]->materialIndex) + "[";
        for (int f = 0; f < m.groups[g]->faceCount; ++f)
            out += (f ? ", " : "") + corners(m.groups[g]->faces[f]);
        out += "]";
    }
    return out;
}

} // namespace kit
