// The 3D Studio (.3ds) reader: walks the chunk tree of a file held in memory
// and fills the Model's meshes, face groups and materials.
//
// Main thread, at start-up. Positions and texture coordinates are stored in the
// file's units; colours are 0..1 floats; lengths and offsets are in bytes.
//
// Each chunk is handled by id through one flat dispatch table, whatever chunk
// contains it, and after its handler the read position moves to the end that
// the chunk's length states, whatever the handler read. Every read is bounded
// by the end of the chunk being handled, and a child's range is clipped to its
// parent's, so a hostile file can neither make the reader leave its bytes nor
// loop: each chunk header moves the position forward by at least 6 bytes.
//
// Memory budget (modelReadBudget): reading S bytes allocates at most 4 bytes
// per file byte for the vertex, face and group arrays, plus the records (a
// mesh, material or face group per chunk of at least 6 bytes, and never more
// than the model's capacities). Every count is first cut to the whole records
// that its chunk really holds (12 bytes a vertex, 8 a face, 2 a group entry,
// 8 a mapping coordinate), so no array is sized by what a count only claims.
#include "resources/model.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "platform/platform.h"

namespace {

// Deeper runs of sub-chunks are skipped; 3D Studio itself nests about 6 deep.
constexpr int MAX_CHUNK_DEPTH = 32;
constexpr int MAIN_CHUNK = 0x4D4D;
constexpr int CHUNK_HEADER_SIZE = 6;

// Drops the faces that name vertices past the vertex array, in the mesh and in
// its groups, so that drawing and normals never index outside it. Well-formed
// files have none.
void dropFacesOutOfRange(Mesh* mesh) {
    if (mesh->vertexCount > mesh->vertexCapacity) {
        mesh->vertexCount = mesh->vertexCapacity;
    }
    if (mesh->vertexCount < 0) {
        mesh->vertexCount = 0;
    }
    int kept = 0;
    for (int i = 0; i < mesh->faceCount; i++) {
        if (faceInVertexArray(*mesh, mesh->faces[i])) {
            mesh->faces[kept++] = mesh->faces[i];
        }
    }
    mesh->faceCount = kept;
    for (int g = 0; g < mesh->groupCount; g++) {
        FaceGroup* group = mesh->groups[g];
        int groupKept = 0;
        for (int i = 0; i < group->faceCount; i++) {
            if (faceInVertexArray(*mesh, group->faces[i])) {
                group->faces[groupKept++] = group->faces[i];
            }
        }
        group->faceCount = groupKept;
    }
}

// One read of a file held in memory into a Model: the cursor over the bytes
// and the chunk handlers. The handlers leave what they read in the model's
// records, current records and scratch values; the bytes, the position and
// the chunk bounds live only as long as the reader.
class ModelReader {
  public:
    ModelReader(Model* target, const unsigned char* bytes, size_t byteCount)
        : model(target), data(bytes), size(bytes ? byteCount : 0), chunkEnd(size) {}

    // The main chunk, when the file starts with one, and what it holds.
    void readFile();

  private:
    using Handler = void (ModelReader::*)(int id, int contentLength);
    struct DispatchEntry {
        int id;
        Handler handler;
    };
    static const DispatchEntry DISPATCH_TABLE[];

    Model* model;
    const unsigned char* data;
    size_t size;
    size_t pos = 0;
    // End of the chunk being handled: no read goes past it.
    size_t chunkEnd;
    // Nesting depth of chunk runs being read (bounded against hostile files).
    int depth = 0;

    // Little-endian field readers, bounded by chunkEnd. A read that does not
    // fit leaves the position where it was and fails.
    bool readBytes(void* out, size_t count);
    bool readU8(unsigned char* out);
    bool readU16(uint16_t* out);
    bool readS16(int* out);
    bool readU32(uint32_t* out);
    bool readFloat(float* out);
    bool readCount(size_t recordBytes, int* out, int* stated = nullptr);
    size_t bytesLeft() const;
    int bytesLeftInChunk() const;

    // The chunk walk. Every read stays inside the chunk being handled.
    void readString(char* dest);
    // False when fewer than 6 bytes are left in the enclosing chunk.
    bool readChunkHeader(int* id, int* length);
    void readChunks(int byteCount);
    void handleChunk(int id, int contentLength);

