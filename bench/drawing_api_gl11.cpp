// The show's GL calls go to the GL 1.1 layer, which draws with the system's
// GL as its device (see drawing_api.h).
//
// Main thread, on the current off-screen context.
#include <GL/gl.h>

#include "bench/drawing_api.h"
#include "gl11/gl11.h"

namespace bench {

bool startDrawingApi(std::string* error) {
    const char* reason = nullptr;
    if (!gl11::createContext(640, 480, &reason)) {
        *error = reason ? reason : "the layer's context could not be made";
        return false;
    }
    return true;
}

std::string drawingApiName() {
    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    return std::string("GL 1.1 layer over ") + (renderer ? renderer : "unknown renderer");
}

long drawsSoFar() {
    return static_cast<long>(gl11::deviceDraws());
}

} // namespace bench
