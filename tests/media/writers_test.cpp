// Round trips of the generator's writers through the show's own readers: 3DS
// files through Model::loadFromMemory, bitmaps through decodeDib; and the
// geometry helpers' face orientation, which back-face culling depends on.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "media/bmp_writer.h"
#include "media/image.h"
#include "media/mesh_builder.h"
#include "media/tds_writer.h"
#include "resources/dib.h"
#include "resources/model.h"

namespace {

// A heap Model whose records are freed with it, so leak checks stay meaningful.
struct ModelRelease {
    void operator()(Model* model) const {
        freeModelRecords(model);
        delete model;
    }
};
using ModelPtr = std::unique_ptr<Model, ModelRelease>;

bool load(const std::vector<TdsMaterial>& materials, const std::vector<TdsMesh>& meshes,
          Model* model, std::string* error) {
    std::vector<unsigned char> bytes;
    if (!writeTds(materials, meshes, &bytes, error))
        return false;
    model->loadFromMemory(bytes.data(), bytes.size());
    return true;
}

TdsMesh triangleMesh(const char* name, int material) {
    TdsMesh m;
    m.name = name;
    m.positions = {{0, 0, 0}, {10, 0, 0}, {0, 20, 0}};
    m.uvs = {{0, 0}, {1, 0.25f}, {0, 1}};
    m.faces = {{0, 1, 2, material}};
    return m;
}

// Unit normal of face f of a written mesh, by the right-hand rule.
TdsPoint faceNormal(const TdsMesh& m, const TdsFace& f) {
    const TdsPoint a = m.positions[f.a], b = m.positions[f.b], c = m.positions[f.c];
    return normalized(cross(b - a, c - a));
}

TdsPoint faceCentre(const TdsMesh& m, const TdsFace& f) {
    return (m.positions[f.a] + m.positions[f.b] + m.positions[f.c]) * (1.0f / 3.0f);
}

} // namespace

TEST(TdsWriter, MaterialFieldsReadBackThroughTheShowsReader) {
    TdsMaterial glass;
    glass.name = "Glass";
    glass.ambient = {255, 128, 0};
    glass.diffuse = {0, 255, 0};
    glass.specular = {0, 0, 51};
    glass.transparencyPercent = 40;
    glass.additive = true;
    glass.mapName = "tavara\\lasi.jpg";
    TdsMaterial blue;
    blue.name = "GlassBlue";

    ModelPtr model(new Model);
    std::string error;
    ASSERT_TRUE(
        load({glass, blue}, {triangleMesh("a", 0), triangleMesh("b", 1)}, model.get(), &error))
        << error;
    ASSERT_EQ(model->materialCount, 2);
    const Material* m = model->materials[0];
    EXPECT_STREQ(m->name, "Glass");
    EXPECT_FLOAT_EQ(m->ambient[0], 1.0f);
    EXPECT_NEAR(m->ambient[1], 0.50196f, 1e-5);
    EXPECT_FLOAT_EQ(m->ambient[2], 0.0f);
    EXPECT_FLOAT_EQ(m->diffuse[1], 1.0f);
    EXPECT_NEAR(m->specular[2], 0.2f, 1e-5);
    EXPECT_NEAR(m->opacity, 0.6f, 1e-6);
    EXPECT_EQ(m->additive, 1);
    EXPECT_EQ(m->flags & MATERIAL_HAS_TEXTURE, MATERIAL_HAS_TEXTURE);
    EXPECT_STREQ(m->mapName, "tavara\\lasi.jpg");

    const Material* b = model->materials[1];
    EXPECT_FLOAT_EQ(b->opacity, 1.0f);
    EXPECT_EQ(b->additive, 0);
    EXPECT_EQ(b->flags & MATERIAL_HAS_TEXTURE, 0u);

    // "GlassBlue" follows "Glass", so each group finds its own material.
    ASSERT_EQ(model->meshCount, 2);
    ASSERT_EQ(model->meshes[0]->groupCount, 1);
    EXPECT_EQ(model->meshes[0]->groups[0]->materialIndex, 0);
    ASSERT_EQ(model->meshes[1]->groupCount, 1);
    EXPECT_EQ(model->meshes[1]->groups[0]->materialIndex, 1);
}

