// tuhkala-media DIR [PART...]: writes the show's media into DIR (tavara/).
// With PART names only those parts are written.
//
// Build time, one thread.
#include <cstdio>
#include <cstring>

#include "media/generator.h"

namespace {

// Every part, in the order they are written.
const MediaPart PARTS[] = {
    {"meshes", writeMeshes},
    {"module", writeModule},
    {"pictures", writePictures},
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(stderr, "usage: tuhkala-media DIR [PART...]\nparts:");
        for (const MediaPart& part : PARTS)
            std::fprintf(stderr, " %s", part.name);
        std::fprintf(stderr, "\n");
        return argc < 2 ? 2 : 0;
    }
    const std::string dir = argv[1];
    int failures = 0;
    for (const MediaPart& part : PARTS) {
        bool wanted = argc == 2;
        for (int i = 2; i < argc; ++i)
            wanted = wanted || std::strcmp(argv[i], part.name) == 0;
        if (wanted && !part.write(dir))
            ++failures;
    }
    return failures == 0 ? 0 : 1;
}
