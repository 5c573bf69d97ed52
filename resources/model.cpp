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

using Handler = void (Model::*)(int id, int contentLength);

struct DispatchEntry {
    int id;
    Handler handler;
};

const DispatchEntry DISPATCH_TABLE[] = {
    {0x0010, &Model::readColorF},        {0x0011, &Model::readColor24},
    {0x0012, &Model::readColor24},       {0x0013, &Model::readColorF},
    {0x0030, &Model::readIntPercentage}, {0x0031, &Model::readFloatPercentage},
    {0x3D3D, &Model::readEditor},        {0x4000, &Model::readObject},
    {0x4100, &Model::readTriMesh},       {0x4110, &Model::readVertices},
    {0x4120, &Model::readFaces},         {0x4130, &Model::readFaceMaterial},
    {0x4140, &Model::readMapping},       {0xA000, &Model::readMaterialName},
    {0xA010, &Model::readAmbient},       {0xA020, &Model::readDiffuse},
    {0xA030, &Model::readSpecular},      {0xA050, &Model::readTransparency},
    {0xA083, &Model::readAdditive},      {0xA200, &Model::readTextureMap},
    {0xA300, &Model::readMapName},       {0xAFFF, &Model::readMaterial},
};

// Little-endian field readers over the model's span, bounded by chunkEnd. A
// read that does not fit leaves the position where it was and fails.
bool readBytes(Model* model, void* out, size_t count) {
    if (model->filePos > model->chunkEnd || model->chunkEnd - model->filePos < count) {
        return false;
    }
    memcpy(out, model->fileData + model->filePos, count);
    model->filePos += count;
    return true;
}

bool readU8(Model* model, unsigned char* out) {
    return readBytes(model, out, 1);
}

bool readU16(Model* model, uint16_t* out) {
    unsigned char b[2];
    if (!readBytes(model, b, 2)) {
        return false;
    }
    *out = static_cast<uint16_t>(b[0] | (b[1] << 8));
    return true;
}

bool readS16(Model* model, int* out) {
    uint16_t value;
    if (!readU16(model, &value)) {
        return false;
    }
    *out = static_cast<int16_t>(value);
    return true;
}

// Bytes left before the end of the chunk being handled.
size_t bytesLeft(const Model* model) {
    return model->filePos < model->chunkEnd ? model->chunkEnd - model->filePos : 0;
}

// A record count: a signed 16-bit field, where a negative count means none,
// cut to the whole records of recordBytes each that are left in the chunk.
// *stated (when given) keeps the count as the file says it.
bool readCount(Model* model, size_t recordBytes, int* out, int* stated = nullptr) {
    if (!readS16(model, out)) {
        return false;
    }
    if (*out < 0) {
        *out = 0;
    }
    if (stated) {
        *stated = *out;
    }
    size_t present = bytesLeft(model) / recordBytes;
    if (static_cast<size_t>(*out) > present) {
        *out = static_cast<int>(present);
    }
    return true;
}

bool readU32(Model* model, uint32_t* out) {
    unsigned char b[4];
    if (!readBytes(model, b, 4)) {
        return false;
    }
    *out = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    return true;
}

bool readFloat(Model* model, float* out) {
    uint32_t bits;
    if (!readU32(model, &bits)) {
        return false;
    }
    memcpy(out, &bits, sizeof(float));
    return true;
}

// Bytes left before the end of the chunk being handled, as a chunk-run count.
int bytesLeftInChunk(const Model* model) {
    size_t left = bytesLeft(model);
    return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

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

} // namespace

int Model::load(const char* path) {
    std::vector<unsigned char> bytes;
    if (!platform::readDataFile(path, bytes)) {
        return 0;
    }
    return loadFromMemory(bytes.data(), bytes.size());
}

int Model::loadFromMemory(const unsigned char* data, size_t size) {
    fileData = data;
    fileSize = data ? size : 0;
    filePos = 0;
    chunkEnd = fileSize;
    depth = 0;
    currentMesh = nullptr;
    currentMaterial = nullptr;
    mapNameTarget = nullptr;

    int id = 0;
    int length = 0;
    if (readChunkHeader(&id, &length) && id == MAIN_CHUNK && length >= CHUNK_HEADER_SIZE) {
        readChunks(length - CHUNK_HEADER_SIZE);
    }
    for (int i = 0; i < meshCount; i++) {
        dropFacesOutOfRange(meshes[i]);
    }

    // The span belongs to the caller; nothing may read it after this call.
    fileData = nullptr;
    fileSize = 0;
    filePos = 0;
    chunkEnd = 0;
    currentMesh = nullptr;
    currentMaterial = nullptr;
    mapNameTarget = nullptr;
    return 1;
}

