// 3DS reader benchmark: our chunk reader (with and without vertex normals)
// against assimp's importer, on the show's meshes and on the corpus of other
// people's 3DS files, reported as median load times and their ratio.
//
// Main thread; no GL (materials' textures are not loaded). Times in ms.
//
// Both sides read from the same bytes in memory, so disk speed is not timed.
// assimp runs without post-processing steps: its 3DS importer already builds
// meshes, materials and normals, which is what our reader plus computeNormals
// produces. Runs alternate between the two readers so that noise from other
// work on the machine falls on both alike.
#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#include <assimp/version.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "resources/model.h"

namespace {

// Our reader never frees a Model (the show keeps them for its whole run);
// the benchmark loads thousands, so it releases them here the way they were
// allocated.
void releaseModel(Model* model) {
    for (int m = 0; m < model->meshCount; m++) {
        Mesh* mesh = model->meshes[m];
        if (!mesh) {
            continue;
        }
        for (int g = 0; g < mesh->groupCount; g++) {
            if (mesh->groups[g]) {
                delete[] mesh->groups[g]->faces;
                delete mesh->groups[g];
            }
        }
        delete[] mesh->faces;
        delete[] mesh->vertices;
        delete mesh;
    }
    for (int i = 0; i < model->materialCount; i++) {
        if (model->materials[i]) {
            std::free(model->materials[i]->texture.fileName);
            delete model->materials[i];
        }
    }
    delete model;
}

struct Counts {
    int ok = 0;
    long faces = 0;
    long vertices = 0;
};

Counts loadOurs(const std::vector<unsigned char>& bytes, bool normals) {
    Counts counts;
    Model* model = new Model;
    counts.ok = model->loadFromMemory(bytes.data(), bytes.size());
    for (int m = 0; m < model->meshCount; m++) {
        if (normals) {
            computeNormals(model->meshes[m]);
        }
        counts.faces += model->meshes[m]->faceCount;
        counts.vertices += model->meshes[m]->vertexCount;
    }
    releaseModel(model);
    return counts;
}

Counts loadAssimp(const std::vector<unsigned char>& bytes) {
    Counts counts;
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFileFromMemory(bytes.data(), bytes.size(), 0, "3ds");
    if (scene) {
        counts.ok = 1;
        for (unsigned m = 0; m < scene->mNumMeshes; m++) {
            counts.faces += scene->mMeshes[m]->mNumFaces;
            counts.vertices += scene->mMeshes[m]->mNumVertices;
        }
    }
    return counts;
}

} // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : 9;
    std::vector<std::string> files;
    auto is3ds = [](const std::string& name) {
        std::string lower = bench::lowerCase(name);
        return bench::endsWith(lower, ".3ds");
    };
    bench::listFiles("tavara", is3ds, files);
    size_t showFiles = files.size();
    for (int i = 2; i < argc; i++) {
        // Extra folders or files (the corpus); extension-less files that
        // start with the 3DS main chunk id count too.
        if (bench::isDirectory(argv[i])) {
            bench::listFiles(
                argv[i],
                [&](const std::string& name) {
                    return is3ds(name) || name.find('.') == std::string::npos;
                },
                files);
        } else {
            files.push_back(argv[i]);
        }
    }
    if (showFiles == 0) {
        std::fprintf(stderr, "tds_bench: no tavara/*.3ds (run from the build folder)\n");
        return 1;
    }
    std::printf("3DS loading, ours vs assimp %u.%u (no post-processing), median of %d rounds\n",
                aiGetVersionMajor(), aiGetVersionMinor(), rounds);
    std::printf("  %-44s %8s %10s %10s %10s %8s %8s\n", "file", "faces", "ours ms", "+normals",
                "assimp ms", "ratio", "ratio+n");
    double sums[2][3] = {};
    int compared[2] = {0, 0};
    int skipped = 0;
    for (size_t f = 0; f < files.size(); f++) {
        std::vector<unsigned char> bytes;
        if (!bench::readFile(files[f], bytes) || bytes.size() < 2 || bytes[0] != 0x4d ||
            bytes[1] != 0x4d) {
            skipped++;
            continue;
        }
        Counts ours = loadOurs(bytes, true);
        Counts theirs = loadAssimp(bytes);
        if (!ours.ok || !theirs.ok || ours.faces == 0) {
            std::printf("  %-44s skipped (ours %s, assimp %s)\n", files[f].c_str(),
                        ours.ok ? "read" : "failed", theirs.ok ? "read" : "failed");
            skipped++;
            continue;
        }
        std::vector<double> parse, withNormals, assimp;
        for (int r = 0; r < rounds; r++) {
            parse.push_back(bench::timePerRun([&] { loadOurs(bytes, false); }, 20.0));
            withNormals.push_back(bench::timePerRun([&] { loadOurs(bytes, true); }, 20.0));
            assimp.push_back(bench::timePerRun([&] { loadAssimp(bytes); }, 20.0));
        }
        double p = bench::median(parse), n = bench::median(withNormals), a = bench::median(assimp);
        std::string shown = files[f];
        if (shown.size() > 44) {
            shown = "..." + shown.substr(shown.size() - 41);
        }
        std::printf("  %-44s %8ld %10.4f %10.4f %10.4f %7.1fx %7.1fx%s\n", shown.c_str(),
                    ours.faces, p, n, a, a / p, a / n,
                    ours.faces != theirs.faces ? "  (assimp face count differs)" : "");
        int set = f < showFiles ? 0 : 1;
        sums[set][0] += p;
        sums[set][1] += n;
        sums[set][2] += a;
        compared[set]++;
    }
    const char* names[2] = {"show's meshes", "corpus"};
    for (int set = 0; set < 2; set++) {
        if (compared[set] == 0) {
            continue;
        }
        std::printf("  total, %s (%d files): ours %.3f ms, ours+normals %.3f ms, assimp %.3f ms;"
                    " assimp/ours %.1fx, assimp/(ours+normals) %.1fx\n",
                    names[set], compared[set], sums[set][0], sums[set][1], sums[set][2],
                    sums[set][2] / sums[set][0], sums[set][2] / sums[set][1]);
    }
    std::printf("  %d files skipped (unreadable by either reader or not a 3DS file)\n", skipped);
    return 0;
}