TEST(TdsWriter, MeshGeometryGroupsAndMappingReadBack) {
    TdsMaterial a, b;
    a.name = "stone";
    b.name = "ember";
    TdsMesh m;
    m.name = "quad";
    m.positions = {{0, 0, 0}, {4, 0, 0}, {4, 5, 0}, {0, 5, 6}};
    m.uvs = {{0, 0}, {1, 0}, {1, 1}, {0, 0.25f}};
    m.faces = {{0, 1, 2, 1}, {0, 2, 3, 0}, {1, 2, 3, 1}};
    ModelPtr model(new Model);
    std::string error;
    ASSERT_TRUE(load({a, b}, {m}, model.get(), &error)) << error;
    ASSERT_EQ(model->meshCount, 1);
    const Mesh* mesh = model->meshes[0];
    EXPECT_STREQ(mesh->name, "quad");
    ASSERT_EQ(mesh->vertexCount, 4);
    ASSERT_EQ(mesh->faceCount, 3);
    EXPECT_FLOAT_EQ(mesh->vertices[3].position.z, 6.0f);
    EXPECT_FLOAT_EQ(mesh->vertices[2].position.y, 5.0f);
    // The reader flips v: 0.25 in the file is 0.75 in memory.
    EXPECT_FLOAT_EQ(mesh->vertices[3].u, 0.0f);
    EXPECT_FLOAT_EQ(mesh->vertices[3].v, 0.75f);
    EXPECT_FLOAT_EQ(mesh->vertices[1].u, 1.0f);
    EXPECT_EQ(mesh->faces[1].a, 0);
    EXPECT_EQ(mesh->faces[1].b, 2);
    EXPECT_EQ(mesh->faces[1].c, 3);
    // Groups come in material order; each lists the faces of its material.
    ASSERT_EQ(mesh->groupCount, 2);
    EXPECT_EQ(mesh->groups[0]->materialIndex, 0);
    ASSERT_EQ(mesh->groups[0]->faceCount, 1);
    EXPECT_EQ(mesh->groups[0]->faces[0].c, 3);
    EXPECT_EQ(mesh->groups[1]->materialIndex, 1);
    ASSERT_EQ(mesh->groups[1]->faceCount, 2);
    EXPECT_EQ(mesh->groups[1]->faces[1].a, 1);
}

TEST(TdsWriter, RejectsWhatWouldNotReadBackAsWritten) {
    TdsMaterial glass, glassBlue;
    glass.name = "Glass";
    glassBlue.name = "GlassBlue";
    std::vector<unsigned char> out;
    std::string error;

    // A later "Glass" after "GlassBlue" would hand its faces to GlassBlue.
    EXPECT_FALSE(writeTds({glassBlue, glass}, {triangleMesh("a", 1)}, &out, &error));
    EXPECT_NE(error.find("Glass"), std::string::npos);
    EXPECT_FALSE(writeTds({glass, glass}, {}, &out, &error));

    TdsMesh badCorner = triangleMesh("a", 0);
    badCorner.faces[0].c = 3;
    EXPECT_FALSE(writeTds({glass}, {badCorner}, &out, &error));

    TdsMesh badMaterial = triangleMesh("a", 1);
    EXPECT_FALSE(writeTds({glass}, {badMaterial}, &out, &error));

    TdsMesh badUvs = triangleMesh("a", 0);
    badUvs.uvs.pop_back();
    EXPECT_FALSE(writeTds({glass}, {badUvs}, &out, &error));

    TdsMesh tooMany;
    tooMany.name = "big";
    tooMany.positions.resize(32768);
    EXPECT_FALSE(writeTds({glass}, {tooMany}, &out, &error));
    tooMany.positions.resize(32767);
    EXPECT_TRUE(writeTds({glass}, {tooMany}, &out, &error)) << error;

    TdsMaterial longName;
    longName.name = std::string(80, 'x');
    EXPECT_FALSE(writeTds({longName}, {}, &out, &error));
    longName.name.pop_back();
    EXPECT_TRUE(writeTds({longName}, {}, &out, &error)) << error;

    TdsMaterial overfull = glass;
    overfull.transparencyPercent = 101;
    EXPECT_FALSE(writeTds({overfull}, {}, &out, &error));
}

