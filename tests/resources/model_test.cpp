// Tests of the 3D Studio reader on small files built by the chunk writer:
// what well-formed files load into, and that malformed ones stay in bounds.
//
// Test thread; no GL. Lengths in bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "resources/model.h"
#include "test_files.h"

using namespace testfiles;

namespace {

ModelPtr loadBytes(const Bytes& bytes, const char* seedName = nullptr) {
    if (seedName) {
        keepSeed("3ds", seedName, bytes);
    }
    ModelPtr model(new Model);
    EXPECT_EQ(model->loadFromMemory(bytes.data(), bytes.size()), 1);
    expectInBounds(*model);
    return model;
}

// One object with one mesh of three vertices and the given faces and subchunks.
Bytes triangleObject(const std::string& name, std::initializer_list<Bytes> faceSubs = {}) {
    return object(name, {triMesh({vertexChunk({0, 0, 0, 1, 0, 0, 0, 1, 0}),
                                  faceChunk({0, 1, 2}, faceSubs)})});
}

// Every mesh's description, joined by " | ".
std::string meshes(const ModelPtr& model) {
    std::string out;
    for (int i = 0; i < model->meshCount; i++) {
        out += (i ? " | " : "") + describe(*model->meshes[i]);
    }
    return out;
}

} // namespace

TEST(ModelReader, SampleFileLoadsEveryField) {
    auto model = loadBytes(sampleModel(), "sample.3ds");
    ASSERT_EQ(model->materialCount, 2);
    ASSERT_EQ(model->meshCount, 1);
    EXPECT_EQ(describe(*model->materials[0]),
              "Stone flags 1 ambient 1 0.5019608 0 diffuse 0 0 0 specular 0 0 0 "
              "opacity 0.7 additive 0 map ROCK.JPG");
    EXPECT_EQ(describe(*model->materials[1]),
              "Glow flags 0 ambient 0 0 0 diffuse 0.25 0.5 0.75 specular 0 0 0 "
              "opacity 1 additive 1 map ");
    // v is stored as 1 - v; u as read.
    EXPECT_EQ(
        describe(*model->meshes[0]),
        "Box: 0 0 0/0 1, 1 0 0/1 1, 0 1 0/0 0, 1 1 0/1 0.75; 0 1 2, 1 3 2; 0[1 3 2] 1[0 1 2]");
}

TEST(ModelReader, MaterialMatchIsPrefixFirstWinsAndCaseSensitive) {
    struct Case {
        std::vector<std::string> before, after; // materials around the mesh
        std::string group;
        int index;
    };
    const Case cases[] = {
        {{"Glass", "GlassBlue"}, {}, "Glass", 0},
        {{"GlassBlue", "Glass"}, {}, "Glass", 0}, // GlassBlue begins with Glass
        {{"Other", "Glass"}, {}, "glass", 2},     // no match: materialCount
        {{"Other", "Glass"}, {}, "", 0},
        {{"A"}, {"Late"}, "Late", 1}, // not yet known when the group is read
        {{"Same", "Same"}, {}, "Same", 0},
        {{}, {}, "", 0}, // no materials at all
    };
    for (const Case& c : cases) {
        Bytes editor;
        for (const std::string& m : c.before) {
            editor = cat({editor, material(m)});
        }
        editor = cat({editor, triangleObject("Obj", {groupChunk(c.group, {0})})});
        for (const std::string& m : c.after) {
            editor = cat({editor, material(m)});
        }
        auto model = loadBytes(chunk(0x4D4D, {chunk(0x3D3D, {editor})}),
                               &c == cases ? "glass.3ds" : nullptr);
        EXPECT_EQ(model->materialCount, static_cast<int>(c.before.size() + c.after.size()));
        EXPECT_EQ(model->meshes[0]->groups[0]->materialIndex, c.index) << "group " << c.group;
    }
}

