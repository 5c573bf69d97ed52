// The show's six 3D Studio meshes, built from quads, boxes and lathes and
// written with our own 3DS writer, with the textures they name:
//   pallo.3ds   a cracked ember ball (radius 22, about 2 world units);
//   level.3ds   a scrolling floor and roof under a tilted horizon (11 × 11 grids);
//   kiina.3ds   a pagoda 400 units tall, drawn plain white and lit;
//   nainen.3ds  a standing woman 77 units tall, her dress translucent in the file;
//   fps.3ds     a hall with pillars, corridors and four side rooms, faces inward;
//   fps2.3ds    a ruined round temple about 16 world units across.
//
// Build time, one thread. File units, +Z up; the show draws positions scaled
// by 0.09 and turned −90° about X, so world (x, y, z) is file (x, −z, y) × 0.09.
#include <cmath>
#include <cstdio>

#include "media/generator.h"
#include "media/image.h"
#include "media/mesh_builder.h"
#include "media/mesh_textures.h"

namespace {

const float WORLD = 1.0f / 0.09f; // file units per world unit

// A world point (y up) in file units (z up).
TdsPoint W(float x, float y, float z) {
    return {x * WORLD, -z * WORLD, y * WORLD};
}

std::string mapName(const char* file) {
    return std::string("tavara\\") + file;
}

TdsMaterial material(const char* name, TdsColor diffuse, const char* texture) {
    TdsMaterial m;
    m.name = name;
    m.ambient = {static_cast<uint8_t>(diffuse.r / 3), static_cast<uint8_t>(diffuse.g / 3),
                 static_cast<uint8_t>(diffuse.b / 3)};
    m.diffuse = diffuse;
    m.specular = {229, 229, 229};
    if (texture)
        m.mapName = mapName(texture);
    return m;
}

bool save(const std::string& dir, const char* name, const std::vector<TdsMaterial>& materials,
          const std::vector<TdsMesh>& meshes) {
    std::vector<unsigned char> bytes;
    std::string error;
    if (!writeTds(materials, meshes, &bytes, &error)) {
        std::fprintf(stderr, "tuhkala-media: %s: %s\n", name, error.c_str());
        return false;
    }
    return writeMediaFile(dir, name, bytes);
}

// --- pallo.3ds ------------------------------------------------------------

bool writePallo(const std::string& dir) {
    const std::vector<TdsMaterial> materials = {material("pallo", {230, 120, 60}, TEX_PALLO)};
    MeshBuilder ball("pallo");
    const float radius = 22.0f;
    ball.sphere({0.0f, 0.0f, 0.0f}, radius, 40, 28, 0);
    // Knobbly crust: push each vertex out along its radius by tiling noise of
    // its texture position, fading to nothing at the poles so they stay closed.
    for (size_t i = 0; i < ball.mesh.positions.size(); ++i) {
        TdsPoint& p = ball.mesh.positions[i];
        const TdsUv& uv = ball.mesh.uvs[i];
        const float ring = std::sqrt(p.x * p.x + p.y * p.y) / radius;
        const float bump = fbm(uv.u * 8.0f, uv.v * 6.0f, 3, 7, 8) - 0.5f;
        p = p * (1.0f + 0.12f * bump * ring);
    }
    return save(dir, "pallo.3ds", materials, {ball.mesh});
}

// --- level.3ds ------------------------------------------------------------

// An 11 × 11 grid over x0..x1 (across) and y0..y1 (away from the viewer) at
// height z, texture 0..1 over the grid; facing up, or down when `down`.
TdsMesh levelGrid(const char* name, float x0, float x1, float y0, float y1, float z, bool down,
                  int material) {
    MeshBuilder b(name);
    const int n = 11;
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c) {
            const float s = static_cast<float>(c) / 10.0f;
            const float t = static_cast<float>(r) / 10.0f;
            b.vertex({x0 + (x1 - x0) * s, y0 + (y1 - y0) * t, z}, s, t);
        }
    }
    for (int r = 0; r + 1 < n; ++r) {
        for (int c = 0; c + 1 < n; ++c) {
            const int i = r * n + c;
            if (down) {
                b.triangle(i, i + n + 1, i + 1, material);
                b.triangle(i, i + n, i + n + 1, material);
            } else {
                b.triangle(i, i + 1, i + n + 1, material);
                b.triangle(i, i + n + 1, i + n, material);
            }
        }
    }
    return b.mesh;
}

