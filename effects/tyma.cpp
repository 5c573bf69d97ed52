// Scene "tyma": filled in with the scenes; until then it only clears the frame.
#include <GL/gl.h>

#include "effects/effects.h"

int tymaSetup() {
    return 0;
}

void tymaRender(float frameTime) { glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT); }