TEST(TdsWriter, ChunkLengthsCoverTheirContent) {
    TdsMaterial a;
    a.name = "a";
    std::vector<unsigned char> out;
    std::string error;
    ASSERT_TRUE(writeTds({a}, {triangleMesh("t", 0)}, &out, &error)) << error;
    ASSERT_GE(out.size(), 6u);
    EXPECT_EQ(out[0] | (out[1] << 8), 0x4D4D);
    const uint32_t mainLength = out[2] | (out[3] << 8) | (out[4] << 16) | (out[5] << 24);
    EXPECT_EQ(mainLength, out.size());
    // Walk the main chunk's children: they must tile its content exactly.
    size_t pos = 6;
    int children = 0;
    while (pos + 6 <= out.size()) {
        const uint32_t len =
            out[pos + 2] | (out[pos + 3] << 8) | (out[pos + 4] << 16) | (out[pos + 5] << 24);
        ASSERT_GE(len, 6u);
        pos += len;
        ++children;
    }
    EXPECT_EQ(pos, out.size());
    EXPECT_EQ(children, 2); // version and editor
}

TEST(MeshBuilder, BoxFacesPointOutOrInAsAsked) {
    for (bool inward : {false, true}) {
        MeshBuilder b("box");
        b.box({-1, -2, -3}, {1, 2, 3}, 0, 1.0f, inward);
        ASSERT_EQ(b.mesh.faces.size(), 12u);
        ASSERT_EQ(b.mesh.positions.size(), 24u);
        for (const TdsFace& f : b.mesh.faces) {
            const float d = dot(faceNormal(b.mesh, f), faceCentre(b.mesh, f));
            if (inward)
                EXPECT_LT(d, 0.0f);
            else
                EXPECT_GT(d, 0.0f);
        }
    }
    MeshBuilder floorOnly("floor");
    floorOnly.box({0, 0, 0}, {2, 2, 2}, 0, 1.0f, true, BOX_BOTTOM);
    ASSERT_EQ(floorOnly.mesh.faces.size(), 2u);
    EXPECT_NEAR(faceNormal(floorOnly.mesh, floorOnly.mesh.faces[0]).z, 1.0f, 1e-6);
}

TEST(MeshBuilder, QuadTextureKeepsItsScale) {
    MeshBuilder b("quad");
    b.quad({0, 0, 0}, {4, 0, 0}, {4, 0, 2}, {0, 0, 2}, 3, 0.5f);
    ASSERT_EQ(b.mesh.uvs.size(), 4u);
    EXPECT_FLOAT_EQ(b.mesh.uvs[2].u, 2.0f);
    EXPECT_FLOAT_EQ(b.mesh.uvs[2].v, 1.0f);
    EXPECT_EQ(b.mesh.faces[1].material, 3);
    // Counter-clockwise seen from -y: the normal points to -y.
    EXPECT_NEAR(faceNormal(b.mesh, b.mesh.faces[0]).y, -1.0f, 1e-6);
}