bool writeLevel(const std::string& dir) {
    const std::vector<TdsMaterial> materials = {material("ritila", {255, 140, 60}, TEX_LEVEL_FLOOR),
                                                material("savu", {150, 120, 140}, TEX_LEVEL_ROOF)};
    // The eye sits at the origin: a floor 24 units below, a roof 24 above,
    // both reaching from just behind the eye to near the far plane and wide
    // enough to fill the view under any of the layer's rolls.
    const float x0 = -950.0f, x1 = 950.0f, y0 = -80.0f, y1 = 1080.0f, h = 24.0f;
    const TdsMesh floor = levelGrid("ritila", x0, x1, y0, y1, -h, false, 0);
    const TdsMesh roof = levelGrid("savu", x0, x1, y0, y1, h, true, 1);
    // The far end: a wall closing the band between the two at the horizon.
    MeshBuilder end("pohja");
    end.quad({x0, y1, -h}, {x1, y1, -h}, {x1, y1, h}, {x0, y1, h}, 1, 1.0f / 190.0f);
    return save(dir, "level.3ds", materials, {floor, roof, end.mesh});
}

// --- kiina.3ds ------------------------------------------------------------

bool writeKiina(const std::string& dir) {
    const std::vector<TdsMaterial> materials = {material("tuhka", {200, 196, 190}, nullptr)};
    // Five storeys; each eave juts out and its corners curl up.
    std::vector<ProfilePoint> profile = {
        {150, -200, 0}, {150, -188, 0}, {128, -188, 0}, {128, -176, 0}};
    const float walls[5] = {100, 84, 70, 56, 42};
    const float eaves[5] = {170, 145, 122, 100, 80};
    const float heights[5] = {62, 52, 44, 36, 30};
    float z = -176.0f;
    for (int i = 0; i < 5; ++i) {
        profile.push_back({walls[i], z, 0});
        z += heights[i];
        profile.push_back({walls[i], z, 0});            // top of the wall
        profile.push_back({eaves[i], z - 6.0f, 18.0f}); // under the eave, tip curled
        profile.push_back({eaves[i], z - 1.0f, 18.0f}); // eave edge
        const float nextWall = i + 1 < 5 ? walls[i + 1] : 14.0f;
        profile.push_back({nextWall + 6.0f, z + 22.0f, 0}); // roof rising inward
        profile.push_back({nextWall, z + 22.0f, 0});
        z += 22.0f;
    }
    // The spire: beads on a pole up to the tip at 200.
    const float spire[][2] = {{14, 0}, {9, 6}, {16, 10}, {7, 16}, {12, 20}, {5, 26}};
    for (const auto& s : spire)
        profile.push_back({s[0], z + s[1], 0});
    profile.push_back({0, 200, 0});
    MeshBuilder pagoda("pagoda");
    pagoda.lathe(profile, 16, {0, 0, 0}, {0, 0, 1}, 0, true);
    return save(dir, "kiina.3ds", materials, {pagoda.mesh});
}

// --- nainen.3ds -----------------------------------------------------------

bool writeNainen(const std::string& dir) {
    TdsMaterial dress = material("huntu", {160, 40, 50}, TEX_NAINEN);
    dress.transparencyPercent = 40;
    const std::vector<TdsMaterial> materials = {dress, material("iho", {210, 190, 185}, TEX_IHO),
                                                material("hiukset", {40, 30, 35}, TEX_HIUKSET)};
    MeshBuilder body("nainen");
    // The dress from the hem up to the neckline.
    body.lathe({{17, 0.5f, 0},
                {15, 6, 0},
                {12.5f, 16, 0},
                {10, 26, 0},
                {8.2f, 33, 0},
                {9.2f, 39, 0},
                {10.2f, 44, 0},
                {9.6f, 49, 0},
                {7.5f, 53, 0},
                {4.0f, 56, 0}},
               28, {0, 0, 0}, {0, 0, 1}, 0, false, 3.0f);
    body.tube({0, 0, 55}, {0, 0, 63}, 2.8f, 2.5f, 12, 1);             // neck
    body.sphere({0, -0.5f, 68.5f}, 6.2f, 20, 14, 1);                  // head
    body.sphere({0, 0.8f, 70.0f}, 6.8f, 20, 14, 2);                   // hair over the crown
    body.tube({0, 2.5f, 67.0f}, {0, 4.5f, 46.0f}, 6.0f, 2.5f, 16, 2); // hair down the back
    for (int side = -1; side <= 1; side += 2) {
        const float s = static_cast<float>(side);
        body.tube({s * 8.5f, 0, 50}, {s * 12.5f, -1, 37}, 2.6f, 2.1f, 12, 0);   // upper arm
        body.tube({s * 12.5f, -1, 37}, {s * 11.5f, -5, 25}, 2.1f, 1.7f, 12, 1); // forearm
        body.sphere({s * 11.3f, -5.4f, 23.8f}, 2.2f, 10, 8, 1);                 // hand
        body.sphere({s * 12.5f, -1, 37}, 2.1f, 10, 8, 1);                       // elbow
    }
    return save(dir, "nainen.3ds", materials, {body.mesh});
}

