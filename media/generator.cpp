// File output shared by the generator's parts (see generator.h).
//
// Build time, one thread.
#include "media/generator.h"

#include <cstdio>

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
