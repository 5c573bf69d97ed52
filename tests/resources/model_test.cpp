// The 3D Studio reader on small files built by the chunk writer (what
// well-formed files load into, what damaged ones keep, and that every one
// stays within the model contract), then vertex normals.
//
// Test thread; no GL. Lengths in bytes.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/builders.h"
#include "tests/support/kit.h"
#include "tests/support/model_contract.h"

using namespace kit;

namespace {

// Every mesh, then "#" and every material's name (with "=map" when it has one).
std::string summary(const Model& model) {
    std::string out;
    for (int i = 0; i < model.meshCount; ++i)
        out += (i ? " | " : "") + describe(*model.meshes[i]);
    out += " #";
    for (int i = 0; i < model.materialCount; ++i) {
        const Material& m = *model.materials[i];
        out += std::string(" ") + m.name + (m.mapName[0] ? std::string("=") + m.mapName : "");
    }
    return out;
}

// Loads, checks the contract, and keeps the file as a fuzz seed when named.
ModelPtr load(const Bytes& bytes, const std::string& seed = "") {
    if (!seed.empty())
        keepSeed("3ds", seed, bytes);
    ModelPtr model(new Model);
    EXPECT_EQ(model->loadFromMemory(bytes.data(), bytes.size()), 1);
    const char* broken = brokenModelRule(*model);
    EXPECT_EQ(broken, nullptr) << broken;
    return model;
}

Bytes triangleObject(const std::string& name, std::initializer_list<Bytes> faceSubs = {}) {
    return object(name, {triMesh({vertexChunk({0, 0, 0, 1, 0, 0, 0, 1, 0}),
                                  faceChunk({0, 1, 2}, faceSubs)})});
}

const char* const TRIANGLE = "0 0 0/0 0, 1 0 0/0 0, 0 1 0/0 0; 0 1 2;";

} // namespace

TEST(ModelReader, SampleFileLoadsEveryField) {
    const ModelPtr model = load(sampleModel(), "sample.3ds");
    ASSERT_EQ(model->materialCount, 2);
    EXPECT_EQ(describe(*model->materials[0]),
              "Stone flags 1 ambient 1 0.5019608 0 diffuse 0 0 0 specular 0 0 0 "
              "opacity 0.7 additive 0 map ROCK.JPG");
    EXPECT_EQ(describe(*model->materials[1]),
              "Glow flags 0 ambient 0 0 0 diffuse 0.25 0.5 0.75 specular 0 0 0 "
              "opacity 1 additive 1 map ");
    // v is stored as 1 - v, u as read; groups hold copies of their faces.
    EXPECT_EQ(summary(*model), "Box: 0 0 0/0 1, 1 0 0/1 1, 0 1 0/0 0, 1 1 0/1 0.75; 0 1 2, 1 3 "
                               "2; 0[1 3 2] 1[0 1 2] # Stone=ROCK.JPG Glow");
    // Colour and percentage chunks missing inside a material copy the last
    // values read; a percentage inside a texture map goes there too.
    const ModelPtr scratch = load(file3ds({
        material("First", {chunk(0xA030, {color24(51, 102, 153)}),
                           chunk(0xA050, {chunk(0x0031, {f32(0.25f)})})}),
        material("Second", {chunk(0xA010, {}), chunk(0xA050, {})}),
        material("Third", {chunk(0xA200, {intPercent(50)}), chunk(0xA050, {chunk(0x9999, {})})}),
    }));
    ASSERT_EQ(scratch->materialCount, 3);
    EXPECT_EQ(describe(*scratch->materials[1]), "Second flags 0 ambient 0.2 0.4 0.6 diffuse 0 0 0 "
                                                "specular 0 0 0 opacity 0.75 additive 0 map ");
    EXPECT_EQ(describe(*scratch->materials[2]), "Third flags 1 ambient 0 0 0 diffuse 0 0 0 "
                                                "specular 0 0 0 opacity 0.5 additive 0 map ");
    // The file reader names files the show's way and reads what loadFromMemory does.
    const std::string dir = scratchDir("model");
    ASSERT_TRUE(writeFile(dir + "/sample.3ds", sampleModel()));
    ModelPtr file(new Model);
    EXPECT_EQ(file->load((dir + "\\sample.3ds").c_str()), 1);
    EXPECT_EQ(summary(*file), summary(*model));
    EXPECT_EQ(file->load((dir + "/missing.3ds").c_str()), 0);
}