// --- fps.3ds --------------------------------------------------------------

enum FpsMaterial { FLOOR, WALL, ROOF, PILLAR, EMBER };
const float FPS_UV = 0.09f / 2.0f; // one texture repeat per 2 world units

// A wall from A to B (world x, z) between heights y0 and y1, its front on the
// left of the walk A→B seen from above with z towards the viewer, that is
// facing (−dz, 0, dx).
void wall(MeshBuilder& b, float ax, float az, float bx, float bz, float y0, float y1, int mat) {
    b.quad(W(ax, y0, az), W(bx, y0, bz), W(bx, y1, bz), W(ax, y1, az), mat, FPS_UV);
}

// A wall with a door of the given width and height centred at `centre`
// (a fraction 0..1 along the wall); a lintel fills the wall above the door.
void doorWall(MeshBuilder& b, float ax, float az, float bx, float bz, float height, float doorWidth,
              float doorHeight) {
    const float len = std::hypot(bx - ax, bz - az);
    const float t0 = 0.5f - 0.5f * doorWidth / len;
    const float t1 = 0.5f + 0.5f * doorWidth / len;
    const float d0x = ax + (bx - ax) * t0, d0z = az + (bz - az) * t0;
    const float d1x = ax + (bx - ax) * t1, d1z = az + (bz - az) * t1;
    wall(b, ax, az, d0x, d0z, 0, height, WALL);
    wall(b, d1x, d1z, bx, bz, 0, height, WALL);
    wall(b, d0x, d0z, d1x, d1z, doorHeight, height, WALL);
}

// A room seen from inside: floor, roof and four walls, with doors in the
// walls flagged in `doors` (bit 0 the wall at z0, 1 at x1, 2 at z1, 3 at x0).
void room(MeshBuilder& b, float x0, float z0, float x1, float z1, float height, unsigned doors,
          float doorWidth, float doorHeight) {
    b.box(W(x0, 0, z1), W(x1, height, z0), FLOOR, FPS_UV, true, BOX_BOTTOM);
    b.box(W(x0, 0, z1), W(x1, height, z0), ROOF, FPS_UV, true, BOX_TOP);
    const float corners[5][2] = {{x0, z0}, {x1, z0}, {x1, z1}, {x0, z1}, {x0, z0}};
    for (int i = 0; i < 4; ++i) {
        const float ax = corners[i][0], az = corners[i][1];
        const float bx = corners[i + 1][0], bz = corners[i + 1][1];
        if (doors & (1u << i))
            doorWall(b, ax, az, bx, bz, height, doorWidth, doorHeight);
        else
            wall(b, ax, az, bx, bz, 0, height, WALL);
    }
}

// A corridor between two doors: floor, roof and the two side walls.
void corridor(MeshBuilder& b, float x0, float z0, float x1, float z1, float height, bool alongX) {
    b.box(W(x0, 0, z1), W(x1, height, z0), FLOOR, FPS_UV, true, BOX_BOTTOM);
    b.box(W(x0, 0, z1), W(x1, height, z0), ROOF, FPS_UV, true, BOX_TOP);
    if (alongX) {
        wall(b, x0, z0, x1, z0, 0, height, WALL);
        wall(b, x1, z1, x0, z1, 0, height, WALL);
    } else {
        wall(b, x1, z0, x1, z1, 0, height, WALL);
        wall(b, x0, z1, x0, z0, 0, height, WALL);
    }
}

