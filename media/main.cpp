// tuhkala-media DIR [PART...]: writes the show's media into DIR (tavara/).
// With PART names only those parts are written.
#include <cstdio>
#include <cstring>

#include "media/generator.h"

std::vector<MediaPart>& mediaParts() {
    static std::vector<MediaPart> parts;
    return parts;
}

MediaRegistration::MediaRegistration(const char* name, MediaWriter write) {
    mediaParts().push_back({name, write});
}

bool writeMediaFile(const std::string& dir, const std::string& name,
                    const std::vector<unsigned char>& bytes) {
    const std::string path = dir + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "tuhkala-media: cannot write %s\n", path.c_str());
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !ok) {
        std::fprintf(stderr, "tuhkala-media: error writing %s\n", path.c_str());
        return false;
    }
    return true;
}

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(stderr, "usage: tuhkala-media DIR [PART...]\nparts:");
        for (const MediaPart& part : mediaParts())
            std::fprintf(stderr, " %s", part.name);
        std::fprintf(stderr, "\n");
        return argc < 2 ? 2 : 0;
    }
    const std::string dir = argv[1];
    int failures = 0;
    for (const MediaPart& part : mediaParts()) {
        bool wanted = argc == 2;
        for (int i = 2; i < argc; ++i)
            wanted = wanted || std::strcmp(argv[i], part.name) == 0;
        if (wanted && !part.write(dir))
            ++failures;
    }
    return failures == 0 ? 0 : 1;
}