TEST(MeshBuilder, LathesAndSpheresFaceOutwardAndCloseTheirEnds) {
    for (bool faceted : {false, true}) {
        MeshBuilder b("lathe");
        b.lathe({{2, 0, 0}, {3, 1, 0}, {1, 2, 0}}, 8, {0, 0, 0}, {0, 0, 1}, 0, faceted);
        double volume = 0.0;
        for (const TdsFace& f : b.mesh.faces) {
            const TdsPoint p = b.mesh.positions[f.a], q = b.mesh.positions[f.b],
                           r = b.mesh.positions[f.c];
            volume += dot(p, cross(q, r)) / 6.0;
        }
        // Closed and outward: the signed volume is positive, and lies between
        // the inscribed octagonal and the circumscribed circular frustums.
        EXPECT_GT(volume, 0.0) << faceted;
        EXPECT_LT(volume, 3.1416 * (9 + 6 + 4 + 9 + 3 + 1) / 3.0) << faceted;
    }
    MeshBuilder s("sphere");
    s.sphere({5, 0, 0}, 2.0f, 16, 12, 0);
    for (const TdsFace& f : s.mesh.faces) {
        const TdsPoint outward = faceCentre(s.mesh, f) - TdsPoint{5, 0, 0};
        EXPECT_GT(dot(faceNormal(s.mesh, f), outward), 0.0f);
    }
    for (const TdsPoint& p : s.mesh.positions)
        EXPECT_NEAR(length(p - TdsPoint{5, 0, 0}), 2.0f, 1e-4);
    // A tube along an arbitrary axis keeps its radius and faces out too.
    MeshBuilder t("tube");
    t.tube({0, 0, 0}, {3, 4, 0}, 1.0f, 1.0f, 12, 0);
    for (const TdsFace& f : t.mesh.faces) {
        const TdsPoint c = faceCentre(t.mesh, f);
        const TdsPoint axis = {0.6f, 0.8f, 0};
        const TdsPoint radial = c - axis * dot(c, axis);
        const TdsPoint n = faceNormal(t.mesh, f);
        // Side faces point away from the axis; caps point along it.
        if (length(radial) > 0.9f)
            EXPECT_GT(dot(n, radial), 0.0f);
        else
            EXPECT_GT(std::fabs(dot(n, axis)), 0.99f);
    }
}

TEST(BmpWriter, EightBitPaletteDecodesBottomRowFirst) {
    const std::vector<PaletteEntry> palette = {{0, 0, 0}, {255, 0, 0}, {0, 128, 255}};
    // Two rows of four: top row 1 2 0 1, bottom row 2 2 2 0.
    const std::vector<uint8_t> indices = {1, 2, 0, 1, 2, 2, 2, 0};
    const std::vector<unsigned char> bmp = encodeBmp8(4, 2, indices, palette);
    ASSERT_FALSE(bmp.empty());
    EXPECT_EQ(bmp[28], 8); // bit count
    const char* message = nullptr;
    DibImage* image = decodeDib(bmp.data(), bmp.size(), &message);
    ASSERT_NE(image, nullptr) << (message ? message : "");
    EXPECT_EQ(image->width, 4);
    EXPECT_EQ(image->height, 2);
    // Bottom row first: 2 2 2 0 → (0,128,255) ×3 then black.
    EXPECT_EQ(image->pixels[0], 0);
    EXPECT_EQ(image->pixels[1], 128);
    EXPECT_EQ(image->pixels[2], 255);
    EXPECT_EQ(image->pixels[9], 0);
    // Top row starts at byte 12: index 1, red.
    EXPECT_EQ(image->pixels[12], 255);
    EXPECT_EQ(image->pixels[13], 0);
    freeDibImage(image);

    EXPECT_TRUE(encodeBmp8(4, 2, {1, 2, 3, 1, 2, 2, 2, 0}, palette).empty()); // index 3
    EXPECT_TRUE(encodeBmp8(4, 3, indices, palette).empty());                  // wrong count
}