// An octagonal fluted pillar with a square foot and head.
void pillar(MeshBuilder& b, float x, float z, float height) {
    b.box(W(x - 0.6f, 0, z + 0.6f), W(x + 0.6f, 0.4f, z - 0.6f), PILLAR, FPS_UV, false,
          BOX_SIDES | BOX_TOP);
    b.lathe({{0.38f * WORLD, 0.4f * WORLD, 0}, {0.32f * WORLD, (height - 0.4f) * WORLD, 0}}, 8,
            W(x, 0, z), {0, 0, 1}, PILLAR, true, 1.0f, false);
    b.box(W(x - 0.55f, height - 0.4f, z + 0.55f), W(x + 0.55f, height, z - 0.55f), PILLAR, FPS_UV,
          false, BOX_SIDES | BOX_BOTTOM);
}

// A brazier: a stone bowl on a stem, full of coals.
void brazier(MeshBuilder& b, float x, float z) {
    const float k = WORLD;
    b.lathe({{0.5f * k, 0, 0},
             {0.25f * k, 0.3f * k, 0},
             {0.18f * k, 0.8f * k, 0},
             {0.75f * k, 1.1f * k, 0},
             {0.8f * k, 1.2f * k, 0}},
            12, W(x, 0, z), {0, 0, 1}, PILLAR, true, 1.0f, true);
    // The coals: a low dome over the bowl's mouth.
    b.lathe({{0.78f * k, 1.2f * k, 0}, {0.5f * k, 1.35f * k, 0}, {0, 1.42f * k, 0}}, 12, W(x, 0, z),
            {0, 0, 1}, EMBER, false, 2.0f, false);
}

// The stone-and-ember materials that the hall and the temple share.
std::vector<TdsMaterial> stoneMaterials() {
    TdsMaterial ember = material("hiillos", {255, 120, 40}, TEX_HIILLOS);
    ember.additive = true;
    return {material("lattia", {120, 110, 105}, TEX_LATTIA),
            material("seina", {150, 80, 60}, TEX_SEINA), material("katto", {70, 55, 50}, TEX_KATTO),
            material("pilari", {170, 160, 150}, TEX_PILARI), ember};
}

bool writeFps(const std::string& dir) {
    const std::vector<TdsMaterial> materials = stoneMaterials();
    const float hallH = 5.0f, doorW = 3.0f, doorH = 3.2f;
    std::vector<TdsMesh> meshes;

    MeshBuilder hall("sali");
    room(hall, -4, -4, 16, 16, hallH, 15u, doorW, doorH);
    const float pillars[][2] = {{0, 0},  {12, 0}, {0, 12}, {12, 12},
                                {6, -1}, {6, 13}, {-1, 6}, {13, 6}};
    for (const auto& p : pillars)
        pillar(hall, p[0], p[1], hallH);
    brazier(hall, 6, 6);
    meshes.push_back(hall.mesh);

    // Four corridors out of the hall's doors, each to a side room.
    const float lo = 6.0f - doorW * 0.5f, hi = 6.0f + doorW * 0.5f;
    MeshBuilder corridors("kaytavat");
    corridor(corridors, 16, lo, 24, hi, doorH, true);   // east
    corridor(corridors, -12, lo, -4, hi, doorH, true);  // west
    corridor(corridors, lo, -12, hi, -4, doorH, false); // north
    corridor(corridors, lo, 16, hi, 24, doorH, false);  // south
    meshes.push_back(corridors.mesh);

    struct SideRoom {
        const char* name;
        float x0, z0, x1, z1;
        unsigned door;
    };
    const SideRoom rooms[] = {{"itahuone", 24, 0, 34, 12, 8u},
                              {"lansihuone", -22, 0, -12, 12, 2u},
                              {"pohjoishuone", 0, -22, 12, -12, 4u},
                              {"etelahuone", 0, 24, 12, 34, 1u}};
    for (const SideRoom& r : rooms) {
        MeshBuilder b(r.name);
        room(b, r.x0, r.z0, r.x1, r.z1, 4.0f, r.door, doorW, doorH);
        // A pillar in each inner corner and a heap of crates against the far side.
        pillar(b, r.x0 + 1.5f, r.z0 + 1.5f, 4.0f);
        pillar(b, r.x1 - 1.5f, r.z0 + 1.5f, 4.0f);
        pillar(b, r.x0 + 1.5f, r.z1 - 1.5f, 4.0f);
        pillar(b, r.x1 - 1.5f, r.z1 - 1.5f, 4.0f);
        const float cx = (r.x0 + r.x1) * 0.5f, cz = (r.z0 + r.z1) * 0.5f;
        b.box(W(cx - 1.0f, 0, cz + 1.0f), W(cx + 1.0f, 1.2f, cz - 1.0f), WALL, FPS_UV, false,
              BOX_SIDES | BOX_TOP);
        b.box(W(cx - 0.6f, 1.2f, cz + 0.6f), W(cx + 0.6f, 2.0f, cz - 0.6f), EMBER, FPS_UV, false,
              BOX_SIDES | BOX_TOP);
        meshes.push_back(b.mesh);
    }
    return save(dir, "fps.3ds", materials, meshes);
}