TEST(ModelReader, DamagedFilesKeepWhatIsWholeWithinTheContract) {
    const Bytes vertices = vertexChunk({0, 0, 0, 1, 0, 0, 0, 1, 0});
    const Bytes padded =
        cat({chunk(0x4110, {Bytes(vertices.begin() + 6, vertices.end())}, vertices.size() + 10),
             chunk(0x4000, {str("XX")}), u8(0)});
    const Bytes hidden = triangleObject("Hidden");
    const Bytes whole = file3ds({material("Only")});
    Bytes nested = triMesh({vertexChunk({0, 0, 0})});
    for (int i = 0; i < 5000; ++i)
        nested = chunk(0x3D3D, {nested});
    const struct {
        const char* why;
        Bytes file;
        std::string gives;
    } cases[] = {
        {"a chunk states more than its data: the next one is still found",
         file3ds({object("Pad", {triMesh({padded, faceChunk({0, 1, 2})})})}),
         std::string("Pad: ") + TRIANGLE + " #"},
        {"a child longer than its parent ends with the parent",
         file3ds({chunk(0x4000, {str("Over"), chunk(0x4100, {vertexChunk({1, 2, 3})}, 5000)}),
                  triangleObject("Next")}),
         std::string("Over: 1 2 3/0 0;; | Next: ") + TRIANGLE + " #"},
        {"a main chunk longer than the file",
         cat({u16(0x4D4D), u32(1000000), Bytes(whole.begin() + 6, whole.end())}), " # Only"},
        {"bytes past the main chunk", cat({file3ds({}), triangleObject("Tail")}), " #"},
        {"unknown chunks, a light, a camera, a specular map, the keyframer",
         file3ds({chunk(0x1234, {hidden}), object("Lamp", {chunk(0x4600, {floats({1, 2, 3})})}),
                  object("Cam", {chunk(0x4700, {Bytes(32, 0)})}),
                  material("M", {chunk(0xA204, {chunk(0xA300, {str("SPEC.BMP")})})})},
                 {chunk(0xB000, {hidden, chunk(0xB002, {Bytes(20, 1)})})}),
         " # M"},
        {"records before their container",
         file3ds({vertexChunk({1, 1, 1}), faceChunk({0, 0, 0}), mappingChunk({0, 0}),
                  groupChunk("X", {0}), chunk(0xA000, {str("Orphan")}),
                  chunk(0xA300, {str("ORPHAN.JPG")}), chunk(0xA200, {}), material("Real")}),
         " # Real"},
        {"a corner past the vertices, group entries past the faces or negative",
         file3ds(
             {object("Bad", {triMesh({vertices, faceChunk({0, 1, 2, 0, 1, 3, 2, 1, 0},
                                                          {groupChunk("", {2, 1, 7, 0, -1})})})})}),
         "Bad: 0 0 0/0 0, 1 0 0/0 0, 0 1 0/0 0; 0 1 2, 2 1 0; 0[2 1 0, 0 1 2] #"},
        {"more mapping entries than vertices",
         file3ds({object("Map",
                         {triMesh({vertexChunk({0, 0, 0, 1, 0, 0}),
                                   chunk(0x4140, {u16(500), floats({0.5f, 0.5f, 0.25f, 0})})})})}),
         "Map: 0 0 0/0.5 0.5, 1 0 0/0.25 1;; #"},
        {"fewer mapping entries than vertices: the vertex array, not the count, bounds corners",
         file3ds({object("Few", {triMesh({vertices, faceChunk({0, 1, 2, 0, 0, 1, 0, 1, 3}),
                                          mappingChunk({0, 0, 1, 1})})})}),
         "Few: 0 0 0/0 1, 1 0 0/1 0; 0 1 2, 0 0 1; #"},
        {"negative counts, a count promising more than the chunk",
         file3ds({object("Neg",
                         {triMesh({chunk(0x4110, {u16(0x8000)}), chunk(0x4120, {u16(0xFFFF)})})}),
                  object("Short", {triMesh({chunk(0x4110, {u16(3), floats({1, 2, 3, 4, 5})})})})}),
         "Neg:;; | Short: 1 2 3/0 0;; #"},
        {"four faces promised, two there; a group names the third",
         file3ds({object("Cut", {triMesh({vertices,
                                          chunk(0x4120, {u16(4), u16(0), u16(1), u16(2), u16(7),
                                                         u16(2), u16(1), u16(0), u16(7)}),
                                          groupChunk("", {2, 1})})})}),
         "Cut: 0 0 0/0 0, 1 0 0/0 0, 0 1 0/0 0; 0 1 2, 2 1 0; 0[2 1 0] #"},
        {"5000 nested chunks", chunk(0x4D4D, {nested}), " #"},
        {"a name running to the end of its chunk",
         file3ds({chunk(0x4000, {Bytes(150, 'Q')}), material("Kept")}), " # Kept"},
        {"nothing at all", Bytes(), " #"},
    };
    int n = 0;
    for (const auto& c : cases) {
        const ModelPtr model = load(c.file, "damaged-" + std::to_string(n++) + ".3ds");
        EXPECT_EQ(summary(*model), c.gives) << c.why;
    }
    // A material chunk stating a length it cannot have ends the file's
    // reading: what came before is kept.
    for (uint32_t length : {0u, 5u, 0x80000000u, 0xFFFFFFFFu}) {
        const Bytes file = file3ds({material("A"), chunk(0xAFFF, {}, length), material("B")});
        const ModelPtr model = load(file, "length-" + std::to_string(length) + ".3ds");
        EXPECT_EQ(summary(*model), " # A") << "length " << length;
    }
    // A count promising more than its chunk holds sizes no array by itself.
    const ModelPtr cut = load(
        file3ds({object("Cut", {triMesh({chunk(0x4110, {u16(30000), floats({1, 2, 3, 4})})})})}));
    EXPECT_EQ(cut->meshes[0]->vertexCapacity, 1);
    // Cut at every length, the sample still keeps the contract.
    const Bytes sample = sampleModel();
    for (size_t length = 0; length <= sample.size() && !HasFailure(); ++length)
        load(Bytes(sample.begin(), sample.begin() + long(length)));
}

