// tuhkala-inspect: prints what the show's readers make of media files (.3ds
// meshes, .bmp and .jpg pictures), for a person authoring media.
//
// Single-threaded command-line tool; no GL and no message boxes. Sizes in
// pixels; colours as the reader stores them (0..1 floats).
//
//   tuhkala-inspect [--json] [--dump-pixels PATH] FILE...
//
// Plain text by default; --json prints one JSON object per file, one per line.
// --dump-pixels writes the decoded pixel buffer of the one picture named,
// exactly as the loader returns it (BMP: RGB bottom row first; JPEG: RGB or
// grey, top row first). A relative FILE missing from the working directory is
// read from the show's media folder when that has it. Exit status: 0 when
// every file was read, 1 when one could not be opened or was rejected, 2 for a
// usage error (one line on standard error). --help and --version answer on
// standard output.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/media_folder.h"
#include "platform/platform.h"
#include "resources/dib.h"
#include "resources/jpeg.h"
#include "resources/model.h"
#include "tuhkala_version.h"

namespace {

enum class Kind { Model3ds, Bmp, Jpeg, Unknown };

const char* kindName(Kind kind) {
    switch (kind) {
    case Kind::Model3ds:
        return "3ds";
    case Kind::Bmp:
        return "bmp";
    case Kind::Jpeg:
        return "jpeg";
    default:
        return "unknown";
    }
}

bool hasSuffix(const std::string& path, const char* suffix) {
    size_t n = strlen(suffix);
    if (path.size() < n) {
        return false;
    }
    for (size_t i = 0; i < n; i++) {
        char c = path[path.size() - n + i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != suffix[i]) {
            return false;
        }
    }
    return true;
}

// By extension first, then by the first bytes (some meshes have no extension).
Kind detectKind(const std::string& path, const std::vector<unsigned char>& bytes) {
    if (hasSuffix(path, ".3ds")) {
        return Kind::Model3ds;
    }
    if (hasSuffix(path, ".bmp") || hasSuffix(path, ".dib")) {
        return Kind::Bmp;
    }
    if (hasSuffix(path, ".jpg") || hasSuffix(path, ".jpeg") || hasSuffix(path, ".jpe")) {
        return Kind::Jpeg;
    }
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8) {
        return Kind::Jpeg;
    }
    if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') {
        return Kind::Bmp;
    }
    if (bytes.size() >= 2 && bytes[0] == 0x4D && bytes[1] == 0x4D) {
        return Kind::Model3ds;
    }
    return Kind::Unknown;
}