// --- fps2.3ds -------------------------------------------------------------

bool writeFps2(const std::string& dir) {
    const std::vector<TdsMaterial> materials = stoneMaterials();
    const float k = WORLD;
    MeshBuilder b("temppeli");
    // Three octagonal steps from y −3 up to the floor at −1.5.
    b.lathe({{8.0f * k, -3.0f * k, 0},
             {8.0f * k, -2.5f * k, 0},
             {7.0f * k, -2.5f * k, 0},
             {7.0f * k, -2.0f * k, 0},
             {6.0f * k, -2.0f * k, 0},
             {6.0f * k, -1.5f * k, 0},
             {0, -1.5f * k, 0}},
            8, {0, 0, 0}, {0, 0, 1}, FLOOR, true, 4.0f);
    // Ring of columns; two of them broken off, their drums fallen on the floor.
    const float pi = 3.14159265f;
    for (int i = 0; i < 10; ++i) {
        const float a = 2.0f * pi * (static_cast<float>(i) + 0.5f) / 10.0f;
        const float x = 5.0f * std::cos(a), z = 5.0f * std::sin(a);
        const bool broken = i == 3 || i == 7;
        const float top = broken ? 0.8f : 3.5f;
        b.lathe({{0.5f * k, -1.5f * k, 0}, {0.42f * k, top * k, 0}}, 10, W(x, 0, z), {0, 0, 1},
                PILLAR, true, 1.0f, true);
        if (broken) {
            const float fx = x * 0.7f + 1.2f * std::sin(a), fz = z * 0.7f - 1.2f * std::cos(a);
            b.tube(W(fx - 1.0f * std::cos(a + 1.0f), -1.1f, fz - 1.0f * std::sin(a + 1.0f)),
                   W(fx + 1.0f * std::cos(a + 1.0f), -1.1f, fz + 1.0f * std::sin(a + 1.0f)),
                   0.4f * k, 0.4f * k, 10, PILLAR);
        }
    }
    // The architrave: a ring resting on the columns, whole even over the
    // broken ones.
    b.lathe({{4.3f * k, 3.5f * k, 0},
             {5.7f * k, 3.5f * k, 0},
             {5.7f * k, 4.2f * k, 0},
             {4.3f * k, 4.2f * k, 0},
             {4.3f * k, 3.5f * k, 0}},
            20, {0, 0, 0}, {0, 0, 1}, WALL, true, 6.0f, false);
    // The altar in the middle with its coals.
    b.box(W(-1.2f, -1.5f, 0.8f), W(1.2f, -0.3f, -0.8f), WALL, 0.09f / 1.2f, false,
          BOX_SIDES | BOX_TOP);
    b.lathe({{0.8f * k, -0.3f * k, 0}, {0.5f * k, 0.1f * k, 0}, {0, 0.25f * k, 0}}, 12, {0, 0, 0},
            {0, 0, 1}, EMBER, false, 2.0f, false);
    return save(dir, "fps2.3ds", materials, {b.mesh});
}

} // namespace

bool writeMeshes(const std::string& dir) {
    return writeMeshTextures(dir) && writePallo(dir) && writeLevel(dir) && writeKiina(dir) &&
           writeNainen(dir) && writeFps(dir) && writeFps2(dir);
}