void Model::readString(char* dest) {
    // Consumes up to and including the terminating zero; keeps at most
    // NAME_SIZE - 1 characters so the buffer always stays terminated.
    size_t kept = 0;
    dest[0] = 0;
    unsigned char byte;
    while (readU8(this, &byte) && byte != 0) {
        if (kept < static_cast<size_t>(NAME_SIZE - 1)) {
            dest[kept++] = static_cast<char>(byte);
            dest[kept] = 0;
        }
    }
}

bool Model::readChunkHeader(int* id, int* length) {
    uint16_t rawId;
    uint32_t rawLength;
    size_t start = filePos;
    if (!readU16(this, &rawId) || !readU32(this, &rawLength)) {
        filePos = start;
        return false;
    }
    *id = rawId;
    *length = static_cast<int32_t>(rawLength);
    return true;
}

void Model::readChunks(int byteCount) {
    if (byteCount <= 0 || depth >= MAX_CHUNK_DEPTH) {
        return;
    }
    // The run never reaches past the chunk that holds it.
    size_t runEnd = chunkEnd;
    if (filePos <= chunkEnd && static_cast<size_t>(byteCount) < chunkEnd - filePos) {
        runEnd = filePos + static_cast<size_t>(byteCount);
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
        size_t contentStart = filePos;
        size_t contentLength = static_cast<size_t>(length - CHUNK_HEADER_SIZE);
        if (contentLength > runEnd - contentStart) {
            contentLength = runEnd - contentStart;
        }
        chunkEnd = contentStart + contentLength;
        handleChunk(id, static_cast<int>(contentLength));
        filePos = contentStart + contentLength;
    }
    depth--;
    chunkEnd = savedEnd;
}

void Model::handleChunk(int id, int contentLength) {
    for (const DispatchEntry& entry : DISPATCH_TABLE) {
        if (entry.id == id) {
            (this->*entry.handler)(id, contentLength);
            return;
        }
    }
}

void Model::readColorF(int, int) {
    float rgb[3];
    for (float& value : rgb) {
        if (!readFloat(this, &value)) {
            return;
        }
    }
    memcpy(colorScratch, rgb, sizeof(rgb));
}

void Model::readColor24(int, int) {
    unsigned char rgb[3];
    for (unsigned char& value : rgb) {
        if (!readU8(this, &value)) {
            return;
        }
    }
    for (int i = 0; i < 3; i++) {
        // 0.003921569f is the float nearest 1/255; 255 gives exactly 1.0.
        colorScratch[i] = static_cast<float>(rgb[i] * 0.003921569f);
    }
}

void Model::readIntPercentage(int, int) {
    int value;
    if (readS16(this, &value)) {
        percentScratch = static_cast<float>(value * 0.01f);
    }
}

void Model::readFloatPercentage(int, int) {
    float value;
    if (readFloat(this, &value)) {
        percentScratch = value;
    }
}

void Model::readEditor(int, int contentLength) {
    readChunks(contentLength);
}

void Model::readObject(int, int) {
    readString(objectName);
    // The sub-chunks start right after the name's terminating zero.
    readChunks(bytesLeftInChunk(this));
}

void Model::readTriMesh(int, int contentLength) {
    if (meshCount >= MAX_MESHES) {
        return;
    }
    Mesh* mesh = new (std::nothrow) Mesh;
    if (!mesh) {
        return;
    }
    meshes[meshCount] = mesh;
    currentMesh = mesh;
    memcpy(mesh->name, objectName, NAME_SIZE);
    meshCount++;
    readChunks(contentLength);
}

void Model::readVertices(int, int) {
    if (!currentMesh) {
        return;
    }
    int count;
    if (!readCount(this, 12, &count)) {
        return;
    }
    MeshVertex* vertices = new (std::nothrow) MeshVertex[count > 0 ? count : 1];
    if (!vertices) {
        return;
    }
    // A second vertex chunk replaces the first array, as the file says.
    delete[] currentMesh->vertices;
    currentMesh->vertices = vertices;
    currentMesh->vertexCapacity = count;
    // A chunk cut short keeps the vertices that it holds whole: the count
    // was cut to them, so every read below fits.
    int read = 0;
    for (; read < count; read++) {
        Vec3& p = vertices[read].position;
        if (!readFloat(this, &p.x) || !readFloat(this, &p.y) || !readFloat(this, &p.z)) {
            p = Vec3();
            break;
        }
    }
    currentMesh->vertexCount = read;
}