// A JSON string: any bytes in, valid JSON out. Bytes from 0x80 up are taken as
// Latin-1 characters, since names in mesh files carry no declared encoding.
std::string jsonString(const char* text, size_t length) {
    std::string out = "\"";
    for (size_t i = 0; i < length; i++) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        char escape[8];
        if (c == '"') {
            out += "\\\"";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c >= 0x7F) {
            snprintf(escape, sizeof(escape), "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string jsonString(const std::string& text) {
    return jsonString(text.data(), text.size());
}

// A fixed name buffer of the model, up to its terminator (always inside it).
std::string jsonName(const char* name) {
    return jsonString(name, strnlen(name, NAME_SIZE));
}

// Plain text: printable ASCII as is, anything else as \xNN.
std::string plainName(const char* name) {
    std::string out;
    size_t length = strnlen(name, NAME_SIZE);
    for (size_t i = 0; i < length; i++) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c >= 0x7F || c == '\\') {
            char escape[8];
            snprintf(escape, sizeof(escape), "\\x%02x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string number(float value) {
    if (!std::isfinite(value)) {
        return "null";
    }
    char text[32];
    snprintf(text, sizeof(text), "%.9g", static_cast<double>(value));
    return text;
}

std::string colorJson(const float* rgb) {
    return "[" + number(rgb[0]) + "," + number(rgb[1]) + "," + number(rgb[2]) + "]";
}

std::string colorText(const float* rgb) {
    return "(" + number(rgb[0]) + ", " + number(rgb[1]) + ", " + number(rgb[2]) + ")";
}

struct Options {
    bool json = false;
    const char* dumpPath = nullptr;
    std::vector<std::string> files;
};

void error(const std::string& file, const std::string& what) {
    fprintf(stderr, "tuhkala-inspect: %s: %s\n", file.c_str(), what.c_str());
}

bool dumpPixels(const char* path, const unsigned char* pixels, size_t size) {
    FILE* f = fopen(path, "wb");
    if (!f) {
        fprintf(stderr, "tuhkala-inspect: cannot write %s\n", path);
        return false;
    }
    bool ok = fwrite(pixels, 1, size, f) == size;
    ok = fclose(f) == 0 && ok;
    if (!ok) {
        fprintf(stderr, "tuhkala-inspect: cannot write %s\n", path);
    }
    return ok;
}

// Returns true when the file was read.
bool inspectModel(const Options& options, const std::string& file,
                  const std::vector<unsigned char>& bytes, bool opened) {
    auto model = std::make_unique<Model>();
    // Model::load's result: 0 only when the file could not be opened.
    int loaded = opened ? model->loadFromMemory(bytes.data(), bytes.size()) : 0;
    // The reader reads nothing from a file that does not begin with a main chunk.
    bool recognised = bytes.size() >= 6 && bytes[0] == 0x4D && bytes[1] == 0x4D;
    if (options.json) {
        std::string out = "{\"file\":" + jsonString(file) +
                          ",\"kind\":\"3ds\",\"loaded\":" + std::to_string(loaded) +
                          ",\"meshes\":[";
        for (int m = 0; m < model->meshCount; m++) {
            const Mesh* mesh = model->meshes[m];
            out += std::string(m ? "," : "") + "{\"name\":" + jsonName(mesh->name) +
                   ",\"vertexCount\":" + std::to_string(mesh->vertexCount) +
                   ",\"faceCount\":" + std::to_string(mesh->faceCount) +
                   ",\"groupCount\":" + std::to_string(mesh->groupCount) + ",\"groups\":[";
            for (int g = 0; g < mesh->groupCount; g++) {
                out += std::string(g ? "," : "") +
                       "{\"materialIndex\":" + std::to_string(mesh->groups[g]->materialIndex) +
                       ",\"faceCount\":" + std::to_string(mesh->groups[g]->faceCount) + "}";
            }
            out += "]}";
        }
        out += "],\"materials\":[";
        for (int i = 0; i < model->materialCount; i++) {
            const Material* mat = model->materials[i];
            out += std::string(i ? "," : "") + "{\"name\":" + jsonName(mat->name) +
                   ",\"flags\":" + std::to_string(mat->flags) +
                   ",\"ambient\":" + colorJson(mat->ambient) +
                   ",\"diffuse\":" + colorJson(mat->diffuse) +
                   ",\"specular\":" + colorJson(mat->specular) +
                   ",\"opacity\":" + number(mat->opacity) +
                   ",\"additive\":" + std::to_string(mat->additive) +
                   ",\"mapName\":" + jsonName(mat->mapName) + "}";
        }
        out += "]}";
        printf("%s\n", out.c_str());
    } else {
        printf("%s: 3ds, %d meshes, %d materials\n", file.c_str(), model->meshCount,
               model->materialCount);
        for (int m = 0; m < model->meshCount; m++) {
            const Mesh* mesh = model->meshes[m];
            printf("  mesh %d \"%s\": %d vertices, %d faces, %d groups\n", m,
                   plainName(mesh->name).c_str(), mesh->vertexCount, mesh->faceCount,
                   mesh->groupCount);
            for (int g = 0; g < mesh->groupCount; g++) {
                const FaceGroup* group = mesh->groups[g];
                std::string material =
                    group->materialIndex < model->materialCount
                        ? "\"" + plainName(model->materials[group->materialIndex]->name) + "\""
                        : "none";
                printf("    group %d: material %d (%s), %d faces\n", g, group->materialIndex,
                       material.c_str(), group->faceCount);
            }
        }
        for (int i = 0; i < model->materialCount; i++) {
            const Material* mat = model->materials[i];
            printf("  material %d \"%s\": flags %u, ambient %s, diffuse %s, specular %s, "
                   "opacity %s, additive %d, map \"%s\"\n",
                   i, plainName(mat->name).c_str(), mat->flags, colorText(mat->ambient).c_str(),
                   colorText(mat->diffuse).c_str(), colorText(mat->specular).c_str(),
                   number(mat->opacity).c_str(), mat->additive, plainName(mat->mapName).c_str());
        }
    }
    freeModelRecords(model.get());
    if (!opened) {
        error(file, "cannot be opened");
        return false;
    }
    if (!recognised) {
        error(file, "not a 3D Studio file (no main chunk 0x4D4D at its start)");
        return false;
    }
    if (options.dumpPath) {
        error(file, "--dump-pixels needs a picture, not a mesh file");
        return false;
    }
    return true;
}

void printPicture(const Options& options, const std::string& file, Kind kind, int width, int height,
                  int channels) {
    if (options.json) {
        printf("{\"file\":%s,\"kind\":\"%s\",\"width\":%d,\"height\":%d,\"channels\":%d}\n",
               jsonString(file).c_str(), kindName(kind), width, height, channels);
    } else {
        printf("%s: %s, %d x %d, %d channels\n", file.c_str(), kindName(kind), width, height,
               channels);
    }
}

void printFailure(const Options& options, const std::string& file, Kind kind,
                  const std::string& what) {
    if (options.json) {
        printf("{\"file\":%s,\"kind\":\"%s\",\"error\":%s}\n", jsonString(file).c_str(),
               kindName(kind), jsonString(what).c_str());
    }
    error(file, what);
}

bool inspectBmp(const Options& options, const std::string& file,
                const std::vector<unsigned char>& bytes) {
    const char* message = nullptr;
    DibImage* image = decodeDib(bytes.data(), bytes.size(), &message);
    if (!image) {
        printFailure(options, file, Kind::Bmp, message ? message : "rejected");
        return false;
    }
    printPicture(options, file, Kind::Bmp, image->width, image->height, 3);
    bool ok = true;
    if (options.dumpPath) {
        ok = dumpPixels(options.dumpPath, image->pixels,
                        static_cast<size_t>(image->width) * image->height * 3);
    }
    freeDibImage(image);
    return ok;
}

bool inspectJpeg(const Options& options, const std::string& file,
                 const std::vector<unsigned char>& bytes) {
    if (bytes.size() > 0x7FFFFFFF) {
        printFailure(options, file, Kind::Jpeg, "file too large");
        return false;
    }
    int width = 0;
    int height = 0;
    int channels = 0;
    unsigned char* pixels =
        decodeJpeg(&width, &height, &channels, bytes.data(), static_cast<int>(bytes.size()));
    if (!pixels) {
        printFailure(options, file, Kind::Jpeg, "not a JPEG picture the decoder accepts");
        return false;
    }
    printPicture(options, file, Kind::Jpeg, width, height, channels);
    bool ok = true;
    if (options.dumpPath) {
        ok = dumpPixels(options.dumpPath, pixels, static_cast<size_t>(width) * height * channels);
    }
    free(pixels);
    return ok;
}

// A relative name that the working directory lacks is also looked for in the
// show's media folder, so "tavara/fps.3ds" names the show's own file wherever
// this program is started from.
bool readNamedFile(const std::string& file, std::vector<unsigned char>& bytes) {
    if (platform::readDataFile(file.c_str(), bytes)) {
        return true;
    }
    if (file.empty() || file[0] == '/') {
        return false;
    }
    static const platform::MediaSearch media = platform::findMediaFolder(platform::programFolder());
    return !media.folder.empty() &&
           platform::readDataFile((media.folder + "/" + file).c_str(), bytes);
}

bool inspectFile(const Options& options, const std::string& file) {
    std::vector<unsigned char> bytes;
    if (!readNamedFile(file, bytes)) {
        Kind kind = detectKind(file, bytes);
        if (kind == Kind::Model3ds) {
            return inspectModel(options, file, bytes, false);
        }
        printFailure(options, file, kind, "cannot be opened");
        return false;
    }
    switch (detectKind(file, bytes)) {
    case Kind::Model3ds:
        return inspectModel(options, file, bytes, true);
    case Kind::Bmp:
        return inspectBmp(options, file, bytes);
    case Kind::Jpeg:
        return inspectJpeg(options, file, bytes);
    default:
        printFailure(options, file, Kind::Unknown, "neither a .3ds, .bmp nor .jpg file");
        return false;
    }
}

const char* const HELP =
    "Usage: tuhkala-inspect [--json] [--dump-pixels PATH] FILE...\n"
    "Prints what the show's readers make of media files: 3D Studio meshes (.3ds),\n"
    "BMP pictures (.bmp, .dib) and JPEG pictures (.jpg, .jpeg, .jpe).\n"
    "\n"
    "Options:\n"
    "  --json              one JSON object per file, one per line\n"
    "  --dump-pixels PATH  write the decoded pixels of the one picture named, as the\n"
    "                      loader returns them (BMP: RGB, bottom row first; JPEG:\n"
    "                      RGB or grey, top row first)\n"
    "  --                  the arguments after it are files\n"
    "  -h, --help          print this text and exit\n"
    "  --version           print the name and version and exit\n"
    "\n"
    "A relative FILE missing from the working directory is read from the show's\n"
    "media folder: the first of the working directory, the folder of this program\n"
    "and ../share/tuhkalademo beside it that holds tavara/.\n"
    "\n"
    "Exit status: 0 when every file was read, 1 when one could not be opened or\n"
    "was rejected, 2 for a usage error. See tuhkala-inspect(1).\n";

// A usage error: one line on standard error, status 2.
int usageError(const std::string& problem) {
    fprintf(stderr, "tuhkala-inspect: %s\n", problem.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    platform::setMessageBoxesEnabled(false);
    Options options;
    bool optionsEnd = false;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (!optionsEnd && arg == "--") {
            optionsEnd = true;
        } else if (!optionsEnd && arg == "--json") {
            options.json = true;
        } else if (!optionsEnd && arg == "--dump-pixels") {
            if (i + 1 >= argc) {
                return usageError("--dump-pixels needs a file name to write");
            }
            options.dumpPath = argv[++i];
        } else if (!optionsEnd && (arg == "--help" || arg == "-h")) {
            fputs(HELP, stdout);
            return 0;
        } else if (!optionsEnd && arg == "--version") {
            printf("tuhkala-inspect (%s) %s\n", TUHKALA_PACKAGE, TUHKALA_VERSION);
            return 0;
        } else if (!optionsEnd && arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option '" + arg + "' (see --help)");
        } else {
            options.files.push_back(arg);
        }
    }
    if (options.files.empty()) {
        return usageError("no file given (see --help)");
    }
    if (options.dumpPath && options.files.size() != 1) {
        return usageError("--dump-pixels takes exactly one picture file");
    }
    bool allRead = true;
    for (const std::string& file : options.files) {
        if (!inspectFile(options, file)) {
            allRead = false;
        }
    }
    fflush(stdout);
    return allRead ? 0 : 1;
}
