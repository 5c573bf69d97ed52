// Round trips of the generator's writers through the show's own readers: 3DS
// files through Model::loadFromMemory, bitmaps through decodeDib; and the
// geometry helpers' face orientation, which back-face culling depends on.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>

#include "media/bmp_writer.h"
#include "media/image.h"
#include "media/mesh_builder.h"
#include "media/tds_writer.h"
#include "resources/dib.h"
#include "resources/model.h"

namespace {

TdsMesh triangleMesh(const char* name, int material) {
    TdsMesh m;
    m.name = name;
    m.positions = {{0, 0, 0}, {10, 0, 0}, {0, 20, 0}};
    m.uvs = {{0, 0}, {1, 0.25f}, {0, 1}};
    m.faces = {{0, 1, 2, material}};
    return m;
}

TdsMaterial named(const char* name) {
    TdsMaterial m;
    m.name = name;
    return m;
}

// Unit normal of face f of a written mesh, by the right-hand rule, and the
// face's centre.
TdsPoint faceNormal(const TdsMesh& m, const TdsFace& f) {
    const TdsPoint a = m.positions[f.a], b = m.positions[f.b], c = m.positions[f.c];
    return normalized(cross(b - a, c - a));
}
TdsPoint faceCentre(const TdsMesh& m, const TdsFace& f) {
    return (m.positions[f.a] + m.positions[f.b] + m.positions[f.c]) * (1.0f / 3.0f);
}

uint32_t little32(const std::vector<unsigned char>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

} // namespace

TEST(TdsWriter, MaterialsMeshesGroupsAndChunksReadBack) {
    TdsMaterial glass = named("Glass");
    glass.ambient = {255, 128, 0};
    glass.diffuse = {0, 255, 0};
    glass.specular = {0, 0, 51};
    glass.transparencyPercent = 40;
    glass.additive = true;
    glass.mapName = "tavara\\lasi.jpg";
    TdsMesh quad;
    quad.name = "quad";
    quad.positions = {{0, 0, 0}, {4, 0, 0}, {4, 5, 0}, {0, 5, 6}};
    quad.uvs = {{0, 0}, {1, 0}, {1, 1}, {0, 0.25f}};
    quad.faces = {{0, 1, 2, 1}, {0, 2, 3, 0}, {1, 2, 3, 1}};
    std::vector<unsigned char> bytes;
    std::string error;
    ASSERT_TRUE(writeTds({glass, named("GlassBlue")}, {quad, triangleMesh("b", 1)}, &bytes, &error))
        << error;
    std::unique_ptr<Model> model(new Model);
    model->loadFromMemory(bytes.data(), bytes.size());
    struct Free {
        Model* m;
        ~Free() { freeModelRecords(m); }
    } release{model.get()};

    ASSERT_EQ(model->materialCount, 2);
    const Material* m = model->materials[0];
    EXPECT_STREQ(m->name, "Glass");
    EXPECT_EQ((std::vector<float>{m->ambient[0], m->ambient[2], m->diffuse[1]}),
              (std::vector<float>{1, 0, 1}));
    EXPECT_NEAR(m->ambient[1], 0.50196f, 1e-5);
    EXPECT_NEAR(m->specular[2], 0.2f, 1e-5);
    EXPECT_NEAR(m->opacity, 0.6f, 1e-6);
    EXPECT_EQ(m->additive, 1);
    EXPECT_EQ(m->flags & MATERIAL_HAS_TEXTURE, MATERIAL_HAS_TEXTURE);
    EXPECT_STREQ(m->mapName, "tavara\\lasi.jpg");
    const Material* blue = model->materials[1];
    EXPECT_FLOAT_EQ(blue->opacity, 1.0f);
    EXPECT_EQ(blue->additive, 0);
    EXPECT_EQ(blue->flags & MATERIAL_HAS_TEXTURE, 0u);

    ASSERT_EQ(model->meshCount, 2);
    const Mesh* mesh = model->meshes[0];
    EXPECT_STREQ(mesh->name, "quad");
    ASSERT_EQ(mesh->vertexCount, 4);
    ASSERT_EQ(mesh->faceCount, 3);
    EXPECT_FLOAT_EQ(mesh->vertices[3].position.z, 6.0f);
    EXPECT_FLOAT_EQ(mesh->vertices[2].position.y, 5.0f);
    // The reader flips v: 0.25 in the file is 0.75 in memory.
    EXPECT_FLOAT_EQ(mesh->vertices[3].v, 0.75f);
    EXPECT_FLOAT_EQ(mesh->vertices[1].u, 1.0f);
    EXPECT_EQ((std::vector<int>{mesh->faces[1].a, mesh->faces[1].b, mesh->faces[1].c}),
              (std::vector<int>{0, 2, 3}));
    // Groups come in material order; each lists the faces of its material.
    ASSERT_EQ(mesh->groupCount, 2);
    EXPECT_EQ(mesh->groups[0]->materialIndex, 0);
    ASSERT_EQ(mesh->groups[0]->faceCount, 1);
    EXPECT_EQ(mesh->groups[0]->faces[0].c, 3);
    EXPECT_EQ(mesh->groups[1]->materialIndex, 1);
    ASSERT_EQ(mesh->groups[1]->faceCount, 2);
    EXPECT_EQ(mesh->groups[1]->faces[1].a, 1);
    // "GlassBlue" follows "Glass", so its group finds its own material.
    ASSERT_EQ(model->meshes[1]->groupCount, 1);
    EXPECT_EQ(model->meshes[1]->groups[0]->materialIndex, 1);

    // The main chunk's length is the file's, and its children (version and
    // editor) tile its content exactly.
    EXPECT_EQ(bytes[0] | (bytes[1] << 8), 0x4D4D);
    EXPECT_EQ(little32(bytes, 2), bytes.size());
    size_t pos = 6;
    int children = 0;
    for (; pos + 6 <= bytes.size(); ++children) {
        ASSERT_GE(little32(bytes, pos + 2), 6u);
        pos += little32(bytes, pos + 2);
    }
    EXPECT_EQ(pos, bytes.size());
    EXPECT_EQ(children, 2);
}

TEST(TdsWriter, RejectsWhatWouldNotReadBackAsWritten) {
    const TdsMaterial glass = named("Glass");
    std::vector<unsigned char> out;
    std::string error;
    // A later "Glass" after "GlassBlue" would hand its faces to GlassBlue.
    EXPECT_FALSE(writeTds({named("GlassBlue"), glass}, {triangleMesh("a", 1)}, &out, &error));
    EXPECT_NE(error.find("Glass"), std::string::npos);
    EXPECT_FALSE(writeTds({glass, glass}, {}, &out, &error));

    TdsMesh bad[3] = {triangleMesh("corner", 0), triangleMesh("material", 1),
                      triangleMesh("uvs", 0)};
    bad[0].faces[0].c = 3;
    bad[2].uvs.pop_back();
    for (const TdsMesh& mesh : bad)
        EXPECT_FALSE(writeTds({glass}, {mesh}, &out, &error)) << mesh.name;

    // Limits: 32767 vertices, 79-character names, 100 % transparency.
    TdsMesh big;
    big.name = "big";
    big.positions.resize(32768);
    EXPECT_FALSE(writeTds({glass}, {big}, &out, &error));
    big.positions.resize(32767);
    EXPECT_TRUE(writeTds({glass}, {big}, &out, &error)) << error;
    TdsMaterial longName = named(std::string(80, 'x').c_str());
    EXPECT_FALSE(writeTds({longName}, {}, &out, &error));
    longName.name.pop_back();
    EXPECT_TRUE(writeTds({longName}, {}, &out, &error)) << error;
    TdsMaterial overfull = glass;
    overfull.transparencyPercent = 101;
    EXPECT_FALSE(writeTds({overfull}, {}, &out, &error));
}

TEST(MeshBuilder, SolidsFaceOutwardOrInwardAsAsked) {
    for (bool inward : {false, true}) {
        MeshBuilder b("box");
        b.box({-1, -2, -3}, {1, 2, 3}, 0, 1.0f, inward);
        ASSERT_EQ(b.mesh.faces.size(), 12u);
        ASSERT_EQ(b.mesh.positions.size(), 24u);
        for (const TdsFace& f : b.mesh.faces)
            EXPECT_EQ(dot(faceNormal(b.mesh, f), faceCentre(b.mesh, f)) < 0.0f, inward);
    }
    MeshBuilder floor("floor");
    floor.box({0, 0, 0}, {2, 2, 2}, 0, 1.0f, true, BOX_BOTTOM);
    ASSERT_EQ(floor.mesh.faces.size(), 2u);
    EXPECT_NEAR(faceNormal(floor.mesh, floor.mesh.faces[0]).z, 1.0f, 1e-6);

    // A quad keeps its texture scale and faces -y when counter-clockwise from there.
    MeshBuilder q("quad");
    q.quad({0, 0, 0}, {4, 0, 0}, {4, 0, 2}, {0, 0, 2}, 3, 0.5f);
    ASSERT_EQ(q.mesh.uvs.size(), 4u);
    EXPECT_FLOAT_EQ(q.mesh.uvs[2].u, 2.0f);
    EXPECT_FLOAT_EQ(q.mesh.uvs[2].v, 1.0f);
    EXPECT_EQ(q.mesh.faces[1].material, 3);
    EXPECT_NEAR(faceNormal(q.mesh, q.mesh.faces[0]).y, -1.0f, 1e-6);

    for (bool faceted : {false, true}) {
        MeshBuilder b("lathe");
        b.lathe({{2, 0, 0}, {3, 1, 0}, {1, 2, 0}}, 8, {0, 0, 0}, {0, 0, 1}, 0, faceted);
        double volume = 0.0;
        for (const TdsFace& f : b.mesh.faces)
            volume +=
                dot(b.mesh.positions[f.a], cross(b.mesh.positions[f.b], b.mesh.positions[f.c])) /
                6.0;
        // Closed and outward: the signed volume is positive, and below the
        // circumscribed circular frustums'.
        EXPECT_GT(volume, 0.0) << faceted;
        EXPECT_LT(volume, 3.1416 * (9 + 6 + 4 + 9 + 3 + 1) / 3.0) << faceted;
    }

    MeshBuilder s("sphere");
    s.sphere({5, 0, 0}, 2.0f, 16, 12, 0);
    for (const TdsFace& f : s.mesh.faces)
        EXPECT_GT(dot(faceNormal(s.mesh, f), faceCentre(s.mesh, f) - TdsPoint{5, 0, 0}), 0.0f);
    for (const TdsPoint& p : s.mesh.positions)
        EXPECT_NEAR(length(p - TdsPoint{5, 0, 0}), 2.0f, 1e-4);

    // A tube along an arbitrary axis: side faces point away from the axis,
    // caps along it.
    MeshBuilder t("tube");
    t.tube({0, 0, 0}, {3, 4, 0}, 1.0f, 1.0f, 12, 0);
    const TdsPoint axis = {0.6f, 0.8f, 0};
    for (const TdsFace& f : t.mesh.faces) {
        const TdsPoint c = faceCentre(t.mesh, f), radial = c - axis * dot(c, axis);
        const TdsPoint n = faceNormal(t.mesh, f);
        if (length(radial) > 0.9f)
            EXPECT_GT(dot(n, radial), 0.0f);
        else
            EXPECT_GT(std::fabs(dot(n, axis)), 0.99f);
    }
}

TEST(BmpWriter, PalettedAndTrueColourFilesDecodeBottomRowFirst) {
    const std::vector<PaletteEntry> palette = {{0, 0, 0}, {255, 0, 0}, {0, 128, 255}};
    // Two rows of four: top row 1 2 0 1, bottom row 2 2 2 0.
    const std::vector<uint8_t> indices = {1, 2, 0, 1, 2, 2, 2, 0};
    std::vector<unsigned char> bmp = encodeBmp8(4, 2, indices, palette);
    ASSERT_GT(bmp.size(), 28u);
    EXPECT_EQ(bmp[28], 8); // bit count
    const char* message = nullptr;
    DibImage* dib = decodeDib(bmp.data(), bmp.size(), &message);
    ASSERT_NE(dib, nullptr) << (message ? message : "");
    ASSERT_EQ(dib->width * 10 + dib->height, 42);
    // Bottom row (2 2 2 0) first, then the top row from byte 12 (1: red).
    EXPECT_EQ((std::vector<int>(dib->pixels, dib->pixels + 15)),
              (std::vector<int>{0, 128, 255, 0, 128, 255, 0, 128, 255, 0, 0, 0, 255, 0, 0}));
    freeDibImage(dib);
    EXPECT_TRUE(encodeBmp8(4, 2, {1, 2, 3, 1, 2, 2, 2, 0}, palette).empty()); // index 3
    EXPECT_TRUE(encodeBmp8(4, 3, indices, palette).empty());                  // wrong count

    Image image(3, 2);
    image.at(0, 0) = {1, 0, 0};
    image.at(2, 0) = {0, 0, 1};
    image.at(1, 1) = {0, 1, 0};
    bmp = encodeBmp24(image);
    EXPECT_EQ(bmp.size(), 54u + 2 * 12); // rows of 9 bytes padded to 12
    EXPECT_EQ(bmp[28], 24);
    dib = decodeDib(bmp.data(), bmp.size(), nullptr);
    ASSERT_NE(dib, nullptr);
    ASSERT_EQ(dib->width * 10 + dib->height, 32);
    // Bottom row: black, green, black; top row: red, black, blue; no gaps.
    EXPECT_EQ((std::vector<int>(dib->pixels, dib->pixels + 18)),
              (std::vector<int>{0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 255}));
    freeDibImage(dib);
}

TEST(ImageToolkit, NoiseTilesAndStaysInRangeConversionClampsMasksBlendAndBlur) {
    for (float x = 0.1f; x < 8.0f; x += 0.73f) {
        for (float y = 0.2f; y < 8.0f; y += 0.61f) {
            // Equal up to the rounding of x + 4 in float.
            EXPECT_NEAR(valueNoise(x, y, 5, 4), valueNoise(x + 4.0f, y, 5, 4), 1e-5);
            EXPECT_NEAR(valueNoise(x, y, 5, 4), valueNoise(x, y - 4.0f, 5, 4), 1e-5);
            EXPECT_NEAR(fbm(x, y, 4, 9, 2), fbm(x + 2.0f, y + 2.0f, 4, 9, 2), 1e-5);
            const float f = fbm(x, y, 5, 3), r = ridged(x, y, 4, 3);
            EXPECT_TRUE(f >= 0.0f && f < 1.0f) << f;
            EXPECT_TRUE(r >= 0.0f && r <= 1.0f) << r;
        }
    }
    EXPECT_NE(valueNoise(1.5f, 2.5f, 1), valueNoise(1.5f, 2.5f, 2)) << "seeds differ";

    Image image(2, 1);
    image.at(0, 0) = {1.7f, -0.2f, 0.5f};
    EXPECT_EQ(image.toRgb8(), (std::vector<unsigned char>{255, 0, 128, 0, 0, 0}));
    Mask mask(1, 1);
    mask.at(0, 0) = 0.5f;
    stampMask(image, mask, 1, 0, {1, 1, 1}, 1.0f, false);
    EXPECT_FLOAT_EQ(image.at(1, 0).g, 0.5f);
    stampMask(image, mask, 1, 0, {1, 0, 0}, 1.0f, true);
    EXPECT_FLOAT_EQ(image.at(1, 0).r, 1.0f);
    stampMask(image, mask, 5, 5, {1, 0, 0}, 1.0f, true); // off the image: ignored

    Mask spot(3, 3);
    spot.at(1, 1) = 1.0f;
    const Mask blurred = blurMask(spot, 2);
    EXPECT_EQ(blurred.width, 3 + 12);
    float total = 0.0f;
    for (float c : blurred.coverage)
        total += c;
    EXPECT_NEAR(total, 1.0f, 1e-4); // the blur spreads coverage without losing it
    EXPECT_LT(blurred.get(7, 7), 1.0f);
    EXPECT_GT(blurred.get(7, 7), blurred.get(7, 3));
}