    // Chunk handlers, one per id of the dispatch table.
    void readColorF(int id, int contentLength);
    void readColor24(int id, int contentLength);
    void readIntPercentage(int id, int contentLength);
    void readFloatPercentage(int id, int contentLength);
    void readEditor(int id, int contentLength);
    void readObject(int id, int contentLength);
    void readTriMesh(int id, int contentLength);
    void readVertices(int id, int contentLength);
    void readFaces(int id, int contentLength);
    void readFaceMaterial(int id, int contentLength);
    void readMapping(int id, int contentLength);
    void readMaterialName(int id, int contentLength);
    void readAmbient(int id, int contentLength);
    void readDiffuse(int id, int contentLength);
    void readSpecular(int id, int contentLength);
    void readTransparency(int id, int contentLength);
    void readAdditive(int id, int contentLength);
    void readTextureMap(int id, int contentLength);
    void readMapName(int id, int contentLength);
    void readMaterial(int id, int contentLength);
};

const ModelReader::DispatchEntry ModelReader::DISPATCH_TABLE[] = {
    {0x0010, &ModelReader::readColorF},        {0x0011, &ModelReader::readColor24},
    {0x0012, &ModelReader::readColor24},       {0x0013, &ModelReader::readColorF},
    {0x0030, &ModelReader::readIntPercentage}, {0x0031, &ModelReader::readFloatPercentage},
    {0x3D3D, &ModelReader::readEditor},        {0x4000, &ModelReader::readObject},
    {0x4100, &ModelReader::readTriMesh},       {0x4110, &ModelReader::readVertices},
    {0x4120, &ModelReader::readFaces},         {0x4130, &ModelReader::readFaceMaterial},
    {0x4140, &ModelReader::readMapping},       {0xA000, &ModelReader::readMaterialName},
    {0xA010, &ModelReader::readAmbient},       {0xA020, &ModelReader::readDiffuse},
    {0xA030, &ModelReader::readSpecular},      {0xA050, &ModelReader::readTransparency},
    {0xA083, &ModelReader::readAdditive},      {0xA200, &ModelReader::readTextureMap},
    {0xA300, &ModelReader::readMapName},       {0xAFFF, &ModelReader::readMaterial},
};

bool ModelReader::readBytes(void* out, size_t count) {
    if (pos > chunkEnd || chunkEnd - pos < count) {
        return false;
    }
    memcpy(out, data + pos, count);
    pos += count;
    return true;
}

bool ModelReader::readU8(unsigned char* out) {
    return readBytes(out, 1);
}

bool ModelReader::readU16(uint16_t* out) {
    unsigned char b[2];
    if (!readBytes(b, 2)) {
        return false;
    }
    *out = static_cast<uint16_t>(b[0] | (b[1] << 8));
    return true;
}

bool ModelReader::readS16(int* out) {
    uint16_t value;
    if (!readU16(&value)) {
        return false;
    }
    *out = static_cast<int16_t>(value);
    return true;
}

bool ModelReader::readU32(uint32_t* out) {
    unsigned char b[4];
    if (!readBytes(b, 4)) {
        return false;
    }
    *out = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    return true;
}

bool ModelReader::readFloat(float* out) {
    uint32_t bits;
    if (!readU32(&bits)) {
        return false;
    }
    memcpy(out, &bits, sizeof(float));
    return true;
}

// A record count: a signed 16-bit field, where a negative count means none,
// cut to the whole records of recordBytes each that are left in the chunk.
// *stated (when given) keeps the count as the file says it.
bool ModelReader::readCount(size_t recordBytes, int* out, int* stated) {
    if (!readS16(out)) {
        return false;
    }
    if (*out < 0) {
        *out = 0;
    }
    if (stated) {
        *stated = *out;
    }
    size_t present = bytesLeft() / recordBytes;
    if (static_cast<size_t>(*out) > present) {
        *out = static_cast<int>(present);
    }
    return true;
}

// Bytes left before the end of the chunk being handled.
size_t ModelReader::bytesLeft() const {
    return pos < chunkEnd ? chunkEnd - pos : 0;
}

// The same, as a chunk-run count.
int ModelReader::bytesLeftInChunk() const {
    size_t left = bytesLeft();
    return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

void ModelReader::readFile() {
    int id = 0;
    int length = 0;
    if (readChunkHeader(&id, &length) && id == MAIN_CHUNK && length >= CHUNK_HEADER_SIZE) {
        readChunks(length - CHUNK_HEADER_SIZE);
    }
}

void ModelReader::readString(char* dest) {
    // Consumes up to and including the terminating zero; keeps at most
    // NAME_SIZE - 1 characters so the buffer always stays terminated.
    size_t kept = 0;
    dest[0] = 0;
    unsigned char byte;
    while (readU8(&byte) && byte != 0) {
        if (kept < static_cast<size_t>(NAME_SIZE - 1)) {
            dest[kept++] = static_cast<char>(byte);
            dest[kept] = 0;
        }
    }
}

bool ModelReader::readChunkHeader(int* id, int* length) {
    uint16_t rawId;
    uint32_t rawLength;
    size_t start = pos;
    if (!readU16(&rawId) || !readU32(&rawLength)) {
        pos = start;
        return false;
    }
    *id = rawId;
    *length = static_cast<int32_t>(rawLength);
    return true;
}

void ModelReader::readChunks(int byteCount) {
    if (byteCount <= 0 || depth >= MAX_CHUNK_DEPTH) {
        return;
    }
    // The run never reaches past the chunk that holds it.
    size_t runEnd = chunkEnd;
    if (pos <= chunkEnd && static_cast<size_t>(byteCount) < chunkEnd - pos) {
        runEnd = pos + static_cast<size_t>(byteCount);
    }
    size_t savedEnd = chunkEnd;
    depth++;
    long long count = byteCount;
    while (count > 0) {
        chunkEnd = runEnd;
        int id = 0;
        int length = 0;
        if (!readChunkHeader(&id, &length) || length < CHUNK_HEADER_SIZE) {
            // A header that does not fit or cannot move forward ends the run.
            break;
        }
        count -= length;
        size_t contentStart = pos;
        size_t contentLength = static_cast<size_t>(length - CHUNK_HEADER_SIZE);
        if (contentLength > runEnd - contentStart) {
            contentLength = runEnd - contentStart;
        }
        chunkEnd = contentStart + contentLength;
        handleChunk(id, static_cast<int>(contentLength));
        pos = contentStart + contentLength;
    }
    depth--;
    chunkEnd = savedEnd;
}

void ModelReader::handleChunk(int id, int contentLength) {
    for (const DispatchEntry& entry : DISPATCH_TABLE) {
        if (entry.id == id) {
            (this->*entry.handler)(id, contentLength);
            return;
        }
    }
}

void ModelReader::readColorF(int, int) {
    float rgb[3];
    for (float& value : rgb) {
        if (!readFloat(&value)) {
            return;
        }
    }
    memcpy(model->colorScratch, rgb, sizeof(rgb));
}

void ModelReader::readColor24(int, int) {
    unsigned char rgb[3];
    for (unsigned char& value : rgb) {
        if (!readU8(&value)) {
            return;
        }
    }
    for (int i = 0; i < 3; i++) {
        // 0.003921569f is the float nearest 1/255; 255 gives exactly 1.0.
        model->colorScratch[i] = static_cast<float>(rgb[i] * 0.003921569f);
    }
}

void ModelReader::readIntPercentage(int, int) {
    int value;
    if (readS16(&value)) {
        model->percentScratch = static_cast<float>(value * 0.01f);
    }
}

void ModelReader::readFloatPercentage(int, int) {
    float value;
    if (readFloat(&value)) {
        model->percentScratch = value;
    }
}

void ModelReader::readEditor(int, int contentLength) {
    readChunks(contentLength);
}

void ModelReader::readObject(int, int) {
    readString(model->objectName);
    // The sub-chunks start right after the name's terminating zero.
    readChunks(bytesLeftInChunk());
}

void ModelReader::readTriMesh(int, int contentLength) {
    if (model->meshCount >= MAX_MESHES) {
        return;
    }
    Mesh* mesh = new (std::nothrow) Mesh;
    if (!mesh) {
        return;
    }
    model->meshes[model->meshCount] = mesh;
    model->currentMesh = mesh;
    memcpy(mesh->name, model->objectName, NAME_SIZE);
    model->meshCount++;
    readChunks(contentLength);
}

void ModelReader::readVertices(int, int) {
    Mesh* mesh = model->currentMesh;
    if (!mesh) {
        return;
    }
    int count;
    if (!readCount(12, &count)) {
        return;
    }
    MeshVertex* vertices = new (std::nothrow) MeshVertex[count > 0 ? count : 1];
    if (!vertices) {
        return;
    }
    // A second vertex chunk replaces the first array, as the file says.
    delete[] mesh->vertices;
    mesh->vertices = vertices;
    mesh->vertexCapacity = count;
    // A chunk cut short keeps the vertices that it holds whole: the count
    // was cut to them, so every read below fits.
    int read = 0;
    for (; read < count; read++) {
        Vec3& p = vertices[read].position;
        if (!readFloat(&p.x) || !readFloat(&p.y) || !readFloat(&p.z)) {
            p = Vec3();
            break;
        }
    }
    mesh->vertexCount = read;
}

void ModelReader::readFaces(int, int contentLength) {
    Mesh* mesh = model->currentMesh;
    if (!mesh) {
        return;
    }
    int count;
    int stated;
    if (!readCount(8, &count, &stated)) {
        return;
    }
    Face* faces = new (std::nothrow) Face[count > 0 ? count : 1];
    if (!faces) {
        return;
    }
    delete[] mesh->faces;
    mesh->faces = faces;
    int read = 0;
    for (; read < count; read++) {
        uint16_t flags;
        Face& face = faces[read];
        if (!readU16(&face.a) || !readU16(&face.b) || !readU16(&face.c) || !readU16(&flags)) {
            face = Face();
            break;
        }
    }
    mesh->faceCount = read;
    // The sub-chunks start where the stated count of faces would end.
    readChunks(contentLength - 2 - 8 * stated);
}

void ModelReader::readFaceMaterial(int, int) {
    Mesh* mesh = model->currentMesh;
    if (!mesh || mesh->groupCount >= MAX_FACE_GROUPS) {
        return;
    }
    char name[NAME_SIZE];
    readString(name);
    int count;
    if (!readCount(2, &count)) {
        return;
    }
    // A material matches when its name begins with the group's name.
    size_t nameLength = strlen(name);
    int i = 0;
    while (i < model->materialCount && strncmp(model->materials[i]->name, name, nameLength) != 0) {
        i++;
    }
    FaceGroup* group = new (std::nothrow) FaceGroup;
    Face* faces = new (std::nothrow) Face[count > 0 ? count : 1];
    if (!group || !faces) {
        delete group;
        delete[] faces;
        return;
    }
    group->materialIndex = i;
    group->faces = faces;
    int kept = 0;
    for (int entry = 0; entry < count; entry++) {
        int faceIndex;
        if (!readS16(&faceIndex)) {
            break;
        }
        // An index outside the mesh's faces names nothing; that entry is left out.
        if (faceIndex >= 0 && faceIndex < mesh->faceCount) {
            faces[kept++] = mesh->faces[faceIndex];
        }
    }
    group->faceCount = kept;
    mesh->groups[mesh->groupCount] = group;
    mesh->groupCount++;
}

void ModelReader::readMapping(int, int) {
    Mesh* mesh = model->currentMesh;
    if (!mesh) {
        return;
    }
    int count;
    if (!readCount(8, &count)) {
        return;
    }
    // The mapping count replaces the vertex count, but never beyond the array
    // or the coordinates the chunk holds. Faces stay bound by the array.
    if (count > mesh->vertexCapacity) {
        count = mesh->vertexCapacity;
    }
    mesh->vertexCount = count;
    for (int i = 0; i < count; i++) {
        float u;
        float v;
        if (!readFloat(&u) || !readFloat(&v)) {
            break;
        }
        mesh->vertices[i].u = u;
        mesh->vertices[i].v = 1.0f - v;
    }
}

void ModelReader::readMaterialName(int, int) {
    if (model->currentMaterial) {
        readString(model->currentMaterial->name);
    }
}

void ModelReader::readAmbient(int, int contentLength) {
    readChunks(contentLength);
    if (model->currentMaterial) {
        memcpy(model->currentMaterial->ambient, model->colorScratch, sizeof(model->colorScratch));
    }
}

void ModelReader::readDiffuse(int, int contentLength) {
    readChunks(contentLength);
    if (model->currentMaterial) {
        memcpy(model->currentMaterial->diffuse, model->colorScratch, sizeof(model->colorScratch));
    }
}

void ModelReader::readSpecular(int, int contentLength) {
    readChunks(contentLength);
    if (model->currentMaterial) {
        memcpy(model->currentMaterial->specular, model->colorScratch, sizeof(model->colorScratch));
    }
}

void ModelReader::readTransparency(int, int contentLength) {
    readChunks(contentLength);
    if (model->currentMaterial) {
        model->currentMaterial->opacity = 1.0f - model->percentScratch;
    }
}

void ModelReader::readAdditive(int, int) {
    if (model->currentMaterial) {
        model->currentMaterial->additive = 1;
    }
}

void ModelReader::readTextureMap(int, int contentLength) {
    if (model->currentMaterial) {
        model->currentMaterial->flags |= MATERIAL_HAS_TEXTURE;
        model->mapNameTarget = model->currentMaterial->mapName;
    }
    readChunks(contentLength);
}

void ModelReader::readMapName(int, int) {
    if (model->mapNameTarget) {
        readString(model->mapNameTarget);
    }
}

void ModelReader::readMaterial(int, int contentLength) {
    if (model->materialCount >= MAX_MATERIALS) {
        return;
    }
    Material* material = new (std::nothrow) Material;
    if (!material) {
        return;
    }
    model->materials[model->materialCount] = material;
    model->currentMaterial = material;
    model->materialCount++;
    readChunks(contentLength);
}

} // namespace

int Model::load(const char* path) {
    std::vector<unsigned char> bytes;
    if (!platform::readDataFile(path, bytes)) {
        return 0;
    }
    return loadFromMemory(bytes.data(), bytes.size());
}

int Model::loadFromMemory(const unsigned char* data, size_t size) {
    currentMesh = nullptr;
    currentMaterial = nullptr;
    mapNameTarget = nullptr;
    ModelReader(this, data, size).readFile();
    for (int i = 0; i < meshCount; i++) {
        dropFacesOutOfRange(meshes[i]);
    }
    // The current records are reader state, meaningful only while it runs.
    currentMesh = nullptr;
    currentMaterial = nullptr;
    mapNameTarget = nullptr;
    return 1;
}

void Model::loadTextures() {
    for (int i = 0; i < materialCount; i++) {
        materials[i]->loadTexture();
    }
}

bool faceInVertexArray(const Mesh& mesh, const Face& face) {
    int length = mesh.vertices ? mesh.vertexCapacity : 0;
    return face.a < length && face.b < length && face.c < length;
}

size_t modelReadBudget(size_t fileBytes) {
    // One record per chunk header at most, and never past the capacities; a
    // face group needs its name's zero and its count besides (9 bytes), and
    // brings an array of at least one face.
    size_t chunks = fileBytes / 6;
    size_t groupBytes = sizeof(FaceGroup) + sizeof(Face);
    size_t meshes = std::min<size_t>(chunks, MAX_MESHES) * sizeof(Mesh);
    size_t materials = std::min<size_t>(chunks, MAX_MATERIALS) * sizeof(Material);
    size_t groups =
        std::min<size_t>(fileBytes / 9, size_t(MAX_MESHES) * MAX_FACE_GROUPS) * groupBytes;
    return 4 * fileBytes + meshes + materials + groups;
}

void freeModelRecords(Model* model) {
    for (int m = 0; m < model->meshCount; m++) {
        Mesh* mesh = model->meshes[m];
        for (int g = 0; g < mesh->groupCount; g++) {
            delete[] mesh->groups[g]->faces;
            delete mesh->groups[g];
        }
        delete[] mesh->faces;
        delete[] mesh->vertices;
        delete mesh;
        model->meshes[m] = nullptr;
    }
    for (int i = 0; i < model->materialCount; i++) {
        free(model->materials[i]->texture.fileName);
        delete model->materials[i];
        model->materials[i] = nullptr;
    }
    model->meshCount = 0;
    model->materialCount = 0;
}

void Material::loadTexture() {
    if (flags & MATERIAL_HAS_TEXTURE) {
        texture.load(mapName);
    }
}
