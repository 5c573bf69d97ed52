// The media generator's registry: each part of the show's media (the module,
// the pictures, the meshes and their textures) registers one function that
// writes its files into the output folder.
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

std::vector<MediaPart>& mediaParts();

// Registers a part at static initialisation: `static MediaRegistration r{"module", writeModule};`
struct MediaRegistration {
    MediaRegistration(const char* name, MediaWriter write);
};

// Writes bytes to dir/name; false after a message on failure.
bool writeMediaFile(const std::string& dir, const std::string& name,
                    const std::vector<unsigned char>& bytes);