TEST(ModelReader, ChunkBoundaries) {
    // The vertex chunk states 10 bytes more than its data; the face chunk after
    // the padding must still be found, and the padding not taken for a chunk.
    Bytes vertices = vertexChunk({0, 0, 0, 1, 0, 0, 0, 1, 0});
    Bytes padded =
        cat({chunk(0x4110, {Bytes(vertices.begin() + 6, vertices.end())}, vertices.size() + 10),
             chunk(0x4000, {str("XX")}), u8(0)});
    auto model =
        loadBytes(file3ds({object("Pad", {triMesh({padded, faceChunk({0, 1, 2})})})}), "pad.3ds");
    EXPECT_EQ(meshes(model), "Pad: 0 0 0/0 0, 1 0 0/0 0, 0 1 0/0 0; 0 1 2;");

    // A child claiming more than its parent holds is cut at the parent's end,
    // so the parent's next sibling is still read as a sibling.
    Bytes overlong = chunk(0x4100, {vertexChunk({1, 2, 3})}, 5000);
    auto over = loadBytes(file3ds({chunk(0x4000, {str("Over"), overlong}), triangleObject("Next")}),
                          "overlong.3ds");
    EXPECT_EQ(meshes(over), "Over: 1 2 3/0 0;; | Next: 0 0 0/0 0, 1 0 0/0 0, 0 1 0/0 0; 0 1 2;");

    // A length below 6 ends the run instead of looping on the same bytes.
    for (uint32_t bad : {0u, 1u, 5u, 0xFFFFFFFFu, 0x80000000u}) {
        auto stuck =
            loadBytes(file3ds({material("Before"), chunk(0xAFFF, {}, bad), material("After")}));
        EXPECT_EQ(stuck->materialCount, 1) << bad;
    }
    // A main chunk longer than the file reads what is there; bytes past the
    // main chunk's stated end are never read.
    Bytes file = file3ds({material("Only")});
    EXPECT_EQ(loadBytes(cat({u16(0x4D4D), u32(1000000), Bytes(file.begin() + 6, file.end())}))
                  ->materialCount,
              1);
    EXPECT_EQ(loadBytes(cat({file3ds({}), triangleObject("Tail")}))->meshCount, 0);
}

TEST(ModelReader, ObjectNamesAndScratchValuesCarryOver) {
    auto model = loadBytes(file3ds({
        object("Cab", {triMesh({vertexChunk({1, 2, 3})})}),
        object("Second", {triMesh({vertexChunk({4, 5, 6, 7, 8, 9})})}),
        material("First", {chunk(0xA030, {color24(51, 102, 153)}),
                           chunk(0xA050, {chunk(0x0031, {f32(0.25f)})})}),
        // No colour and no percentage inside: the last values read are copied.
        material("Second", {chunk(0xA010, {}), chunk(0xA050, {})}),
        material("Third", {chunk(0xA200, {intPercent(50)}), chunk(0xA050, {chunk(0x9999, {})})}),
    }));
    EXPECT_EQ(meshes(model), "Cab: 1 2 3/0 0;; | Second: 4 5 6/0 0, 7 8 9/0 0;;");
    ASSERT_EQ(model->materialCount, 3);
    EXPECT_EQ(describe(*model->materials[0]),
              "First flags 0 ambient 0 0 0 diffuse 0 0 0 specular 0.2 0.4 0.6 "
              "opacity 0.75 additive 0 map ");
    EXPECT_EQ(describe(*model->materials[1]),
              "Second flags 0 ambient 0.2 0.4 0.6 diffuse 0 0 0 specular 0 0 0 "
              "opacity 0.75 additive 0 map ");
    // The map strength inside the texture map went to the percentage scratch.
    EXPECT_EQ(describe(*model->materials[2]),
              "Third flags 1 ambient 0 0 0 diffuse 0 0 0 specular 0 0 0 "
              "opacity 0.5 additive 0 map ");
}

