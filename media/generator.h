// The media generator's parts: each part of the show's media (the meshes with
// their textures, the module, the pictures) is one function that writes its
// files into the output folder. main.cpp lists them in the order it runs them.
//
// Build time, one thread. Files are written deterministically: the same source
// gives the same bytes on every run.
#pragma once

#include <string>
#include <vector>

// Writes this part's files into dir (which exists). False after printing a
// one-line reason to standard error.
using MediaWriter = bool (*)(const std::string& dir);

struct MediaPart {
    const char* name;
    MediaWriter write;
};

// The six meshes and the texture maps they name (meshes.cpp).
bool writeMeshes(const std::string& dir);
// The module "amerikka.it" (module_song.cpp).
bool writeModule(const std::string& dir);
// The scenes' pictures (pictures.cpp).
bool writePictures(const std::string& dir);

// Writes bytes to dir/name; false after a message on failure.
bool writeMediaFile(const std::string& dir, const std::string& name,
                    const std::vector<unsigned char>& bytes);
