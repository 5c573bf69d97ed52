// 3D Studio serialisation. Chunks are written depth-first: a chunk's header
// gets a placeholder length that is patched once its content is complete.
//
// Build time, one thread.
#include "media/tds_writer.h"

#include <cstring>

#include "media/little_endian.h"

namespace {

class ChunkWriter {
  public:
    std::vector<unsigned char>& out;

    explicit ChunkWriter(std::vector<unsigned char>& o) : out(o) {}

    void u8(uint8_t v) { out.push_back(v); }
    void u16(uint16_t v) { putLe16(out, v); }
    void u32(uint32_t v) { putLe32(out, v); }
    void f32(float v) {
        uint32_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        u32(bits);
    }
    void str(const std::string& s) {
        out.insert(out.end(), s.begin(), s.end());
        out.push_back(0);
    }
    // Starts a chunk; returns the offset of its header for end().
    size_t begin(uint16_t id) {
        const size_t at = out.size();
        u16(id);
        u32(0);
        return at;
    }
    void end(size_t at) { patchLe32(out, at + 2, static_cast<uint32_t>(out.size() - at)); }
};

void writeColor(ChunkWriter& w, uint16_t id, const TdsColor& c) {
    const size_t outer = w.begin(id);
    const size_t inner = w.begin(TDS_COLOR_24);
    w.u8(c.r);
    w.u8(c.g);
    w.u8(c.b);
    w.end(inner);
    w.end(outer);
}

void writeMaterial(ChunkWriter& w, const TdsMaterial& m) {
    const size_t entry = w.begin(TDS_MAT_ENTRY);
    const size_t name = w.begin(TDS_MAT_NAME);
    w.str(m.name);
    w.end(name);
    writeColor(w, TDS_MAT_AMBIENT, m.ambient);
    writeColor(w, TDS_MAT_DIFFUSE, m.diffuse);
    writeColor(w, TDS_MAT_SPECULAR, m.specular);
    if (m.transparencyPercent > 0) {
        const size_t tr = w.begin(TDS_MAT_TRANSPARENCY);
        const size_t pct = w.begin(TDS_INT_PERCENTAGE);
        w.u16(static_cast<uint16_t>(m.transparencyPercent));
        w.end(pct);
        w.end(tr);
    }
    if (m.additive) {
        const size_t add = w.begin(TDS_MAT_ADDITIVE);
        w.end(add);
    }
    if (!m.mapName.empty()) {
        const size_t map = w.begin(TDS_MAT_TEXMAP);
        // Map strength 100 %, as 3D Studio writes it before the name.
        const size_t pct = w.begin(TDS_INT_PERCENTAGE);
        w.u16(100);
        w.end(pct);
        const size_t file = w.begin(TDS_MAT_MAPNAME);
        w.str(m.mapName);
        w.end(file);
        w.end(map);
    }
    w.end(entry);
}

void writeMesh(ChunkWriter& w, const TdsMesh& mesh, const std::vector<TdsMaterial>& materials) {
    const size_t object = w.begin(TDS_NAMED_OBJECT);
    w.str(mesh.name);
    const size_t tri = w.begin(TDS_TRI_MESH);

    const size_t vertices = w.begin(TDS_VERTICES);
    w.u16(static_cast<uint16_t>(mesh.positions.size()));
    for (const TdsPoint& p : mesh.positions) {
        w.f32(p.x);
        w.f32(p.y);
        w.f32(p.z);
    }
    w.end(vertices);

    const size_t faces = w.begin(TDS_FACES);
    w.u16(static_cast<uint16_t>(mesh.faces.size()));
    for (const TdsFace& f : mesh.faces) {
        w.u16(f.a);
        w.u16(f.b);
        w.u16(f.c);
        w.u16(0x0007); // all three edges visible
    }
    for (size_t m = 0; m < materials.size(); ++m) {
        uint16_t count = 0;
        for (const TdsFace& f : mesh.faces)
            count = static_cast<uint16_t>(count + (f.material == static_cast<int>(m) ? 1 : 0));
        if (count == 0)
            continue;
        const size_t group = w.begin(TDS_FACE_MATERIAL);
        w.str(materials[m].name);
        w.u16(count);
        for (size_t i = 0; i < mesh.faces.size(); ++i) {
            if (mesh.faces[i].material == static_cast<int>(m))
                w.u16(static_cast<uint16_t>(i));
        }
        w.end(group);
    }
    w.end(faces);

    if (!mesh.uvs.empty()) {
        const size_t mapping = w.begin(TDS_MAPPING);
        w.u16(static_cast<uint16_t>(mesh.uvs.size()));
        for (const TdsUv& uv : mesh.uvs) {
            w.f32(uv.u);
            w.f32(uv.v);
        }
        w.end(mapping);
    }

    w.end(tri);
    w.end(object);
}

bool validName(const std::string& name) {
    return !name.empty() && name.size() <= static_cast<size_t>(TDS_MAX_NAME) &&
           name.find('\0') == std::string::npos;
}

bool validate(const std::vector<TdsMaterial>& materials, const std::vector<TdsMesh>& meshes,
              std::string* error) {
    if (materials.size() > static_cast<size_t>(TDS_MAX_MATERIALS) ||
        meshes.size() > static_cast<size_t>(TDS_MAX_MESHES)) {
        *error = "too many materials or meshes";
        return false;
    }
    for (size_t i = 0; i < materials.size(); ++i) {
        const TdsMaterial& m = materials[i];
        if (!validName(m.name)) {
            *error = "material " + std::to_string(i) + ": name empty or longer than 79";
            return false;
        }
        if (!m.mapName.empty() && !validName(m.mapName)) {
            *error = "material " + m.name + ": map name longer than 79";
            return false;
        }
        if (m.transparencyPercent < 0 || m.transparencyPercent > 100) {
            *error = "material " + m.name + ": transparency outside 0..100";
            return false;
        }
        for (size_t j = 0; j < i; ++j) {
            if (materials[j].name.compare(0, m.name.size(), m.name) == 0) {
                *error =
                    "material " + m.name + " would be read as the earlier " + materials[j].name;
                return false;
            }
        }
    }
    for (const TdsMesh& mesh : meshes) {
        if (!validName(mesh.name)) {
            *error = "mesh name empty or longer than 79";
            return false;
        }
        if (mesh.positions.size() > static_cast<size_t>(TDS_MAX_COUNT) ||
            mesh.faces.size() > static_cast<size_t>(TDS_MAX_COUNT)) {
            *error = "mesh " + mesh.name + ": more than 32767 vertices or faces";
            return false;
        }
        if (!mesh.uvs.empty() && mesh.uvs.size() != mesh.positions.size()) {
            *error = "mesh " + mesh.name + ": mapping count differs from vertex count";
            return false;
        }
        std::vector<bool> used(materials.size(), false);
        int groups = 0;
        for (const TdsFace& f : mesh.faces) {
            if (f.a >= mesh.positions.size() || f.b >= mesh.positions.size() ||
                f.c >= mesh.positions.size()) {
                *error = "mesh " + mesh.name + ": face corner past the vertices";
                return false;
            }
            if (f.material < 0 || static_cast<size_t>(f.material) >= materials.size()) {
                *error = "mesh " + mesh.name + ": face material out of range";
                return false;
            }
            if (!used[static_cast<size_t>(f.material)]) {
                used[static_cast<size_t>(f.material)] = true;
                ++groups;
            }
        }
        if (groups > TDS_MAX_GROUPS) {
            *error = "mesh " + mesh.name + ": more than 100 materials";
            return false;
        }
    }
    return true;
}

} // namespace

bool writeTds(const std::vector<TdsMaterial>& materials, const std::vector<TdsMesh>& meshes,
              std::vector<unsigned char>* out, std::string* error) {
    if (!validate(materials, meshes, error))
        return false;
    out->clear();
    ChunkWriter w(*out);
    const size_t main = w.begin(TDS_MAIN);
    const size_t version = w.begin(TDS_VERSION);
    w.u32(3);
    w.end(version);
    const size_t editor = w.begin(TDS_EDITOR);
    const size_t meshVersion = w.begin(TDS_MESH_VERSION);
    w.u32(3);
    w.end(meshVersion);
    for (const TdsMaterial& m : materials)
        writeMaterial(w, m);
    for (const TdsMesh& mesh : meshes)
        writeMesh(w, mesh, materials);
    w.end(editor);
    w.end(main);
    return true;
}