TEST(ModelReader, GroupsFindTheFirstMaterialTheirNameBegins) {
    const struct {
        std::vector<std::string> before, after; // materials around the mesh
        std::string group;
        int index;
    } cases[] = {
        {{"Glass", "GlassBlue"}, {}, "Glass", 0},
        {{"GlassBlue", "Glass"}, {}, "Glass", 0}, // GlassBlue begins with Glass
        {{"Other", "Glass"}, {}, "glass", 2},     // case counts: no match is materialCount
        {{"Other", "Glass"}, {}, "", 0},
        {{"A"}, {"Late"}, "Late", 1}, // not yet known when the group is read
        {{}, {}, "", 0},
    };
    for (const auto& c : cases) {
        Bytes editor;
        for (const std::string& m : c.before)
            editor = cat({editor, material(m)});
        editor = cat({editor, triangleObject("Obj", {groupChunk(c.group, {0})})});
        for (const std::string& m : c.after)
            editor = cat({editor, material(m)});
        const ModelPtr model = load(chunk(0x4D4D, {chunk(0x3D3D, {editor})}));
        EXPECT_EQ(model->meshes[0]->groups[0]->materialIndex, c.index) << c.group;
    }
}

TEST(ModelReader, CapacitiesAreKept) {
    Bytes materials, groups, meshes;
    for (int i = 0; i < MAX_MATERIALS + 5; ++i)
        materials = cat({materials, material("m" + std::to_string(i))});
    for (int i = 0; i < MAX_FACE_GROUPS + 3; ++i)
        groups = cat({groups, groupChunk("g", {0})});
    for (int i = 0; i < MAX_MESHES + 2; ++i)
        meshes = cat({meshes, triMesh({})});
    const ModelPtr model = load(
        file3ds({materials, object(std::string(200, 'N'),
                                   {triMesh({vertexChunk({0, 0, 0}), faceChunk({0, 0, 0}, {groups}),
                                             mappingChunk({0.5f, 0.5f})})})}));
    EXPECT_EQ(model->materialCount, MAX_MATERIALS);
    EXPECT_STREQ(model->materials[MAX_MATERIALS - 1]->name, "m999");
    ASSERT_EQ(model->meshCount, 1);
    EXPECT_EQ(std::string(model->meshes[0]->name), std::string(NAME_SIZE - 1, 'N'));
    EXPECT_EQ(model->meshes[0]->groupCount, MAX_FACE_GROUPS);
    // The long name was consumed whole: the chunks after it were found.
    EXPECT_EQ(model->meshes[0]->vertices[0].u, 0.5f);
    EXPECT_EQ(load(file3ds({chunk(0x4000, {str("o"), meshes})}))->meshCount, MAX_MESHES);
}

