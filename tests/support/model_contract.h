// What drawing relies on in any loaded Model, whatever the bytes it was read
// from: counts within capacity, names terminated, every face corner and group
// inside its mesh. Free of any test framework, so that the fuzz targets can
// check the same contract.
//
// Any thread. No GL.
#pragma once

#include <cstring>

#include "resources/model.h"

namespace kit {

// The first broken rule, or null when the model keeps them all.
inline const char* brokenModelRule(const Model& model) {
    auto terminated = [](const char* name) { return std::memchr(name, 0, NAME_SIZE) != nullptr; };
    auto inside = [](const Face* faces, int count, int vertexCount) {
        for (int f = 0; f < count; ++f)
            if (faces[f].a >= vertexCount || faces[f].b >= vertexCount || faces[f].c >= vertexCount)
                return false;
        return true;
    };
    if (model.meshCount < 0 || model.meshCount > MAX_MESHES || model.materialCount < 0 ||
        model.materialCount > MAX_MATERIALS || !terminated(model.objectName))
        return "counts out of range or object name not terminated";
    for (int i = 0; i < model.materialCount; ++i) {
        const Material* material = model.materials[i];
        if (!material || !terminated(material->name) || !terminated(material->mapName))
            return "material missing or name not terminated";
    }
    for (int m = 0; m < model.meshCount; ++m) {
        const Mesh* mesh = model.meshes[m];
        if (!mesh || !terminated(mesh->name) || mesh->vertexCount < 0 ||
            mesh->vertexCount > mesh->vertexCapacity || (mesh->vertexCount > 0 && !mesh->vertices))
            return "mesh missing, name not terminated or vertex count out of range";
        if (mesh->faceCount < 0 || (mesh->faceCount > 0 && !mesh->faces) ||
            !inside(mesh->faces, mesh->faceCount, mesh->vertexCapacity) || mesh->groupCount < 0 ||
            mesh->groupCount > MAX_FACE_GROUPS)
            return "face outside its mesh or group count out of range";
        for (int g = 0; g < mesh->groupCount; ++g) {
            const FaceGroup* group = mesh->groups[g];
            if (!group || group->materialIndex < 0 || group->materialIndex > model.materialCount ||
                group->faceCount < 0 || !inside(group->faces, group->faceCount, mesh->vertexCapacity))
                return "group material out of range or group face outside its mesh";
        }
    }
    return nullptr;
}

} // namespace kit
