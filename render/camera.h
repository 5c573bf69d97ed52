// Look-at camera: eye, target (absolute, or relative to the eye) and up +Y.
//
// Main thread, with the modelview matrix current. World units.
#pragma once

#include "resources/vec3.h"

class Camera {
  public:
    Vec3 eye;
    Vec3 target;
    bool relative = false;

    // Multiplies the current matrix by gluLookAt(eye, look-at point, up (0, 1, 0)).
    void apply();
};
