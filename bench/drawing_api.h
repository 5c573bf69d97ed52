// What the frame benchmark draws the show through: the system's GL directly
// (frame_bench, drawing_api_direct.cpp), or the browser build's GL 1.1 layer
// over the system's GL (frame_bench_gl11, drawing_api_gl11.cpp), whose
// entry points the show's code then calls under the prefix gl11_. The same
// benchmark over both gives the layer's own cost on the same renderer.
//
// Main thread, on the current off-screen context.
#pragma once

#include <string>

namespace bench {

// Readies the drawing API on the current context (640 x 480); false with a
// reason.
bool startDrawingApi(std::string* error);
// What draws, for the table's title: the renderer, and the layer when it
// lies in between.
std::string drawingApiName();
// Draws handed to the renderer so far: counted by the layer, -1 when the
// show calls the renderer directly.
long drawsSoFar();

} // namespace bench
