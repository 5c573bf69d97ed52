// The show's whole list of media files (see media_files.h).
//
// Main thread. Mesh files are read into models of their own and freed again.
#include "effects/media_files.h"

#include <algorithm>
#include <memory>

#include "music/music.h"
#include "resources/model.h"

std::vector<std::string> showMediaFiles() {
    std::vector<std::string> files = {MUSIC_FILE};
    for (const SceneFile& file : SCENE_FILES)
        files.push_back(file.path);
    return files;
}

std::vector<std::string> meshTextureFiles() {
    std::vector<std::string> names;
    for (const SceneFile& mesh : SCENE_FILES) {
        if (!mesh.textured)
            continue;
        std::unique_ptr<Model> model(new Model());
        if (model->load(mesh.path)) {
            for (int i = 0; i < model->materialCount; ++i) {
                const Material* material = model->materials[i];
                if (!material || !(material->flags & MATERIAL_HAS_TEXTURE) || !material->mapName[0])
                    continue;
                const std::string name = material->mapName;
                if (std::find(names.begin(), names.end(), name) == names.end())
                    names.push_back(name);
            }
        }
        freeModelRecords(model.get());
    }
    return names;
}