TEST(ModelReader, SkippedAndOrphanedContent) {
    Bytes hidden = triangleObject("Hidden");
    auto model =
        loadBytes(file3ds({chunk(0x1234, {hidden}), // unknown container
                           object("Lamp", {chunk(0x4600, {floats({1, 2, 3})})}), // a light
                           object("Cam", {chunk(0x4700, {Bytes(32, 0)})}),       // a camera
                           material("M", {chunk(0xA204, {chunk(0xA300, {str("SPEC.BMP")})})})},
                          {chunk(0xB000, {hidden, chunk(0xB002, {Bytes(20, 1)})})}), // keyframer
                  "skipped.3ds");
    EXPECT_EQ(model->meshCount, 0);
    EXPECT_STREQ(model->objectName, "Cam");
    ASSERT_EQ(model->materialCount, 1);
    // Only the first texture map counts; the specular map's name is skipped.
    EXPECT_EQ(describe(*model->materials[0]),
              "M flags 0 ambient 0 0 0 diffuse 0 0 0 specular 0 0 0 opacity 1 additive 0 map ");
    for (const Bytes& bare : {chunk(0x4D4D, {}), chunk(0x3D3D, {hidden}), Bytes()}) {
        EXPECT_EQ(loadBytes(bare)->meshCount, 0);
    }

    // Records before their container are ignored.
    auto orphans =
        loadBytes(file3ds({vertexChunk({1, 1, 1}), faceChunk({0, 0, 0}), mappingChunk({0, 0}),
                           groupChunk("X", {0}), chunk(0xA000, {str("Orphan")}),
                           chunk(0xA010, {color24(9, 9, 9)}), chunk(0xA300, {str("ORPHAN.JPG")}),
                           chunk(0xA083, {}), chunk(0xA200, {}), material("Real")}),
                  "orphans.3ds");
    EXPECT_EQ(orphans->meshCount, 0);
    ASSERT_EQ(orphans->materialCount, 1);
    EXPECT_EQ(describe(*orphans->materials[0]),
              "Real flags 0 ambient 0 0 0 diffuse 0 0 0 specular 0 0 0 opacity 1 additive 0 map ");
}

TEST(ModelReader, TruncatedFilesAtEveryLength) {
    Bytes whole = sampleModel();
    for (size_t length = 0; length <= whole.size() && !HasFailure(); length++) {
        SCOPED_TRACE(length);
        Bytes cut(whole.begin(), whole.begin() + static_cast<long>(length));
        ModelPtr model(new Model);
        model->loadFromMemory(cut.data(), cut.size());
        expectInBounds(*model);
    }
}

TEST(ModelReader, CapacitiesAreKept) {
    Bytes materials, groups, meshes;
    for (int i = 0; i < MAX_MATERIALS + 5; i++) {
        materials = cat({materials, material("m" + std::to_string(i))});
    }
    for (int i = 0; i < MAX_FACE_GROUPS + 3; i++) {
        groups = cat({groups, groupChunk("g", {0})});
    }
    for (int i = 0; i < MAX_MESHES + 2; i++) {
        meshes = cat({meshes, triMesh({})});
    }
    auto model = loadBytes(chunk(
        0x4D4D,
        {chunk(0x3D3D,
               {materials, object(std::string(200, 'N'),
                                  {triMesh({vertexChunk({0, 0, 0}), faceChunk({0, 0, 0}, {groups}),
                                            mappingChunk({0.5f, 0.5f})})})})}));
    EXPECT_EQ(model->materialCount, MAX_MATERIALS);
    EXPECT_STREQ(model->materials[MAX_MATERIALS - 1]->name, "m999");
    ASSERT_EQ(model->meshCount, 1);
    EXPECT_EQ(strlen(model->meshes[0]->name), static_cast<size_t>(NAME_SIZE - 1));
    EXPECT_EQ(model->meshes[0]->groupCount, MAX_FACE_GROUPS);
    // The long name was consumed whole: the chunks after it were found.
    EXPECT_EQ(model->meshes[0]->vertices[0].u, 0.5f);
    EXPECT_EQ(loadBytes(file3ds({chunk(0x4000, {str("o"), meshes})}))->meshCount, MAX_MESHES);
}