void Model::readFaces(int, int contentLength) {
    if (!currentMesh) {
        return;
    }
    int count;
    int stated;
    if (!readCount(this, 8, &count, &stated)) {
        return;
    }
    Face* faces = new (std::nothrow) Face[count > 0 ? count : 1];
    if (!faces) {
        return;
    }
    delete[] currentMesh->faces;
    currentMesh->faces = faces;
    int read = 0;
    for (; read < count; read++) {
        uint16_t flags;
        Face& face = faces[read];
        if (!readU16(this, &face.a) || !readU16(this, &face.b) || !readU16(this, &face.c) ||
            !readU16(this, &flags)) {
            face = Face();
            break;
        }
    }
    currentMesh->faceCount = read;
    // The sub-chunks start where the stated count of faces would end.
    readChunks(contentLength - 2 - 8 * stated);
}

void Model::readFaceMaterial(int, int) {
    if (!currentMesh || currentMesh->groupCount >= MAX_FACE_GROUPS) {
        return;
    }
    char name[NAME_SIZE];
    readString(name);
    int count;
    if (!readCount(this, 2, &count)) {
        return;
    }
    // A material matches when its name begins with the group's name.
    size_t nameLength = strlen(name);
    int i = 0;
    while (i < materialCount && strncmp(materials[i]->name, name, nameLength) != 0) {
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
        if (!readS16(this, &faceIndex)) {
            break;
        }
        // An index outside the mesh's faces names nothing; that entry is left out.
        if (faceIndex >= 0 && faceIndex < currentMesh->faceCount) {
            faces[kept++] = currentMesh->faces[faceIndex];
        }
    }
    group->faceCount = kept;
    currentMesh->groups[currentMesh->groupCount] = group;
    currentMesh->groupCount++;
}

void Model::readMapping(int, int) {
    if (!currentMesh) {
        return;
    }
    int count;
    if (!readCount(this, 8, &count)) {
        return;
    }
    // The mapping count replaces the vertex count, but never beyond the array
    // or the coordinates the chunk holds. Faces stay bound by the array.
    if (count > currentMesh->vertexCapacity) {
        count = currentMesh->vertexCapacity;
    }
    currentMesh->vertexCount = count;
    for (int i = 0; i < count; i++) {
        float u;
        float v;
        if (!readFloat(this, &u) || !readFloat(this, &v)) {
            break;
        }
        currentMesh->vertices[i].u = u;
        currentMesh->vertices[i].v = 1.0f - v;
    }
}

void Model::readMaterialName(int, int) {
    if (currentMaterial) {
        readString(currentMaterial->name);
    }
}

void Model::readAmbient(int, int contentLength) {
    readChunks(contentLength);
    if (currentMaterial) {
        memcpy(currentMaterial->ambient, colorScratch, sizeof(colorScratch));
    }
}

void Model::readDiffuse(int, int contentLength) {
    readChunks(contentLength);
    if (currentMaterial) {
        memcpy(currentMaterial->diffuse, colorScratch, sizeof(colorScratch));
    }
}

void Model::readSpecular(int, int contentLength) {
    readChunks(contentLength);
    if (currentMaterial) {
        memcpy(currentMaterial->specular, colorScratch, sizeof(colorScratch));
    }
}

void Model::readTransparency(int, int contentLength) {
    readChunks(contentLength);
    if (currentMaterial) {
        currentMaterial->opacity = 1.0f - percentScratch;
    }
}

void Model::readAdditive(int, int) {
    if (currentMaterial) {
        currentMaterial->additive = 1;
    }
}

void Model::readTextureMap(int, int contentLength) {
    if (currentMaterial) {
        currentMaterial->flags |= MATERIAL_HAS_TEXTURE;
        mapNameTarget = currentMaterial->mapName;
    }
    readChunks(contentLength);
}

void Model::readMapName(int, int) {
    if (mapNameTarget) {
        readString(mapNameTarget);
    }
}

void Model::readMaterial(int, int contentLength) {
    if (materialCount >= MAX_MATERIALS) {
        return;
    }
    Material* material = new (std::nothrow) Material;
    if (!material) {
        return;
    }
    materials[materialCount] = material;
    currentMaterial = material;
    materialCount++;
    readChunks(contentLength);
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
