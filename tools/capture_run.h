// One capture: checks the media and the output, renders the module offline,
// runs the show's own frame loop on the off-screen context against a virtual
// clock and writes the frames and the sound.
//
// Main thread. Show time in milliseconds, sound at 44100 Hz, sizes in pixels.
#pragma once

#include <string>
#include <vector>

#include "tools/capture_options.h"

// Every file the show reads, as the scenes name them ("tavara\gay.jpg"),
// before the texture maps named inside its meshes.
const std::vector<std::string>& showMediaFiles();
// The texture maps named by the materials of the meshes that are drawn
// textured, as stored in the files (only those meshes that can be read).
std::vector<std::string> meshTextureFiles();
// The media files that cannot be read from the working directory: the show's
// own files, then the meshes' texture maps.
std::vector<std::string> missingMediaFiles();

// The whole program after its arguments were parsed: 0 when everything was
// written, else 1 after one line "tuhkala-capture: ..." on standard error.
int runCapture(const CaptureOptions& options);
