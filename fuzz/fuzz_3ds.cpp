// libFuzzer target for the 3D Studio reader: any bytes through
// Model::loadFromMemory and computeNormals, then the invariants that drawing
// relies on and the reader's memory budget; a broken one aborts.
//
// Fuzzer thread. Lengths in bytes.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/alloc_count.h"
#include "resources/model.h"

namespace {

void check(bool ok) {
    if (!ok) {
        abort();
    }
}

bool terminated(const char* name) {
    return memchr(name, 0, NAME_SIZE) != nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Model* model = new Model;
    alloccount::startCounting();
    int loaded = model->loadFromMemory(data, size);
    alloccount::checkBudget(alloccount::stopCounting(), modelReadBudget(size), size);
    check(loaded == 1);
    check(model->meshCount >= 0 && model->meshCount <= MAX_MESHES);
    check(model->materialCount >= 0 && model->materialCount <= MAX_MATERIALS);
    check(terminated(model->objectName));
    for (int i = 0; i < model->materialCount; i++) {
        const Material* material = model->materials[i];
        check(material != nullptr);
        check(terminated(material->name) && terminated(material->mapName));
    }
    for (int m = 0; m < model->meshCount; m++) {
        Mesh* mesh = model->meshes[m];
        check(mesh != nullptr && terminated(mesh->name));
        check(mesh->vertexCount >= 0 && mesh->vertexCount <= mesh->vertexCapacity);
        check(mesh->faceCount >= 0 && (mesh->faceCount == 0 || mesh->faces));
        check(mesh->vertexCount == 0 || mesh->vertices);
        for (int f = 0; f < mesh->faceCount; f++) {
            check(faceInVertexArray(*mesh, mesh->faces[f]));
        }
        check(mesh->groupCount >= 0 && mesh->groupCount <= MAX_FACE_GROUPS);
        for (int g = 0; g < mesh->groupCount; g++) {
            const FaceGroup* group = mesh->groups[g];
            check(group != nullptr);
            check(group->materialIndex >= 0 && group->materialIndex <= model->materialCount);
            check(group->faceCount >= 0);
            for (int f = 0; f < group->faceCount; f++) {
                check(faceInVertexArray(*mesh, group->faces[f]));
            }
        }
        computeNormals(mesh);
        for (int v = 0; v < mesh->vertexCount; v++) {
            const Vec3& n = mesh->vertices[v].normal;
            check(std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z));
        }
    }
    freeModelRecords(model);
    delete model;
    return 0;
}
