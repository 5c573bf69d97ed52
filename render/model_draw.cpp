// Immediate-mode drawing of a loaded 3D Studio model: textured face group by
// face group with each material's opacity, or every face plain white.
//
// Main thread, with the GL context current, between a frame's clear and its
// swap. Positions are in the mesh file's units and are scaled by MODEL_SCALE on
// the way out; normals are sent unscaled.
#include <GL/gl.h>

#include <algorithm>

#include "resources/model.h"

namespace {

// Positions are scaled in double precision and sent as floats, so the drawn
// coordinates are the rounded products, not float products.
void sendPosition(const Vec3& position) {
    glVertex3f(static_cast<float>(position.x * MODEL_SCALE),
               static_cast<float>(position.y * MODEL_SCALE),
               static_cast<float>(position.z * MODEL_SCALE));
}

// The material a group names, or null when the index lies outside the loaded
// materials (a material name in the file that matched none).
Material* groupMaterial(const Model& model, int materialIndex) {
    int loaded = std::min(model.materialCount, MAX_MATERIALS);
    if (materialIndex < 0 || materialIndex >= loaded) {
        return nullptr;
    }
    return model.materials[materialIndex];
}

void drawGroup(const Mesh& mesh, const FaceGroup& group, Material* material) {
    glEnable(GL_LIGHTING);
    // Without a material the group is opaque and untextured, as a material
    // whose texture never loaded would draw it.
    float opacity = material ? material->opacity : 1.0f;
    double opacityWide = opacity;
    if (!(opacityWide >= 1.0)) {
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }
    if (material) {
        material->texture.bind();
    } else {
        glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    glBegin(GL_TRIANGLES);
    if (group.faces) {
        for (int f = 0; f < group.faceCount; ++f) {
            const Face& face = group.faces[f];
            // A face naming vertices the mesh lacks (a damaged file) is left out.
            if (!faceInVertexArray(mesh, face)) {
                continue;
            }
            for (uint16_t index : {face.a, face.b, face.c}) {
                const MeshVertex& vertex = mesh.vertices[index];
                glNormal3f(vertex.normal.x, vertex.normal.y, vertex.normal.z);
                glColor4f(1.0f, 1.0f, 1.0f, opacity);
                glTexCoord2f(vertex.u, vertex.v);
                sendPosition(vertex.position);
            }
        }
    }
    glEnd();
}

} // namespace

void Model::draw() {
    int count = std::min(meshCount, MAX_MESHES);
    for (int m = 0; m < count; ++m) {
        const Mesh* mesh = meshes[m];
        if (!mesh) {
            continue;
        }
        int groups = std::min(mesh->groupCount, MAX_FACE_GROUPS);
        for (int g = 0; g < groups; ++g) {
            const FaceGroup* group = mesh->groups[g];
            if (!group) {
                continue;
            }
            drawGroup(*mesh, *group, groupMaterial(*this, group->materialIndex));
        }
    }
}

void Model::drawUntextured() {
    glEnable(GL_BLEND);
    int count = std::min(meshCount, MAX_MESHES);
    for (int m = 0; m < count; ++m) {
        const Mesh* mesh = meshes[m];
        if (!mesh) {
            continue;
        }
        glEnable(GL_LIGHTING);
        glDisable(GL_BLEND);
        glBegin(GL_TRIANGLES);
        if (mesh->faces) {
            for (int f = 0; f < mesh->faceCount; ++f) {
                const Face& face = mesh->faces[f];
                if (!faceInVertexArray(*mesh, face)) {
                    continue;
                }
                for (uint16_t index : {face.a, face.b, face.c}) {
                    const MeshVertex& vertex = mesh->vertices[index];
                    glNormal3f(vertex.normal.x, vertex.normal.y, vertex.normal.z);
                    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
                    sendPosition(vertex.position);
                }
            }
        }
        glEnd();
    }
}