TEST(ModelReader, OutOfRangeIndicesAndCounts) {
    // Face corner 3 with three vertices: the face is dropped from the mesh and
    // from its group; group entries past the faces (or negative) are skipped.
    // The group copies the rest in its listed order.
    auto model = loadBytes(
        file3ds({object("Bad", {triMesh({vertexChunk({0, 0, 0, 1, 0, 0, 0, 1, 0}),
                                         faceChunk({0, 1, 2, 0, 1, 3, 2, 1, 0},
                                                   {groupChunk("", {2, 1, 7, 0, -1})})})})}),
        "indices.3ds");
    EXPECT_EQ(meshes(model), "Bad: 0 0 0/0 0, 1 0 0/0 0, 0 1 0/0 0; 0 1 2, 2 1 0; 0[2 1 0, 0 1 2]");

    // A mapping count larger than the vertex array fills only what exists.
    auto big = loadBytes(file3ds({object(
        "Map", {triMesh({vertexChunk({0, 0, 0, 1, 0, 0}),
                         chunk(0x4140, {u16(500), floats({0.5f, 0.5f, 0.25f, 0.0f})})})})}));
    EXPECT_EQ(meshes(big), "Map: 0 0 0/0.5 0.5, 1 0 0/0.25 1;;");
    EXPECT_EQ(big->meshes[0]->vertexCapacity, 2);

    // A smaller mapping count replaces the vertex count, but the vertex array
    // bounds the faces: those past the count stay (with normals), a corner
    // past the array goes.
    auto small = loadBytes(file3ds({object(
        "Few", {triMesh({vertexChunk({0, 0, 0, 1, 0, 0, 0, 1, 0}),
                         faceChunk({0, 1, 2, 0, 0, 1, 0, 1, 3}), mappingChunk({0, 0, 1, 1})})})}));
    EXPECT_EQ(meshes(small), "Few: 0 0 0/0 1, 1 0 0/1 0; 0 1 2, 0 0 1;");
    computeNormals(small->meshes[0]);
    EXPECT_EQ(small->meshes[0]->vertices[2].normal.z, 1.0f);

    // Negative counts read as empty; a vertex count promising more than the
    // chunk holds keeps the whole ones.
    auto negative = loadBytes(file3ds(
        {object("Neg", {triMesh({chunk(0x4110, {u16(0x8000)}), chunk(0x4120, {u16(0xFFFF)})})}),
         object("Short", {triMesh({chunk(0x4110, {u16(3), floats({1, 2, 3, 4, 5})})})})}));
    EXPECT_EQ(meshes(negative), "Neg:;; | Short: 1 2 3/0 0;;");
}

TEST(ModelReader, DeepNestingAndUnterminatedStrings) {
    Bytes nested = triMesh({vertexChunk({0, 0, 0})});
    for (int i = 0; i < 5000; i++) {
        nested = chunk(0x3D3D, {nested});
    }
    EXPECT_EQ(loadBytes(chunk(0x4D4D, {nested}))->meshCount, 0);

    // A name that runs to the end of its chunk: truncated, and nothing read
    // past the chunk (the material after it is still a sibling).
    auto model = loadBytes(file3ds({chunk(0x4000, {Bytes(150, 'Q')}), material("Kept")}));
    EXPECT_EQ(strlen(model->objectName), static_cast<size_t>(NAME_SIZE - 1));
    ASSERT_EQ(model->materialCount, 1);
    EXPECT_STREQ(model->materials[0]->name, "Kept");
}

TEST(ModelReader, LoadReadsFilesWithBackslashPaths) {
    std::string dir = scratchDir("model");
    ASSERT_TRUE(writeFile(dir + "/sample.3ds", sampleModel()));
    ModelPtr model(new Model);
    EXPECT_EQ(model->load((dir + "\\sample.3ds").c_str()), 1);
    EXPECT_EQ(model->meshCount, 1);
    EXPECT_EQ(model->materialCount, 2);
    Model missing;
    EXPECT_EQ(missing.load((dir + "/missing.3ds").c_str()), 0);
    EXPECT_EQ(missing.meshCount, 0);
}