TEST(BmpWriter, TwentyFourBitRowsArePaddedInTheFileAndDecodeWithoutGaps) {
    Image image(3, 2);
    image.at(0, 0) = {1, 0, 0};
    image.at(2, 0) = {0, 0, 1};
    image.at(1, 1) = {0, 1, 0};
    const std::vector<unsigned char> bmp = encodeBmp24(image);
    EXPECT_EQ(bmp.size(), 54u + 2 * 12); // rows of 9 bytes padded to 12
    EXPECT_EQ(bmp[28], 24);
    DibImage* dib = decodeDib(bmp.data(), bmp.size(), nullptr);
    ASSERT_NE(dib, nullptr);
    ASSERT_EQ(dib->width, 3);
    ASSERT_EQ(dib->height, 2);
    const unsigned char* p = dib->pixels;
    // Bottom row (image row 1): black, green, black.
    EXPECT_EQ(p[4], 255);
    EXPECT_EQ(p[3], 0);
    // Top row (image row 0): red, black, blue.
    EXPECT_EQ(p[9], 255);
    EXPECT_EQ(p[10], 0);
    EXPECT_EQ(p[17], 255);
    freeDibImage(dib);
}

TEST(ImageToolkit, NoiseTilesOverItsPeriodAndStaysInRange) {
    for (float x = 0.1f; x < 8.0f; x += 0.73f) {
        for (float y = 0.2f; y < 8.0f; y += 0.61f) {
            // Equal up to the rounding of x + 4 in float.
            EXPECT_NEAR(valueNoise(x, y, 5, 4), valueNoise(x + 4.0f, y, 5, 4), 1e-5);
            EXPECT_NEAR(valueNoise(x, y, 5, 4), valueNoise(x, y - 4.0f, 5, 4), 1e-5);
            EXPECT_NEAR(fbm(x, y, 4, 9, 2), fbm(x + 2.0f, y + 2.0f, 4, 9, 2), 1e-5);
            const float f = fbm(x, y, 5, 3);
            EXPECT_GE(f, 0.0f);
            EXPECT_LT(f, 1.0f);
            const float r = ridged(x, y, 4, 3);
            EXPECT_GE(r, 0.0f);
            EXPECT_LE(r, 1.0f);
        }
    }
    // Different seeds give different fields.
    EXPECT_NE(valueNoise(1.5f, 2.5f, 1), valueNoise(1.5f, 2.5f, 2));
}

TEST(ImageToolkit, ConversionClampsAndMasksBlendAndBlur) {
    Image image(2, 1);
    image.at(0, 0) = {1.7f, -0.2f, 0.5f};
    const std::vector<unsigned char> rgb = image.toRgb8();
    ASSERT_EQ(rgb.size(), 6u);
    EXPECT_EQ(rgb[0], 255);
    EXPECT_EQ(rgb[1], 0);
    EXPECT_EQ(rgb[2], 128);

    Mask mask(1, 1);
    mask.at(0, 0) = 0.5f;
    stampMask(image, mask, 1, 0, {1, 1, 1}, 1.0f, false);
    EXPECT_FLOAT_EQ(image.at(1, 0).g, 0.5f);
    stampMask(image, mask, 1, 0, {1, 0, 0}, 1.0f, true);
    EXPECT_FLOAT_EQ(image.at(1, 0).r, 1.0f);
    stampMask(image, mask, 5, 5, {1, 0, 0}, 1.0f, true); // off the image: ignored

    Mask dot(3, 3);
    dot.at(1, 1) = 1.0f;
    const Mask blurred = blurMask(dot, 2);
    EXPECT_EQ(blurred.width, 3 + 12);
    float total = 0.0f;
    for (float c : blurred.coverage)
        total += c;
    EXPECT_NEAR(total, 1.0f, 1e-4); // the blur spreads coverage without losing it
    EXPECT_LT(blurred.get(7, 7), 1.0f);
    EXPECT_GT(blurred.get(7, 7), blurred.get(7, 3));
}
