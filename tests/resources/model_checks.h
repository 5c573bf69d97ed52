// The invariants of a loaded Model that drawing relies on, for any input.
//
// Test thread only.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "resources/model.h"

inline void expectInBounds(const Model& model) {
    ASSERT_LE(model.meshCount, MAX_MESHES);
    ASSERT_LE(model.materialCount, MAX_MATERIALS);
    for (int m = 0; m < model.meshCount; m++) {
        const Mesh* mesh = model.meshes[m];
        ASSERT_GE(mesh->vertexCount, 0);
        ASSERT_LE(mesh->vertexCount, mesh->vertexCapacity);
        ASSERT_LT(strnlen(mesh->name, NAME_SIZE), static_cast<size_t>(NAME_SIZE));
        for (int f = 0; f < mesh->faceCount; f++) {
            EXPECT_LT(mesh->faces[f].a, mesh->vertexCount);
            EXPECT_LT(mesh->faces[f].b, mesh->vertexCount);
            EXPECT_LT(mesh->faces[f].c, mesh->vertexCount);
        }
        ASSERT_LE(mesh->groupCount, MAX_FACE_GROUPS);
        for (int g = 0; g < mesh->groupCount; g++) {
            const FaceGroup* group = mesh->groups[g];
            EXPECT_LE(group->materialIndex, model.materialCount);
            for (int f = 0; f < group->faceCount; f++) {
                EXPECT_LT(group->faces[f].a, mesh->vertexCount);
                EXPECT_LT(group->faces[f].b, mesh->vertexCount);
                EXPECT_LT(group->faces[f].c, mesh->vertexCount);
            }
        }
    }
    for (int i = 0; i < model.materialCount; i++) {
        EXPECT_LT(strnlen(model.materials[i]->name, NAME_SIZE), static_cast<size_t>(NAME_SIZE));
        EXPECT_LT(strnlen(model.materials[i]->mapName, NAME_SIZE), static_cast<size_t>(NAME_SIZE));
    }
}

// A heap Model whose records are freed with it.
struct ModelRelease {
    void operator()(Model* model) const {
        freeModelRecords(model);
        delete model;
    }
};
using ModelPtr = std::unique_ptr<Model, ModelRelease>;