namespace {

// A mesh over owned arrays, its normals computed; faces as corner triples.
struct TestMesh {
    std::vector<MeshVertex> vertices;
    std::vector<Face> faces;
    Mesh mesh;
    TestMesh(const std::vector<Vec3>& positions, const std::vector<int>& corners, int faceCount) {
        vertices.resize(positions.size());
        for (size_t i = 0; i < positions.size(); ++i)
            vertices[i].position = positions[i];
        for (size_t i = 0; i + 2 < corners.size(); i += 3)
            faces.push_back(
                Face{uint16_t(corners[i]), uint16_t(corners[i + 1]), uint16_t(corners[i + 2])});
        mesh.vertices = vertices.data();
        mesh.vertexCount = mesh.vertexCapacity = static_cast<int>(vertices.size());
        mesh.faces = faces.data();
        mesh.faceCount = faceCount;
        computeNormals(&mesh);
    }
};

std::string text(const Vec3& v) {
    char out[64];
    std::snprintf(out, sizeof out, "%.6g %.6g %.6g", v.x, v.y, v.z);
    return out;
}

} // namespace

TEST(Normals, UnitAverageOfTheFaceNormalsAroundAVertex) {
    const std::string r = "0.707107";
    // Face 0 in z = 0 (+z) and face 1 in x = 0 (+x) share vertices 0 and 1,
    // whose normals average the two whatever the faces' areas; face 2 is a
    // point; face 3 names vertex 40 of 9 and is left out; face 4 overflows and
    // adds nothing; face 5 lies past the face count, so vertex 8 is unused.
    const float huge = 3e38f;
    TestMesh mesh({{0, 0, 0},
                   {0, 1, 0},
                   {100, 0, 0},
                   {0, 0, 0.01f},
                   {7, 7, 7},
                   {huge, 0, 0},
                   {0, huge, 0},
                   {-huge, -huge, 0},
                   {2, 2, 2}},
                  {0, 2, 1, 0, 1, 3, 4, 4, 4, 0, 1, 40, 5, 6, 7, 8, 0, 2}, 5);
    const std::string want[] = {r + " 0 " + r, r + " 0 " + r, "0 0 1", "1 0 0", "0 0 0",
                                "0 0 0",       "0 0 0",       "0 0 0", "0 0 0"};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(text(mesh.vertices[i].normal), want[i]) << i;
    // A second call gives the same, also when a short mapping chunk lowered
    // the vertex count: faces are bounded by the array itself.
    mesh.mesh.vertexCount = 2;
    computeNormals(&mesh.mesh);
    EXPECT_EQ(text(mesh.vertices[0].normal), want[0]);
    EXPECT_EQ(text(mesh.vertices[3].normal), want[3]);
    Mesh empty;
    computeNormals(&empty);
}
