// libFuzzer target for the 3D Studio reader: any bytes through
// Model::loadFromMemory and computeNormals, then the model contract the tests
// also check (tests/support/model_contract.h), finite normals and the
// reader's memory budget; a broken one aborts.
//
// Fuzzer thread. Lengths in bytes.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "fuzz/alloc_count.h"
#include "resources/model.h"
#include "tests/support/model_contract.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Model* model = new Model;
    alloccount::startCounting();
    int loaded = model->loadFromMemory(data, size);
    alloccount::checkBudget(alloccount::stopCounting(), modelReadBudget(size), size);
    if (loaded != 1 || kit::brokenModelRule(*model))
        abort();
    for (int m = 0; m < model->meshCount; m++) {
        Mesh* mesh = model->meshes[m];
        computeNormals(mesh);
        for (int v = 0; v < mesh->vertexCount; v++) {
            const Vec3& n = mesh->vertices[v].normal;
            if (!std::isfinite(n.x) || !std::isfinite(n.y) || !std::isfinite(n.z))
                abort();
        }
    }
    freeModelRecords(model);
    delete model;
    return 0;
}
